// The utility toolkit on POSIX systems: shared memory between two processes,
// child processes, the settings store, folders, the Ctrl handler, and what a
// system without a desktop answers.
#include <gtest/gtest.h>

#include <dirent.h>
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

#include "utility/os.h"
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

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Waits up to 10 s for a condition that a background process brings about.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) usleep(10000);
  return condition();
}

// This process's children in the process table, zombies included.
int ChildCount() {
  int count = 0;
  DIR* proc = opendir("/proc");
  while (dirent* e = proc ? readdir(proc) : nullptr) {
    std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (sscanf(line.c_str() + line.rfind(')') + 1, " %c %d", &state, &parent) == 2 && parent == getpid()) ++count;
  }
  if (proc) closedir(proc);
  return count;
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

TEST(UtilitySharedMemory, CloseUnmapsOnlyTheMappedSize) {
  CUtilityMOX small, large;
  const std::string name = "zarn-test-size-" + std::to_string(getpid());
  UtilityHandle smallHandle = nullptr, largeHandle = nullptr;
  uint8_t* view = static_cast<uint8_t*>(small.CreateSharedMemory(&smallHandle, 4096, name.c_str()));
  ASSERT_NE(nullptr, view);
  // Something of ours lies right after the small view; the object then grows.
  unsigned char residency;
  uint8_t* after = view + 4096;
  if (mincore(after, 4096, &residency) != 0) {
    ASSERT_EQ(after,
              mmap(after, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0));
  }
  ASSERT_NE(nullptr, large.CreateSharedMemory(&largeHandle, 1 << 20, name.c_str()));
  small.CloseSharedMemory(&smallHandle, view);
  EXPECT_EQ(0, mincore(after, 4096, &residency)) << "the close unmapped past its own view";
  large.CloseSharedMemory(&largeHandle, nullptr);
}

TEST(UtilitySharedMemory, TheCreatorsCloseRemovesTheName) {
  CUtilityMOX creator, user;
  const std::string name = "zarn-test-name-" + std::to_string(getpid());
  UtilityHandle created = nullptr, opened = nullptr;
  void* view = creator.CreateSharedMemory(&created, 4096, name.c_str());
  ASSERT_NE(nullptr, view);
  void* other = nullptr;
  ASSERT_TRUE(user.OpenSharedMemory(&opened, &other, name.c_str()));
  static_cast<char*>(view)[0] = 'z';
  user.CloseSharedMemory(&opened, other);
  EXPECT_TRUE(Exists("/dev/shm/" + name));  // another's close leaves it
  ASSERT_TRUE(user.OpenSharedMemory(&opened, &other, name.c_str()));
  creator.CloseSharedMemory(&created, view);
  EXPECT_FALSE(Exists("/dev/shm/" + name));
  EXPECT_EQ('z', static_cast<char*>(other)[0]);  // who still maps it keeps it
  user.CloseSharedMemory(&opened, other);
  EXPECT_FALSE(user.OpenSharedMemory(&opened, &other, name.c_str()));
}

TEST(UtilitySharedMemory, ALockWhoseHolderDiedIsFree) {
  CUtilityMOX u;
  const std::string name = "zarn-test-lock-" + std::to_string(getpid());
  UtilityHandle handle = nullptr;
  void* view = u.CreateSharedMemory(&handle, 4096, name.c_str());
  ASSERT_NE(nullptr, view);
  const pid_t child = fork();
  if (child == 0) {
    utility::NamedLock lock(name + "_mutex");
    _exit(lock.Owned() ? 0 : 1);  // dies holding it
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const int64_t values[4] = {1, 2, 3, 4};
  EXPECT_TRUE(u.WriteSharedBlock(view, name.c_str(), values, 4));
  u.CloseSharedMemory(&handle, view);
  shm_unlink(("/" + name + "_mutex").c_str());
}

TEST(UtilityProcesses, ExecuteWithoutWaitingLeavesNoZombie) {
  CUtilityMOX u;
  ASSERT_EQ(0, ChildCount());
  ASSERT_TRUE(u.Execute("true", "", false));
  EXPECT_TRUE(Eventually([] { return ChildCount() == 0; }));
}

TEST(UtilityProcesses, AdapterNamesCannotCarryArguments) {
  // A stand-in for ip(8) that records its arguments, one a line.
  const std::string bin = TempFolder(), log = bin + "/args";
  std::ofstream(bin + "/ip") << "#!/bin/sh\nfor a; do echo \"$a\"; done > " << log << ".tmp && mv " << log << ".tmp "
                             << log << "\n";
  chmod((bin + "/ip").c_str(), 0755);
  const std::string path = getenv("PATH");
  setenv("PATH", (bin + ":" + path).c_str(), 1);
  CUtilityMOX u;
  u.SetAdapterNetsh("eth0", true);
  EXPECT_EQ("link\nset\ndev\neth0\nup\n", ReadAll(log));
  ASSERT_TRUE(u.SetAdapterDevcon("Wired 1", false));
  EXPECT_TRUE(Eventually([&] { return ReadAll(log) == "link\nset\ndev\nWired 1\ndown\n"; })) << ReadAll(log);
  unlink(log.c_str());
  EXPECT_EQ("", u.SetAdapterNetsh("eth0\" \"down", true));
  EXPECT_FALSE(u.SetAdapterDevcon("eth0\" \"mtu\" \"9000", true));
  usleep(100000);
  EXPECT_FALSE(Exists(log));
  setenv("PATH", path.c_str(), 1);
  u.EmptyFolder(bin.c_str());
  rmdir(bin.c_str());
}

TEST(UtilityFiles, MakeFoldersSeparatesAtBackslashes) {
  CUtilityMOX u;
  const std::string root = TempFolder();
  EXPECT_EQ(1, u.MakeFolders((root + "\\w\\x\\name").c_str()));
  EXPECT_TRUE(Exists(root + "/w/x"));
  EXPECT_FALSE(Exists(root + "/w/x/name"));
  u.EmptyFolder(root.c_str());
  rmdir(root.c_str());
}

TEST(UtilityFiles, CopyFolderKeepsModesAndFolderLinksAndPassesOverFifos) {
  CUtilityMOX u;
  const std::string root = TempFolder(), from = root + "/from", to = root + "/to";
  ASSERT_EQ(0, mkdir(from.c_str(), 0700));
  ASSERT_EQ(0, mkdir((from + "/tools").c_str(), 0750));
  std::ofstream(from + "/tools/run.sh") << "#!/bin/sh\n";
  chmod((from + "/tools/run.sh").c_str(), 0751);
  std::ofstream(from + "/data.txt") << "data";
  chmod((from + "/data.txt").c_str(), 0640);
  ASSERT_EQ(0, symlink("tools", (from + "/current").c_str()));
  ASSERT_EQ(0, mkfifo((from + "/pipe").c_str(), 0600));
  ASSERT_EQ(0, mkfifo((from + "/tools/pipe").c_str(), 0600));
  EXPECT_TRUE(u.CopyFolder(from.c_str(), to.c_str()));  // returns: no FIFO is opened for reading
  struct stat st;
  ASSERT_EQ(0, stat((to + "/tools/run.sh").c_str(), &st));
  EXPECT_EQ(0751u, st.st_mode & 07777);
  ASSERT_EQ(0, stat((to + "/tools").c_str(), &st));
  EXPECT_EQ(0750u, st.st_mode & 07777);
  ASSERT_EQ(0, stat((to + "/data.txt").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ("data", ReadAll(to + "/data.txt"));
  char target[64] = "";
  ASSERT_GT(readlink((to + "/current").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ("tools", target);
  EXPECT_FALSE(Exists(to + "/pipe"));
  EXPECT_FALSE(Exists(to + "/tools/pipe"));
  u.EmptyFolder(root.c_str());
  rmdir(root.c_str());
}

}  // namespace
}  // namespace zarn
