// The utility toolkit's text, number and time operations: the same results
// on every system.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "utility/utility_internal.h"
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
      {"ab12", "A?##", false, true},
      {"ab12", "A?##", true, false},
      {"ab12", "a?##", true, true},
      {"ab1x", "a?##", false, false},
      {"motor.cfg", "*.cfg", false, true},
      {"motor.cfg", "*.CFG", true, false},
      {"b", "[a-c]", false, true},
      {"d", "[a-c]", false, false},
      {"d", "[!a-c]", false, true},
      {"B", "[a-c]", false, true},
      {"B", "[a-c]", true, false},
      {"x7z", "x[0-9]z", true, true},
      {"", "*", false, true},
      {"", "?", false, false},
      {"abc", "a*c*", false, true},
      {"abc", "a*d", false, false},
      {"a-b", "a[-]b", false, true},
      {"axxxbyyyc", "a*b*c", true, true},
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
  EXPECT_TRUE(CUtilityMOX::MatchPattern(u.FormatTimeStamp().c_str(), "####-##-## ##:##:##.###", true));
  EXPECT_TRUE(CUtilityMOX::MatchPattern(u.FormatFileTimeStamp().c_str(), "########-######", true));
  EXPECT_TRUE(CUtilityMOX::MatchPattern(u.FormatTimeOfDay().c_str(), "##:##:##.###", true));
  auto hex = [](int n) {
    std::string p;
    for (int i = 0; i < n; ++i) p += "[0-9A-F]";
    return p;
  };
  const std::string guid = hex(8) + "-" + hex(4) + "-4" + hex(3) + "-[89AB]" + hex(3) + "-" + hex(12);
  EXPECT_TRUE(CUtilityMOX::MatchPattern(u.MakeGuid().c_str(), guid.c_str(), true)) << u.MakeGuid();
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
  } cases[] = {{1234567.891, 2, "1,234,567.89"},
               {0.5, 2, ".50"},
               {-1234.5, 1, "-1,234.5"},
               {999.999, 2, "1,000.00"},
               {1234.5, 0, "1,235"},
               {0, 0, "0"},
               {-0.001, 2, ".00"},
               {100, 3, "100.000"},
               {123456, 0, "123,456"},
               {0.125, 2, ".13"},
               {2.5, 0, "3"},
               {-999999.5, 0, "-1,000,000"}};
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

TEST(UtilityText, WindowsNamesAndControlMessages) {
  EXPECT_EQ("Windows 7", CUtilityMOX::OsNameFor(6, 1, true, false, false));
  EXPECT_EQ("Windows Server 2012 R2", CUtilityMOX::OsNameFor(6, 3, false, false, false));
  EXPECT_EQ("Windows Server 2003", CUtilityMOX::OsNameFor(5, 2, false, false, false));
  EXPECT_EQ("Windows Home Server", CUtilityMOX::OsNameFor(5, 2, false, true, true));
  EXPECT_EQ("Windows Server 2003 R2", CUtilityMOX::OsNameFor(5, 2, false, true, false));
  EXPECT_EQ("Windows XP Professional x64 Edition", CUtilityMOX::OsNameFor(5, 2, true, false, false));
  EXPECT_EQ("", CUtilityMOX::OsNameFor(10, 0, true, false, false));
  EXPECT_STREQ("CTRL+C received! The action is canceled!\n", CUtilityMOX::CtrlEventMessage(0));
  EXPECT_STREQ("CTRL+BREAK received! The action is canceled!\n", CUtilityMOX::CtrlEventMessage(1));
  EXPECT_STREQ("Program being closed! The action is canceled!\n", CUtilityMOX::CtrlEventMessage(2));
  EXPECT_STREQ("User is logging off! The action is canceled!\n", CUtilityMOX::CtrlEventMessage(5));
  EXPECT_STREQ("User is logging off!! The action is canceled!\n", CUtilityMOX::CtrlEventMessage(6));
  EXPECT_STREQ("", CUtilityMOX::CtrlEventMessage(3));
}

TEST(UtilityText, MatchPatternWithoutBacktrackingBlowUpOrDepthLimit) {
  // Hopeless for a matcher that tries every split of every '*': six runs over 3000 characters.
  const std::string as(3000, 'a');
  EXPECT_FALSE(CUtilityMOX::MatchPattern(as.c_str(), "*a*a*a*a*a*a*b", true));
  EXPECT_TRUE(CUtilityMOX::MatchPattern((as + "b").c_str(), "*a*a*a*a*a*a*b", true));
  std::string groups;
  for (int i = 0; i < 100; ++i) groups += "*[a-c]";
  EXPECT_TRUE(CUtilityMOX::MatchPattern(std::string(100, 'b').c_str(), groups.c_str(), true));
  EXPECT_FALSE(CUtilityMOX::MatchPattern(std::string(99, 'b').c_str(), groups.c_str(), true));
}

TEST(UtilityText, OleDatesBeforeTheEpochCountTheirTimeAwayFromZero) {
  const double second = 1.0 / 86400;
  double v = 0;
  ASSERT_TRUE(CUtilityMOX::SystemTimeToVariant(Time(1899, 12, 29, 6, 0, 0, 500), &v));
  EXPECT_NEAR(-1.25 - 0.5 * second, v, 1e-9);
  SystemTime back;
  ASSERT_TRUE(CUtilityMOX::VariantToSystemTime(v, &back));
  EXPECT_EQ("1899-12-29 06:00:00.500", CUtilityMOX::FormatTimeStamp(back));
  ASSERT_TRUE(CUtilityMOX::VariantToSystemTime(-1.25 - 0.25 * second, &back));
  EXPECT_EQ("1899-12-29 06:00:00.250", CUtilityMOX::FormatTimeStamp(back));
  // A time that rounds up to midnight carries into the next calendar day.
  ASSERT_TRUE(CUtilityMOX::VariantToSystemTime(-2 - (1 - 0.0001 * second), &back));
  EXPECT_EQ("1899-12-29 00:00:00.000", CUtilityMOX::FormatTimeStamp(back));
  ASSERT_TRUE(CUtilityMOX::VariantToSystemTime(3 - 0.0001 * second, &back));
  EXPECT_EQ("1900-01-02 00:00:00.000", CUtilityMOX::FormatTimeStamp(back));
}

TEST(UtilityText, ModulePathKeepsLongFolders) {
  const std::string folder = "/" + std::string(200, 'f') + "/";
  char drive[256], dir[256], base[256], extension[256], both[256];
  utility::SplitModulePath((folder + "tool.bin").c_str(), drive, dir, base, extension, both);
  EXPECT_EQ(folder + "tool", both);
  EXPECT_STREQ(".bin", extension);
  utility::SplitModulePath("C:\\Program Files\\zarn\\zarnctl.exe", drive, dir, base, extension, both);
  EXPECT_STREQ("C:", drive);
  EXPECT_STREQ("\\Program Files\\zarn\\", dir);
  EXPECT_STREQ("zarnctl", base);
  EXPECT_STREQ("\\Program Files\\zarn\\zarnctl", both);
}

TEST(UtilityText, AdapterNamesStayOneArgument) {
  for (const char* name : {"Ethernet 2", "PCI\\VEN_8086&DEV_100E", "eth0", "Wi-Fi (5 GHz)"})
    EXPECT_TRUE(utility::AdapterNameAccepted(name)) << name;
  for (const char* name : {"", "a\" & calc & \"", "%PATH%", "a!b", "x\ny"})
    EXPECT_FALSE(utility::AdapterNameAccepted(name)) << name;
  // The rules of the Windows C runtime: backslashes count only before a quote.
  EXPECT_EQ("\"Ethernet 2\"", utility::QuoteWindowsArgument("Ethernet 2"));
  EXPECT_EQ("\"PCI\\VEN\\\\\"", utility::QuoteWindowsArgument("PCI\\VEN\\"));
}

}  // namespace
}  // namespace zarn
