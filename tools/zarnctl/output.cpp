#include "output.h"

#include <algorithm>
#include <cstdio>

#include "platform.h"
#include "zarn/zarn.hpp"

namespace zarnctl {

Failure LibraryFailure(const std::string& context, int32_t code) {
  Failure f;
  f.kind = "library";
  f.code = code;
  f.context = context;
  f.message = MessageOf(code);
  f.hint = HintFor(code);
  return f;
}

Failure UsageFailure(const std::string& message, const std::string& hint) {
  Failure f;
  f.kind = "usage";
  f.message = message;
  f.hint = hint;
  f.exitStatus = kExitUsage;
  return f;
}

Failure SystemFailure(const std::string& context, const std::string& message, const std::string& hint) {
  Failure f;
  f.kind = "system";
  f.context = context;
  f.message = message;
  f.hint = hint;
  return f;
}

Failure IncompleteFailure(const std::string& context, const std::string& message, const std::string& hint) {
  Failure f;
  f.kind = "incomplete";
  f.context = context;
  f.message = message;
  f.hint = hint;
  return f;
}

std::string MessageOf(int32_t code) { return zarn::error_category().message(code); }

std::string HintFor(int32_t code) {
  switch (code) {
    case ZARN_E_REPLY_ILLEGAL_FUNCTION: return "the drive does not take this kind of request";
    case ZARN_E_REPLY_ILLEGAL_ADDRESS: return "the drive has no such object; `zarnctl objects` lists the known ones";
    case ZARN_E_REPLY_ILLEGAL_DATA:
      return "the drive refused the size or the value: check the TYPE (`zarnctl objects` shows each object's type) "
             "and whether the object can be written";
    case ZARN_E_REPLY_BUSY:
    case ZARN_E_REPLY_LONG_JOB: return "the drive is busy: try again in a moment";
    case ZARN_E_SERIAL_WRITE:
      return "the request could not be sent: check that the adapter is plugged in and the device name";
    case ZARN_E_ETH_WRITE:
      return "the request could not be sent: check the address and that the drive's network is reachable";
    case ZARN_E_SERIAL_NO_REPLY:
      return "the drive did not answer: check that it is powered, the wiring, the baud rate (--baud) and the "
             "drive id (--drive)";
    case ZARN_E_ETH_NO_REPLY:
      return "the drive did not answer: check that it is powered, its address and port, and the drive id (--drive)";
    case ZARN_E_SERIAL_CRC:
    case ZARN_E_SERIAL_ECHO:
    case ZARN_E_ETH_ECHO:
      return "a reply was garbled or answered another request: check the baud rate, the line's termination and "
             "that no other program talks on the line";
    case ZARN_E_SERIAL_NO_PORT: return "the serial line is closed: open it again";
    case ZARN_E_NO_CONNECTION:
    case ZARN_E_ETH_NO_SLOT: return "the drive is not connected: check the connection options";
    default: return "";
  }
}

std::string HexText(uint64_t v, int digits) {
  char text[32];
  snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return text;
}

Report& Report::Add(const std::string& key, Json value, const std::string& text) {
  json_[key] = std::move(value);
  lines_.emplace_back(key, text);
  return *this;
}

Report& Report::JsonOnly(const std::string& key, Json value) {
  json_[key] = std::move(value);
  return *this;
}

Report& Report::Body(const std::string& text) {
  body_ = text;
  return *this;
}

Report& Report::Number(const std::string& key, int64_t v) { return Add(key, v, std::to_string(v)); }

Report& Report::Hex(const std::string& key, uint64_t v, int digits) { return Add(key, v, HexText(v, digits)); }

Report& Report::Flag(const std::string& key, bool v) { return Add(key, v, v ? "yes" : "no"); }

Report& Report::Text(const std::string& key, const std::string& v) { return Add(key, v, Printable(v)); }

std::string Dump(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out;
}

void Output::Print(const std::string& command, const Report& report) const {
  if (json_) {
    Json line = Json::object();
    line["command"] = command;
    line["ok"] = true;
    for (auto it = report.json_.begin(); it != report.json_.end(); ++it) line[it.key()] = it.value();
    printf("%s\n", Dump(line).c_str());
  } else {
    size_t width = 0;
    for (const auto& l : report.lines_) width = std::max(width, l.first.size());
    for (const auto& l : report.lines_) printf("%-*s  %s\n", int(width + 1), (l.first + ":").c_str(), l.second.c_str());
    fputs(report.body_.c_str(), stdout);
  }
  fflush(stdout);
}

void Output::PrintFailure(const std::string& command, const Failure& f) const {
  if (json_) {
    Json error = Json::object();
    error["kind"] = f.kind;
    error["code"] = f.code == Failure::kNoCode ? Json(nullptr) : Json(f.code);
    error["message"] = f.message;
    error["context"] = f.context;
    error["hint"] = f.hint;
    Json line = Json::object();
    line["command"] = command.empty() ? Json(nullptr) : Json(command);
    line["ok"] = false;
    line["error"] = error;
    for (auto it = f.details.begin(); it != f.details.end(); ++it) line[it.key()] = it.value();
    printf("%s\n", Dump(line).c_str());
    fflush(stdout);
    return;
  }
  std::string text = "zarnctl: ";
  if (!f.context.empty()) text += f.context + ": ";
  text += f.message;
  if (f.code != Failure::kNoCode) text += " (code " + std::to_string(f.code) + ")";
  fprintf(stderr, "%s\n", text.c_str());
  if (!f.hint.empty()) fprintf(stderr, "  try: %s\n", f.hint.c_str());
  if (f.kind == "usage") fprintf(stderr, "  (see zarnctl --help, or zarnctl COMMAND --help)\n");
}

void Output::Say(const std::string& text) const {
  if (json_) return;
  printf("%s\n", text.c_str());
  fflush(stdout);
}

Progress::Progress(const Output& output, const std::string& label)
    : label_(label), shown_(!output.IsJson() && platform::IsTerminal(platform::Stream::kErr)) {}

Progress::~Progress() { Done(); }

void Progress::Update(double fraction, const std::string& note) {
  if (!shown_) return;
  fraction = std::max(0.0, std::min(1.0, fraction));
  const int width = 30, full = int(fraction * width + 0.5);
  fprintf(stderr, "\r%-12s [%s%s] %3d%%  %-28s", label_.c_str(), std::string(size_t(full), '#').c_str(),
          std::string(size_t(width - full), '.').c_str(), int(fraction * 100 + 0.5), note.c_str());
  fflush(stderr);
  drawn_ = true;
}

void Progress::Done() {
  if (drawn_) fprintf(stderr, "\r\033[K");
  drawn_ = false;
}

}  // namespace zarnctl
