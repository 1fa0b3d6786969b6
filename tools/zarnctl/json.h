// A small JSON reader and writer for zarnctl's own files and output.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zarnctl {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> fields;  // in file order

  const Json* Field(const std::string& name) const;
};

// Parses text; false (with *error) on malformed input.
bool ParseJson(const std::string& text, Json* out, std::string* error);
// A JSON string literal for text.
std::string Quote(const std::string& text);

}  // namespace zarnctl
