// CUtilityMOX's settings on POSIX systems: the registry's keys and values as
// a store of files under $XDG_CONFIG_HOME (or ~/.config)/zarn-registry, a
// folder per key, a file per value.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

std::string ConfigRoot() {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/zarn-registry/HKEY_CURRENT_USER";
  const char* home = getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.config/zarn-registry/HKEY_CURRENT_USER";
}

// The folder of key "%s\%s"; empty when the key names no safe path.
std::string KeyFolder(const std::string& base, const char* subkey) {
  const std::string key = utility::KeyName(base, subkey);
  std::string path = ConfigRoot();
  std::string part;
  for (size_t i = 0; i <= key.size(); ++i) {
    if (i == key.size() || key[i] == '\\') {
      if (part == "." || part == ".." || part.find('/') != std::string::npos) return "";
      if (!part.empty()) path += "/" + part;
      part.clear();
    } else {
      part += key[i];
    }
  }
  return path;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SafeValueName(const char* name) {
  return name && strchr(name, '/') == nullptr && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

bool MakePath(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      const std::string prefix = path.substr(0, i);
      if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

bool WriteFileText(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".tmp";
  FILE* f = fopen(tmp.c_str(), "w");
  if (!f) return false;
  const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  if (fclose(f) != 0 || !ok) return false;
  return rename(tmp.c_str(), path.c_str()) == 0;
}

bool ReadFileText(const std::string& path, std::string* text, size_t limit) {
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return false;
  char buffer[1024];
  size_t n = fread(buffer, 1, sizeof buffer < limit ? sizeof buffer : limit, f);
  fclose(f);
  text->assign(buffer, n);
  return true;
}

}  // namespace

UtilityHandle CUtilityMOX::CreateKey(const char* subkey) {
  const std::string folder = KeyFolder(registryBase_, subkey);
  if (folder.empty() || !MakePath(folder)) return nullptr;
  return new std::string(folder);
}

void CUtilityMOX::CloseKey(UtilityHandle key) { delete static_cast<std::string*>(key); }

int CUtilityMOX::DeleteKey(const char* subkey) {
  const std::string folder = KeyFolder(registryBase_, subkey);
  if (folder.empty() || !IsDirectory(folder)) return 0;
  // Like the registry: a key with subkeys is not deleted; its values go with it.
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  std::vector<std::string> values;
  bool hasSubkeys = false;
  while (dirent* e = readdir(dir)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    if (IsDirectory(folder + "/" + e->d_name))
      hasSubkeys = true;
    else
      values.push_back(folder + "/" + e->d_name);
  }
  closedir(dir);
  if (hasSubkeys) return 0;
  for (const std::string& v : values) unlink(v.c_str());
  return rmdir(folder.c_str()) == 0 ? 1 : 0;
}

int CUtilityMOX::DeleteSubKeys(const char* subkey) {
  const std::string folder = KeyFolder(registryBase_, subkey);
  if (folder.empty()) return 0;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  std::vector<std::string> subkeys;
  while (dirent* e = readdir(dir)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    if (IsDirectory(folder + "/" + e->d_name) && strlen(e->d_name) <= 255) subkeys.push_back(e->d_name);
  }
  closedir(dir);
  bool remaining = false;
  for (const std::string& s : subkeys)
    if (DeleteKey((std::string(subkey ? subkey : "") + "\\" + s).c_str()) != 1) remaining = true;
  if (!remaining) DeleteKey(subkey);
  return 1;
}

uint32_t CUtilityMOX::GetDwordValue(const char* subkey, const char* name, uint32_t* out) {
  const std::string folder = KeyFolder(registryBase_, subkey);
  std::string text;
  if (folder.empty() || !out || !SafeValueName(name) || !ReadFileText(folder + "/" + name + ".dword", &text, 16))
    return 0;
  char* end = nullptr;
  const unsigned long v = strtoul(text.c_str(), &end, 10);
  if (end == text.c_str()) return 0;
  *out = static_cast<uint32_t>(v);
  return 4;
}

uint32_t CUtilityMOX::GetStringValue(const char* subkey, const char* name, char* out) {
  const std::string folder = KeyFolder(registryBase_, subkey);
  std::string text;
  if (folder.empty() || !out || !SafeValueName(name) || !ReadFileText(folder + "/" + name + ".sz", &text, 1023))
    return 0;
  memcpy(out, text.c_str(), text.size() + 1);
  return static_cast<uint32_t>(text.size() + 1);
}

int CUtilityMOX::SetDwordValue(const char* subkey, const char* name, uint32_t value) {
  const std::string folder = KeyFolder(registryBase_, subkey);
  if (folder.empty() || !SafeValueName(name) || !MakePath(folder)) return 0;
  return WriteFileText(folder + "/" + name + ".dword", std::to_string(value)) ? 1 : 0;
}

int CUtilityMOX::SetStringValue(const char* subkey, const char* name, const char* text) {
  const std::string folder = KeyFolder(registryBase_, subkey);
  if (folder.empty() || !SafeValueName(name) || !text || !MakePath(folder)) return 0;
  return WriteFileText(folder + "/" + name + ".sz", std::string(text, strnlen(text, 1023))) ? 1 : 0;
}

}  // namespace zarn
