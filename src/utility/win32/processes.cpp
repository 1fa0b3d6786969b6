// CUtilityMOX's child processes and network adapters on Windows
// (CreateProcess with a pipe, ShellExecuteEx). An adapter's name goes into
// the command line quoted as one argument, and names the command processor
// would act on are refused.
#include <windows.h>
#include <shellapi.h>

#include <string.h>

#include <string>
#include <vector>

#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

// ShellExecuteEx "open", keeping the process handle, without error dialogs;
// the handle goes to *process when asked for, else it is closed.
bool ShellOpen(const char* file, const char* parameters, int show, HANDLE* process) {
  SHELLEXECUTEINFOA info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = 0x440;  // SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI
  info.lpVerb = "open";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = show;
  if (!ShellExecuteExA(&info)) return false;
  if (process)
    *process = info.hProcess;
  else if (info.hProcess)
    CloseHandle(info.hProcess);
  return true;
}

}  // namespace

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
  HANDLE process = nullptr;
  if (!ShellOpen(file, parameters, SW_SHOWDEFAULT, &process)) return false;
  if (wait && process) {
    DWORD code = STILL_ACTIVE;
    while (GetExitCodeProcess(process, &code) && code == STILL_ACTIVE) Sleep(0);
  }
  if (process) CloseHandle(process);
  return true;
}

bool CUtilityMOX::SetAdapterDevcon(const char* device, bool enable) {
  if (!utility::AdapterNameAccepted(device)) return false;
  const std::string parameters = (enable ? "enable " : "disable ") + utility::QuoteWindowsArgument(device);
  return ShellOpen("devcon.exe", parameters.c_str(), SW_HIDE, nullptr);
}

std::string CUtilityMOX::SetAdapterNetsh(const char* name, bool enable) {
  if (!utility::AdapterNameAccepted(name)) return "";
  // "/c" makes the command processor run the netsh command and end.
  const std::string arguments =
      "/c netsh interface set interface " + utility::QuoteWindowsArgument(name) + (enable ? " ENABLED" : " DISABLED");
  return RunAndCapture("cmd", arguments.c_str());
}

}  // namespace zarn
