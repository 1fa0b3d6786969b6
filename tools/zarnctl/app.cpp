#include "app.h"

#include <cstdio>

#include "commands.h"
#include "platform.h"
#include "zarn/zarn.h"

#ifndef ZARNCTL_VERSION
#define ZARNCTL_VERSION "0"
#endif

namespace zarnctl {

namespace {

const char kFooter[] =
    "\nExit status: 0 done, 1 failed (the drive or the system said no, or the drive did not\n"
    "do what was asked), 2 usage error, 130 interrupted (Ctrl+C; motion is stopped first).\n"
    "\nExamples:\n"
    "  zarnctl --sim info\n"
    "  zarnctl --udp 192.168.0.15:50000 read ActualPosition\n"
    "  zarnctl --serial /dev/ttyUSB0 --drive 3 move abs 10000 --vel 50000 --wait\n"
    "  zarnctl --sim shell          (one connection for many commands)\n"
    "\nEvery command takes --json (one JSON object per line) and --help.\n";

void AddSessionOptions(CLI::App& app, Settings& s) {
  app.add_flag("--json", s.json, "print one JSON object per line");
  app.add_flag("--trace", s.trace, "show each request and reply frame in hex, with timing, on standard error");
  app.add_option("--timeout", s.timeoutMs, "how long to wait for the drive in moves, homing and stops (ms)")
      ->check(CLI::Range(int64_t(1), int64_t(86400000)));
}

}  // namespace

const Registry& Commands() {
  static const Registry registry = [] {
    Registry r;
    AddObjectCommands(r);
    AddServoCommands(r);
    AddMotionCommands(r);
    AddParameterCommands(r);
    AddScanCommand(r);
    AddDemoCommand(r);
    AddShellCommand(r);
    AddConsoleCommand(r);
    return r;
  }();
  return registry;
}

std::string VersionText() {
  int32_t library = 0;
  ZARN_GetZarnDllVersion(&library);
  char text[64];
  snprintf(text, sizeof text, "zarnctl %s (library interface 0x%08X)", ZARNCTL_VERSION, unsigned(library));
  return text;
}

std::unique_ptr<CLI::App> BuildApp(const Registry& registry, Settings& s, LineKind kind, Parsed* parsed) {
  auto app = std::make_unique<CLI::App>(
      kind == LineKind::kCommandLine ? "zarnctl: try and commission servo drives through the zarn library" : "",
      kind == LineKind::kCommandLine ? "zarnctl" : "");
  app->require_subcommand(1);
  app->fallthrough();  // session options may also follow the command
  // The same command line everywhere: an argument such as /tmp/drive.json is a
  // file, never a Windows-style /option (subcommands inherit this).
  app->allow_windows_style_options(false);
  AddSessionOptions(*app, s);
  if (kind == LineKind::kCommandLine) {
    app->set_version_flag("--version", VersionText());
    ConnectionOptions& c = s.connection;
    app->add_option("--serial", c.serial, "a drive on a serial line: /dev/ttyUSB0, COM3, ...")->group("Connection");
    app->add_option("--baud", c.baud, "serial line speed (default 115200)")
        ->check(CLI::Range(1u, 4000000u))
        ->group("Connection");
    app->add_option("--udp", c.udp, "a drive over UDP: HOST:PORT")->group("Connection");
    app->add_flag("--sim", c.sim, "a virtual drive started in this process")->group("Connection");
    app->add_option("--drive", c.drive, "the drive id (default 1): serial 1-255, UDP 0-31")
        ->check(CLI::Range(0, 255))
        ->group("Connection");
    app->footer(kFooter);
  }
  for (const CommandSpec& spec : registry.All()) {
    if (kind == LineKind::kShellLine && !spec.inShell) continue;
    CLI::App* sub = app->add_subcommand(spec.name, spec.summary);
    Runner run = spec.define(*sub);
    sub->callback([parsed, run, &spec] {
      parsed->spec = &spec;
      parsed->run = run;
    });
  }
  return app;
}

int ParseFailure(const CLI::App& app, const CLI::ParseError& e, const Output& output) {
  if (e.get_exit_code() == 0) return app.exit(e);  // --help (of the command that asked), --version
  // A word that is no command leaves CLI11 missing its command: say which word.
  if (app.get_subcommands().empty())
    for (const std::string& word : app.remaining())
      if (!word.empty() && word[0] != '-') {
        output.PrintFailure("", UsageFailure("unknown command " + word, "zarnctl --help lists the commands"));
        return kExitUsage;
      }
  output.PrintFailure("", UsageFailure(e.what()));
  return kExitUsage;
}

int RunParsed(Session& session, const Parsed& parsed) {
  const Output out = session.Out();
  const std::string name = parsed.spec ? parsed.spec->name : "";
  platform::SetInterruptsHandled(true);
  int status = kExitOk;
  try {
    session.Trace();
    status = parsed.run(session);
    if (status == kExitOk && platform::Interrupts() > 0) {
      // Ctrl+C came when the command had done its work.
      if (!out.IsJson()) fprintf(stderr, "zarnctl: interrupted\n");
      status = kExitInterrupted;
    }
  } catch (const Failure& f) {
    out.PrintFailure(name, f);
    status = f.exitStatus;
  } catch (const std::exception& e) {
    out.PrintFailure(name, SystemFailure(name, e.what()));
    status = kExitFailed;
  }
  return status;
}

}  // namespace zarnctl
