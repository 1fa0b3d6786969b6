// CUtilityMOX: what is written once for every system. The loops over the
// console, folders and shared blocks, over the primitives of os.h.
#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "utility/os.h"
#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

constexpr size_t kMaxBlockValues = 5;

// A block: the values, then the checksum, padded to a multiple of 8 bytes (40 or 48).
struct Block {
  int64_t values[kMaxBlockValues];
  uint32_t checksum;
};
size_t BlockSize(int count) { return (sizeof(int64_t) * static_cast<size_t>(count) + 4 + 7) / 8 * 8; }

std::string Join(const char* folder, const std::string& name) { return folder + (utility::kPathSeparator + name); }

}  // namespace

CUtilityMOX::CUtilityMOX()
    : drive_(), folder_(), baseName_(), extension_(), folderAndBaseName_(), addressTexts_(), title_() {
  utility::SplitModulePath(utility::ModuleFileName().c_str(), drive_, folder_, baseName_, extension_,
                           folderAndBaseName_);
  registryBase_ = std::string("Software\\") + baseName_;
}

// ---------------------------------------------------------------- console
void CUtilityMOX::PrintConsole(const char* format, ...) {
  if (!console_ || !format) return;
  va_list args;
  va_start(args, format);
  const std::string text = utility::FormatLine(format, args);
  va_end(args);
  for (size_t at = 0; at < text.size(); at += utility::kPrintPiece)
    utility::WriteConsoleText(console_, text.data() + at, std::min(text.size() - at, utility::kPrintPiece));
}

const char* CUtilityMOX::CtrlEventMessage(unsigned event) {
  switch (event) {
    case 0: return "CTRL+C received! The action is canceled!\n";
    case 1: return "CTRL+BREAK received! The action is canceled!\n";
    case 2: return "Program being closed! The action is canceled!\n";
    case 5: return "User is logging off! The action is canceled!\n";
    case 6: return "User is logging off!! The action is canceled!\n";
    default: return "";
  }
}

void CUtilityMOX::SetRegistryBase(const char* text) { registryBase_ = text ? text : ""; }

// ---------------------------------------------------------------- folders
int CUtilityMOX::MakeFolders(const char* path) {
  if (!path) return 0;
  const size_t n = strnlen(path, utility::kPathLimit + 1);
  if (n > utility::kPathLimit) return 0;  // longer paths are refused, never cut
  std::string prefix;
  for (size_t i = 0; i < n; ++i) {
    const bool separator = path[i] == '\\' || path[i] == '/';
    if (separator && i > 0 && !utility::PathExists(prefix) && !utility::CreateFolder(prefix)) return 0;
    prefix += separator ? utility::kPathSeparator : path[i];
  }
  return 1;
}

void CUtilityMOX::EmptyFolder(const char* path) {
  std::vector<utility::FolderEntry> entries;
  if (!path || !utility::ListFolder(path, &entries)) return;
  for (const utility::FolderEntry& e : entries) {
    const std::string item = Join(path, e.name);
    if (e.kind == utility::EntryKind::kFolder) EmptyFolder(item.c_str());
    utility::RemoveEntry(item, e.kind);
  }
}

bool CUtilityMOX::CopyFolder(const char* from, const char* to) {
  if (!from || !to) return false;
  MakeFolders((std::string(to) + utility::kPathSeparator).c_str());  // the destination itself too
  std::vector<utility::FolderEntry> entries;
  if (!utility::ListFolder(from, &entries)) return false;
  for (const utility::FolderEntry& e : entries) {
    const std::string source = Join(from, e.name), target = Join(to, e.name);
    if (e.kind == utility::EntryKind::kFolder)
      ShellCopy(source.c_str(), target.c_str());
    else
      utility::CopyEntry(source, target, e.kind);
  }
  return true;
}

std::string CUtilityMOX::GetModuleFolder() const {
  std::string f = std::string(drive_) + folder_;
  if (!f.empty() && (f.back() == '\\' || f.back() == '/')) f.pop_back();
  return f;
}

// ---------------------------------------------------------------- shared blocks
uint32_t CUtilityMOX::BlockChecksum(const int64_t* values, int count) {
  uint32_t sum = 0;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(values);
  for (size_t i = 0; i < sizeof(int64_t) * static_cast<size_t>(count); ++i) sum += bytes[i];
  return sum;
}

bool CUtilityMOX::WriteSharedBlock(void* view, const char* name, const int64_t* values, int count) {
  if (!view) return true;
  if (!name || !values || (count != 4 && count != 5) || !mapping_) return false;
  uint8_t block[sizeof(Block)] = {};
  memcpy(block, values, sizeof(int64_t) * static_cast<size_t>(count));
  const uint32_t sum = BlockChecksum(values, count);
  memcpy(block + sizeof(int64_t) * static_cast<size_t>(count), &sum, sizeof sum);
  utility::NamedLock lock(std::string(name) + "_mutex");
  if (!lock.Owned()) return false;
  memcpy(view, block, BlockSize(count));
  return true;
}

bool CUtilityMOX::ReadSharedBlock(const void* view, const char* name, int64_t* values, int count) {
  if (!view || !name || !values || (count != 4 && count != 5)) return false;
  uint8_t block[sizeof(Block)] = {};
  {
    utility::NamedLock lock(std::string(name) + "_mutex");
    if (!lock.Owned()) return false;
    memcpy(block, view, BlockSize(count));
  }
  int64_t copy[kMaxBlockValues];
  memcpy(copy, block, sizeof(int64_t) * static_cast<size_t>(count));
  uint32_t stored;
  memcpy(&stored, block + sizeof(int64_t) * static_cast<size_t>(count), sizeof stored);
  if (BlockChecksum(copy, count) != stored) return false;  // the caller's values stay as they were
  memcpy(values, copy, sizeof(int64_t) * static_cast<size_t>(count));
  return true;
}

// ---------------------------------------------------------------- system names
const char* CUtilityMOX::GetLocalAddressText(int i) const {
  return i >= 0 && i < addressCount_ ? addressTexts_[i] : "";
}

std::string CUtilityMOX::OsNameFor(int major, int minor, bool workstation, bool serverR2, bool homeServer) {
  if (major == 5 && minor == 1) return "Windows XP";
  if (major == 5 && minor == 2) {
    if (workstation) return "Windows XP Professional x64 Edition";
    if (!serverR2) return "Windows Server 2003";
    return homeServer ? "Windows Home Server" : "Windows Server 2003 R2";
  }
  if (major == 6) {
    switch (minor) {
      case 0: return workstation ? "Windows Vista" : "Windows Server 2008";
      case 1: return workstation ? "Windows 7" : "Windows Server 2008 R2";
      case 2: return workstation ? "Windows 8" : "Windows Server 2012";
      case 3: return workstation ? "Windows 8.1" : "Windows Server 2012 R2";
    }
  }
  return "";
}

}  // namespace zarn
