// A zarn-sim process for the tests and the soak: started with the given
// options, its endpoints read from what it prints, stopped when the object
// goes (or killed on purpose, as a drive that vanishes).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace zarn {
namespace test {

class SimProcess {
 public:
  // program: the zarn-sim executable; options as on its command line.
  SimProcess(const std::string& program, const std::vector<std::string>& options);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Ok() const { return pid_ > 0 && (!ports_.empty() || !serialPath_.empty()); }
  // The UDP port of a drive, 0 when it has none.
  uint16_t UdpPort(int driveId) const;
  const std::string& SerialPath() const { return serialPath_; }
  // Ends the process at once (SIGKILL): its drives vanish mid-whatever.
  void Kill();

 private:
  pid_t pid_ = -1;  // 0 once killed
  FILE* output_ = nullptr;
  std::map<int, uint16_t> ports_;
  std::string serialPath_;
};

}  // namespace test
}  // namespace zarn
