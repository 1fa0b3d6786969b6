// CUtilityMOX on Windows: every operation as the Win32 one.
#include <winsock2.h>
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
#include <setupapi.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

constexpr size_t kPathLimit = 259;
constexpr DWORD kPrintPiece = 32768;

volatile LONG64 g_ticks = 0;

void CALLBACK TimerTick(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) { InterlockedIncrement64(&g_ticks); }

BOOL WINAPI CtrlHandler(DWORD event) {
  const char* message = CUtilityMOX::CtrlEventMessage(event);
  if (*message) {
    printf("%s", message);
    Beep(1000, 250);
  }
  return TRUE;
}

std::string KeyName(const std::string& base, const char* subkey) {
  char key[256];
  snprintf(key, sizeof key, "%s\\%s", base.c_str(), subkey ? subkey : "");
  return key;
}

}  // namespace

namespace utility {
NamedLock::NamedLock(const std::string& name) {
  HANDLE m = CreateMutexA(nullptr, FALSE, name.c_str());
  if (!m) return;
  handle_ = m;
  const DWORD r = WaitForSingleObject(m, 5000);
  owned_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}
NamedLock::~NamedLock() {
  if (!handle_) return;
  if (owned_) ReleaseMutex(static_cast<HANDLE>(handle_));
  CloseHandle(static_cast<HANDLE>(handle_));
}
}  // namespace utility

CUtilityMOX::CUtilityMOX()
    : drive_(), folder_(), baseName_(), extension_(), folderAndBaseName_(), addressTexts_(), title_() {
  char exe[256] = "";
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  _splitpath_s(exe, drive_, sizeof drive_, folder_, sizeof folder_, baseName_, sizeof baseName_, extension_,
               sizeof extension_);
  snprintf(folderAndBaseName_, sizeof folderAndBaseName_, "%.*s%.*s", 127, folder_, 127, baseName_);
  registryBase_ = std::string("Software\\") + baseName_;
}

CUtilityMOX::~CUtilityMOX() {
  if (timer_) {
    timeKillEvent(static_cast<UINT>(reinterpret_cast<uintptr_t>(timer_)));
  }
}

SystemTime CUtilityMOX::LocalNow() {
  SYSTEMTIME s;
  GetLocalTime(&s);
  SystemTime t;
  t.year = s.wYear;
  t.month = s.wMonth;
  t.dayOfWeek = s.wDayOfWeek;
  t.day = s.wDay;
  t.hour = s.wHour;
  t.minute = s.wMinute;
  t.second = s.wSecond;
  t.milliseconds = s.wMilliseconds;
  return t;
}

// ---------------------------------------------------------------- console
bool CUtilityMOX::OpenConsole(const char* title, bool noClose) {
  if (console_ || !AllocConsole()) return false;
  HANDLE out =
      CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    FreeConsole();
    return false;
  }
  console_ = out;
  SetConsoleMode(out, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  if (noClose) RemoveCloseMenu();
  if (title) SetTitle(title);
  DisableProcessedInput();
  return true;
}

void CUtilityMOX::CloseConsole() {
  FreeConsole();
  console_ = nullptr;
}

void CUtilityMOX::ClearConsole() {
  if (!console_) return;
  HANDLE out = static_cast<HANDLE>(console_);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(out, &info)) return;
  const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
  COORD origin = {0, 0};
  DWORD written = 0;
  FillConsoleOutputCharacterA(out, ' ', cells, origin, &written);
  FillConsoleOutputAttribute(out, info.wAttributes, cells, origin, &written);
  SetConsoleCursorPosition(out, origin);
}

void CUtilityMOX::SetConsoleColor(uint16_t attributes) {
  if (console_) SetConsoleTextAttribute(static_cast<HANDLE>(console_), attributes ? attributes : 7);
}

void CUtilityMOX::PrintConsole(const char* format, ...) {
  if (!console_ || !format) return;
  va_list args;
  va_start(args, format);
  const std::string text = utility::FormatLine(format, args);
  va_end(args);
  for (size_t at = 0; at < text.size(); at += kPrintPiece) {
    const DWORD piece = static_cast<DWORD>(text.size() - at < kPrintPiece ? text.size() - at : kPrintPiece);
    DWORD written = 0;
    WriteConsoleA(static_cast<HANDLE>(console_), text.data() + at, piece, &written, nullptr);
  }
}

void CUtilityMOX::DisableProcessedInput() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(in, &mode)) SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT));
}

void CUtilityMOX::RemoveCloseMenu() {
  if (!console_) return;
  HWND window = static_cast<HWND>(FindConsoleWindow());
  if (!window) return;
  HMENU menu = GetSystemMenu(window, FALSE);
  if (menu) DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
  DrawMenuBar(window);
}

UtilityHandle CUtilityMOX::FindConsoleWindow() {
  if (!console_) return nullptr;
  char title[128] = "";
  GetConsoleTitleA(title, sizeof title);
  return FindWindowA("ConsoleWindowClass", title);
}

const char* CUtilityMOX::GetTitle() {
  GetConsoleTitleA(title_, sizeof title_);
  return title_;
}

void CUtilityMOX::SetTitle(const char* text) {
  if (text) SetConsoleTitleA(text);
}

void CUtilityMOX::ShowConsole(int command) {
  if (!console_) return;
  HWND window = static_cast<HWND>(FindConsoleWindow());
  if (window) ShowWindow(window, command);
}

void CUtilityMOX::PlaceConsole(bool onFirst) {
  if (!console_) return;
  EnumDisplays();
  Rect r = displays_[1];
  if (onFirst || (r.right - r.left == 0 && r.bottom - r.top == 0)) r = displays_[0];
  r.bottom -= 40;
  HWND window = static_cast<HWND>(FindConsoleWindow());
  if (window) {
    SetWindowPos(window, nullptr, static_cast<int>(r.left), static_cast<int>(r.top), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(window, SW_SHOW);
  }
}

void CUtilityMOX::InstallCtrlHandler() {
  if (!SetConsoleCtrlHandler(CtrlHandler, TRUE)) printf("Unable to install handler!\n");
}

// ---------------------------------------------------------------- registry
UtilityHandle CUtilityMOX::CreateKey(const char* subkey) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, KeyName(registryBase_, subkey).c_str(), &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

void CUtilityMOX::CloseKey(UtilityHandle key) {
  if (key) RegCloseKey(static_cast<HKEY>(key));
}

int CUtilityMOX::DeleteKey(const char* subkey) {
  return RegDeleteKeyA(HKEY_CURRENT_USER, KeyName(registryBase_, subkey).c_str()) == ERROR_SUCCESS ? 1 : 0;
}

int CUtilityMOX::DeleteSubKeys(const char* subkey) {
  const std::string name = KeyName(registryBase_, subkey);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
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
  HKEY key = nullptr;
  if (!out || RegOpenKeyExA(HKEY_CURRENT_USER, KeyName(registryBase_, subkey).c_str(), 0, KEY_ALL_ACCESS, &key) !=
                  ERROR_SUCCESS)
    return 0;
  DWORD type = 0, value = 0, size = sizeof value;
  const LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_DWORD) return 0;
  *out = value;
  return size;
}

uint32_t CUtilityMOX::GetStringValue(const char* subkey, const char* name, char* out) {
  HKEY key = nullptr;
  if (!out || RegOpenKeyExA(HKEY_CURRENT_USER, KeyName(registryBase_, subkey).c_str(), 0, KEY_ALL_ACCESS, &key) !=
                  ERROR_SUCCESS)
    return 0;
  char buffer[1025] = "";
  DWORD type = 0, size = 1024;
  const LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_SZ) return 0;
  buffer[size < 1024 ? size : 1024] = '\0';
  memcpy(out, buffer, strlen(buffer) + 1);
  return size;
}

int CUtilityMOX::SetDwordValue(const char* subkey, const char* name, uint32_t value) {
  const std::string keyName = KeyName(registryBase_, subkey);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    key = static_cast<HKEY>(CreateKey(subkey));
    if (!key) return 0;
  }
  const DWORD v = value;
  const LONG r = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? 1 : 0;
}

int CUtilityMOX::SetStringValue(const char* subkey, const char* name, const char* text) {
  if (!text) return 0;
  const std::string keyName = KeyName(registryBase_, subkey);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    key = static_cast<HKEY>(CreateKey(subkey));
    if (!key) return 0;
  }
  const std::string cut(text, strnlen(text, 1023));
  const LONG r = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(cut.c_str()),
                                static_cast<DWORD>(cut.size() + 1));
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? 1 : 0;
}

void CUtilityMOX::SetRegistryBase(const char* text) { registryBase_ = text ? text : ""; }

// ---------------------------------------------------------------- folders, files, shared memory
int CUtilityMOX::MakeFolders(const char* path) {
  if (!path) return 0;
  const size_t n = strnlen(path, kPathLimit + 1);
  if (n > kPathLimit) return 0;
  char prefix[kPathLimit + 1];
  for (size_t i = 1; i < n; ++i) {
    if (path[i] != '\\' && path[i] != '/') continue;
    memcpy(prefix, path, i);
    prefix[i] = '\0';
    if (PathFileExistsA(prefix)) continue;
    if (!CreateDirectoryA(prefix, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return 0;
  }
  return 1;
}

void CUtilityMOX::EmptyFolder(const char* path) {
  if (!path) return;
  char pattern[MAX_PATH];
  snprintf(pattern, sizeof pattern, "%s\\*.*", path);
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern, &found);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, "..")) continue;
    char item[MAX_PATH];
    snprintf(item, sizeof item, "%s\\%s", path, found.cFileName);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      EmptyFolder(item);
      RemoveDirectoryA(item);
    } else {
      DeleteFileA(item);
    }
  } while (FindNextFileA(h, &found));
  FindClose(h);
}

bool CUtilityMOX::CopyFolder(const char* from, const char* to) {
  if (!from || !to) return false;
  MakeFolders((std::string(to) + "\\").c_str());  // the destination itself too
  char pattern[MAX_PATH];
  snprintf(pattern, sizeof pattern, "%s\\*.*", from);
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern, &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  do {
    if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, "..")) continue;
    char source[MAX_PATH], target[MAX_PATH];
    snprintf(source, sizeof source, "%s\\%s", from, found.cFileName);
    snprintf(target, sizeof target, "%s\\%s", to, found.cFileName);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ShellCopy(source, target);
    else
      CopyFileA(source, target, FALSE);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return true;
}

bool CUtilityMOX::ShellCopy(const char* from, const char* to) {
  if (!from || !to) return false;
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

std::string CUtilityMOX::GetModuleFolder() const {
  char exe[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  char* slash = strrchr(exe, '\\');
  if (slash) *slash = '\0';
  return exe;
}

void* CUtilityMOX::CreateSharedMemory(UtilityHandle* handle, uint32_t size, const char* name) {
  if (!handle || !name) return nullptr;
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
  if (!mapping) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!view) {
    CloseHandle(mapping);
    return nullptr;
  }
  *handle = mapping;
  mapping_ = mapping;
  return view;
}

bool CUtilityMOX::OpenSharedMemory(UtilityHandle* handle, void** view, const char* name) {
  if (!handle || !view || !name) return false;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (!mapping) return false;
  void* v = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!v) {
    CloseHandle(mapping);
    return false;
  }
  *handle = mapping;
  *view = v;
  mapping_ = mapping;
  return true;
}

void CUtilityMOX::CloseSharedMemory(UtilityHandle* handle, void* view) {
  if (view) UnmapViewOfFile(view);
  if (handle && *handle) {
    CloseHandle(static_cast<HANDLE>(*handle));
    if (mapping_ == *handle) mapping_ = nullptr;
    *handle = nullptr;
  }
}

// ---------------------------------------------------------------- processes and adapters
std::string CUtilityMOX::RunAndCapture(const char* program, const char* arguments) {
  if (!program) return "";
  std::string line = std::string(program) + " " + (arguments ? arguments : "");
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return "";
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = nullptr;
  PROCESS_INFORMATION pi;
  std::vector<char> command(line.begin(), line.end());
  command.push_back('\0');
  const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  std::string text;
  if (started) {
    char piece[100];
    DWORD n = 0;
    while (ReadFile(readEnd, piece, sizeof piece, &n, nullptr) && n > 0) text.append(piece, n);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(readEnd);
  return text;
}

bool CUtilityMOX::Execute(const char* file, const char* parameters, bool wait) {
  SHELLEXECUTEINFOA info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = 0x440;  // keep the process handle, no error dialogs
  info.lpVerb = "open";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = SW_SHOWDEFAULT;
  if (!ShellExecuteExA(&info)) return false;
  if (wait && info.hProcess) {
    DWORD code = STILL_ACTIVE;
    while (GetExitCodeProcess(info.hProcess, &code) && code == STILL_ACTIVE) Sleep(0);
  }
  if (info.hProcess) CloseHandle(info.hProcess);
  return true;
}

bool CUtilityMOX::SetAdapterDevcon(const char* device, bool enable) {
  if (!device) return false;
  char parameters[512];
  snprintf(parameters, sizeof parameters, enable ? "enable %s" : "disable %s", device);
  SHELLEXECUTEINFOA info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = 0x440;
  info.lpVerb = "open";
  info.lpFile = "devcon.exe";
  info.lpParameters = parameters;
  info.nShow = SW_HIDE;
  const BOOL ok = ShellExecuteExA(&info);
  if (info.hProcess) CloseHandle(info.hProcess);
  return ok != FALSE;
}

std::string CUtilityMOX::SetAdapterNetsh(const char* name, bool enable) {
  if (!name) return "";
  char arguments[512];
  // "/c" makes the command processor run the netsh command and end.
  snprintf(
      arguments, sizeof arguments,
      enable ? "/c netsh interface set interface \"%s\" ENABLED" : "/c netsh interface set interface \"%s\" DISABLED",
      name);
  return RunAndCapture("cmd", arguments);
}

// ---------------------------------------------------------------- system information and screen
std::string CUtilityMOX::GetOsName(int* major, int* minor) {
  OSVERSIONINFOEXA v;
  memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v))) return "";
#pragma GCC diagnostic pop
  if (major) *major = static_cast<int>(v.dwMajorVersion);
  if (minor) *minor = static_cast<int>(v.dwMinorVersion);
  const std::string name =
      OsNameFor(static_cast<int>(v.dwMajorVersion), static_cast<int>(v.dwMinorVersion),
                v.wProductType == VER_NT_WORKSTATION, GetSystemMetrics(SM_SERVERR2) != 0, (v.wSuiteMask & 0x8000) != 0);
  if (name.empty() && (v.dwMajorVersion == 5 || (v.dwMajorVersion == 6 && v.dwMinorVersion >= 4))) {
    char text[96];
    snprintf(text, sizeof text, "Can't find version name of dwMiniorVersion: %d", static_cast<int>(v.dwMinorVersion));
    MessageBoxA(nullptr, text, "zarn", MB_OK | MB_APPLMODAL);
  }
  return name;
}

bool CUtilityMOX::IsWow64() {
  typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleA("kernel32");
  IsWow64ProcessFn fn =
      kernel ? reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
             : nullptr;
  BOOL wow = FALSE;
  return fn && fn(GetCurrentProcess(), &wow) && wow;
}

int CUtilityMOX::GetLocalAddresses() {
  addressCount_ = 0;
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 0), &data) != 0) {
    OutputDebugStringA("Get LocalIP Error!");
    return 0;
  }
  char host[128] = "";
  hostent* entry = gethostname(host, sizeof host) == 0 ? gethostbyname(host) : nullptr;
  if (!entry) {
    OutputDebugStringA("Get LocalIP Error!");
  } else {
    for (int i = 0; entry->h_addr_list[i] && addressCount_ < 4; ++i) {
      in_addr a;
      memcpy(&a, entry->h_addr_list[i], sizeof a);
      snprintf(addressTexts_[addressCount_], sizeof addressTexts_[0], "%s", inet_ntoa(a));
      ++addressCount_;
    }
  }
  WSACleanup();
  return addressCount_;
}

const char* CUtilityMOX::GetLocalAddressText(int i) const {
  return i >= 0 && i < addressCount_ ? addressTexts_[i] : "";
}

int CUtilityMOX::EnumDisplays() {
  displays_[0] = displays_[1] = Rect();
  typedef BOOL(WINAPI * EnumDevicesFn)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
  HMODULE user = GetModuleHandleA("USER32");
  EnumDevicesFn fn =
      user ? reinterpret_cast<EnumDevicesFn>(reinterpret_cast<void*>(GetProcAddress(user, "EnumDisplayDevicesA")))
           : nullptr;
  if (!fn) return 0;
  int count = GetSystemMetrics(SM_CMONITORS);
  if (count > 2) count = 2;
  int found = 0;
  for (int i = 0; i < count; ++i) {
    DISPLAY_DEVICEA device;
    memset(&device, 0, sizeof device);
    device.cb = sizeof device;
    if (!fn(nullptr, static_cast<DWORD>(i), &device, 0)) break;
    DEVMODEA mode;
    memset(&mode, 0, sizeof mode);
    mode.dmSize = sizeof mode;
    if (!EnumDisplaySettingsA(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode)) continue;
    displays_[i].left = mode.dmPosition.x;
    displays_[i].top = mode.dmPosition.y;
    displays_[i].right = mode.dmPosition.x + static_cast<long>(mode.dmPelsWidth);
    displays_[i].bottom = mode.dmPosition.y + static_cast<long>(mode.dmPelsHeight);
    ++found;
  }
  return found;
}

bool CUtilityMOX::GetVirtualScreen(Rect* out) {
  if (!out) return false;
  out->left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  out->top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  out->right = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  out->bottom = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  return true;
}

bool CUtilityMOX::GetFontCharSize(UtilityHandle dc, UtilityHandle font, int* width, int* height) {
  if (!dc || !font || !width || !height) return false;
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  HDC hdc = static_cast<HDC>(dc);
  HGDIOBJ old = SelectObject(hdc, static_cast<HFONT>(font));
  SIZE extent;
  TEXTMETRICA metrics;
  const BOOL ok = GetTextExtentPoint32A(hdc, kLetters, 52, &extent) && GetTextMetricsA(hdc, &metrics);
  SelectObject(hdc, old);
  if (!ok) return false;
  *width = (extent.cx / 26 + 1) / 2;
  *height = metrics.tmHeight;
  return true;
}

void CUtilityMOX::TrimWorkingSet() {
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

std::string CUtilityMOX::GetFileVersionText(const char* query) {
  if (!query) return "";
  char file[512];
  snprintf(file, sizeof file, "%s%s", baseName_, extension_);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
  if (size == 0) return "";
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(file, 0, size, data.data())) return "";
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof(Translation))
    return "";
  char path[256];
  snprintf(path, sizeof path, query, translation->language, translation->codePage);
  char* value = nullptr;
  if (!VerQueryValueA(data.data(), path, reinterpret_cast<void**>(&value), &length) || !value) return "";
  return std::string(value, strnlen(value, length));
}

void CUtilityMOX::ListDevices(char* out) {
  if (!out) return;
  out[0] = '\0';
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, 14);  // all classes, present
  if (set == INVALID_HANDLE_VALUE) return;
  size_t used = 0;
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    char cls[256] = "", description[256] = "", friendly[256] = "";
    SetupDiGetClassDescriptionA(&device.ClassGuid, cls, sizeof cls, nullptr);
    SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, nullptr, reinterpret_cast<BYTE*>(description),
                                      sizeof description, nullptr);
    SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(friendly),
                                      sizeof friendly, nullptr);
    const std::string entry = std::string(cls) + " | " + description + " | " + friendly + ",";
    if (used + entry.size() >= 1024) break;
    memcpy(out + used, entry.c_str(), entry.size() + 1);
    used += entry.size();
  }
  SetupDiDestroyDeviceInfoList(set);
}

bool CUtilityMOX::CaptureScreen(const char* path) {
  const char* file = path ? path : "C:\\Temp\\capture.bmp";
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD pixels = stride * static_cast<DWORD>(height);
  std::vector<BYTE> data(pixels);
  BITMAPINFOHEADER info;
  memset(&info, 0, sizeof info);
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // bottom-up
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const int lines = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), data.data(),
                              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (lines == 0) return false;
  BITMAPFILEHEADER header;
  memset(&header, 0, sizeof header);
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;  // 54
  header.bfSize = header.bfOffBits + pixels;
  HANDLE out = CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(out, &header, sizeof header, &written, nullptr);
  ok = ok && WriteFile(out, &info, sizeof info, &written, nullptr);
  ok = ok && WriteFile(out, data.data(), pixels, &written, nullptr);
  CloseHandle(out);
  return ok != FALSE;
}

// ---------------------------------------------------------------- identifiers, errors, timers
std::string CUtilityMOX::MakeGuid() {
  GUID g;
  if (CoCreateGuid(&g) != S_OK) return "";
  return utility::FormatGuid(g.Data1, g.Data2, g.Data3, g.Data4);
}

void CUtilityMOX::TraceSocketError(const char* text) {
  char message[2048] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, WSAGetLastError(), 0x0400,
                 message, sizeof message, nullptr);
  char line[2048];
  snprintf(line, sizeof line, "%s. %s", text ? text : "", message);
  OutputDebugStringA(line);
}

void CUtilityMOX::GetLastErrorText(char* out, int size) {
  if (!out || size <= 0) return;
  const DWORD e = GetLastError();
  out[0] = '\0';
  if (e == 0) return;
  char message[1024] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e, 0x0400, message,
                 sizeof message, nullptr);
  snprintf(out, static_cast<size_t>(size), "%s", message);
}

bool CUtilityMOX::StartMillisecondTimer() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  frequency_ = f.QuadPart;
  TIMECAPS caps;
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) return false;
  UINT period = caps.wPeriodMin > 1 ? caps.wPeriodMin : 1;
  if (period > caps.wPeriodMax) period = caps.wPeriodMax;
  timeBeginPeriod(period);
  g_ticks = 0;
  const MMRESULT id = timeSetEvent(period, period, TimerTick, 0, TIME_PERIODIC);
  timer_ = reinterpret_cast<void*>(static_cast<uintptr_t>(id));
  return id != 0;
}

uint64_t CUtilityMOX::MillisecondTicks() const { return static_cast<uint64_t>(g_ticks); }

int64_t CUtilityMOX::ReadPerformanceCounter() {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return c.QuadPart;
}

}  // namespace zarn
