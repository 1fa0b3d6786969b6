// read, write and objects: any object by name or address.
#include <memory>

#include "access.h"
#include "commands.h"

namespace zarnctl {

namespace {

namespace obj = zarn::objects;

const char kObjectHelp[] = "a name from `zarnctl objects` (ActualPosition) or index:subindex (0x6064:00)";

void AddTarget(Report& r, const Target& t) {
  r.Text("object", t.Address());
  r.Add("name", t.object ? Json(t.object->name) : Json(nullptr), t.object ? t.object->name : "-");
}

Runner DefineRead(CLI::App& c) {
  struct Args {
    std::string object, type;
  };
  auto a = std::make_shared<Args>();
  c.add_option("object", a->object, kObjectHelp)->required();
  c.add_option("type", a->type, "u8 i8 u16 i16 u32 i32 str (known objects have their own)");
  return [a](Session& s) {
    const Target t = ResolveTarget(a->object);
    const ValueType& type = ChooseType(t, a->type);
    Value v;
    const int32_t code = ReadTyped(s.Drive(), t, type, &v);
    if (code != ZARN_OK) throw LibraryFailure("read " + t.Label(), code);
    Report r;
    AddTarget(r, t);
    r.Text("type", type.name);
    AddValue(r, type, v);
    s.Out().Print("read", r);
    return 0;
  };
}

Runner DefineWrite(CLI::App& c) {
  auto words = std::make_shared<std::vector<std::string>>();
  c.add_option("object [type] value", *words, std::string(kObjectHelp) + "; the type as for read; the value")
      ->expected(2, 3)
      ->required();
  return [words](Session& s) {
    const Target t = ResolveTarget(words->front());
    const ValueType& type = ChooseType(t, words->size() == 3 ? (*words)[1] : "");
    const Value value = ParseValue(words->back(), type);
    if (t.object && t.object->access == obj::Access::kMonitor && words->size() == 2)
      throw UsageFailure(std::string(t.object->name) + " is read-only: the drive writes it",
                         "to send the write all the same, give the address and type: zarnctl write " + t.Address() +
                             " " + type.name + " " + words->back());
    const Link& link = s.Drive();
    const int32_t code = WriteTyped(link, t, type, value);
    if (code != ZARN_OK) throw LibraryFailure("write " + t.Label(), code);
    // A setting is read back: a drive may take a value and keep another.
    if (t.object && t.object->access == obj::Access::kSetting) {
      Value back;
      const int32_t readCode = ReadTyped(link, t, type, &back);
      if (readCode != ZARN_OK) throw LibraryFailure("read back " + t.Label(), readCode);
      if (back.number != value.number || back.text != value.text)
        throw IncompleteFailure("write " + t.Label(),
                                "the drive took the write but holds " +
                                    (type.width ? std::to_string(back.number) : "\"" + back.text + "\""),
                                "the drive may limit the value's range");
    }
    Report r;
    AddTarget(r, t);
    r.Text("type", type.name);
    AddValue(r, type, value);
    s.Out().Print("write", r);
    return 0;
  };
}

Runner DefineObjects(CLI::App&) {
  return [](Session& s) {
    Json list = Json::array();
    std::string table = "name                  object      type  access     meaning\n";
    for (const obj::Object& o : obj::kAll) {
      const Target t = TargetOf(o);
      const ValueType& type = *t.type;
      list.push_back(Json{{"name", o.name},
                          {"object", t.Address()},
                          {"type", type.name},
                          {"access", AccessName(o.access)},
                          {"meaning", o.meaning}});
      char line[160];
      snprintf(line, sizeof line, "%-21s %-11s %-5s %-10s %s\n", o.name, t.Address().c_str(), type.name,
               AccessName(o.access).c_str(), o.meaning);
      table += line;
    }
    // Families addressed by number: by address only.
    auto family = [](uint16_t base, const char* rest, const char* meaning) {
      return Json{{"objects", HexText(base, 4) + rest}, {"meaning", meaning}};
    };
    const Json families = Json::array({
        family(obj::kIndexParameterBase, "+n:01..0B", "index record n (:01 u16, :02-:07 i32, :08-:0B u16)"),
        family(obj::kAlarmHistory, ":n", "alarm history entry n (str)"),
        family(obj::kInputSignalBase, "+n:00", "configuration of digital input signal n, n >= 1 (u16)"),
        family(obj::kOutputSignalBase, "+n:00", "configuration of digital output signal n, n >= 1 (u16)"),
    });
    table += "\nBy address:\n";
    for (const Json& f : families)
      table += "  " + f["objects"].get<std::string>() + "  " + f["meaning"].get<std::string>() + "\n";
    table +=
        "\nread-only: monitors and status the drive writes; command: written to make something happen;\n"
        "setting: kept by the drive when it stores its parameters (zarnctl store), saved by zarnctl backup.\n";
    Report r;
    r.JsonOnly("objects", list);
    r.JsonOnly("families", families);
    r.Body(table);
    s.Out().Print("objects", r);
    return 0;
  };
}

}  // namespace

void AddObjectCommands(Registry& r) {
  r.Add({"read", "read an object: zarnctl read ActualPosition, zarnctl read 0x3114:02 i32", true, DefineRead});
  r.Add({"write", "write an object: zarnctl write ProfileVelocity 50000", true, DefineWrite});
  r.Add({"objects", "list the objects the library knows: names, addresses, types, access", true, DefineObjects});
}

}  // namespace zarnctl
