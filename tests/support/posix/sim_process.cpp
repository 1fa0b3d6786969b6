// zarn-sim as a child process on POSIX: fork and exec with its output on a
// pipe; the child dies with the test process (PR_SET_PDEATHSIG).
#include "sim_process.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zarn {
namespace test {

SimProcess::SimProcess(const std::string& program, const std::vector<std::string>& options) {
  // What it will print: one line per drive on UDP, one for the serial line.
  size_t drives = 1;
  bool udp = false, serial = false;
  for (size_t i = 0; i < options.size(); ++i) {
    if (options[i] == "--udp") udp = true;
    if (options[i] == "--serial-pty" || options[i] == "--serial") serial = true;
    if (options[i] == "--drives" && i + 1 < options.size())
      drives = 1 + static_cast<size_t>(std::count(options[i + 1].begin(), options[i + 1].end(), ','));
  }
  const size_t lines = (udp ? drives : 0) + (serial ? 1 : 0);
  int out[2];
  if (pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& o : options) argv.push_back(const_cast<char*>(o.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  output_ = fdopen(out[0], "r");
  FILE* text = output_;
  char line[512];
  for (size_t n = 0; n < lines && text && fgets(line, sizeof line, text); ++n) {
    int id = 0;
    unsigned port = 0;
    char path[256];
    if (sscanf(line, "drive %d: udp %*[^:]:%u", &id, &port) == 2) ports_[id] = static_cast<uint16_t>(port);
    if (sscanf(line, "serial line: %255s", path) == 1) serialPath_ = path;
  }
}

// The pipe stays open while the child runs, so its last words reach a reader.
SimProcess::~SimProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (output_) fclose(output_);
}

void SimProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

uint16_t SimProcess::UdpPort(int driveId) const {
  auto it = ports_.find(driveId);
  return it == ports_.end() ? 0 : it->second;
}

}  // namespace test
}  // namespace zarn
