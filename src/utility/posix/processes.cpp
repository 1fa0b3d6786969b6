// CUtilityMOX's child processes and network adapters on POSIX systems:
// posix_spawn, no shell. A command line is split at blanks outside double
// quotes; an adapter's name always travels as one argument of its own.
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

extern char** environ;

namespace zarn {

namespace {

using Arguments = std::vector<std::string>;

Arguments SplitCommandLine(const std::string& line) {
  Arguments words;
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

// Starts args[0] (searched on PATH); with out, its standard output and error go to *out.
pid_t Spawn(const Arguments& args, int* out) {
  if (args.empty()) return -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  if (out && pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
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

void* Reap(void* pid) {
  int status = 0;
  waitpid(static_cast<pid_t>(reinterpret_cast<intptr_t>(pid)), &status, 0);
  return nullptr;
}

// A child nobody waits for is collected by a small thread of its own when it
// ends, so it never lingers as a zombie.
void ReapInBackground(pid_t pid) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, 64 * 1024);
  pthread_t thread;
  pthread_create(&thread, &attr, Reap, reinterpret_cast<void*>(static_cast<intptr_t>(pid)));
  pthread_attr_destroy(&attr);
}

bool Launch(const Arguments& args, bool wait) {
  const pid_t pid = Spawn(args, nullptr);
  if (pid < 0) return false;
  int status = 0;
  if (wait)
    waitpid(pid, &status, 0);
  else
    ReapInBackground(pid);
  return true;
}

std::string Capture(const Arguments& args) {
  int out = -1;
  const pid_t pid = Spawn(args, &out);
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

}  // namespace

std::string CUtilityMOX::RunAndCapture(const char* program, const char* arguments) {
  if (!program) return "";
  return Capture(SplitCommandLine(std::string(program) + " " + (arguments ? arguments : "")));
}

bool CUtilityMOX::Execute(const char* file, const char* parameters, bool wait) {
  if (!file) return false;
  Arguments args{file};
  for (const std::string& w : SplitCommandLine(parameters ? parameters : "")) args.push_back(w);
  return Launch(args, wait);
}

bool CUtilityMOX::SetAdapterDevcon(const char* device, bool enable) {
  if (!utility::AdapterNameAccepted(device)) return false;
  return Launch({"ip", "link", "set", "dev", device, enable ? "up" : "down"}, false);
}

std::string CUtilityMOX::SetAdapterNetsh(const char* name, bool enable) {
  if (!utility::AdapterNameAccepted(name)) return "";
  return Capture({"ip", "link", "set", "dev", name, enable ? "up" : "down"});
}

}  // namespace zarn
