// The setup-file path reaches the master as the file the application named:
// converted with the code page the file functions read names in, whatever the
// thread's locale says.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ethernet/ethercat.h"
#include "fake_ethercat.h"
#include "fixtures.h"

namespace zarn {
namespace test {
namespace {

TEST(MasterSetupFile, NamesTheSameFileInTheAnsiAndOemCodePages) {
  UdpPeer peer;
  DriveModel model;
  model.SetWord(0x2003, 0, 1);
  peer.SetResponder(model.Ethernet());
  ASSERT_FALSE(EtherCatMaster::Instance().IsDirectIp()) << "the test double was not found";
  const LCID locale = GetThreadLocale();
  // A Japanese thread locale: its code page reads 0xFC as a lead byte.
  SetThreadLocale(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT));
  char folder[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
  for (bool oem : {false, true}) {
    if (oem) SetFileApisToOEM();
    const std::string name = std::string(folder) +
                             "zarn-M\xFC"
                             "ller.xml";  // u-umlaut in code page 1252
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    *FakeEtherCat() = FakeEtherCatState();
    ASSERT_EQ(0, ZARN_SetEoESetupFile(name.c_str()));
    ASSERT_EQ(0, ZARN_EDRVOpen(4, "127.0.0.1", peer.Port()));
    ZARN_DriveClose(4);
    ASSERT_EQ(1, FakeEtherCat()->initCalls);
    // What the master received opens the same file.
    file = CreateFileW(reinterpret_cast<const wchar_t*>(FakeEtherCat()->initPath), GENERIC_READ, 0, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << (oem ? "OEM" : "ANSI") << " file functions";
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileA(name.c_str());
  }
  SetFileApisToANSI();
  SetThreadLocale(locale);
}

}  // namespace
}  // namespace test
}  // namespace zarn
