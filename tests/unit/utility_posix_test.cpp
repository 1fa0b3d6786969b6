// The utility toolkit on POSIX systems: shared memory between two processes,
// child processes, the settings store, folders, the Ctrl handler, and what a
// system without a desktop answers.
#include <gtest/gtest.h>

#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "zarn/utilitymox.h"

namespace zarn {
namespace {

std::string TempFolder() {
  char path[] = "/tmp/zarn-utility-XXXXXX";
  return mkdtemp(path) ? path : "";
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

TEST(UtilitySharedMemory, BlocksBetweenTwoProcesses) {
  CUtilityMOX u;
  const std::string name = "zarn-test-" + std::to_string(getpid());
  UtilityHandle handle = nullptr;
  void* view = u.CreateSharedMemory(&handle, 4096, name.c_str());
  ASSERT_NE(nullptr, view);
  const pid_t child = fork();
  if (child == 0) {
    CUtilityMOX other;
    UtilityHandle h = nullptr;
    void* v = nullptr;
    const int64_t values[5] = {1, -2, 3000000000LL, -4, 5};
    const bool ok = other.OpenSharedMemory(&h, &v, name.c_str()) && other.WriteSharedBlock(v, name.c_str(), values, 5);
    other.CloseSharedMemory(&h, v);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  int64_t values[5] = {};
  ASSERT_TRUE(u.ReadSharedBlock(view, name.c_str(), values, 5));
  EXPECT_EQ(3000000000LL, values[2]);
  EXPECT_EQ(5, values[4]);
  // A damaged checksum: false, and the caller's values stay as they were.
  static_cast<uint8_t*>(view)[40] ^= 0xFF;
  int64_t untouched[5] = {7, 7, 7, 7, 7};
  EXPECT_FALSE(u.ReadSharedBlock(view, name.c_str(), untouched, 5));
  for (int64_t x : untouched) EXPECT_EQ(7, x);
  const int64_t four[4] = {9, 8, 7, 6};
  EXPECT_TRUE(u.WriteSharedBlock(view, name.c_str(), four, 4));
  int64_t read4[4] = {};
  EXPECT_TRUE(u.ReadSharedBlock(view, name.c_str(), read4, 4));
  EXPECT_EQ(6, read4[3]);
  EXPECT_EQ(uint32_t(9 + 8 + 7 + 6), CUtilityMOX::BlockChecksum(four, 4));
  EXPECT_FALSE(u.WriteSharedBlock(view, name.c_str(), four, 3));    // only 4 or 5 values
  EXPECT_TRUE(u.WriteSharedBlock(nullptr, name.c_str(), four, 4));  // no view: nothing to do
  u.CloseSharedMemory(&handle, view);
  EXPECT_EQ(nullptr, handle);
  EXPECT_FALSE(u.WriteSharedBlock(reinterpret_cast<void*>(8), name.c_str(), four, 4));  // no mapping
  UtilityHandle h2 = nullptr;
  void* v2 = nullptr;
  EXPECT_FALSE(u.OpenSharedMemory(&h2, &v2, "zarn-test-no-such-block"));
  shm_unlink(("/" + name).c_str());
  sem_unlink(("/" + name + "_mutex").c_str());
}

TEST(UtilityProcesses, RunCaptureAndExecute) {
  CUtilityMOX u;
  EXPECT_EQ("hello two words\n", u.RunAndCapture("echo", "hello \"two words\""));
  EXPECT_EQ("out\nerr\n", u.RunAndCapture("sh", "-c \"echo out; echo err >&2\""));
  EXPECT_EQ("", u.RunAndCapture("zarn-no-such-program", ""));
  EXPECT_TRUE(u.Execute("true", "", true));
  EXPECT_FALSE(u.Execute("zarn-no-such-program", "", true));
  // Metacharacters are no shell's business: they arrive as they are.
  EXPECT_EQ("a;b $HOME\n", u.RunAndCapture("echo", "\"a;b\" $HOME"));
}

TEST(UtilitySettings, StoreRoundTripAndKeys) {
  const std::string home = TempFolder();
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  CUtilityMOX u;
  u.SetRegistryBase("Software\\ZarnTest");
  uint32_t dword = 0;
  char text[1024];
  EXPECT_EQ(0u, u.GetDwordValue("Axis", "Speed", &dword));
  EXPECT_EQ(1, u.SetDwordValue("Axis", "Speed", 1500));
  EXPECT_EQ(4u, u.GetDwordValue("Axis", "Speed", &dword));
  EXPECT_EQ(1500u, dword);
  EXPECT_EQ(0u, u.GetStringValue("Axis", "Speed", text));  // a DWORD is no string
  EXPECT_EQ(1, u.SetStringValue("Axis", "Name", std::string(2000, 'n').c_str()));
  EXPECT_EQ(1024u, u.GetStringValue("Axis", "Name", text));  // cut to 1023 and the terminator
  EXPECT_EQ(1023u, strlen(text));
  EXPECT_TRUE(Exists(home + "/zarn-registry/HKEY_CURRENT_USER/Software/ZarnTest/Axis/Speed.dword"));
  // Names that would leave the store are refused.
  EXPECT_EQ(0, u.SetDwordValue("..\\..\\escape", "x", 1));
  EXPECT_EQ(0, u.SetDwordValue("Axis", "../x", 1));
  UtilityHandle key = u.CreateKey("Axis\\Limits");
  ASSERT_NE(nullptr, key);
  u.CloseKey(key);
  EXPECT_EQ(0, u.DeleteKey("Axis"));  // it has a subkey
  EXPECT_EQ(1, u.DeleteSubKeys("Axis"));
  EXPECT_FALSE(Exists(home + "/zarn-registry/HKEY_CURRENT_USER/Software/ZarnTest/Axis"));
  EXPECT_EQ(0, u.DeleteSubKeys("Axis"));
  EXPECT_EQ(0u, u.GetDwordValue("Axis", "Speed", &dword));
  unsetenv("XDG_CONFIG_HOME");
}

TEST(UtilityFiles, FoldersAndCopies) {
  CUtilityMOX u;
  const std::string root = TempFolder();
  EXPECT_EQ(1, u.MakeFolders((root + "/a/b/c/file.txt").c_str()));
  EXPECT_TRUE(Exists(root + "/a/b/c"));
  EXPECT_FALSE(Exists(root + "/a/b/c/file.txt"));  // the text after the last separator is not a folder
  EXPECT_EQ(1, u.MakeFolders((root + "\\w\\").c_str()));
  const std::string tooLong = root + "/" + std::string(260, 'x') + "/";
  EXPECT_EQ(0, u.MakeFolders(tooLong.c_str()));
  std::ofstream(root + "/a/one.txt") << "one";
  std::ofstream(root + "/a/b/two.txt") << "two";
  EXPECT_TRUE(u.CopyFolder((root + "/a").c_str(), (root + "/copy").c_str()));
  EXPECT_TRUE(Exists(root + "/copy/one.txt"));
  EXPECT_TRUE(Exists(root + "/copy/b/two.txt"));
  EXPECT_TRUE(Exists(root + "/copy/b/c"));
  EXPECT_FALSE(u.CopyFolder((root + "/missing").c_str(), (root + "/copy2").c_str()));
  u.EmptyFolder((root + "/a").c_str());
  EXPECT_TRUE(Exists(root + "/a"));  // the folder itself stays
  EXPECT_FALSE(Exists(root + "/a/one.txt"));
  EXPECT_FALSE(Exists(root + "/a/b"));
  u.EmptyFolder(root.c_str());
  rmdir(root.c_str());
  EXPECT_FALSE(Exists(root));
  EXPECT_FALSE(std::string(u.GetBaseName()).empty());
  EXPECT_EQ('/', u.GetFolder()[strlen(u.GetFolder()) - 1]);
  EXPECT_EQ(std::string(u.GetFolder()) + u.GetBaseName(), u.GetFolderAndBaseName());
}

TEST(UtilitySystem, HandlersAndWhatADesktopWouldGive) {
  CUtilityMOX u;
  int major = -1, minor = -1;
  EXPECT_FALSE(u.GetOsName(&major, &minor).empty());
  EXPECT_GE(major, 2);
  EXPECT_GE(u.GetLocalAddresses(), 1);  // loopback at least
  EXPECT_STRNE("", u.GetLocalAddressText(0));
  EXPECT_STREQ("", u.GetLocalAddressText(4));
  Rect r;
  EXPECT_FALSE(u.GetVirtualScreen(&r));
  EXPECT_FALSE(u.CaptureScreen());
  EXPECT_EQ(0, u.EnumDisplays());
  EXPECT_EQ(nullptr, u.FindConsoleWindow());
  EXPECT_EQ("", u.GetFileVersionText("\\StringFileInfo\\%04x%04x\\FileVersion"));
  char devices[1024];
  u.ListDevices(devices);
  EXPECT_LT(strlen(devices), 1024u);
  EXPECT_TRUE(u.StartMillisecondTimer());
  usleep(20000);
  EXPECT_GE(u.MillisecondTicks(), 19u);
  const int64_t before = u.ReadPerformanceCounter();
  usleep(1000);
  EXPECT_GT(u.ReadPerformanceCounter(), before);
  // The handler takes the signal: the process goes on and says why.
  testing::internal::CaptureStdout();
  u.InstallCtrlHandler();
  raise(SIGINT);
  raise(SIGTERM);
  const std::string said = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, said.find("CTRL+C received! The action is canceled!"));
  EXPECT_NE(std::string::npos, said.find("User is logging off!! The action is canceled!"));
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
}

}  // namespace
}  // namespace zarn
