// posix: the self-pipe that wakes a thread waiting in poll(). Signal() may
// come before the wait: the byte stays in the pipe until Drain().
#pragma once

namespace zarn {
namespace platform {

class WakePipe {
 public:
  WakePipe() = default;
  ~WakePipe() { Close(); }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  bool Create();
  void Close();
  // The end to watch for POLLIN.
  int ReadEnd() const { return fds_[0]; }
  void Signal();
  void Drain();

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace platform
}  // namespace zarn
