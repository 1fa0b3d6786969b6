// CUtilityMOX's console on Windows: a console of the process's own
// (AllocConsole, "CONOUT$"), its window, and the Ctrl handler.
#include <windows.h>

#include <stdio.h>

#include "utility/os.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

BOOL WINAPI CtrlHandler(DWORD event) {
  const char* message = CUtilityMOX::CtrlEventMessage(event);
  if (*message) {
    printf("%s", message);
    Beep(1000, 250);
  }
  return TRUE;
}

}  // namespace

void utility::WriteConsoleText(UtilityHandle console, const char* text, size_t size) {
  DWORD written = 0;
  WriteConsoleA(static_cast<HANDLE>(console), text, static_cast<DWORD>(size), &written, nullptr);
}

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

}  // namespace zarn
