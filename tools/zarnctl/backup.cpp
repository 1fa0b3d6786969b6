#include "backup.h"

#include <cstring>
#include <limits>

#include "app.h"

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

bool SameRecord(const IndexParameter& a, const IndexParameter& b) { return RecordValues(a) == RecordValues(b); }

}  // namespace

Json ReadBackup(const Link& link, const BackupStep& step, int* notOnDrive) {
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
  *notOnDrive = 0;
  for (const obj::Object& o : obj::kAll) {
    if (o.access != obj::Access::kSetting) continue;
    step(0, o.name, 0);
    const Target t = TargetOf(o);
    Value v;
    const int32_t code = ReadTyped(link, t, *t.type, &v);
    if (IsRefusal(code)) {  // this drive has no such object
      ++*notOnDrive;
      continue;
    }
    if (code != ZARN_OK) throw LibraryFailure("backup of " + t.Label(), code);
    parameters[o.name] = Json{{"object", t.Address()}, {"type", t.type->name}, {"value", v.number}};
  }
  doc["parameters"] = parameters;

  // Every index record the drive answers, up to the first it refuses.
  Json records = Json::array();
  for (int n = 0; n < kMaxIndexRecords; ++n) {
    step(double(n) / kMaxIndexRecords, "index record " + std::to_string(n), 0);
    IndexParameter r;
    memset(&r, 0, sizeof r);
    const int32_t code = link.Call("read index record " + std::to_string(n), ZARN_ReadIndexParameter, n, &r);
    if (IsRefusal(code)) break;
    if (code != ZARN_OK) throw LibraryFailure("backup of index record " + std::to_string(n), code);
    records.push_back(Json{{"number", n}, {"values", RecordValues(r)}});
  }
  doc["index_record_count"] = records.size();
  doc["index_records"] = records;
  return doc;
}

Backup ParseBackup(const std::string& content, const std::string& source) {
  Json doc;
  try {
    doc = Json::parse(content);
  } catch (const Json::exception& e) {
    throw UsageFailure(source + " is not JSON: " + e.what());
  }
  auto bad = [&](const std::string& what) { return UsageFailure(source + ": " + what, "is it a zarnctl backup?"); };
  if (!doc.is_object() || !doc.contains("format")) throw bad("no \"format\"");
  Backup b;
  if (doc["format"] == kFormatVersion1) {
    b.version = 1;
  } else if (doc["format"] == kFormat && doc.contains("version") && doc["version"].is_number_integer()) {
    b.version = doc["version"].get<int>();
    if (b.version > kFormatVersion)
      throw UsageFailure(
          source + " has format version " + std::to_string(b.version) + ", newer than this zarnctl reads",
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
      const int number = rec.at("number").get<int>();
      if (number < 0 || number >= kMaxIndexRecords) throw bad("index record number " + std::to_string(number));
      b.records.emplace_back(number, r);
    }
  } catch (const Json::exception& e) {
    throw bad(e.what());
  }
  return b;
}

void WriteBackup(const Link& link, const Backup& b, const BackupStep& step) {
  int written = 0;
  const double total = double(b.parameters.size() + b.records.size());
  for (const Backup::Parameter& p : b.parameters) {
    step(written / total, p.target.Label(), written);
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
  for (const auto& rec : b.records) {
    const std::string label = "index record " + std::to_string(rec.first);
    step(written / total, label, written);
    link.Check("restore of " + label, ZARN_WriteIndexParameter, rec.first, &rec.second);
    IndexParameter back;
    memset(&back, 0, sizeof back);
    link.Check("read back " + label, ZARN_ReadIndexParameter, rec.first, &back);
    if (!SameRecord(back, rec.second))
      throw IncompleteFailure("restore of " + label, "the drive holds other values than were written");
    ++written;
  }
}

}  // namespace zarnctl
