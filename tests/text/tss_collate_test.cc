// Comparison of TSS strings: blank padding, byte order in the classic mode,
// the ICU-based collation in the UTF-T mode, and the lowest and highest
// fillers of TssStringSetUltim.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "text/log_capture.h"
#include "text/tss.h"
#include "text/tss_collate.h"

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

std::string Tss(uint32_t cp) {
  unsigned char b[4];
  return std::string(reinterpret_cast<char *>(b), TssEncodeCodePoint(cp, b));
}

int Pad(const std::string &a, const std::string &b) {
  return TssStringNNCmpWithPadding(a.c_str(), b.c_str(), static_cast<long>(a.size()),
                                   static_cast<long>(b.size()));
}

int PadEq(const std::string &a, const std::string &b) {
  return TssStringNNEqualWithPadding(a.c_str(), b.c_str(), static_cast<long>(a.size()),
                                     static_cast<long>(b.size()));
}

// Random TSS text over an alphabet that stresses the padding and the
// collation: blanks, control characters, letters of both cases, accented
// letters, long forms of 1-byte characters and characters of other scripts.
std::string RandomText(std::mt19937 &rng, int max_chars) {
  static const std::vector<std::string> alphabet = {
      " ", " ", "\x01", "\x1F", "a", "A", "b", "B", "z", "\xE9", "\xC9", "\xB5", "\xFF", "0",
      "~", Long(0xE9), Long(0x3A9), Long(0x3C9), Long(0x6F22), Long(0xFFFF), Long(0x10FFFD),
      Long(0x9B), "\x9B\x80\x80\x80"};
  std::uniform_int_distribution<int> len(0, max_chars);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::string s;
  for (int n = len(rng); n > 0; --n) s += alphabet[pick(rng)];
  return s;
}

class TssPadding : public testing::TestWithParam<int> {
 protected:
  void SetUp() override { UseMode(GetParam()); }
};

// Cases whose answer is the same in both modes.
TEST_P(TssPadding, ComparesAsIfPaddedWithBlanks) {
  struct Case {
    const char *a;
    const char *b;
    long la, lb;
    int sign;
  } cases[] = {
      {"abc", "abc", -1, -1, 0},
      {"abc", "abc   ", -1, -1, 0},
      {"abc   ", "abc", -1, -1, 0},
      {"abc", "abd", -1, -1, -1},
      {"abd", "abc  ", -1, -1, 1},
      {"ab", "ab\x01", -1, -1, 1},  // a control character sorts below the blank
      {"ab\x01", "ab", -1, -1, -1},
      {"ab", "abc", -1, -1, -1},
      {"", "", -1, -1, 0},
      {"", "    ", -1, -1, 0},
      {"", "a", -1, -1, -1},
      {"a", "", -1, -1, 1},
      {"abcdef", "abcxyz", 3, 3, 0},
      {"abcdef", "abc", 4, -1, 1},
      {"abc", "abcd", 3, -1, -1},
      {"abc\0xyz", "abc", 7, 3, 0},  // the 0 byte ends the text
      {"abc", "abc\0zzz", -1, 7, 0},
      {"x", "abc", 0, -1, -1},
      {"0123456789abcdefX", "0123456789abcdefY", -1, -1, -1},  // beyond the 8-byte steps
  };
  for (const Case &c : cases) {
    const int got = TssStringNNCmpWithPadding(c.a, c.b, c.la, c.lb);
    EXPECT_EQ(c.sign, (got > 0) - (got < 0)) << c.a << " | " << c.b << " " << c.la << "," << c.lb;
    EXPECT_EQ(c.sign == 0, TssStringNNEqualWithPadding(c.a, c.b, c.la, c.lb) != 0)
        << c.a << " | " << c.b;
  }
}

TEST_P(TssPadding, EmptyTextSortsLowest) {
  for (const char *other : {"\x01", " x", "a", "\xFF", "\x9B\xBC\x81\xAA"}) {
    for (int flag : {TSS_CMP_ISO8859, TSS_CMP_NATIVE}) {
      EXPECT_LT(TssStringNCmp("", other, 10, flag), 0) << other << " flag " << flag;
      EXPECT_GT(TssStringNCmp(other, "", 10, flag), 0) << other << " flag " << flag;
      EXPECT_EQ(0, TssStringNCmp("", "", 10, flag));
    }
  }
  EXPECT_EQ(0, TssStringNCmp("abcX", "abcY", 3, TSS_CMP_NATIVE));
  EXPECT_LT(TssStringNCmp("abc", "abc ", 4, TSS_CMP_NATIVE), 0);  // no padding here
}

// A total order that agrees with equality: what sorting and grouping need.
TEST_P(TssPadding, RandomTextsAreTotallyOrdered) {
  std::mt19937 rng(GetParam() * 31 + 5);
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) texts.push_back(RandomText(rng, 6));
  for (const std::string &a : texts) {
    for (const std::string &b : texts) {
      const int ab = Pad(a, b), ba = Pad(b, a);
      ASSERT_EQ((ab > 0) - (ab < 0), -((ba > 0) - (ba < 0))) << testing::PrintToString(a);
      ASSERT_EQ(ab == 0, PadEq(a, b) != 0) << testing::PrintToString(a) << testing::PrintToString(b);
      const int n = TssStringNCmp(a.c_str(), b.c_str(), -1, TSS_CMP_NATIVE);
      ASSERT_EQ(n == 0, a == b);
    }
  }
  std::sort(texts.begin(), texts.end(),
            [](const std::string &x, const std::string &y) { return Pad(x, y) < 0; });
  for (size_t i = 0; i < texts.size(); ++i) {
    for (size_t j = i + 1; j < texts.size(); ++j) {
      ASSERT_LE(Pad(texts[i], texts[j]), 0) << testing::PrintToString(texts[i]) << " "
                                            << testing::PrintToString(texts[j]);
    }
  }
}

// The fillers bound every text of their length under both orders.
TEST_P(TssPadding, UltimBoundsEveryText) {
  std::mt19937 rng(GetParam() * 7 + 1);
  for (int option : {0, 2, 4, 6}) {
    for (long len : {1L, 3L, 4L, 9L}) {
      std::string fill(static_cast<size_t>(len), '\0');
      ASSERT_EQ(0, TssStringSetUltim(fill.data(), len, option));
      ASSERT_EQ(std::string::npos, fill.find('\0'));
      ASSERT_EQ(len, static_cast<long>(fill.size()));
      const bool lowest = (option & TSS_ULTIM_LOWEST) != 0;
      for (int i = 0; i < 300; ++i) {
        std::string text = RandomText(rng, static_cast<int>(len));
        if (option & TSS_ULTIM_SINGLE_BYTE) {  // single-byte columns hold 1-byte characters
          for (char &c : text) c = (c == '\x9B') ? 'x' : c;
        }
        text = text.substr(0, static_cast<size_t>(len));
        const int pad = Pad(fill, text);
        const int ncmp = TssStringNCmp(fill.c_str(), text.c_str(), len, TSS_CMP_NATIVE);
        if (lowest) {
          ASSERT_LE(pad, 0) << option << testing::PrintToString(text);
        } else {
          ASSERT_GE(pad, 0) << option << testing::PrintToString(text);
          ASSERT_GE(ncmp, 0) << option << testing::PrintToString(text);
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothModes, TssPadding, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int> &info) {
                           return info.param == 1 ? std::string("Classic") : std::string("UtfT");
                         });

TEST(TssCompare, ClassicModeIsByteOrder) {
  UseMode(1);
  const char *ascending[] = {"\x01", " ", "0", "B", "Z", "a", "z", "\x9B\xBC\x81\xAA", "\xC9",
                             "\xE9", "\xFF"};
  for (size_t i = 0; i + 1 < std::size(ascending); ++i) {
    EXPECT_LT(TssStringNNCmpWithPadding(ascending[i], ascending[i + 1], -1, -1), 0) << i;
    EXPECT_LT(TssStringNCmp(ascending[i], ascending[i + 1], 10, TSS_CMP_NATIVE), 0) << i;
    EXPECT_LT(TssStringNCmp(ascending[i], ascending[i + 1], 10, TSS_CMP_ISO8859), 0) << i;
  }
}

// The classic comparison decides most pairs word by word; it must give what
// the byte-order rule gives: texts end at their length or their first NUL,
// the shorter is padded with blanks, bytes compare unsigned. Random texts
// of blanks, bytes below and above a blank, NULs and 0xFF, at lengths
// around the word size, and lengths of -1 (up to the terminator).
TEST(TssCompare, ClassicModeWordByWordAgreesWithTheByteRule) {
  UseMode(1);
  auto rule = [](const std::string &a, long la, const std::string &b, long lb) {
    size_t na = la < 0 ? std::strlen(a.c_str()) : strnlen(a.c_str(), static_cast<size_t>(la));
    size_t nb = lb < 0 ? std::strlen(b.c_str()) : strnlen(b.c_str(), static_cast<size_t>(lb));
    for (size_t i = 0; i < std::max(na, nb); ++i) {
      unsigned char x = i < na ? static_cast<unsigned char>(a[i]) : ' ';
      unsigned char y = i < nb ? static_cast<unsigned char>(b[i]) : ' ';
      if (x != y) return x < y ? -1 : 1;
    }
    return 0;
  };
  const char alphabet[] = {' ', ' ', 'a', 'b', '\x01', '\xff', '\0', 'a'};
  std::mt19937 rng(3);
  for (int round = 0; round < 20000; ++round) {
    std::string a, b;
    size_t n = rng() % 40;
    for (size_t i = 0; i < n; ++i) a += alphabet[rng() % (round % 3 ? 6 : 8)];
    b = a.substr(0, rng() % (n + 1));
    for (size_t i = rng() % 12; i > 0; --i) b += alphabet[rng() % (round % 3 ? 6 : 8)];
    if (rng() % 4 == 0 && !b.empty()) b[rng() % b.size()] = alphabet[rng() % 8];
    long la = rng() % 10 == 0 ? -1 : static_cast<long>(a.size());
    long lb = rng() % 10 == 0 ? -1 : static_cast<long>(b.size());
    ASSERT_EQ(TssStringNNCmpWithPadding(a.c_str(), b.c_str(), la, lb), rule(a, la, b, lb))
        << testing::PrintToString(a) << " " << la << " / " << testing::PrintToString(b) << " " << lb;
  }
}

// The byte-order rule of the classic padded comparison, read byte by byte:
// a text ends at its length or its first NUL, the shorter is padded with
// blanks, bytes compare unsigned. Reads nothing past either length.
int ClassicByteRule(const unsigned char *a, size_t la, const unsigned char *b, size_t lb) {
  size_t na = 0, nb = 0;
  while (na < la && a[na] != 0) ++na;
  while (nb < lb && b[nb] != 0) ++nb;
  for (size_t i = 0; i < std::max(na, nb); ++i) {
    const unsigned char x = i < na ? a[i] : ' ', y = i < nb ? b[i] : ' ';
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// A text in a heap block of exactly its own size, so that AddressSanitizer
// reports any read past its last byte.
class ExactText {
 public:
  explicit ExactText(const std::vector<unsigned char> &bytes)
      : size_(bytes.size()), bytes_(std::make_unique<unsigned char[]>(bytes.size())) {
    if (size_ != 0) std::memcpy(bytes_.get(), bytes.data(), size_);
  }
  const char *data() const { return reinterpret_cast<const char *>(bytes_.get()); }
  const unsigned char *bytes() const { return bytes_.get(); }
  long size() const { return static_cast<long>(size_); }

 private:
  size_t size_;
  std::unique_ptr<unsigned char[]> bytes_;
};

// Compares a and b (exactly sized) through the inline classic comparison
// and through the general code; both must give the byte rule's answer.
::testing::AssertionResult AgreesWithTheByteRule(const std::vector<unsigned char> &x,
                                                 const std::vector<unsigned char> &y) {
  const ExactText a(x), b(y);
  const int rule = ClassicByteRule(a.bytes(), x.size(), b.bytes(), y.size());
  const int fast = TssStringNNCmpWithPadding(a.data(), b.data(), a.size(), b.size());
  const int general = TssPaddedCompareGeneral(a.data(), b.data(), a.size(), b.size());
  if (fast == rule && general == rule) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "rule " << rule << " inline " << fast << " general " << general << " for "
         << testing::PrintToString(std::string(x.begin(), x.end())) << " / "
         << testing::PrintToString(std::string(y.begin(), y.end()));
}

// The classic comparison works in blocks of 16, 8 and 4 bytes with
// overlapping tails. Every length from 0 to 90 is tried against lengths
// around it, with a single differing byte at every position (bytes below,
// at and above the blank, 0x7F/0x80 where a signed compare would go wrong,
// NULs), equal texts, and the longer text's rest of blanks with one other
// byte at every position. Buffers are exactly the texts' sizes.
TEST(TssCompare, ClassicBlocksAgreeWithTheByteRuleAtEveryLength) {
  UseMode(1);
  ASSERT_EQ(TSS_MODE_CLASSIC, TssGetMode());
  ASSERT_EQ(TSS_MODE_CLASSIC, tss_known_mode);  // the inline path runs
  // Byte pairs put at one position; a NUL there ends its text, and the
  // other text's byte is then compared with a blank.
  const unsigned char pairs[][2] = {{'a', 'b'}, {'b', 'a'},  {0x7F, 0x80}, {0x80, 0x7F}, {0xFF, 0x01},
                                    {' ', 0x1F}, {' ', '!'},  {0, 'a'},     {'a', 0},     {0, 0x1F},
                                    {0x1F, 0},   {0, ' '},    {' ', 0},     {0, 0}};
  for (size_t n = 0; n <= 90; ++n) {
    std::vector<unsigned char> base(n);
    for (size_t i = 0; i < n; ++i) base[i] = static_cast<unsigned char>("molvane TSS text"[i % 16]);
    ASSERT_TRUE(AgreesWithTheByteRule(base, base)) << n;
    for (size_t at = 0; at < n; ++at) {
      for (const auto &p : pairs) {
        std::vector<unsigned char> a = base, b = base;
        a[at] = p[0];
        b[at] = p[1];
        ASSERT_TRUE(AgreesWithTheByteRule(a, b)) << n << " at " << at;
      }
      // Both texts end at the same NUL and differ after it: equal.
      if (at + 1 < n) {
        std::vector<unsigned char> a = base, b = base;
        a[at] = b[at] = 0;
        a[at + 1] = 'x';
        b[at + 1] = 'y';
        ASSERT_TRUE(AgreesWithTheByteRule(a, b)) << n << " NUL at " << at;
      }
    }
    // The same text longer by a tail of blanks, with one other byte in it.
    for (size_t extra : {size_t{1}, size_t{3}, size_t{8}, size_t{15}, size_t{16}, size_t{17}, size_t{40}}) {
      std::vector<unsigned char> longer = base;
      longer.resize(n + extra, ' ');
      ASSERT_TRUE(AgreesWithTheByteRule(base, longer)) << n << "+" << extra;
      ASSERT_TRUE(AgreesWithTheByteRule(longer, base)) << n << "+" << extra;
      for (size_t at = n; at < n + extra; ++at) {
        for (unsigned char other : {0x00, 0x1F, 0x21, 0xFF}) {
          std::vector<unsigned char> x = longer;
          x[at] = other;
          ASSERT_TRUE(AgreesWithTheByteRule(base, x)) << n << "+" << extra << " at " << at;
          ASSERT_TRUE(AgreesWithTheByteRule(x, base)) << n << "+" << extra << " at " << at;
        }
      }
    }
  }
}

// Random pairs of lengths 0 to 90 over bytes that stress the rule (blanks,
// bytes just below and above them, NULs, 0x7F, 0x80, 0xFF), the second text
// mostly sharing a prefix of the first.
TEST(TssCompare, ClassicBlocksAgreeWithTheByteRuleOnRandomTexts) {
  UseMode(1);
  ASSERT_EQ(TSS_MODE_CLASSIC, TssGetMode());
  const unsigned char alphabet[] = {' ', ' ', ' ', 'a', 'b', 0x1F, 0x21, 0x7F, 0x80, 0xFF, 0x9B, 0};
  std::mt19937 rng(41);
  auto byte = [&](bool nul) { return alphabet[rng() % (nul ? sizeof alphabet : sizeof alphabet - 1)]; };
  for (int round = 0; round < 40000; ++round) {
    const bool nul = round % 4 == 0;
    std::vector<unsigned char> a(rng() % 91);
    for (unsigned char &c : a) c = byte(nul);
    std::vector<unsigned char> b(a.begin(), a.begin() + static_cast<long>(rng() % (a.size() + 1)));
    while (b.size() < 90 && rng() % 3 != 0) b.push_back(rng() % 2 ? ' ' : byte(nul));
    if (!b.empty() && rng() % 3 == 0) b[rng() % b.size()] = byte(nul);
    ASSERT_TRUE(AgreesWithTheByteRule(a, b)) << round;
  }
}

TEST(TssCompare, UtfTModeCollatesThroughIcu) {
  UseMode(2);
  ASSERT_EQ(0, initialize_icuwrappers());
  // Each text sorts before the next: case, accents and scripts under "root".
  const std::string ascending[] = {
      "\x01",       " ",          "0",          "9",           "a",           "A",
      "\xE1" "b",   "\xC1",       "\xE4",       "b",           "B",           "e",
      "\xE9",       Long(0xE9),   "\xC9",       "f",           "z",           "\xFE",
      Tss(0x3B1),   Tss(0x3C9),   Tss(0x3A9),   Tss(0x44F),    Tss(0x5D0),    Tss(0x6F22),
      Tss(0xFFFF)};
  for (size_t i = 0; i + 1 < std::size(ascending); ++i) {
    const std::string &x = ascending[i], &y = ascending[i + 1];
    EXPECT_LT(Pad(x, y), 0) << i << " " << testing::PrintToString(x) << testing::PrintToString(y);
    EXPECT_GT(Pad(y, x), 0) << i;
    EXPECT_LT(TssStringNCmp(x.c_str(), y.c_str(), -1, TSS_CMP_NATIVE), 0) << i;
  }
  // Character by character: the first differing character decides.
  EXPECT_GT(Pad("c\xF4te", "cotz"), 0);
  EXPECT_GT(Pad("r\xE9sum\xE9", "resz"), 0);
  // Flag 0 keeps ISO 8859 byte order in the UTF-T mode.
  EXPECT_LT(TssStringNCmp("B", "a", 1, TSS_CMP_ISO8859), 0);
  EXPECT_GT(TssStringNCmp("B", "a", 1, TSS_CMP_NATIVE), 0);
}

TEST(TssCompare, UtfTTruncatedCharacterComparesByItsBytes) {
  UseMode(2);
  const std::string cut = "ab\x9B\xBC\x81", whole = "ab" + Long(0x3A9);
  EXPECT_NE(0, Pad(cut, whole));
  EXPECT_EQ(-Pad(cut, whole), Pad(whole, cut));
  EXPECT_FALSE(PadEq(cut, whole));
  // The same bytes cut by the length compare equal.
  EXPECT_EQ(0, TssStringNNCmpWithPadding(whole.c_str(), whole.c_str(), 4, 4));
}

// Padding completes a cut-short 4-byte character with blanks, in both modes,
// so the padded comparison and the padded equality agree on it.
TEST_P(TssPadding, BlankCompletingACutShortCharacterIsEqual) {
  const std::string cut("\x9B\x01\x8F", 3), whole("\x9B\x01\x8F\x20", 4);
  EXPECT_EQ(0, Pad(cut, whole));
  EXPECT_EQ(0, Pad(whole, cut));
  EXPECT_TRUE(PadEq(cut, whole));
  EXPECT_EQ(0, Pad(cut + "  ", whole));
  EXPECT_NE(0, Pad(cut, whole + "x"));
  EXPECT_EQ(-Pad(cut, whole + "x"), Pad(whole + "x", cut));
}

// Cut-short characters next to blanks and the ends of texts, mixed at random:
// the padded comparison stays a total order that agrees with the equality.
TEST_P(TssPadding, CutShortCharactersKeepTheOrderTotal) {
  static const std::vector<std::string> pieces = {
      " ", "  ", "a", "\x01", "\x9B", "\x9B\x01", "\x9B\x01\x8F", "\x9B\xBC\x81",
      "\x9B\x01\x8F ", Long(0x3A9), Long(0x6F22), "\xFF"};
  std::mt19937 rng(GetParam() * 13 + 3);
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> count(0, 3);
  std::vector<std::string> texts;
  for (int i = 0; i < 250; ++i) {
    std::string t;
    for (int n = count(rng); n > 0; --n) t += pieces[pick(rng)];
    texts.push_back(t);
  }
  for (const std::string &a : texts) {
    for (const std::string &b : texts) {
      const int ab = Pad(a, b), ba = Pad(b, a);
      ASSERT_EQ((ab > 0) - (ab < 0), -((ba > 0) - (ba < 0)))
          << testing::PrintToString(a) << testing::PrintToString(b);
      ASSERT_EQ(ab == 0, PadEq(a, b) != 0) << testing::PrintToString(a) << testing::PrintToString(b);
    }
  }
  std::sort(texts.begin(), texts.end(),
            [](const std::string &x, const std::string &y) { return Pad(x, y) < 0; });
  for (size_t i = 0; i + 1 < texts.size(); ++i) {
    for (size_t j = i + 1; j < texts.size(); ++j) {
      ASSERT_LE(Pad(texts[i], texts[j]), 0) << testing::PrintToString(texts[i]) << " "
                                            << testing::PrintToString(texts[j]);
    }
  }
}

// Keys of 4-byte characters are kept up to a bound and the cache is emptied
// when it is reached; a comparison never holds a key across that (ASan
// reports a use after free if it does).
TEST(TssCompare, UtfTKeyCacheSurvivesBeingEmptied) {
  UseMode(2);
  int less = 0;
  for (uint32_t cp = 0x4E00; cp < 0x4E00 + 70000; ++cp) {
    const uint32_t a = cp <= 0x9FFF ? cp : 0x20000 + (cp - 0xA000);
    const std::string x = Long(a), y = Long(a + 1);
    const int c = Pad(x, y);
    ASSERT_NE(0, c) << std::hex << a;
    less += c < 0;
  }
  EXPECT_GT(less, 0);
}

TEST(TssUltim, FillsBytesPerOption) {
  UseMode(1);
  char buf[6];
  ASSERT_EQ(0, TssStringSetUltim(buf, 6, 4));
  EXPECT_EQ(std::string(6, '\x01'), std::string(buf, 6));
  ASSERT_EQ(0, TssStringSetUltim(buf, 6, 6));
  EXPECT_EQ(std::string(6, '\x01'), std::string(buf, 6));
  ASSERT_EQ(0, TssStringSetUltim(buf, 6, 0));
  EXPECT_EQ(std::string(6, '\xFF'), std::string(buf, 6));
  ASSERT_EQ(0, TssStringSetUltim(buf, 6, 2));
  EXPECT_EQ(std::string(6, '\xFF'), std::string(buf, 6));

  UseMode(2);
  ASSERT_EQ(0, TssStringSetUltim(buf, 6, 0));  // one 4-byte character, then 1-byte ones
  EXPECT_EQ(Long(0xFFFF), std::string(buf, 4));
  EXPECT_EQ(2, TSSmblen_n(buf + 4, 2));
  EXPECT_EQ(3, TSSmblen_n(buf, 6));
  ASSERT_EQ(0, TssStringSetUltim(buf, 6, 2));
  EXPECT_EQ(6, TSSmblen_n(buf, 6));
}

TEST(TssUltim, UnknownOptionIsLoggedAndChangesNothing) {
  UseMode(1);
  for (int option : {1, 3, 8, 16, -1}) {
    char buf[4] = {'a', 'b', 'c', 'd'};
    molvane::test::LogCapture log;
    EXPECT_EQ(-1, TssStringSetUltim(buf, 4, option)) << option;
    ASSERT_EQ(1u, log.messages().size()) << option;
    EXPECT_EQ('E', log.messages()[0].level);
    EXPECT_EQ("TssStringSetUltim", log.messages()[0].keyword);
    EXPECT_EQ("Unknown flag", log.messages()[0].text);
    EXPECT_EQ(std::string("abcd"), std::string(buf, 4));
  }
}

// Every character lies between the lowest and the highest of the collation.
TEST(TssUltim, UtfTBoundsHoldForEveryCodePoint) {
  UseMode(2);
  const TssChar low = TssCollationLowest(), high = TssCollationHighest(false);
  const TssChar high_byte = TssCollationHighest(true);
  for (uint32_t cp = 1; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    unsigned char b[4];
    TssEncodeUtfT(cp, b);
    const TssChar ch = TssDecodeChar(b, 4);
    ASSERT_LE(TssCollateChars(low, ch), 0) << std::hex << cp;
    ASSERT_GE(TssCollateChars(high, ch), 0) << std::hex << cp;
    if (cp < 0x100 && cp != TSS_ESCAPE) {
      const TssChar one = {cp, 1};
      ASSERT_LE(TssCollateChars(low, one), 0) << std::hex << cp;
      ASSERT_GE(TssCollateChars(high_byte, one), 0) << std::hex << cp;
    }
  }
}

}  // namespace
