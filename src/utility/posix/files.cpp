// CUtilityMOX's folders and files on POSIX systems. Copies keep the
// permission bits (less the umask, as cp does), copy links to folders as
// links, and pass over FIFOs, sockets and devices, which are never opened.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "utility/os.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

constexpr mode_t kPermissionBits = 0777;

utility::EntryKind KindOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return utility::EntryKind::kOther;
  if (S_ISDIR(st.st_mode)) return utility::EntryKind::kFolder;
  if (S_ISREG(st.st_mode)) return utility::EntryKind::kFile;
  if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return utility::EntryKind::kFolderLink;
    if (S_ISREG(st.st_mode)) return utility::EntryKind::kFile;
  }
  return utility::EntryKind::kOther;
}

// A regular file's bytes and permission bits; anything else is refused before
// it is opened for good (a FIFO would wait for a writer).
bool CopyFileContents(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return false;
  }
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & kPermissionBits);
  if (out < 0) {
    close(in);
    return false;
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0 || write(out, buffer, static_cast<size_t>(n)) != n) {
      ok = false;
      break;
    }
  }
  close(in);
  return close(out) == 0 && ok;
}

bool CopyLink(const std::string& from, const std::string& to) {
  char target[4096];
  const ssize_t n = readlink(from.c_str(), target, sizeof target - 1);
  if (n < 0) return false;
  target[n] = '\0';
  struct stat st;
  if (lstat(to.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(to.c_str());  // an earlier copy's link
  return symlink(target, to.c_str()) == 0;
}

// A folder and everything in it; false when anything was not copied.
bool CopyTree(const std::string& from, const std::string& to) {
  struct stat st;
  if (stat(from.c_str(), &st) != 0) return false;
  // Made with the owner's rights to fill it; the source's bits once it is full.
  const bool made = mkdir(to.c_str(), (st.st_mode & kPermissionBits) | S_IRWXU) == 0;
  if (!made && errno != EEXIST) return false;
  std::vector<utility::FolderEntry> entries;
  bool ok = utility::ListFolder(from, &entries);
  for (const utility::FolderEntry& e : entries) {
    const std::string source = from + "/" + e.name, target = to + "/" + e.name;
    ok = (e.kind == utility::EntryKind::kFolder ? CopyTree(source, target)
                                                : utility::CopyEntry(source, target, e.kind)) &&
         ok;
  }
  struct stat made_st;
  if (made && (st.st_mode & S_IRWXU) != S_IRWXU && stat(to.c_str(), &made_st) == 0)
    chmod(to.c_str(), made_st.st_mode & kPermissionBits & ~(S_IRWXU & ~st.st_mode));
  return ok;
}

}  // namespace

const char utility::kPathSeparator = '/';

bool utility::ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  while (dirent* e = readdir(dir)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    entries->push_back(FolderEntry{e->d_name, KindOf(folder + "/" + e->d_name)});
  }
  closedir(dir);
  return true;
}

bool utility::PathExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool utility::CreateFolder(const std::string& path) { return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

void utility::RemoveEntry(const std::string& path, EntryKind kind) {
  if (kind == EntryKind::kFolder)
    rmdir(path.c_str());
  else
    unlink(path.c_str());  // a link goes, never what it points to
}

bool utility::CopyEntry(const std::string& from, const std::string& to, EntryKind kind) {
  switch (kind) {
    case EntryKind::kFile: return CopyFileContents(from, to);
    case EntryKind::kFolderLink: return CopyLink(from, to);
    default: return false;
  }
}

bool CUtilityMOX::ShellCopy(const char* from, const char* to) {
  if (!from || !to) return false;
  const utility::EntryKind kind = KindOf(from);
  return kind == utility::EntryKind::kFolder ? CopyTree(from, to) : utility::CopyEntry(from, to, kind);
}

int CUtilityMOX::WriteResource(UtilityHandle, int, const char*) { return 0; }

}  // namespace zarn
