// The TSS character layout: walking characters, the UTF-T form and UTF-8.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/tss.h"

namespace {

std::string Tss(uint32_t cp) {
  unsigned char b[4];
  const size_t n = TssEncodeCodePoint(cp, b);
  return std::string(reinterpret_cast<char *>(b), n);
}

TEST(TssUtfT, EncodesGoldenBytes) {
  struct Case {
    uint32_t cp;
    std::string bytes;
  } cases[] = {
      {0x41, "A"},
      {0xFF, "\xFF"},
      {0x9B, "\x9B\xBC\x81\x9B"},  // the escape byte itself needs the long form
      {0xAA, "\xAA"},
      {0x100, "\x9B\xBC\x82\x80"},
      {0x3A9, "\x9B\xBC\x87\xA9"},
      {0xFFFF, "\x9B\xBF\xFF\xFF"},
      {0x10FFFF, "\x9B\xFF\xFF\xFF"},
  };
  for (const Case &c : cases) EXPECT_EQ(c.bytes, Tss(c.cp)) << std::hex << c.cp;
  unsigned char b[4];
  TssEncodeUtfT(0xAA, b);  // the long form of a 1-byte character
  EXPECT_EQ(std::string("\x9B\xBC\x81\xAA"), std::string(reinterpret_cast<char *>(b), 4));
}

TEST(TssUtfT, EveryCodePointRoundTrips) {
  for (uint32_t cp = 1; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    unsigned char b[4];
    TssEncodeUtfT(cp, b);
    ASSERT_TRUE(b[1] >= 0xBC && (b[2] & 0x80) && (b[3] & 0x80)) << std::hex << cp;
    const TssChar ch = TssDecodeChar(b, 4);
    ASSERT_EQ(4u, ch.len);
    ASSERT_EQ(static_cast<int32_t>(cp), TssCharToCodePoint(ch)) << std::hex << cp;
  }
}

TEST(TssUtfT, FourByteCharactersWithoutCodePoint) {
  const char *bad[] = {
      "\x9B\x80\x80\x80",  // below the UTF-T offset
      "\x9B\x41\x81\x81",  // a byte without the high bit
      "\x9B\xBC\x80\x80",  // U+0000
      "\x9B\xBF\xB0\x80",  // surrogate U+D800
  };
  for (const char *b : bad) {
    const TssChar ch = TssDecodeChar(reinterpret_cast<const unsigned char *>(b), 4);
    EXPECT_EQ(4u, ch.len);
    EXPECT_EQ(-1, TssCharToCodePoint(ch)) << testing::PrintToString(b);
  }
}

TEST(TssWalk, NextStopsAtEndAndOnTruncatedCharacter) {
  struct Case {
    const char *text;
    long step;  // -1: null expected
  } cases[] = {
      {"a", 1},
      {"\xFF" "b", 1},
      {"\x9B\xBC\x81\xAA" "x", 4},
      {"", -1},
      {"\x9B", -1},
      {"\x9B\xBC", -1},
      {"\x9B\xBC\x81", -1},
  };
  for (const Case &c : cases) {
    const char *next = TSSmbnext(c.text);
    if (c.step < 0) {
      EXPECT_EQ(nullptr, next) << testing::PrintToString(c.text);
    } else {
      EXPECT_EQ(c.text + c.step, next) << testing::PrintToString(c.text);
    }
  }
  EXPECT_EQ(nullptr, TSSmbnext(static_cast<const char *>(nullptr)));
}

TEST(TssWalk, LengthNeverSplitsACharacter) {
  const char *text = "ab\x9B\xBC\x81\xAA" "c";  // a, b, ª in 4 bytes, c: 7 bytes
  struct Case {
    long limit;
    long count;
  } cases[] = {{-1, 4}, {7, 4}, {100, 4}, {6, 3}, {5, 2}, {3, 2}, {2, 2}, {1, 1}, {0, 0}};
  for (const Case &c : cases) EXPECT_EQ(c.count, TSSmblen_n(text, c.limit)) << c.limit;
  EXPECT_EQ(1, TSSmblen_n("a\0b", 3));            // the 0 byte ends the text
  EXPECT_EQ(1, TSSmblen_n("a\x9B\xBC", -1));     // cut-short character not counted
  EXPECT_EQ(0, TSSmblen_n(nullptr, 5));
}

TEST(TssWalk, ChrMatchesWholeCharactersOnly) {
  const char *text = "x\x9B\xBC\x81\xAA" "y";
  EXPECT_EQ(text + 1, TssStringChr(text, "\x9B\xBC\x81\xAA"));
  EXPECT_EQ(text + 5, TssStringChr(text, "y"));
  EXPECT_EQ(nullptr, TssStringChr(text, "\xAA"));  // only a trailing byte of ª
  EXPECT_EQ(nullptr, TssStringChr(text, "\x81"));
  EXPECT_EQ(nullptr, TssStringChr(text, "\x9B\xBC\x81\xBA"));
  EXPECT_EQ(nullptr, TssStringChr(text, ""));
  EXPECT_EQ(nullptr, TssStringChr(text, "\x9B\xBC"));  // cut short
  EXPECT_EQ(nullptr, TssStringChr("\x9B\xBC\x81", "\x81"));  // cut-short text walks bytes
}

TEST(TssUtf8, ConvertsBothWays) {
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xCE\xA9 \xE6\xBC\xA2 \xF0\x9F\x98\x80";
  const std::string tss = "Gr\xFC\xDF" "e " + Tss(0x3A9) + " " + Tss(0x6F22) + " " + Tss(0x1F600);
  std::string out;
  ASSERT_TRUE(Utf8ToTss(utf8, out));
  EXPECT_EQ(tss, out);
  ASSERT_TRUE(TssToUtf8(tss, out));
  EXPECT_EQ(utf8, out);
  // U+009B arrives in UTF-8 and must take the long form.
  ASSERT_TRUE(Utf8ToTss("\xC2\x9B", out));
  EXPECT_EQ(Tss(0x9B), out);
}

TEST(TssUtf8, RefusesWhatCannotBeConverted) {
  const char *bad_utf8[] = {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "a\xE6\xBC"};
  char out[64];
  for (const char *b : bad_utf8) {
    EXPECT_EQ(TSS_CONV_UNCONVERTIBLE, Utf8ToTss(b, -1, out, sizeof out)) << testing::PrintToString(b);
  }
  EXPECT_EQ(TSS_CONV_UNCONVERTIBLE, Utf8ToTss("a\0b", 3, out, sizeof out));
  const char *bad_tss[] = {"a\x9B", "\x9B\x80\x80\x80", "\x9B\xBF\xB0\x80"};
  for (const char *b : bad_tss) {
    EXPECT_EQ(TSS_CONV_UNCONVERTIBLE, TssToUtf8(b, -1, out, sizeof out)) << testing::PrintToString(b);
  }
}

TEST(TssUtf8, ReportsTooSmallTargetWithoutOverrun) {
  char out[4];
  EXPECT_EQ(3, TssToUtf8("abc", -1, out, 4));
  EXPECT_EQ(TSS_CONV_TOO_SMALL, TssToUtf8("abcd", -1, out, 4));
  EXPECT_EQ(TSS_CONV_TOO_SMALL, TssToUtf8("\xE9\xE9", -1, out, 4));  // 2 x 2 bytes + terminator
  EXPECT_EQ(TSS_CONV_TOO_SMALL, Utf8ToTss("\xCE\xA9", -1, out, 4));  // 4 bytes + terminator
  EXPECT_EQ(2, TssToUtf8("abcd", 2, out, 4));
  EXPECT_STREQ("ab", out);
}

TEST(TssUtf8, RandomTextsRoundTrip) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<uint32_t> pick(0, 3), low(1, 0xFF), any(1, 0x10FFFF);
  for (int round = 0; round < 2000; ++round) {
    std::string tss;
    for (int i = 0; i < 12; ++i) {
      uint32_t cp = pick(rng) == 0 ? any(rng) : low(rng);
      if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0x20;
      tss += Tss(cp);
    }
    std::string utf8, back;
    ASSERT_TRUE(TssToUtf8(tss, utf8));
    ASSERT_TRUE(Utf8ToTss(utf8, back));
    ASSERT_EQ(tss, back);
    ASSERT_EQ(12, TSSmblen_n(tss.c_str(), -1));
  }
}

}  // namespace
