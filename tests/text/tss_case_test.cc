// Letter case of TSS characters: the ISO 8859-1 table and ICU for 4-byte
// characters in the UTF-T mode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <unicode/uchar.h>

#include "text/tss.h"

namespace {

void UseMode(int mode) {
  setenv("TSS_MODE", mode == 2 ? "2" : "1", 1);
  TssReloadSettings();
}

std::string Long(uint32_t cp) {
  unsigned char b[4];
  TssEncodeUtfT(cp, b);
  return std::string(reinterpret_cast<char *>(b), 4);
}

// ICU's case properties and simple mappings serve as the independent oracle
// for the 1-byte table: ISO 8859-1 is the first 256 code points.
TEST(TssCase, OneByteTableAgreesWithUnicode) {
  UseMode(1);
  for (int b = 1; b < 256; ++b) {
    if (b == TSS_ESCAPE) continue;
    const char ch[2] = {static_cast<char>(b), 0};
    EXPECT_EQ(u_isULowercase(b) != 0, TssIsLower(ch) != 0) << std::hex << b;
    EXPECT_EQ(u_isUUppercase(b) != 0, TssIsUpper(ch) != 0) << std::hex << b;
    const UChar32 up = u_toupper(b), low = u_tolower(b);
    EXPECT_EQ(up <= 0xFF ? up : b, TssIsoToUpper(b)) << std::hex << b;
    EXPECT_EQ(low <= 0xFF ? low : b, TssIsoToLower(b)) << std::hex << b;
  }
}

TEST(TssCase, FiveLowerCaseLettersWithoutUpperCase) {
  for (int b : {0xAA, 0xBA, 0xB5, 0xDF, 0xFF}) {
    const char ch[2] = {static_cast<char>(b), 0};
    EXPECT_TRUE(TssIsLower(ch)) << std::hex << b;
    EXPECT_FALSE(TssIsUpper(ch)) << std::hex << b;
    EXPECT_EQ(b, TssIsoToUpper(b)) << std::hex << b;
  }
  EXPECT_EQ(0xE0, TssIsoToLower(0xC0));
  EXPECT_EQ(0xD7, TssIsoToLower(0xD7));  // multiplication sign
  EXPECT_EQ(0xDF, TssIsoToLower(0xDF));
  EXPECT_EQ('a', TssIsoToLower(static_cast<char>('A')));
  EXPECT_EQ(0xFE, TssIsoToLower(static_cast<char>(0xDE)));  // a signed char argument
}

TEST(TssCase, ConvertsInPlaceWithinTheLimit) {
  UseMode(1);
  struct Case {
    std::string in;
    long n;
    int flag;
    std::string out;
  } cases[] = {
      {"Gr\xFC\xDF" "e \xE0\xFF\xB5\xAA\xF0", -1, 1, "GR\xDC\xDF" "E \xC0\xFF\xB5\xAA\xD0"},
      {"ABC \xC6\xD7\xDE", -1, 0, "abc \xE6\xD7\xFE"},
      {"abcdef", 3, 1, "ABCdef"},
      {std::string("ab\0cd", 5), 5, 1, std::string("AB\0cd", 5)},  // the 0 byte ends the text
      {"a" + Long(0x3C9) + "b", -1, 1, "A" + Long(0x3C9) + "B"},  // classic: 4-byte unchanged
  };
  for (Case &c : cases) {
    EXPECT_EQ(c.in.data(), TssStringConvertCase(c.in.data(), c.n, c.flag));
    EXPECT_EQ(c.out, c.in);
  }
}

TEST(TssCase, FourByteCharactersUseIcuInUtfTMode) {
  UseMode(2);
  const std::string omega = Long(0x3C9), OMEGA = Long(0x3A9), han = Long(0x6F22);
  EXPECT_TRUE(TssIsLower(omega.c_str()));
  EXPECT_TRUE(TssIsUpper(OMEGA.c_str()));
  EXPECT_FALSE(TssIsLower(han.c_str()) || TssIsUpper(han.c_str()));
  // The long forms of the ordinal indicators are lower case as well.
  EXPECT_TRUE(TssIsLower("\x9B\xBC\x81\xAA"));
  EXPECT_TRUE(TssIsLower("\x9B\xBC\x81\xBA"));
  EXPECT_FALSE(TssIsLower("\x9B\xBC\x81"));  // cut short

  std::string text = "x" + omega + Long(0xFF) + "\xE9";
  TssStringConvertCase(text.data(), -1, 1);
  // ÿ in its long form becomes Ÿ (U+0178), which has no 1-byte form.
  EXPECT_EQ("X" + OMEGA + Long(0x178) + "\xC9", text);
  TssStringConvertCase(text.data(), -1, 0);
  EXPECT_EQ("x" + omega + Long(0xFF) + "\xE9", text);

  std::string cut = "a" + OMEGA;  // the limit cuts the 4-byte character
  TssStringConvertCase(cut.data(), 3, 0);
  EXPECT_EQ("a" + OMEGA, cut);
}

TEST(TssCase, FourByteCharactersHaveNoCaseInClassicMode) {
  UseMode(1);
  EXPECT_FALSE(TssIsLower(Long(0x3C9).c_str()));
  EXPECT_FALSE(TssIsUpper(Long(0x3A9).c_str()));
}

}  // namespace
