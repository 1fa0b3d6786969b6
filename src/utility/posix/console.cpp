// CUtilityMOX's console on POSIX systems: the process's terminal (standard
// output) driven with ANSI sequences, and the Ctrl handler on signals.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "utility/os.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

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

void utility::WriteConsoleText(UtilityHandle, const char* text, size_t size) {
  fwrite(text, 1, size, stdout);
  fflush(stdout);
}

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

}  // namespace zarn
