// CUtilityMOX: a self-contained toolbox beside the drive interface: console
// output with a Ctrl handler, per-application settings, folders and files,
// named shared memory with checksummed blocks, child processes, network
// adapters, system information, screen capture, text conversions and time
// stamps. Link the static library zarn_utility.
//
// On Windows every operation is the Win32 one. On POSIX systems each has the
// nearest sound equivalent, noted at the operation as "posix:"; what needs a
// desktop (windows, displays, fonts, screen capture, version resources)
// reports failure or an empty result there.
#ifndef ZARN_UTILITYMOX_H
#define ZARN_UTILITYMOX_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarn {

// The fields of the Windows SYSTEMTIME record.
struct SystemTime {
  uint16_t year = 0;
  uint16_t month = 0;      // 1..12
  uint16_t dayOfWeek = 0;  // 0 = Sunday
  uint16_t day = 0;        // 1..31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

struct Rect {
  long left = 0, top = 0, right = 0, bottom = 0;
};

// Opaque handles: HKEY, HANDLE and HWND on Windows; small tokens on posix.
typedef void* UtilityHandle;

class CUtilityMOX {
 public:
  CUtilityMOX();
  virtual ~CUtilityMOX();
  CUtilityMOX(const CUtilityMOX&) = delete;
  CUtilityMOX& operator=(const CUtilityMOX&) = delete;

  // ---- console. posix: the process's terminal (standard output), ANSI sequences.
  // Fails when a console is already open (posix: also when standard output is no terminal).
  bool OpenConsole(const char* title, bool noClose);
  void CloseConsole();
  bool IsConsoleOpen() const { return console_ != nullptr; }
  void ClearConsole();
  // Windows character attributes (FOREGROUND_* | BACKGROUND_*); 0 means 7.
  void SetConsoleColor(uint16_t attributes);
  // printf-like; the text and one line feed, in pieces of at most 32768 characters.
  void PrintConsole(const char* format, ...);
  // Ctrl+C reaches the input instead of the handler. posix: clears ISIG on the terminal.
  void DisableProcessedInput();
  // posix: there is no window: these do nothing, and FindConsoleWindow gives null.
  void RemoveCloseMenu();
  UtilityHandle FindConsoleWindow();
  void ShowConsole(int command);
  void PlaceConsole(bool onFirst);
  // posix: the title last set (terminals cannot be asked); sets it with the title sequence.
  const char* GetTitle();
  void SetTitle(const char* text);
  // posix: SIGINT, SIGQUIT, SIGHUP and SIGTERM stand for Ctrl+C, Ctrl+Break, close and
  // shutdown; each prints its message, rings the bell and is handled (the process goes on).
  void InstallCtrlHandler();
  // The message the handler prints for a Windows control event (empty for others).
  static const char* CtrlEventMessage(unsigned event);

  // ---- settings under "%s\%s" (registry base, subkey). posix: a key/value store
  // under $XDG_CONFIG_HOME (or ~/.config)/zarn-registry, a folder per key.
  UtilityHandle CreateKey(const char* subkey);
  void CloseKey(UtilityHandle key);
  int DeleteKey(const char* subkey);
  int DeleteSubKeys(const char* subkey);
  // The byte count read (4), 0 on failure.
  uint32_t GetDwordValue(const char* subkey, const char* name, uint32_t* out);
  // The byte count read including the terminator, 0 on failure; out holds 1024 bytes.
  uint32_t GetStringValue(const char* subkey, const char* name, char* out);
  int SetDwordValue(const char* subkey, const char* name, uint32_t value);
  int SetStringValue(const char* subkey, const char* name, const char* text);
  void SetRegistryBase(const char* text);
  const std::string& GetRegistryBase() const { return registryBase_; }

  // ---- folders, files, shared memory.
  // Creates every folder named before a '\' or '/' of path (at most 259 characters).
  int MakeFolders(const char* path);
  // Deletes the folder's files and subfolders; the folder itself stays. A link
  // or junction to a folder is deleted as a link, never followed. Windows: an
  // entry whose path would pass MAX_PATH - 1 characters is left alone (never cut).
  void EmptyFolder(const char* path);
  // Copies the folder's files (overwriting) and subfolders into to, made first.
  // posix: permission bits are kept (less the umask), links to folders are
  // copied as links, FIFOs, sockets and devices are passed over.
  bool CopyFolder(const char* from, const char* to);
  // One file or folder with all it holds; true when everything was copied.
  bool ShellCopy(const char* from, const char* to);
  // posix: no module resources: 0.
  int WriteResource(UtilityHandle file, int id, const char* type);
  std::string GetModuleFolder() const;
  const char* GetDrive() const { return drive_; }  // posix: empty
  const char* GetFolder() const { return folder_; }
  const char* GetBaseName() const { return baseName_; }
  const char* GetExtension() const { return extension_; }
  const char* GetFolderAndBaseName() const { return folderAndBaseName_; }
  // posix: shm_open and mmap (the name's '\' become '_'). The handle whose
  // CreateSharedMemory made the name removes it when it is closed: views mapped
  // by then stay valid, later opens of the name fail.
  void* CreateSharedMemory(UtilityHandle* handle, uint32_t size, const char* name);
  bool OpenSharedMemory(UtilityHandle* handle, void** view, const char* name);
  // posix: view is the one mapped through this handle (another is not unmapped).
  void CloseSharedMemory(UtilityHandle* handle, void* view);
  // count is 4 (a 40-byte block) or 5 (48 bytes): the values, then a 32-bit
  // checksum, under the mutex "<name>_mutex", waited for up to 5 s. A holder
  // that ends frees it (posix: an flock on the shared-memory object of that
  // name, which stays behind, empty).
  bool ReadSharedBlock(const void* view, const char* name, int64_t* values, int count);
  bool WriteSharedBlock(void* view, const char* name, const int64_t* values, int count);
  static uint32_t BlockChecksum(const int64_t* values, int count);

  // ---- processes and adapters. posix: posix_spawn with a pipe; the command line
  // is split at blanks outside double quotes, no shell is involved.
  std::string RunAndCapture(const char* program, const char* arguments);
  // posix: a child not waited for is collected when it ends (no zombie).
  bool Execute(const char* file, const char* parameters, bool wait);
  // An adapter's name travels as one argument: empty names and names with
  // control characters, '"', '%' or '!' are refused (false, or an empty text).
  // posix: "ip link set dev DEVICE up|down", not awaited.
  bool SetAdapterDevcon(const char* device, bool enable);
  // posix: "ip link set dev NAME up|down"; its output.
  std::string SetAdapterNetsh(const char* name, bool enable);

  // ---- system information and screen.
  // posix: the kernel's name and release ("Linux 6.1.0"), major and minor from the release.
  std::string GetOsName(int* major, int* minor);
  // Windows' name for a version (the table of the Windows build); empty when unknown.
  static std::string OsNameFor(int major, int minor, bool workstation, bool serverR2, bool homeServer);
  bool IsWow64();
  // Up to 4 IPv4 addresses of the host; the count. posix: getifaddrs.
  int GetLocalAddresses();
  const char* GetLocalAddressText(int i) const;
  // posix: no displays: 0 and empty rectangles.
  int EnumDisplays();
  bool GetVirtualScreen(Rect* out);
  bool GetFontCharSize(UtilityHandle dc, UtilityHandle font, int* width, int* height);
  void TrimWorkingSet();
  // posix: no version resources: empty.
  std::string GetFileVersionText(const char* query);
  // "class | description | name," per device into out (1024 characters). posix: sysfs classes.
  void ListDevices(char* out);
  // A 24-bit BMP of the primary screen; path defaults to "C:\Temp\capture.bmp".
  // posix: no screen: false.
  bool CaptureScreen(const char* path = nullptr);

  // ---- text, numbers and time (the same results on every system).
  std::string FormatTimeStamp();
  std::string FormatFileTimeStamp();
  std::string FormatTimeOfDay();
  static std::string FormatTimeStamp(const SystemTime& t);
  static std::string FormatFileTimeStamp(const SystemTime& t);
  static std::string FormatTimeOfDay(const SystemTime& t);
  std::string MakeGuid();
  static int BytesToHex(char* text, const uint8_t* bytes, int count);
  static void HexToBytes(const char* text, uint8_t* bytes, int* count);
  static uint8_t HexStringToBytes(const char* text, uint8_t* bytes);
  static uint32_t ParseByteList(const char* text);
  // "%f", then grouped by 3 with ',' and '.', digits decimals, no leading zero,
  // negative sign first. An empty text when the result does not fit size.
  static void FormatNumber(double value, int digits, char* out, int size);
  // '*' any run, '?' any one character, '#' a digit, "[a-c]" / "[!a-c]" a set;
  // at most (text + 1) x (pattern + 1) steps.
  static bool MatchPattern(const char* text, const char* pattern, bool caseSensitive);
  // OLE automation dates: days since 30 December 1899; before it the time of
  // day counts away from zero (-1.25 is 29 December 1899, 06:00). Back to a
  // time to the nearest millisecond.
  static bool SystemTimeToVariant(const SystemTime& t, double* out);
  static bool VariantToSystemTime(double value, SystemTime* out);
  void TraceSocketError(const char* text);
  void GetLastErrorText(char* out, int size);
  // Windows: a restart replaces the running timer and starts counting from 0.
  // posix: both from the monotonic clock.
  bool StartMillisecondTimer();
  uint64_t MillisecondTicks() const;
  int64_t ReadPerformanceCounter();
  int64_t PerformanceFrequency() const { return frequency_; }

 private:
  static SystemTime LocalNow();

  char drive_[256];
  char folder_[256];
  char baseName_[256];
  char extension_[256];
  char folderAndBaseName_[256];
  std::string registryBase_;
  char addressTexts_[4][16];
  int addressCount_ = 0;
  Rect displays_[2];
  char title_[128];
  UtilityHandle console_ = nullptr;
  UtilityHandle mapping_ = nullptr;
  int64_t frequency_ = 0;
  int64_t timerStart_ = 0;
  void* timer_ = nullptr;  // the periodic timer and its ticks (Windows)
};

}  // namespace zarn

#endif
