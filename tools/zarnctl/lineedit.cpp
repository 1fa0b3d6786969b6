#include "lineedit.h"

#include <cstdio>

#include "platform.h"

namespace zarnctl {

namespace {

enum Key : int {
  kCtrlA = 1,
  kCtrlB = 2,
  kCtrlC = 3,
  kCtrlD = 4,
  kCtrlE = 5,
  kCtrlF = 6,
  kCtrlH = 8,
  kCtrlK = 11,
  kCtrlN = 14,
  kCtrlP = 16,
  kCtrlU = 21,
  kEscape = 27,
  kBackspace = 127,
  // Keys that arrive as escape sequences.
  kUp = 256,
  kDown,
  kRight,
  kLeft,
  kHome,
  kEnd,
  kDelete,
};

// ESC [ A, ESC O A, ESC [ 3 ~ ... as one key; 0 for one not used here.
int ReadEscape(platform::RawTerminal& terminal) {
  const int a = terminal.ReadByte();
  if (a != '[' && a != 'O') return 0;
  const int b = terminal.ReadByte();
  switch (b) {
    case 'A': return kUp;
    case 'B': return kDown;
    case 'C': return kRight;
    case 'D': return kLeft;
    case 'H': return kHome;
    case 'F': return kEnd;
    default: break;
  }
  if (b < '0' || b > '9' || terminal.ReadByte() != '~') return 0;
  switch (b) {
    case '1':
    case '7': return kHome;
    case '4':
    case '8': return kEnd;
    case '3': return kDelete;
    default: return 0;
  }
}

}  // namespace

void LineEditor::Redraw(const std::string& prompt, const std::string& text, size_t cursor) const {
  printf("\r%s%s\033[K", prompt.c_str(), text.c_str());
  if (cursor < text.size()) printf("\033[%zuD", text.size() - cursor);
  fflush(stdout);
}

bool LineEditor::Read(const std::string& prompt, std::string* line) {
  platform::RawTerminal terminal;
  if (!terminal.Enter()) return false;
  std::string text;
  size_t cursor = 0;
  size_t browsing = history_.size();  // index into the history; size() is the line being typed
  std::string typed;
  Redraw(prompt, text, cursor);
  auto recall = [&](size_t at) {
    if (browsing == history_.size()) typed = text;
    browsing = at;
    text = browsing == history_.size() ? typed : history_[browsing];
    cursor = text.size();
  };
  for (;;) {
    int c = terminal.ReadByte();
    if (c < 0) return false;
    if (c == kEscape) c = ReadEscape(terminal);
    switch (c) {
      case '\r':
      case '\n':
        printf("\n");
        terminal.Leave();
        if (!text.empty() && (history_.empty() || history_.back() != text)) history_.push_back(text);
        *line = text;
        return true;
      case kCtrlC:  // drop the line, as a shell does
        printf("^C\n");
        text.clear();
        cursor = 0;
        browsing = history_.size();
        break;
      case kCtrlD:
        if (text.empty()) {
          printf("\n");
          return false;
        }
        if (cursor < text.size()) text.erase(cursor, 1);
        break;
      case kBackspace:
      case kCtrlH:
        if (cursor > 0) text.erase(--cursor, 1);
        break;
      case kDelete:
        if (cursor < text.size()) text.erase(cursor, 1);
        break;
      case kCtrlA:
      case kHome: cursor = 0; break;
      case kCtrlE:
      case kEnd: cursor = text.size(); break;
      case kCtrlB:
      case kLeft:
        if (cursor > 0) --cursor;
        break;
      case kCtrlF:
      case kRight:
        if (cursor < text.size()) ++cursor;
        break;
      case kCtrlK: text.erase(cursor); break;
      case kCtrlU:
        text.erase(0, cursor);
        cursor = 0;
        break;
      case kCtrlP:
      case kUp:
        if (browsing > 0) recall(browsing - 1);
        break;
      case kCtrlN:
      case kDown:
        if (browsing < history_.size()) recall(browsing + 1);
        break;
      default:
        if (c >= 0x20 && c < 0x100) text.insert(cursor++, 1, char(c));
        break;
    }
    Redraw(prompt, text, cursor);
  }
}

}  // namespace zarnctl
