// A small line editor for the interactive shell: cursor keys, history, the
// usual Emacs keys. Used only when standard input is a terminal.
#pragma once

#include <string>
#include <vector>

namespace zarnctl {

class LineEditor {
 public:
  // False at the end of input (Ctrl+D on an empty line).
  bool Read(const std::string& prompt, std::string* line);

 private:
  void Redraw(const std::string& prompt, const std::string& text, size_t cursor) const;
  std::vector<std::string> history_;
};

}  // namespace zarnctl
