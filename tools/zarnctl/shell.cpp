// shell: many commands on one connection, so that the drive's state (and a
// virtual drive of --sim) lasts from one command to the next. Interactive with
// a line editor and history on a terminal; otherwise commands come from
// standard input, one per line, and the first failure ends the shell.
#include <cstdio>
#include <iostream>
#include <sstream>

#include "commands.h"
#include "lineedit.h"
#include "platform.h"

namespace zarnctl {

namespace {

std::string Trim(const std::string& text) {
  const size_t a = text.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  return text.substr(a, text.find_last_not_of(" \t\r\n") - a + 1);
}

void PrintHelp() {
  printf("Commands (each takes --help; --json, --trace and --timeout apply to one line):\n");
  for (const CommandSpec& spec : Commands().All())
    if (spec.inShell) printf("  %-12s %s\n", spec.name.c_str(), spec.summary.c_str());
  printf("  %-12s %s\n", "exit", "end the shell (also Ctrl+D)");
  fflush(stdout);
}

// Parses and runs one line with the session's connection.
int RunLine(Session& session, const std::string& line) {
  Settings settings = session.settings;
  std::istringstream words(line);
  std::string first;
  words >> first;
  for (std::string w = first; !w.empty(); w = words >> w ? w : std::string())
    if (w == "--json") settings.json = true;
  for (const CommandSpec& spec : Commands().All())
    if (spec.name == first && !spec.inShell) {
      Output(settings.json)
          .PrintFailure(first, UsageFailure(first + " is not offered in the shell: it opens connections of its own",
                                            "run it as zarnctl " + first));
      return kExitUsage;
    }
  Parsed parsed;
  auto app = BuildApp(Commands(), settings, LineKind::kShellLine, &parsed);
  try {
    app->parse(line, false);
  } catch (const CLI::ParseError& e) {
    return ParseFailure(*app, e, Output(settings.json));
  }
  const Settings kept = session.settings;
  session.settings = settings;
  const int status = RunParsed(session, parsed);
  session.settings = kept;
  return status;
}

Runner DefineShell(CLI::App&) {
  return [](Session& s) {
    s.Drive();  // the one connection, opened before the first line
    const bool interactive = platform::IsTerminal(platform::Stream::kIn);
    if (interactive)
      s.Out().Say("zarnctl shell on " + s.Where() +
                  ". Commands as on the command line, without the connection options; help lists them.");
    LineEditor editor;
    int status = kExitOk;
    for (;;) {
      // Between commands Ctrl+C (a signal, or the key on a terminal) ends nothing
      // that runs: a signal ends the shell, the key clears the line.
      platform::SetInterruptsHandled(false);
      std::string line;
      if (interactive ? !editor.Read("zarnctl> ", &line) : !std::getline(std::cin, line)) break;
      line = Trim(line);
      if (line.empty() || line[0] == '#') continue;
      if (line == "exit" || line == "quit") break;
      if (line == "help") {
        PrintHelp();
        continue;
      }
      platform::ResetInterrupts();
      status = RunLine(s, line);
      if (!interactive && status != kExitOk) return status;
    }
    platform::SetInterruptsHandled(true);
    return interactive ? kExitOk : status;
  };
}

}  // namespace

void AddShellCommand(Registry& r) {
  r.Add({"shell", "run commands on one connection: typed (with history) or from standard input", false, DefineShell});
}

}  // namespace zarnctl
