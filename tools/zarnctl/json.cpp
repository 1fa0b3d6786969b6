#include "json.h"

#include <cstdio>
#include <cstdlib>

namespace zarnctl {

const Json* Json::Field(const std::string& name) const {
  for (const auto& f : fields)
    if (f.first == name) return &f.second;
  return nullptr;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char t[8];
      snprintf(t, sizeof t, "\\u%04x", c);
      out += t;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

namespace {

struct Parser {
  const std::string& s;
  size_t at = 0;
  std::string error;

  void Space() {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\r' || s[at] == '\t')) ++at;
  }
  bool Fail(const char* what) {
    if (error.empty()) error = std::string(what) + " at offset " + std::to_string(at);
    return false;
  }
  bool Literal(const char* word) {
    size_t n = 0;
    while (word[n]) ++n;
    if (s.compare(at, n, word) != 0) return false;
    at += n;
    return true;
  }
  bool String(std::string* out) {
    if (at >= s.size() || s[at] != '"') return Fail("a string was expected");
    ++at;
    while (at < s.size() && s[at] != '"') {
      char c = s[at++];
      if (c == '\\') {
        if (at >= s.size()) return Fail("unfinished escape");
        char e = s[at++];
        if (e == 'n')
          c = '\n';
        else if (e == 't')
          c = '\t';
        else if (e == 'u') {
          if (at + 4 > s.size()) return Fail("unfinished escape");
          c = char(strtol(s.substr(at, 4).c_str(), nullptr, 16));
          at += 4;
        } else {
          c = e;
        }
      }
      *out += c;
    }
    if (at >= s.size()) return Fail("unfinished string");
    ++at;
    return true;
  }
  bool Value(Json* v, int depth) {
    if (depth > 32) return Fail("nested too deep");
    Space();
    if (at >= s.size()) return Fail("a value was expected");
    const char c = s[at];
    if (c == '{') {
      v->kind = Json::kObject;
      ++at;
      Space();
      if (at < s.size() && s[at] == '}') return ++at, true;
      for (;;) {
        Space();
        std::string name;
        if (!String(&name)) return false;
        Space();
        if (at >= s.size() || s[at] != ':') return Fail("':' was expected");
        ++at;
        Json item;
        if (!Value(&item, depth + 1)) return false;
        v->fields.emplace_back(name, item);
        Space();
        if (at < s.size() && s[at] == ',') {
          ++at;
          continue;
        }
        if (at < s.size() && s[at] == '}') return ++at, true;
        return Fail("',' or '}' was expected");
      }
    }
    if (c == '[') {
      v->kind = Json::kArray;
      ++at;
      Space();
      if (at < s.size() && s[at] == ']') return ++at, true;
      for (;;) {
        Json item;
        if (!Value(&item, depth + 1)) return false;
        v->items.push_back(item);
        Space();
        if (at < s.size() && s[at] == ',') {
          ++at;
          continue;
        }
        if (at < s.size() && s[at] == ']') return ++at, true;
        return Fail("',' or ']' was expected");
      }
    }
    if (c == '"') {
      v->kind = Json::kString;
      return String(&v->text);
    }
    if (Literal("true")) return v->kind = Json::kBool, v->boolean = true, true;
    if (Literal("false")) return v->kind = Json::kBool, true;
    if (Literal("null")) return true;
    char* end = nullptr;
    v->number = strtod(s.c_str() + at, &end);
    if (end == s.c_str() + at) return Fail("a value was expected");
    v->kind = Json::kNumber;
    at = size_t(end - s.c_str());
    return true;
  }
};

}  // namespace

bool ParseJson(const std::string& text, Json* out, std::string* error) {
  Parser p{text, 0, std::string()};
  *out = Json();
  if (!p.Value(out, 0)) {
    if (error) *error = p.error;
    return false;
  }
  p.Space();
  if (p.at != text.size()) {
    if (error) *error = "text after the value at offset " + std::to_string(p.at);
    return false;
  }
  return true;
}

}  // namespace zarnctl
