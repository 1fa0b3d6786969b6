// What zarnctl prints: one report per command (text, or one JSON object per
// line with --json), failures with their cause and what to try, progress bars.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zarnctl {

using Json = nlohmann::ordered_json;

enum ExitStatus : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitInterrupted = 130 };

// Why a command did not do what it was asked. Thrown up to the command runner.
struct Failure {
  static constexpr int32_t kNoCode = INT32_MIN;
  std::string kind;               // library, usage, connection, system, incomplete or interrupted
  int32_t code = kNoCode;         // the library's error code, when it gave one
  std::string context;            // what was being done
  std::string message;            // what went wrong
  std::string hint;               // what to try
  Json details = Json::object();  // more fields for the report (where an axis stopped, ...)
  int exitStatus = kExitFailed;
};

Failure LibraryFailure(const std::string& context, int32_t code);
Failure UsageFailure(const std::string& message, const std::string& hint = "");
Failure SystemFailure(const std::string& context, const std::string& message, const std::string& hint = "");
// The command ran but its effect did not happen (the drive did not follow).
Failure IncompleteFailure(const std::string& context, const std::string& message, const std::string& hint = "");

// The library's message for any code ("Unknown Error." outside the table).
std::string MessageOf(int32_t code);
// What to try after a library code, or "".
std::string HintFor(int32_t code);

// "0x0000007B": v in hexadecimal with the given number of digits.
std::string HexText(uint64_t v, int digits);

// The fields of one command's result, in order; each with its JSON value and its text.
class Report {
 public:
  Report& Add(const std::string& key, Json value, const std::string& text);
  Report& Number(const std::string& key, int64_t v);
  Report& Hex(const std::string& key, uint64_t v, int digits);  // a number in JSON, hex in text
  Report& Flag(const std::string& key, bool v);
  Report& Text(const std::string& key, const std::string& v);
  // A field of the JSON form only (the text form shows it another way).
  Report& JsonOnly(const std::string& key, Json value);
  // Text printed after the fields in the text form (a table).
  Report& Body(const std::string& text);
  const Json& Fields() const { return json_; }

 private:
  friend class Output;
  Json json_ = Json::object();
  std::string body_;
  std::vector<std::pair<std::string, std::string>> lines_;
};

class Output {
 public:
  explicit Output(bool json) : json_(json) {}
  bool IsJson() const { return json_; }
  // {"command": ..., "ok": true, fields...} or "key: text" lines.
  void Print(const std::string& command, const Report& report) const;
  void PrintFailure(const std::string& command, const Failure& failure) const;
  // A line of narration (demo, shell); text mode only.
  void Say(const std::string& text) const;

 private:
  bool json_;
};

// Strict UTF-8 JSON text of a value: bytes that are not UTF-8 become U+FFFD.
std::string Dump(const Json& value);
// A text from a drive, safe to print: control characters shown as \xNN.
std::string Printable(const std::string& text);

// A progress bar on standard error, drawn only when it is a terminal.
class Progress {
 public:
  Progress(const Output& output, const std::string& label);
  ~Progress();
  void Update(double fraction, const std::string& note);
  void Done();

 private:
  std::string label_;
  bool shown_;
  bool drawn_ = false;
};

}  // namespace zarnctl
