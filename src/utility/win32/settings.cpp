// CUtilityMOX's settings on Windows: keys and values of the registry under
// HKEY_CURRENT_USER.
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

HKEY OpenKey(const std::string& name) {
  HKEY key = nullptr;
  return RegOpenKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

UtilityHandle CUtilityMOX::CreateKey(const char* subkey) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, utility::KeyName(registryBase_, subkey).c_str(), &key) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

void CUtilityMOX::CloseKey(UtilityHandle key) {
  if (key) RegCloseKey(static_cast<HKEY>(key));
}

int CUtilityMOX::DeleteKey(const char* subkey) {
  return RegDeleteKeyA(HKEY_CURRENT_USER, utility::KeyName(registryBase_, subkey).c_str()) == ERROR_SUCCESS ? 1 : 0;
}

int CUtilityMOX::DeleteSubKeys(const char* subkey) {
  const std::string name = utility::KeyName(registryBase_, subkey);
  HKEY key = OpenKey(name);
  if (!key) return 0;
  std::vector<std::string> children;
  char child[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof child;
    if (RegEnumKeyExA(key, i, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.push_back(child);
  }
  for (const std::string& c : children) RegDeleteKeyA(key, c.c_str());
  DWORD remaining = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &remaining, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  if (remaining == 0) RegDeleteKeyA(HKEY_CURRENT_USER, name.c_str());
  return 1;
}

uint32_t CUtilityMOX::GetDwordValue(const char* subkey, const char* name, uint32_t* out) {
  HKEY key = out ? OpenKey(utility::KeyName(registryBase_, subkey)) : nullptr;
  if (!key) return 0;
  DWORD type = 0, value = 0, size = sizeof value;
  const LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_DWORD) return 0;
  *out = value;
  return size;
}

uint32_t CUtilityMOX::GetStringValue(const char* subkey, const char* name, char* out) {
  HKEY key = out ? OpenKey(utility::KeyName(registryBase_, subkey)) : nullptr;
  if (!key) return 0;
  char buffer[1025] = "";
  DWORD type = 0, size = 1024;
  const LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_SZ) return 0;
  buffer[size < 1024 ? size : 1024] = '\0';
  memcpy(out, buffer, strlen(buffer) + 1);
  return size;
}

namespace {

// Opens the key, creating it when it does not open; writes one value.
int SetValue(CUtilityMOX* u, const std::string& base, const char* subkey, const char* name, DWORD type,
             const BYTE* data, DWORD size) {
  HKEY key = OpenKey(utility::KeyName(base, subkey));
  if (!key) key = static_cast<HKEY>(u->CreateKey(subkey));
  if (!key) return 0;
  const LONG r = RegSetValueExA(key, name, 0, type, data, size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace

int CUtilityMOX::SetDwordValue(const char* subkey, const char* name, uint32_t value) {
  const DWORD v = value;
  return SetValue(this, registryBase_, subkey, name, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

int CUtilityMOX::SetStringValue(const char* subkey, const char* name, const char* text) {
  if (!text) return 0;
  const std::string cut(text, strnlen(text, 1023));
  return SetValue(this, registryBase_, subkey, name, REG_SZ, reinterpret_cast<const BYTE*>(cut.c_str()),
                  static_cast<DWORD>(cut.size() + 1));
}

}  // namespace zarn
