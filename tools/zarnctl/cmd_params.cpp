// The drive's parameters: backup and restore as JSON, store in the drive.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "access.h"
#include "backup.h"
#include "commands.h"
#include "platform.h"

namespace zarnctl {

namespace {

void CheckInterrupt(const std::string& context, const std::string& state) {
  if (platform::Interrupts() == 0) return;
  Failure f;
  f.kind = "interrupted";
  f.exitStatus = kExitInterrupted;
  f.context = context;
  f.message = "interrupted: " + state;
  throw f;
}

Runner DefineBackup(CLI::App& c) {
  auto file = std::make_shared<std::string>();
  c.add_option("file", *file, "the JSON file to write")->required();
  return [file](Session& s) {
    const Link& link = s.Drive();
    Progress bar(s.Out(), "backup");
    int missing = 0;
    const Json doc = ReadBackup(
        link,
        [&bar](double fraction, const std::string& next, int) {
          CheckInterrupt("backup", "nothing was written");
          bar.Update(fraction, next);
        },
        &missing);
    bar.Done();
    std::ofstream out(*file, std::ios::trunc);
    if (!(out << doc.dump(2, ' ', false, Json::error_handler_t::replace) << "\n") || !out.flush())
      throw SystemFailure("backup", "cannot write " + *file + " (" + strerror(errno) + ")",
                          "check the folder and its permissions");
    Report rep;
    rep.Text("file", *file);
    rep.Number("parameters", int64_t(doc["parameters"].size()));
    rep.Number("not_on_drive", missing);
    rep.Number("index_records", int64_t(doc["index_records"].size()));
    s.Out().Print("backup", rep);
    return 0;
  };
}

Runner DefineRestore(CLI::App& c) {
  auto file = std::make_shared<std::string>();
  c.add_option("file", *file, "a file written by zarnctl backup")->required();
  return [file](Session& s) {
    std::ifstream in(*file);
    if (!in) throw SystemFailure("restore", "cannot read " + *file + " (" + strerror(errno) + ")");
    std::stringstream content;
    content << in.rdbuf();
    const Backup b = ParseBackup(content.str(), *file);
    const Link& link = s.Drive();
    Progress bar(s.Out(), "restore");
    WriteBackup(link, b, [&bar](double fraction, const std::string& next, int written) {
      CheckInterrupt("restore", std::to_string(written) + " values were written before");
      bar.Update(fraction, next);
    });
    bar.Done();
    Report r;
    r.Text("file", *file);
    r.Number("format_version", b.version);
    r.Number("parameters", int64_t(b.parameters.size()));
    r.Number("index_records", int64_t(b.records.size()));
    s.Out().Print("restore", r);
    return 0;
  };
}

Runner DefineStore(CLI::App&) {
  return [](Session& s) {
    const Link& link = s.Drive();
    int32_t code = ZARN_OK;
    std::atomic<bool> finished{false};
    // The drive takes two seconds; the bar shows it while the call runs.
    std::thread worker([&] {
      code = link.Call("store", ZARN_StoreParameter);
      finished = true;
    });
    Progress bar(s.Out(), "storing");
    const auto t0 = std::chrono::steady_clock::now();
    while (!finished) {
      const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      bar.Update(std::min(0.99, spent / 2.1), "");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    worker.join();
    bar.Done();
    if (code != ZARN_OK) throw LibraryFailure("store", code);
    Report r;
    r.Flag("stored", true);
    s.Out().Print("store", r);
    return 0;
  };
}

}  // namespace

void AddParameterCommands(Registry& r) {
  r.Add({"backup", "save the drive's settings and every index record it has to a JSON file", true, DefineBackup});
  r.Add({"restore", "write a backup back to the drive, each value checked by reading it back", true, DefineRestore});
  r.Add({"store", "make the drive keep its parameters over power cycles (takes 2 s)", true, DefineStore});
}

}  // namespace zarnctl
