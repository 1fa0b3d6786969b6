// The real zarn.dll, loaded at run time the way an application loads it:
// its exports resolve by name, its start-up builds the library state, and a
// drive answers through it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "peers.h"
#include "zarn/zarn.h"

namespace zarn {
namespace test {
namespace {

template <typename F>
F Export(HMODULE dll, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

TEST(Dll, LoadsAnswersAndUnloads) {
  HMODULE dll = LoadLibraryA("zarn.dll");
  ASSERT_NE(nullptr, dll) << "zarn.dll beside the test program";
  auto version = Export<int32_t(ZARN_CALL*)(int32_t*)>(dll, "ZARN_GetZarnDllVersion");
  auto errorCode = Export<int32_t(ZARN_CALL*)(char*)>(dll, "ZARN_GetErrorCode");
  auto timeouts = Export<int32_t(ZARN_CALL*)(int32_t*, int32_t*)>(dll, "ZARN_GetTimeout");
  auto open = Export<int32_t(ZARN_CALL*)(int32_t, const char*, uint16_t)>(dll, "ZARN_EDRVOpen");
  auto position = Export<int32_t(ZARN_CALL*)(uint8_t, int32_t*)>(dll, "ZARN_ActualPosition");
  auto close = Export<int32_t(ZARN_CALL*)(int32_t)>(dll, "ZARN_DriveClose");
  ASSERT_TRUE(version && errorCode && timeouts && open && position && close);
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

  DriveModel model;  // outlives the peer thread that calls it
  UdpPeer peer;
  model.SetWord(0x2003, 0, 1);
  model.SetDWord(0x6064, 0, static_cast<uint32_t>(-4242));
  peer.SetResponder(model.Ethernet());
  ASSERT_EQ(0, open(3, "127.0.0.1", peer.Port()));
  int32_t p = 0;
  EXPECT_EQ(0, position(3, &p));
  EXPECT_EQ(-4242, p);
  EXPECT_EQ(0, close(3));
  EXPECT_TRUE(FreeLibrary(dll));
}

}  // namespace
}  // namespace test
}  // namespace zarn
