// What each system gives the portable half of CUtilityMOX: small primitives
// for the console, folders, the shared-block lock and the executable's name,
// implemented in posix/ and win32/ (one file per concern, same names on both).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "zarn/utilitymox.h"

namespace zarn {
namespace utility {

// ---- console.cpp
// Writes one piece (at most kPrintPiece characters) to the open console.
void WriteConsoleText(UtilityHandle console, const char* text, size_t size);

// ---- files.cpp
// The separator of this system's paths ('/' or '\').
extern const char kPathSeparator;

enum class EntryKind {
  kFile,        // a file, or a link to one
  kFolder,      // a folder (never a link)
  kFolderLink,  // a link or junction to a folder: removed or copied as a link, never followed
  kOther,       // a FIFO, socket, device or broken link
};
struct FolderEntry {
  std::string name;
  EntryKind kind;
};
// The entries of a folder without "." and ".."; false when it cannot be listed.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries);
bool PathExists(const std::string& path);
// True when the folder was made or is there already.
bool CreateFolder(const std::string& path);
// Removes one entry: a file or link, or a folder that is empty by now.
void RemoveEntry(const std::string& path, EntryKind kind);
// Copies one entry that is not a folder; false when it was not copied.
bool CopyEntry(const std::string& from, const std::string& to, EntryKind kind);

// ---- system.cpp
// The executable's full name (at most kNameField - 1 characters).
std::string ModuleFileName();

// ---- sharedmemory.cpp
// The lock that guards a shared block ("<name>_mutex"), owned while alive
// (waits up to 5 s for it). It dies with its holder: a holder that ends
// without releasing it does not lock the others out.
class NamedLock {
 public:
  explicit NamedLock(const std::string& name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  bool Owned() const { return owned_; }

 private:
  void* handle_ = nullptr;
  bool owned_ = false;
};

}  // namespace utility
}  // namespace zarn
