// Bit routines on words in memory, and the hexadecimal text exports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/bits.h"
#include "core/state.h"
#include "zarn/zarn.h"

namespace zarn {
namespace {

TEST(Bits, NumberingAcrossWords) {
  uint16_t words[2] = {0x0000, 0x0002};
  EXPECT_EQ(1, TestBit16(words, 17));
  EXPECT_EQ(0, TestBit16(words, 16));
  uint32_t dwords[1] = {0x00000020};
  EXPECT_EQ(1, TestBit32(dwords, 5));
  EXPECT_EQ(0, TestBit32(dwords, 4));
  SetBit16(words, 15);
  EXPECT_EQ(0x8000, words[0]);
  SetBit16(words, 16);
  EXPECT_EQ(0x0003, words[1]);
  ClearBit16(words, 17);
  EXPECT_EQ(0x0001, words[1]);
  ClearBit16(words, 15);
  EXPECT_EQ(0x0000, words[0]);
}

TEST(HexText, BinToStr) {
  const uint8_t data[] = {0x0A, 0xFF, 0x00, 0x5C};
  char text[16];
  SetLastError(ZARN_E_NO_CONNECTION);
  EXPECT_EQ(0, ZARN_BinToStr(text, data, 2));
  EXPECT_STREQ("0AFF", text);
  EXPECT_EQ(0, ZARN_GetErrorCode(nullptr));
  EXPECT_EQ(0, ZARN_BinToStr(text, data, 4));
  EXPECT_STREQ("0AFF005C", text);
  EXPECT_EQ(0, ZARN_BinToStr(text, data, 0));
  EXPECT_STREQ("", text);
  EXPECT_EQ(0, ZARN_BinToStr(text, data, -3));  // a negative length converts nothing
  EXPECT_STREQ("", text);
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_BinToStr(nullptr, data, 2));
}

TEST(HexText, StrToBin) {
  uint8_t data[8];
  memset(data, 0x77, sizeof data);
  SetLastError(ZARN_E_NO_CONNECTION);
  EXPECT_EQ(0, ZARN_StrToBin("0aFF", data));
  EXPECT_EQ(0x0A, data[0]);
  EXPECT_EQ(0xFF, data[1]);
  EXPECT_EQ(0x77, data[2]);
  EXPECT_EQ(0, ZARN_GetErrorCode(nullptr));
  // Odd length, too long, or empty: nothing converted, still 0.
  memset(data, 0x77, sizeof data);
  EXPECT_EQ(0, ZARN_StrToBin("ABC", data));
  std::string longText(502, 'A');
  EXPECT_EQ(0, ZARN_StrToBin(longText.c_str(), data));
  EXPECT_EQ(0, ZARN_StrToBin("", data));
  for (uint8_t b : data) EXPECT_EQ(0x77, b);
  // A pair that is not hexadecimal stores 0.
  EXPECT_EQ(0, ZARN_StrToBin("zz12G1", data));
  EXPECT_EQ(0x00, data[0]);
  EXPECT_EQ(0x12, data[1]);
  EXPECT_EQ(0x00, data[2]);
  // 500 characters are converted.
  std::string full(500, 'e');
  uint8_t big[250];
  EXPECT_EQ(0, ZARN_StrToBin(full.c_str(), big));
  EXPECT_EQ(0xEE, big[249]);
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_StrToBin(nullptr, data));
}

}  // namespace
}  // namespace zarn
