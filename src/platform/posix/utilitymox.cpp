// CUtilityMOX on POSIX systems: the nearest sound equivalent of each Windows
// operation (see the header for what each one does here).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <malloc.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <semaphore.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <sys/mman.h>
#include <syslog.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

extern char** environ;

namespace zarn {

namespace {

constexpr size_t kPathLimit = 259;
constexpr size_t kKeyLimit = 255;
constexpr size_t kPrintPiece = 32768;

// ---------------------------------------------------------------- helpers
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

// Starts argv[0] (searched on PATH); with out, its standard output and error go to out.
pid_t Spawn(const std::vector<std::string>& args, int* out) {
  if (args.empty()) return -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipeFds[2] = {-1, -1};
  if (out) {
    if (pipe(pipeFds) != 0) return -1;
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (out) {
    close(pipeFds[1]);
    if (rc != 0) {
      close(pipeFds[0]);
      return -1;
    }
    *out = pipeFds[0];
  }
  return rc == 0 ? pid : -1;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CopyFile(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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

bool CopyTree(const std::string& from, const std::string& to) {
  if (!IsDirectory(from)) return CopyFile(from, to);
  if (mkdir(to.c_str(), 0755) != 0 && errno != EEXIST) return false;
  DIR* dir = opendir(from.c_str());
  if (!dir) return false;
  bool ok = true;
  while (dirent* e = readdir(dir)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    ok = CopyTree(from + "/" + e->d_name, to + "/" + e->d_name) && ok;
  }
  closedir(dir);
  return ok;
}

// A shared-memory or semaphore name: one leading '/', no other '/' or '\'.
std::string ObjectName(const char* name) {
  std::string n = "/";
  for (const char* p = name; *p; ++p) n += (*p == '/' || *p == '\\') ? '_' : *p;
  return n;
}

// ---------------------------------------------------------------- settings store
std::string ConfigRoot() {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/zarn-registry/HKEY_CURRENT_USER";
  const char* home = getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.config/zarn-registry/HKEY_CURRENT_USER";
}

// The folder of key "%s\%s"; empty when the key names no safe path.
std::string KeyFolder(const std::string& base, const char* subkey) {
  std::string key = base + "\\" + (subkey ? subkey : "");
  if (key.size() > kKeyLimit) key.resize(kKeyLimit);
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

// ---------------------------------------------------------------- console
termios g_savedTermios;
bool g_termiosSaved = false;

void OnCtrlSignal(int signal) {
  unsigned event = signal == SIGINT ? 0 : signal == SIGQUIT ? 1 : signal == SIGHUP ? 2 : 6;
  const char* message = CUtilityMOX::CtrlEventMessage(event);
  ssize_t w = write(STDOUT_FILENO, message, strlen(message));
  w = write(STDOUT_FILENO, "\a", 1);  // the beep
  (void)w;
}

int AnsiColor(int windowsColor) {
  // Windows: 1 blue, 2 green, 4 red; ANSI: 1 red, 2 green, 4 blue.
  return ((windowsColor & 1) << 2) | (windowsColor & 2) | ((windowsColor & 4) >> 2);
}

}  // namespace

// ---------------------------------------------------------------- named lock
namespace utility {
NamedLock::NamedLock(const std::string& name) {
  sem_t* s = sem_open(ObjectName(name.c_str()).c_str(), O_CREAT, 0600, 1);
  if (s == SEM_FAILED) return;
  handle_ = s;
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += 5;
  while (!(owned_ = sem_timedwait(s, &deadline) == 0) && errno == EINTR) {
  }
}
NamedLock::~NamedLock() {
  if (!handle_) return;
  if (owned_) sem_post(static_cast<sem_t*>(handle_));
  sem_close(static_cast<sem_t*>(handle_));
}
}  // namespace utility

// ---------------------------------------------------------------- construction
CUtilityMOX::CUtilityMOX()
    : drive_(), folder_(), baseName_(), extension_(), folderAndBaseName_(), addressTexts_(), title_() {
  char exe[256] = "";
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  exe[n > 0 ? n : 0] = '\0';
  const char* slash = strrchr(exe, '/');
  const char* name = slash ? slash + 1 : exe;
  snprintf(folder_, sizeof folder_, "%.*s", slash ? static_cast<int>(slash - exe + 1) : 0, exe);
  const char* dot = strrchr(name, '.');
  snprintf(baseName_, sizeof baseName_, "%.*s", dot ? static_cast<int>(dot - name) : static_cast<int>(strlen(name)),
           name);
  snprintf(extension_, sizeof extension_, "%s", dot ? dot : "");
  snprintf(folderAndBaseName_, sizeof folderAndBaseName_, "%.*s%.*s", 127, folder_, 127, baseName_);
  registryBase_ = std::string("Software\\") + baseName_;
}

CUtilityMOX::~CUtilityMOX() {
  if (console_) CloseConsole();
}

SystemTime CUtilityMOX::LocalNow() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  localtime_r(&ts.tv_sec, &local);
  SystemTime t;
  t.year = static_cast<uint16_t>(local.tm_year + 1900);
  t.month = static_cast<uint16_t>(local.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(local.tm_wday);
  t.day = static_cast<uint16_t>(local.tm_mday);
  t.hour = static_cast<uint16_t>(local.tm_hour);
  t.minute = static_cast<uint16_t>(local.tm_min);
  t.second = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
  t.milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
  return t;
}

// ---------------------------------------------------------------- console
bool CUtilityMOX::OpenConsole(const char* title, bool noClose) {
  (void)noClose;  // a terminal has no close menu
  if (console_ || !isatty(STDOUT_FILENO)) return false;
  console_ = reinterpret_cast<UtilityHandle>(static_cast<intptr_t>(STDOUT_FILENO + 1));
  if (title) SetTitle(title);
  DisableProcessedInput();
  return true;
}

void CUtilityMOX::CloseConsole() {
  if (g_termiosSaved) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTermios);
  g_termiosSaved = false;
  console_ = nullptr;
}

void CUtilityMOX::ClearConsole() {
  if (!console_) return;
  fputs("\033[2J\033[H", stdout);
  fflush(stdout);
}

void CUtilityMOX::SetConsoleColor(uint16_t attributes) {
  if (!console_) return;
  if (attributes == 0) attributes = 7;
  const int fg = attributes & 0x7, bg = (attributes >> 4) & 0x7;
  printf("\033[0;%s%d;%dm", (attributes & 0x08) ? "1;" : "", 30 + AnsiColor(fg), 40 + AnsiColor(bg));
  fflush(stdout);
}

void CUtilityMOX::PrintConsole(const char* format, ...) {
  if (!console_ || !format) return;
  va_list args;
  va_start(args, format);
  const std::string text = utility::FormatLine(format, args);
  va_end(args);
  for (size_t at = 0; at < text.size(); at += kPrintPiece) {
    const size_t piece = text.size() - at < kPrintPiece ? text.size() - at : kPrintPiece;
    fwrite(text.data() + at, 1, piece, stdout);
  }
  fflush(stdout);
}

void CUtilityMOX::DisableProcessedInput() {
  if (!console_ || !isatty(STDIN_FILENO)) return;
  termios t;
  if (tcgetattr(STDIN_FILENO, &t) != 0) return;
  if (!g_termiosSaved) {
    g_savedTermios = t;
    g_termiosSaved = true;
  }
  t.c_lflag &= ~static_cast<tcflag_t>(ISIG);
  tcsetattr(STDIN_FILENO, TCSANOW, &t);
}

void CUtilityMOX::RemoveCloseMenu() {}
UtilityHandle CUtilityMOX::FindConsoleWindow() { return nullptr; }
void CUtilityMOX::ShowConsole(int) {}
void CUtilityMOX::PlaceConsole(bool) { EnumDisplays(); }

const char* CUtilityMOX::GetTitle() { return title_; }

void CUtilityMOX::SetTitle(const char* text) {
  if (!text) return;
  snprintf(title_, sizeof title_, "%s", text);
  if (console_) {
    printf("\033]0;%s\007", title_);
    fflush(stdout);
  }
}

void CUtilityMOX::InstallCtrlHandler() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnCtrlSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
    if (sigaction(s, &sa, nullptr) != 0) {
      printf("Unable to install handler!\n");
      return;
    }
  }
}

// ---------------------------------------------------------------- settings
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

void CUtilityMOX::SetRegistryBase(const char* text) { registryBase_ = text ? text : ""; }

// ---------------------------------------------------------------- folders and files
int CUtilityMOX::MakeFolders(const char* path) {
  if (!path) return 0;
  const size_t n = strnlen(path, kPathLimit + 1);
  if (n > kPathLimit) return 0;  // longer paths are refused, never cut
  char prefix[kPathLimit + 1];
  for (size_t i = 0; i < n; ++i) {
    if (path[i] != '\\' && path[i] != '/') continue;
    if (i == 0) continue;
    memcpy(prefix, path, i);
    prefix[i] = '\0';
    if (access(prefix, F_OK) == 0) continue;
    if (mkdir(prefix, 0755) != 0 && errno != EEXIST) return 0;
  }
  return 1;
}

void CUtilityMOX::EmptyFolder(const char* path) {
  if (!path) return;
  DIR* dir = opendir(path);
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    const std::string item = std::string(path) + "/" + e->d_name;
    if (IsDirectory(item)) {  // a link to a folder is removed as a link, never followed
      EmptyFolder(item.c_str());
      rmdir(item.c_str());
    } else {
      unlink(item.c_str());
    }
  }
  closedir(dir);
}

bool CUtilityMOX::CopyFolder(const char* from, const char* to) {
  if (!from || !to) return false;
  MakeFolders((std::string(to) + "/").c_str());  // the destination itself too
  DIR* dir = opendir(from);
  if (!dir) return false;
  while (dirent* e = readdir(dir)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    const std::string source = std::string(from) + "/" + e->d_name;
    const std::string target = std::string(to) + "/" + e->d_name;
    if (IsDirectory(source))
      ShellCopy(source.c_str(), target.c_str());
    else
      CopyFile(source, target);
  }
  closedir(dir);
  return true;
}

bool CUtilityMOX::ShellCopy(const char* from, const char* to) { return from && to && CopyTree(from, to); }

int CUtilityMOX::WriteResource(UtilityHandle, int, const char*) { return 0; }

std::string CUtilityMOX::GetModuleFolder() const {
  std::string f = folder_;
  if (!f.empty() && f.back() == '/') f.pop_back();
  return f;
}

void* CUtilityMOX::CreateSharedMemory(UtilityHandle* handle, uint32_t size, const char* name) {
  if (!handle || !name || size == 0) return nullptr;
  const int fd = shm_open(ObjectName(name).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(size) && ftruncate(fd, size) != 0)) {
    close(fd);
    return nullptr;
  }
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  *handle = reinterpret_cast<UtilityHandle>(static_cast<intptr_t>(fd) + 1);
  mapping_ = *handle;
  return view;
}

bool CUtilityMOX::OpenSharedMemory(UtilityHandle* handle, void** view, const char* name) {
  if (!handle || !view || !name) return false;
  const int fd = shm_open(ObjectName(name).c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return false;
  struct stat st;
  void* v = MAP_FAILED;
  if (fstat(fd, &st) == 0 && st.st_size > 0)
    v = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (v == MAP_FAILED) {
    close(fd);
    return false;
  }
  *handle = reinterpret_cast<UtilityHandle>(static_cast<intptr_t>(fd) + 1);
  *view = v;
  mapping_ = *handle;
  return true;
}

void CUtilityMOX::CloseSharedMemory(UtilityHandle* handle, void* view) {
  if (!handle || !*handle) return;
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(*handle) - 1);
  struct stat st;
  if (view && fstat(fd, &st) == 0) munmap(view, static_cast<size_t>(st.st_size));
  close(fd);
  if (mapping_ == *handle) mapping_ = nullptr;
  *handle = nullptr;
}

// ---------------------------------------------------------------- processes and adapters
std::string CUtilityMOX::RunAndCapture(const char* program, const char* arguments) {
  if (!program) return "";
  const std::string line = std::string(program) + " " + (arguments ? arguments : "");
  int out = -1;
  const pid_t pid = Spawn(SplitCommandLine(line), &out);
  if (pid < 0) return "";
  std::string text;
  char piece[100];
  for (;;) {
    const ssize_t n = read(out, piece, sizeof piece);
    if (n <= 0) break;
    text.append(piece, static_cast<size_t>(n));
  }
  close(out);
  int status = 0;
  waitpid(pid, &status, 0);
  return text;
}

bool CUtilityMOX::Execute(const char* file, const char* parameters, bool wait) {
  if (!file) return false;
  std::vector<std::string> args{file};
  for (const std::string& w : SplitCommandLine(parameters ? parameters : "")) args.push_back(w);
  const pid_t pid = Spawn(args, nullptr);
  if (pid < 0) return false;
  int status = 0;
  if (wait) waitpid(pid, &status, 0);
  return true;
}

bool CUtilityMOX::SetAdapterDevcon(const char* device, bool enable) {
  if (!device) return false;
  return Execute("ip", ("link set \"" + std::string(device) + "\" " + (enable ? "up" : "down")).c_str(), false);
}

std::string CUtilityMOX::SetAdapterNetsh(const char* name, bool enable) {
  if (!name) return "";
  return RunAndCapture("ip", ("link set dev \"" + std::string(name) + "\" " + (enable ? "up" : "down")).c_str());
}

// ---------------------------------------------------------------- system information and screen
std::string CUtilityMOX::GetOsName(int* major, int* minor) {
  utsname u;
  if (uname(&u) != 0) return "";
  int ma = 0, mi = 0;
  sscanf(u.release, "%d.%d", &ma, &mi);
  if (major) *major = ma;
  if (minor) *minor = mi;
  char release[65];
  snprintf(release, sizeof release, "%.*s", static_cast<int>(strcspn(u.release, "-+ ")), u.release);
  return std::string(u.sysname) + " " + release;
}

bool CUtilityMOX::IsWow64() {
  utsname u;
  return sizeof(void*) == 4 && uname(&u) == 0 && strcmp(u.machine, "x86_64") == 0;
}

int CUtilityMOX::GetLocalAddresses() {
  addressCount_ = 0;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    syslog(LOG_DEBUG, "Get LocalIP Error!");
    return 0;
  }
  // Interfaces that lead somewhere first, loopback last.
  for (int pass = 0; pass < 2; ++pass) {
    for (ifaddrs* a = list; a && addressCount_ < 4; a = a->ifa_next) {
      if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
      const bool loopback = (ntohl(in->sin_addr.s_addr) >> 24) == 127;
      if (loopback != (pass == 1)) continue;
      inet_ntop(AF_INET, &in->sin_addr, addressTexts_[addressCount_], sizeof addressTexts_[0]);
      ++addressCount_;
    }
  }
  freeifaddrs(list);
  return addressCount_;
}

const char* CUtilityMOX::GetLocalAddressText(int i) const {
  return i >= 0 && i < addressCount_ ? addressTexts_[i] : "";
}

int CUtilityMOX::EnumDisplays() {
  displays_[0] = displays_[1] = Rect();
  return 0;
}

bool CUtilityMOX::GetVirtualScreen(Rect* out) {
  if (out) *out = Rect();
  return false;
}

bool CUtilityMOX::GetFontCharSize(UtilityHandle, UtilityHandle, int*, int*) { return false; }

void CUtilityMOX::TrimWorkingSet() { malloc_trim(0); }

std::string CUtilityMOX::GetFileVersionText(const char*) { return ""; }

void CUtilityMOX::ListDevices(char* out) {
  if (!out) return;
  out[0] = '\0';
  size_t used = 0;
  const size_t capacity = 1024;
  DIR* classes = opendir("/sys/class");
  if (!classes) return;
  while (dirent* c = readdir(classes)) {
    if (c->d_name[0] == '.') continue;
    const std::string classPath = std::string("/sys/class/") + c->d_name;
    DIR* devices = opendir(classPath.c_str());
    if (!devices) continue;
    while (dirent* d = readdir(devices)) {
      if (d->d_name[0] == '.') continue;
      // The device's driver, where it has one, stands for its description.
      char link[256] = "";
      const ssize_t n = readlink((classPath + "/" + d->d_name + "/device/driver").c_str(), link, sizeof link - 1);
      link[n > 0 ? n : 0] = '\0';
      const char* driver = strrchr(link, '/') ? strrchr(link, '/') + 1 : link;
      const std::string entry = std::string(c->d_name) + " | " + driver + " | " + d->d_name + ",";
      if (used + entry.size() >= capacity) {
        closedir(devices);
        closedir(classes);
        return;
      }
      memcpy(out + used, entry.c_str(), entry.size() + 1);
      used += entry.size();
    }
    closedir(devices);
  }
  closedir(classes);
}

bool CUtilityMOX::CaptureScreen(const char*) { return false; }

// ---------------------------------------------------------------- identifiers, errors, timers
std::string CUtilityMOX::MakeGuid() {
  uint8_t b[16] = {};
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ssize_t n = read(fd, b, sizeof b);
    (void)n;
    close(fd);
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4, as CoCreateGuid makes them
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  const uint32_t d1 = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  return utility::FormatGuid(d1, uint16_t(b[4] << 8 | b[5]), uint16_t(b[6] << 8 | b[7]), b + 8);
}

void CUtilityMOX::TraceSocketError(const char* text) {
  char message[2048];
  snprintf(message, sizeof message, "%s. %s", text ? text : "", strerror(errno));
  syslog(LOG_DEBUG, "%s", message);
}

void CUtilityMOX::GetLastErrorText(char* out, int size) {
  if (!out || size <= 0) return;
  const int e = errno;
  snprintf(out, static_cast<size_t>(size), "%s", e == 0 ? "" : strerror(e));
}

bool CUtilityMOX::StartMillisecondTimer() {
  frequency_ = 1000000000;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  timerStart_ = static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  return true;
}

uint64_t CUtilityMOX::MillisecondTicks() const {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000 - timerStart_);
}

int64_t CUtilityMOX::ReadPerformanceCounter() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace zarn
