// The real zarn.dll, loaded at run time the way an application loads it:
// its exports resolve by name, its start-up builds the library state, and a
// drive answers through it; unloading it with connections open is safe.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "peers.h"
#include "zarn/zarn.h"

namespace zarn {
namespace test {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// The threads of this process.
size_t ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  size_t n = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snapshot);
  return n;
}

template <typename F>
F Export(HMODULE dll, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

// The connection exports of one load of the library.
struct Connections {
  explicit Connections(HMODULE dll)
      : openEthernet(Export<decltype(openEthernet)>(dll, "ZARN_EDRVOpen")),
        openSerial(Export<decltype(openSerial)>(dll, "ZARN_SDRVOpen")),
        position(Export<decltype(position)>(dll, "ZARN_ActualPosition")),
        close(Export<decltype(close)>(dll, "ZARN_DriveClose")) {}
  bool Complete() const { return openEthernet && openSerial && position && close; }
  int32_t(ZARN_CALL* openEthernet)(int32_t, const char*, uint16_t);
  int32_t(ZARN_CALL* openSerial)(int32_t, const char*, uint32_t);
  int32_t(ZARN_CALL* position)(uint8_t, int32_t*);
  int32_t(ZARN_CALL* close)(int32_t);
};

// Drives 1 to 4 over UDP and drive 9 on the serial line, all answering from one model.
struct Drives {
  Drives() {
    model.SetWord(0x2003, 0, 1);
    model.SetDWord(0x6064, 0, 4242);
    for (UdpPeer& p : udp) p.SetResponder(model.Ethernet());
    line.SetResponder(model.Serial(kSerialId));
  }
  void OpenAll(const Connections& zarn) {
    for (int i = 0; i < 4; ++i) ASSERT_EQ(0, zarn.openEthernet(i + 1, "127.0.0.1", udp[i].Port())) << i + 1;
    ASSERT_EQ(0, zarn.openSerial(kSerialId, line.SlavePath().c_str(), 115200));
  }
  static constexpr int kSerialId = 9;
  DriveModel model;
  UdpPeer udp[4];
  SerialPeer line;
};

TEST(Dll, LoadsAnswersAndUnloads) {
  HMODULE dll = LoadLibraryA("zarn.dll");
  ASSERT_NE(nullptr, dll) << "zarn.dll beside the test program";
  auto version = Export<int32_t(ZARN_CALL*)(int32_t*)>(dll, "ZARN_GetZarnDllVersion");
  auto errorCode = Export<int32_t(ZARN_CALL*)(char*)>(dll, "ZARN_GetErrorCode");
  auto timeouts = Export<int32_t(ZARN_CALL*)(int32_t*, int32_t*)>(dll, "ZARN_GetTimeout");
  Connections zarn(dll);
  ASSERT_TRUE(version && errorCode && timeouts && zarn.Complete());
  EXPECT_EQ(nullptr, GetProcAddress(dll, "ReadObject"));  // nothing but the exports is visible

  int32_t v = 0;
  EXPECT_EQ(0, version(&v));
  EXPECT_EQ(0x01020304, v);
  char text[71];
  EXPECT_EQ(0, errorCode(text));
  EXPECT_STREQ("ZARN is OK.", text);
  int32_t socketTimeout = 0, connectTimeout = 0;
  EXPECT_EQ(0, timeouts(&socketTimeout, &connectTimeout));
  EXPECT_EQ(3, socketTimeout);
  EXPECT_EQ(1, connectTimeout);

  UdpPeer peer;
  DriveModel model;
  model.SetWord(0x2003, 0, 1);
  model.SetDWord(0x6064, 0, static_cast<uint32_t>(-4242));
  peer.SetResponder(model.Ethernet());
  ASSERT_EQ(0, zarn.openEthernet(3, "127.0.0.1", peer.Port()));
  int32_t p = 0;
  EXPECT_EQ(0, zarn.position(3, &p));
  EXPECT_EQ(-4242, p);
  EXPECT_EQ(0, zarn.close(3));
  EXPECT_TRUE(FreeLibrary(dll));
}

// Each worker thread holds the library, so FreeLibrary with connections open
// returns at once and the library stays in memory, connections and all, until
// they are closed: no thread is waited for under the loader lock, and none is
// left running code that is gone.
TEST(Dll, UnloadWithConnectionsOpenIsPromptAndSafe) {
  Drives drives;
  const size_t threadsBefore = ThreadCount();
  HMODULE dll = LoadLibraryA("zarn.dll");
  ASSERT_NE(nullptr, dll);
  Connections zarn(dll);
  ASSERT_TRUE(zarn.Complete());
  drives.OpenAll(zarn);

  Clock::time_point start = Clock::now();
  EXPECT_TRUE(FreeLibrary(dll));
  EXPECT_LT(MsSince(start), 1000);
  ASSERT_EQ(dll, GetModuleHandleA("zarn.dll")) << "unloaded under its own threads";
  ASSERT_EQ(dll, LoadLibraryA("zarn.dll"));
  int32_t p = 0;
  EXPECT_EQ(0, zarn.position(1, &p));
  EXPECT_EQ(0, zarn.position(Drives::kSerialId, &p));
  EXPECT_EQ(4242, p);
  for (int id : {1, 2, 3, 4, Drives::kSerialId}) EXPECT_EQ(0, zarn.close(id));

  // Closed, the threads let go of the library as they end: it unloads for
  // real, and no thread of it is left.
  start = Clock::now();
  EXPECT_TRUE(FreeLibrary(dll));
  while ((GetModuleHandleA("zarn.dll") || ThreadCount() > threadsBefore) && MsSince(start) < 2000) Sleep(10);
  EXPECT_EQ(nullptr, GetModuleHandleA("zarn.dll"));
  EXPECT_EQ(threadsBefore, ThreadCount());
}

// After such an unload the library loads afresh. (Ethernet only: under Wine
// a serial event wait leaves a thread record behind that a later load of a
// DLL with thread-local data trips over.)
TEST(Dll, LoadsAfreshAfterAnUnloadWithConnectionsOpen) {
  Drives drives;
  HMODULE dll = LoadLibraryA("zarn.dll");
  ASSERT_NE(nullptr, dll);
  Connections zarn(dll);
  ASSERT_TRUE(zarn.Complete());
  ASSERT_EQ(0, zarn.openEthernet(1, "127.0.0.1", drives.udp[0].Port()));
  EXPECT_TRUE(FreeLibrary(dll));
  ASSERT_EQ(dll, LoadLibraryA("zarn.dll"));
  EXPECT_EQ(0, zarn.close(1));
  EXPECT_TRUE(FreeLibrary(dll));
  Clock::time_point start = Clock::now();
  while (GetModuleHandleA("zarn.dll") && MsSince(start) < 2000) Sleep(10);
  ASSERT_EQ(nullptr, GetModuleHandleA("zarn.dll"));

  dll = LoadLibraryA("zarn.dll");
  ASSERT_NE(nullptr, dll);
  Connections fresh(dll);
  ASSERT_TRUE(fresh.Complete());
  int32_t p = 0;
  EXPECT_EQ(ZARN_E_NO_CONNECTION, fresh.position(1, &p));
  ASSERT_EQ(0, fresh.openEthernet(1, "127.0.0.1", drives.udp[0].Port()));
  EXPECT_EQ(0, fresh.position(1, &p));
  EXPECT_EQ(4242, p);
  EXPECT_EQ(0, fresh.close(1));
  EXPECT_TRUE(FreeLibrary(dll));
}

// The EtherCAT master library is not unloaded with ours: its own unload would
// run under the loader lock held for ours, where a master that waits for its
// threads hangs.
TEST(Dll, TheMasterLibraryOutlivesAnUnload) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(n, 0u);
  std::string master(path, n);
  master = master.substr(0, master.find_last_of('\\') + 1) + "tests\\ethercat\\API_EtherCAT.dll";
  HMODULE fake = LoadLibraryA(master.c_str());  // the library finds it loaded by its name
  ASSERT_NE(nullptr, fake) << master;
  HMODULE dll = LoadLibraryA("zarn.dll");
  ASSERT_NE(nullptr, dll);
  auto onlineMode = Export<int32_t(ZARN_CALL*)(int32_t*)>(dll, "ZARN_GetOnlineMode");
  ASSERT_NE(nullptr, onlineMode);
  int32_t mode = -1;
  EXPECT_EQ(0, onlineMode(&mode));  // binds the master
  EXPECT_TRUE(FreeLibrary(fake));
  ASSERT_EQ(fake, GetModuleHandleA("API_EtherCAT.dll")) << "the library holds the master";
  EXPECT_TRUE(FreeLibrary(dll));
  EXPECT_EQ(fake, GetModuleHandleA("API_EtherCAT.dll"));
}

// Run as a child process by ProcessExitWithConnectionsOpenIsClean.
TEST(Dll, DISABLED_ExitWithConnectionsOpen) {
  static Drives drives;  // left to the process exit, like everything else here
  HMODULE dll = LoadLibraryA("zarn.dll");
  ASSERT_NE(nullptr, dll);
  Connections zarn(dll);
  ASSERT_TRUE(zarn.Complete());
  drives.OpenAll(zarn);
  fflush(stdout);
  exit(7);
}

// A process that ends with connections open ends at once and cleanly: its
// other threads are gone by then, and the library releases nothing.
TEST(Dll, ProcessExitWithConnectionsOpenIsClean) {
  char program[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, program, sizeof program), 0u);
  std::string command = std::string("\"") + program +
                        "\" --gtest_also_run_disabled_tests --gtest_filter=Dll.DISABLED_ExitWithConnectionsOpen";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 20000)) << "the child did not end";
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  EXPECT_EQ(7u, code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
}

// The socket library is started by the first Ethernet connection, not at load,
// and released with the last one.
TEST(Dll, SocketLibraryStartsAtFirstUseAndIsBalanced) {
  auto socketLibraryStarted = [] {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return WSAGetLastError() != WSANOTINITIALISED;
    closesocket(s);
    return true;
  };
  HMODULE dll = LoadLibraryA("zarn.dll");
  ASSERT_NE(nullptr, dll);
  Connections zarn(dll);
  ASSERT_TRUE(zarn.Complete());
  EXPECT_FALSE(socketLibraryStarted()) << "started while loading";
  {
    UdpPeer peer;  // holds its own reference while it lives
    DriveModel model;
    model.SetWord(0x2003, 0, 1);
    peer.SetResponder(model.Ethernet());
    ASSERT_EQ(0, zarn.openEthernet(1, "127.0.0.1", peer.Port()));
    ASSERT_EQ(0, zarn.openEthernet(2, "127.0.0.1", peer.Port()));
    EXPECT_EQ(0, zarn.close(1));
    EXPECT_EQ(0, zarn.close(2));
  }
  EXPECT_FALSE(socketLibraryStarted()) << "a reference left behind";
  EXPECT_TRUE(FreeLibrary(dll));
}

}  // namespace
}  // namespace test
}  // namespace zarn
