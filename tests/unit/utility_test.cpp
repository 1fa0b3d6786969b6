// The utility toolkit: text, number and time conversions, the pattern matcher,
// shared memory between two processes, child processes, the settings store,
// folders, and what a system without a desktop answers.
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
#include <regex>
#include <string>

#include "zarn/utilitymox.h"

namespace zarn {
namespace {

SystemTime Time(int y, int mo, int d, int h, int mi, int s, int ms) {
  SystemTime t;
  t.year = uint16_t(y);
  t.month = uint16_t(mo);
  t.day = uint16_t(d);
  t.hour = uint16_t(h);
  t.minute = uint16_t(mi);
  t.second = uint16_t(s);
  t.milliseconds = uint16_t(ms);
  return t;
}

std::string TempFolder() {
  char path[] = "/tmp/zarn-utility-XXXXXX";
  return mkdtemp(path) ? path : "";
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

TEST(UtilityText, ParseByteList) {
  const struct {
    const char* text;
    uint32_t value;
  } cases[] = {{"1, 2,3 ,300", 0x0102032C}, {"192,168,0,1", 0xC0A80001}, {"5", 5}, {"", 0}, {"1,,2", 0x010002}};
  for (auto c : cases) EXPECT_EQ(c.value, CUtilityMOX::ParseByteList(c.text)) << c.text;
}

TEST(UtilityText, MatchPattern) {
  const struct {
    const char* text;
    const char* pattern;
    bool caseSensitive;
    bool match;
  } cases[] = {
      {"ab12", "A?##", false, true},   {"ab12", "A?##", true, false},  {"ab12", "a?##", true, true},
      {"ab1x", "a?##", false, false},  {"motor.cfg", "*.cfg", false, true}, {"motor.cfg", "*.CFG", true, false},
      {"b", "[a-c]", false, true},     {"d", "[a-c]", false, false},   {"d", "[!a-c]", false, true},
      {"B", "[a-c]", false, true},     {"B", "[a-c]", true, false},    {"x7z", "x[0-9]z", true, true},
      {"", "*", false, true},          {"", "?", false, false},        {"abc", "a*c*", false, true},
      {"abc", "a*d", false, false},    {"a-b", "a[-]b", false, true},  {"axxxbyyyc", "a*b*c", true, true},
  };
  for (auto c : cases)
    EXPECT_EQ(c.match, CUtilityMOX::MatchPattern(c.text, c.pattern, c.caseSensitive)) << c.text << " ~ " << c.pattern;
}

TEST(UtilityText, TimeStamps) {
  const SystemTime t = Time(2021, 3, 2, 9, 5, 3, 7);
  EXPECT_EQ("2021-03-02 09:05:03.007", CUtilityMOX::FormatTimeStamp(t));
  EXPECT_EQ("20210302-090503", CUtilityMOX::FormatFileTimeStamp(t));
  EXPECT_EQ("09:05:03.007", CUtilityMOX::FormatTimeOfDay(t));
  CUtilityMOX u;
  EXPECT_TRUE(std::regex_match(u.FormatTimeStamp(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})")));
  EXPECT_TRUE(std::regex_match(u.FormatFileTimeStamp(), std::regex(R"(\d{8}-\d{6})")));
  EXPECT_TRUE(std::regex_match(u.MakeGuid(), std::regex(R"([0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12})")));
  EXPECT_NE(u.MakeGuid(), u.MakeGuid());
}

TEST(UtilityText, HexConversions) {
  const uint8_t bytes[] = {0x0A, 0xFF, 0x12, 0x34};
  char text[16] = "xxxx";  // room for two bytes only
  EXPECT_EQ(2, CUtilityMOX::BytesToHex(text, bytes, 4));
  EXPECT_STREQ("0AFF", text);
  uint8_t out[80] = {};
  int count = -1;
  CUtilityMOX::HexToBytes("0A FF 1g 34", out, &count);  // blanks removed, 'g' counts as 0
  EXPECT_EQ(4, count);
  EXPECT_EQ(0x0A, out[0]);
  EXPECT_EQ(0xFF, out[1]);
  EXPECT_EQ(0x10, out[2]);
  CUtilityMOX::HexToBytes("ab", out, &count);  // lower case is no such digit
  EXPECT_EQ(1, count);
  EXPECT_EQ(0x00, out[0]);
  CUtilityMOX::HexToBytes(std::string(132, 'A').c_str(), out, &count);
  EXPECT_EQ(0, count);  // more than 130 characters
  EXPECT_EQ(3, CUtilityMOX::HexStringToBytes("0aFf12", out));
  EXPECT_EQ(0xFF, out[1]);
  EXPECT_EQ(0, CUtilityMOX::HexStringToBytes("ABC", out));
  std::vector<uint8_t> big(1024);
  EXPECT_EQ(0, CUtilityMOX::HexStringToBytes(std::string(2048, 'E').c_str(), big.data()));  // 1024 as 8 bits
  EXPECT_EQ(0xEE, big[1023]);
  EXPECT_EQ(0, CUtilityMOX::HexStringToBytes(std::string(2050, 'E').c_str(), big.data()));
}

TEST(UtilityText, FormatNumber) {
  const struct {
    double value;
    int digits;
    const char* text;
  } cases[] = {{1234567.891, 2, "1,234,567.89"}, {0.5, 2, ".50"},       {-1234.5, 1, "-1,234.5"},
               {999.999, 2, "1,000.00"},         {1234.5, 0, "1,235"},  {0, 0, "0"},
               {-0.001, 2, ".00"},               {100, 3, "100.000"},   {123456, 0, "123,456"},
               {0.125, 2, ".13"},                {2.5, 0, "3"},         {-999999.5, 0, "-1,000,000"}};
  for (auto c : cases) {
    char out[64] = "?";
    CUtilityMOX::FormatNumber(c.value, c.digits, out, sizeof out);
    EXPECT_STREQ(c.text, out) << c.value;
  }
  char tiny[5] = "?";
  CUtilityMOX::FormatNumber(123456.0, 0, tiny, sizeof tiny);
  EXPECT_STREQ("", tiny);
}

TEST(UtilityText, OleDates) {
  double v = 0;
  ASSERT_TRUE(CUtilityMOX::SystemTimeToVariant(Time(1899, 12, 30, 0, 0, 0, 0), &v));
  EXPECT_EQ(0.0, v);
  ASSERT_TRUE(CUtilityMOX::SystemTimeToVariant(Time(1900, 1, 1, 0, 0, 0, 0), &v));
  EXPECT_EQ(2.0, v);
  ASSERT_TRUE(CUtilityMOX::SystemTimeToVariant(Time(2021, 3, 2, 12, 0, 0, 0), &v));
  EXPECT_DOUBLE_EQ(44257.5, v);
  ASSERT_TRUE(CUtilityMOX::SystemTimeToVariant(Time(1899, 12, 29, 6, 0, 0, 0), &v));
  EXPECT_DOUBLE_EQ(-1.25, v);  // before the epoch the time counts away from zero
  ASSERT_TRUE(CUtilityMOX::SystemTimeToVariant(Time(2021, 3, 2, 9, 5, 3, 7), &v));
  SystemTime back;
  ASSERT_TRUE(CUtilityMOX::VariantToSystemTime(v, &back));
  EXPECT_EQ("2021-03-02 09:05:03.007", CUtilityMOX::FormatTimeStamp(back));
  EXPECT_EQ(2, back.dayOfWeek);  // a Tuesday
  ASSERT_TRUE(CUtilityMOX::VariantToSystemTime(-1.25, &back));
  EXPECT_EQ("1899-12-29 06:00:00.000", CUtilityMOX::FormatTimeStamp(back));
  for (int ms : {1, 500, 999}) {
    ASSERT_TRUE(CUtilityMOX::SystemTimeToVariant(Time(2000, 2, 29, 23, 59, 59, ms), &v));
    ASSERT_TRUE(CUtilityMOX::VariantToSystemTime(v, &back));
    EXPECT_EQ(ms, back.milliseconds);
    EXPECT_EQ(59, back.second);
    EXPECT_EQ(29, back.day);
  }
  EXPECT_FALSE(CUtilityMOX::SystemTimeToVariant(Time(2021, 13, 1, 0, 0, 0, 0), &v));
  EXPECT_FALSE(CUtilityMOX::VariantToSystemTime(1e12, &back));
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
  EXPECT_FALSE(u.WriteSharedBlock(view, name.c_str(), four, 3));  // only 4 or 5 values
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

TEST(UtilitySystem, NamesHandlersAndWhatADesktopWouldGive) {
  EXPECT_EQ("Windows 7", CUtilityMOX::OsNameFor(6, 1, true, false, false));
  EXPECT_EQ("Windows Server 2012 R2", CUtilityMOX::OsNameFor(6, 3, false, false, false));
  EXPECT_EQ("Windows Server 2003", CUtilityMOX::OsNameFor(5, 2, false, false, false));
  EXPECT_EQ("Windows Home Server", CUtilityMOX::OsNameFor(5, 2, false, true, true));
  EXPECT_EQ("Windows Server 2003 R2", CUtilityMOX::OsNameFor(5, 2, false, true, false));
  EXPECT_EQ("", CUtilityMOX::OsNameFor(10, 0, true, false, false));
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
  EXPECT_STREQ("CTRL+C received! The action is canceled!\n", CUtilityMOX::CtrlEventMessage(0));
  EXPECT_STREQ("User is logging off!! The action is canceled!\n", CUtilityMOX::CtrlEventMessage(6));
  EXPECT_STREQ("", CUtilityMOX::CtrlEventMessage(3));
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
