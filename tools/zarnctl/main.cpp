// zarnctl: try and commission servo drives from a terminal or a script, through
// the zarn library's public API.
#include <cstdio>
#include <cstring>

#include "app.h"
#include "platform.h"

int main(int argc, char** argv) {
  using namespace zarnctl;
  platform::CatchInterrupts();
  platform::PrepareConsole();
  Settings settings;
  // Known before parsing, so that a usage error is reported in JSON too.
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--json") == 0) settings.json = true;
  Parsed parsed;
  auto app = BuildApp(Commands(), settings, LineKind::kCommandLine, &parsed);
  if (argc == 1) {
    fputs(app->help().c_str(), stderr);
    return kExitUsage;
  }
  try {
    app->parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return ParseFailure(*app, e, Output(settings.json));
  }
  Session session(settings);
  return RunParsed(session, parsed);
}
