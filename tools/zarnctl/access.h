// Typed access to any object: names from the library's object map or
// index:subindex addresses, the value types, reads and writes with the value
// in decimal and hexadecimal.
#pragma once

#include <cstdint>
#include <string>

#include "output.h"
#include "protocol/objects.h"
#include "session.h"

namespace zarnctl {

struct ValueType {
  const char* name;  // u8 i8 u16 i16 u32 i32 str
  int width;         // bytes; 0 for a text
  bool isSigned;
};

const ValueType* FindType(const std::string& name);
const ValueType& TypeOf(const zarn::objects::Object& object);
std::string AccessName(zarn::objects::Access access);

// What a command line names: an object of the map, or a bare address with
// the type that its family implies when it has one.
struct Target {
  uint16_t index = 0;
  uint8_t subIndex = 0;
  const zarn::objects::Object* object = nullptr;  // when the map knows it
  const ValueType* type = nullptr;                // known type, or null
  std::string Address() const;                    // "0x6064:00"
  std::string Label() const;                      // the name, or the address
};

// "ActualPosition" (any case), "0x6064:00" or "6064:00"; throws a usage failure.
Target ResolveTarget(const std::string& text);
// The type to use: the one given on the command line, else the target's own.
const ValueType& ChooseType(const Target& target, const std::string& given);

struct Value {
  int64_t number = 0;
  std::string text;  // for str
};

// Range-checked; accepts decimal, 0x hexadecimal and negative numbers.
Value ParseValue(const std::string& text, const ValueType& type);
bool ParseInteger(const std::string& text, int64_t lo, int64_t hi, int64_t* out);

int32_t ReadTyped(const Link& link, const Target& target, const ValueType& type, Value* value);
int32_t WriteTyped(const Link& link, const Target& target, const ValueType& type, const Value& value);

// The value of an object of the map; throws when the read fails.
int64_t ReadNumber(const Link& link, const zarn::objects::Object& object);
Target TargetOf(const zarn::objects::Object& object);

// "value" and "hex" (or the text) of a value of the type.
void AddValue(Report& report, const ValueType& type, const Value& value);
std::string HexOf(const ValueType& type, int64_t v);

}  // namespace zarnctl
