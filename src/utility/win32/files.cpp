// CUtilityMOX's folders and files on Windows. Links and junctions to folders
// are removed as links, never followed; a path longer than MAX_PATH - 1 is
// refused as a whole rather than cut (a cut path names another entry).
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <string.h>

#include <string>
#include <vector>

#include "utility/os.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

bool Fits(const std::string& path) { return path.size() < MAX_PATH; }

// SHFileOperation with FO_COPY, silent, without confirmations.
bool ShellFileCopy(const std::string& from, const std::string& to) {
  // SHFileOperation takes lists ended by a double terminator.
  std::string source(from), target(to);
  source.push_back('\0');
  target.push_back('\0');
  SHFILEOPSTRUCTA op;
  memset(&op, 0, sizeof op);
  op.hwnd = GetActiveWindow();
  op.wFunc = FO_COPY;
  op.pFrom = source.c_str();
  op.pTo = target.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
  return SHFileOperationA(&op) == 0;
}

}  // namespace

const char utility::kPathSeparator = '\\';

bool utility::ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  const std::string pattern = folder + "\\*.*";
  if (!Fits(pattern)) return false;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  do {
    if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, "..")) continue;
    const DWORD a = found.dwFileAttributes;
    const EntryKind kind = !(a & FILE_ATTRIBUTE_DIRECTORY)      ? EntryKind::kFile
                           : (a & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::kFolderLink
                                                                : EntryKind::kFolder;
    entries->push_back(FolderEntry{found.cFileName, kind});
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return true;
}

bool utility::PathExists(const std::string& path) { return Fits(path) && PathFileExistsA(path.c_str()); }

bool utility::CreateFolder(const std::string& path) {
  return Fits(path) && (CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
}

void utility::RemoveEntry(const std::string& path, EntryKind kind) {
  if (!Fits(path)) return;
  if (kind == EntryKind::kFolder || kind == EntryKind::kFolderLink)
    RemoveDirectoryA(path.c_str());  // a link or junction goes, never what it points to
  else
    DeleteFileA(path.c_str());
}

bool utility::CopyEntry(const std::string& from, const std::string& to, EntryKind kind) {
  if (!Fits(from) || !Fits(to)) return false;
  if (kind == EntryKind::kFolderLink) return ShellFileCopy(from, to);
  return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

bool CUtilityMOX::ShellCopy(const char* from, const char* to) { return from && to && ShellFileCopy(from, to); }

int CUtilityMOX::WriteResource(UtilityHandle file, int id, const char* type) {
  HANDLE out = static_cast<HANDLE>(file);
  if (out == INVALID_HANDLE_VALUE || !out) return 0;
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = found ? SizeofResource(nullptr, found) : 0;
  DWORD written = 0;
  const BOOL ok = data && WriteFile(out, data, size, &written, nullptr) && written == size;
  FlushFileBuffers(out);
  CloseHandle(out);
  return ok ? 1 : 0;
}

}  // namespace zarn
