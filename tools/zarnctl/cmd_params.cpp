// The drive's parameters: backup and restore as JSON, store in the drive.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <thread>

#include "access.h"
#include "commands.h"
#include "platform.h"

namespace zarnctl {

namespace {

namespace obj = zarn::objects;

// Version 1 files ("format": "zarn-backup-1") had no version field and at
// most 16 index records; they are still read.
constexpr char kFormat[] = "zarn-backup";
constexpr int kFormatVersion = 2;
constexpr char kFormatVersion1[] = "zarn-backup-1";
// Index records are objects 0x3100 to 0x31FF; a drive has as many as it answers.
constexpr int kMaxIndexRecords = 256;
constexpr int kRecordValues = 11;

bool IsRefusal(int32_t code) { return code >= ZARN_E_REPLY_UNKNOWN && code <= ZARN_E_REPLY_FILE_CHECK; }

// The record is packed: its fields are copied out (+x), never bound by reference.
Json RecordValues(const IndexParameter& r) {
  return Json::array(
      {+r.sub1, +r.sub2, +r.sub3, +r.sub4, +r.sub5, +r.sub6, +r.sub7, +r.sub8, +r.sub9, +r.sub10, +r.sub11});
}

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
    Json doc = Json::object();
    doc["format"] = kFormat;
    doc["version"] = kFormatVersion;
    doc["written_by"] = VersionText();
    doc["drive"] = link.Id();
    Value id;
    const Target probe = TargetOf(obj::OpenProbe);
    doc["identification"] = ReadTyped(link, probe, *probe.type, &id) == ZARN_OK ? Json(id.number) : Json(nullptr);

    // The settings of the object map: what the drive keeps when it stores.
    Json parameters = Json::object();
    int missing = 0;
    for (const obj::Object& o : obj::kAll) {
      if (o.access != obj::Access::kSetting) continue;
      CheckInterrupt("backup", "nothing was written");
      const Target t = TargetOf(o);
      Value v;
      const int32_t code = ReadTyped(link, t, *t.type, &v);
      if (IsRefusal(code)) {  // this drive has no such object
        ++missing;
        continue;
      }
      if (code != ZARN_OK) throw LibraryFailure("backup of " + t.Label(), code);
      parameters[o.name] = Json{{"object", t.Address()}, {"type", t.type->name}, {"value", v.number}};
    }
    doc["parameters"] = parameters;

    // Every index record the drive answers, up to the first it refuses.
    Json records = Json::array();
    Progress bar(s.Out(), "backup");
    for (int n = 0; n < kMaxIndexRecords; ++n) {
      CheckInterrupt("backup", "nothing was written");
      bar.Update(double(n) / kMaxIndexRecords, "index record " + std::to_string(n));
      IndexParameter r;
      memset(&r, 0, sizeof r);
      const int32_t code = link.Call("read index record " + std::to_string(n), ZARN_ReadIndexParameter, n, &r);
      if (IsRefusal(code)) break;
      if (code != ZARN_OK) throw LibraryFailure("backup of index record " + std::to_string(n), code);
      records.push_back(Json{{"number", n}, {"values", RecordValues(r)}});
    }
    bar.Done();
    doc["index_record_count"] = records.size();
    doc["index_records"] = records;

    std::ofstream out(*file, std::ios::trunc);
    if (!(out << doc.dump(2, ' ', false, Json::error_handler_t::replace) << "\n") || !out.flush())
      throw SystemFailure("backup", "cannot write " + *file + " (" + strerror(errno) + ")",
                          "check the folder and its permissions");
    Report rep;
    rep.Text("file", *file);
    rep.Number("parameters", int64_t(parameters.size()));
    rep.Number("not_on_drive", missing);
    rep.Number("index_records", int64_t(records.size()));
    s.Out().Print("backup", rep);
    return 0;
  };
}

// A backup read and checked before anything is written to the drive.
struct Backup {
  int version = 0;
  struct Parameter {
    Target target;
    const ValueType* type;
    Value value;
  };
  std::vector<Parameter> parameters;
  std::vector<std::pair<int, IndexParameter>> records;
};

Backup ReadBackup(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw SystemFailure("restore", "cannot read " + file + " (" + strerror(errno) + ")");
  std::stringstream content;
  content << in.rdbuf();
  Json doc;
  try {
    doc = Json::parse(content.str());
  } catch (const Json::exception& e) {
    throw UsageFailure(file + " is not JSON: " + e.what());
  }
  auto bad = [&](const std::string& what) { return UsageFailure(file + ": " + what, "is it a zarnctl backup?"); };
  if (!doc.is_object() || !doc.contains("format")) throw bad("no \"format\"");
  Backup b;
  if (doc["format"] == kFormatVersion1) {
    b.version = 1;
  } else if (doc["format"] == kFormat && doc.contains("version") && doc["version"].is_number_integer()) {
    b.version = doc["version"].get<int>();
    if (b.version > kFormatVersion)
      throw UsageFailure(file + " has format version " + std::to_string(b.version) + ", newer than this zarnctl reads",
                         "use a newer zarnctl");
  } else {
    throw bad("unknown format");
  }
  try {
    const Json parameters = doc.value("parameters", Json::object());
    for (const auto& p : parameters.items()) {
      const Json& e = p.value();
      Backup::Parameter param;
      param.target = ResolveTarget(e.at("object").get<std::string>());
      param.type = FindType(e.at("type").get<std::string>());
      if (!param.type || param.type->width == 0) throw bad("bad type in " + p.key());
      param.value = ParseValue(std::to_string(e.at("value").get<int64_t>()), *param.type);
      b.parameters.push_back(param);
    }
    const Json records = doc.value("index_records", Json::array());
    if (b.version >= 2 && records.size() != doc.at("index_record_count").get<size_t>())
      throw bad("holds " + std::to_string(records.size()) + " index records of " +
                std::to_string(doc["index_record_count"].get<size_t>()) + ": the file is cut short");
    for (const Json& rec : records) {
      const Json& v = rec.at("values");
      if (!v.is_array() || v.size() != kRecordValues) throw bad("an index record without 11 values");
      IndexParameter r;
      memset(&r, 0, sizeof r);
      // The record's fields in order, each range-checked for its type.
      auto field = [&](int i, auto sample) {
        using T = decltype(sample);
        const int64_t x = v.at(i).get<int64_t>();
        if (x < int64_t(std::numeric_limits<T>::min()) || x > int64_t(std::numeric_limits<T>::max()))
          throw bad("index record value " + std::to_string(x) + " out of range");
        return T(x);
      };
      r.sub1 = field(0, r.sub1);
      r.sub2 = field(1, r.sub2);
      r.sub3 = field(2, r.sub3);
      r.sub4 = field(3, r.sub4);
      r.sub5 = field(4, r.sub5);
      r.sub6 = field(5, r.sub6);
      r.sub7 = field(6, r.sub7);
      r.sub8 = field(7, r.sub8);
      r.sub9 = field(8, r.sub9);
      r.sub10 = field(9, r.sub10);
      r.sub11 = field(10, r.sub11);
      b.records.emplace_back(rec.at("number").get<int>(), r);
    }
  } catch (const Json::exception& e) {
    throw bad(e.what());
  }
  return b;
}

bool SameRecord(const IndexParameter& a, const IndexParameter& b) { return RecordValues(a) == RecordValues(b); }

Runner DefineRestore(CLI::App& c) {
  auto file = std::make_shared<std::string>();
  c.add_option("file", *file, "a file written by zarnctl backup")->required();
  return [file](Session& s) {
    const Backup b = ReadBackup(*file);
    const Link& link = s.Drive();
    int written = 0;
    auto partial = [&] { return std::to_string(written) + " values were written before"; };
    for (const Backup::Parameter& p : b.parameters) {
      CheckInterrupt("restore", partial());
      const int32_t code = WriteTyped(link, p.target, *p.type, p.value);
      if (code != ZARN_OK) throw LibraryFailure("restore of " + p.target.Label(), code);
      Value back;
      const int32_t readCode = ReadTyped(link, p.target, *p.type, &back);
      if (readCode != ZARN_OK) throw LibraryFailure("read back " + p.target.Label(), readCode);
      if (back.number != p.value.number)
        throw IncompleteFailure("restore of " + p.target.Label(), "the drive holds " + std::to_string(back.number) +
                                                                      " instead of " + std::to_string(p.value.number));
      ++written;
    }
    Progress bar(s.Out(), "restore");
    for (const auto& rec : b.records) {
      CheckInterrupt("restore", partial());
      bar.Update(double(&rec - &b.records.front()) / double(b.records.size()),
                 "index record " + std::to_string(rec.first));
      const std::string label = "index record " + std::to_string(rec.first);
      link.Check("restore of " + label, ZARN_WriteIndexParameter, rec.first, &rec.second);
      IndexParameter back;
      memset(&back, 0, sizeof back);
      link.Check("read back " + label, ZARN_ReadIndexParameter, rec.first, &back);
      if (!SameRecord(back, rec.second))
        throw IncompleteFailure("restore of " + label, "the drive holds other values than were written");
      ++written;
    }
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
