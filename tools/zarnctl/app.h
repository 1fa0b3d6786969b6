// The command line: global options, the registry of commands (each command
// module adds its own), parsing a command line or a shell line, and running
// the parsed command with its failures turned into messages and exit codes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "session.h"

namespace zarnctl {

// Runs a parsed command; returns its exit status. Failures are thrown.
using Runner = std::function<int(Session&)>;

struct CommandSpec {
  std::string name;
  std::string summary;
  bool inShell = true;  // offered in zarnctl shell
  // Declares the command's arguments and options; returns what runs it.
  std::function<Runner(CLI::App&)> define;
};

class Registry {
 public:
  void Add(CommandSpec spec) { specs_.push_back(std::move(spec)); }
  const std::vector<CommandSpec>& All() const { return specs_; }

 private:
  std::vector<CommandSpec> specs_;
};

// Every command of zarnctl.
const Registry& Commands();

struct Parsed {
  const CommandSpec* spec = nullptr;
  Runner run;
};

enum class LineKind { kCommandLine, kShellLine };

// The parser for a command line (global options bound to settings) or for a
// line of the shell (no connection options).
std::unique_ptr<CLI::App> BuildApp(const Registry& registry, Settings& settings, LineKind kind, Parsed* parsed);

// Runs a parsed command (which opens the session's drive when it needs it),
// prints a failure with its cause and remedy, and gives the exit status.
int RunParsed(Session& session, const Parsed& parsed);

// Handles a parse error: help and version are printed (status 0), anything
// else is a usage failure (status 2).
int ParseFailure(const CLI::App& app, const CLI::ParseError& error, const Output& output);

std::string VersionText();

}  // namespace zarnctl
