// The shared library unloaded by a program that did not close its
// connections: dlclose wakes and joins the library's threads and closes its
// sockets and its port, promptly, and a new dlopen starts afresh.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>

#include "peers.h"
#include "zarn/zarn.h"

namespace zarn {
namespace test {
namespace {

// Entries of a /proc/self folder: the process's threads or open descriptors.
size_t Count(const char* folder) {
  DIR* d = opendir(folder);
  size_t n = 0;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

template <typename F>
F Export(void* library, const char* name) {
  return reinterpret_cast<F>(dlsym(library, name));
}

TEST(Unload, DlcloseWithConnectionsOpenEndsEveryThreadAndClosesEverything) {
  DriveModel model;
  model.SetWord(0x2003, 0, 1);
  model.SetDWord(0x6064, 0, 4242);
  UdpPeer udp[3];
  for (UdpPeer& p : udp) p.SetResponder(model.Ethernet());
  SerialPeer line;
  line.SetResponder(model.Serial(9));
  const size_t threadsBefore = Count("/proc/self/task");
  const size_t descriptorsBefore = Count("/proc/self/fd");

  for (int load = 0; load < 2; ++load) {  // the second load finds everything free again
    void* library = dlopen(ZARN_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, library) << dlerror();
    auto openEthernet = Export<int32_t (*)(int32_t, const char*, uint16_t)>(library, "ZARN_EDRVOpen");
    auto openSerial = Export<int32_t (*)(int32_t, const char*, uint32_t)>(library, "ZARN_SDRVOpen");
    auto position = Export<int32_t (*)(uint8_t, int32_t*)>(library, "ZARN_ActualPosition");
    ASSERT_TRUE(openEthernet && openSerial && position);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(0, openEthernet(i + 1, "127.0.0.1", udp[i].Port()));
    ASSERT_EQ(0, openSerial(9, line.SlavePath().c_str(), 115200));
    int32_t p = 0;
    EXPECT_EQ(0, position(9, &p));
    EXPECT_EQ(4242, p);
    EXPECT_EQ(threadsBefore + 4, Count("/proc/self/task"));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, dlclose(library));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(threadsBefore, Count("/proc/self/task"));
    EXPECT_EQ(descriptorsBefore, Count("/proc/self/fd"));
  }
}

}  // namespace
}  // namespace test
}  // namespace zarn
