#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/numbers.h"

namespace {

std::string hex(const unsigned char *bytes, int n) {
  std::string out(2 * static_cast<size_t>(n), '?');
  raw_to_hex(out.data(), bytes, n);
  return out;
}

struct LayoutCase {
  double value;
  const char *single;  // float_in bytes
  const char *dbl;     // double_in bytes
};

class StoredLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(StoredLayout, WritesLeastSignificantByteFirst) {
  const LayoutCase &c = GetParam();
  unsigned char f[4], d[8];
  float_in(c.value, f);
  double_in(c.value, d);
  EXPECT_EQ(c.single, hex(f, 4));
  EXPECT_EQ(c.dbl, hex(d, 8));
  EXPECT_EQ(static_cast<double>(static_cast<float>(c.value)), float_out(f));
  EXPECT_EQ(c.value, double_out(d));
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredLayout,
    testing::Values(LayoutCase{1.0, "0000803F", "000000000000F03F"},
                    LayoutCase{-2.5, "000020C0", "00000000000004C0"},
                    LayoutCase{0.1, "CDCCCC3D", "9A9999999999B93F"},
                    LayoutCase{1e32, "AEC59D74", "176E05B5B5B89346"},
                    LayoutCase{-1e32, "AEC59DF4", "176E05B5B5B893C6"},
                    LayoutCase{0.0, "00000000", "0000000000000000"}));

TEST(StoredLayout, DomainLimitDoubleHasItsBitPattern) {
  unsigned char d[8];
  double_in(-9.999999999999e75, d);
  EXPECT_EQ("A79611A7CC1BB6CF", hex(d, 8));  // bits 0xCFB61BCCA71196A7
}

TEST(StoredLayout, SingleOverflowsToInfinity) {
  unsigned char f[4];
  float_in(1e300, f);
  EXPECT_EQ("0000807F", hex(f, 4));
  float_in(-1e300, f);
  EXPECT_EQ("000080FF", hex(f, 4));
  float_in(std::numeric_limits<float>::max(), f);
  EXPECT_EQ(std::numeric_limits<float>::max(), float_out(f));
}

TEST(StoredLayout, RandomDoublesRoundTrip) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 100000; ++i) {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isnan(value)) continue;
    unsigned char d[8];
    double_in(value, d);
    ASSERT_EQ(value, double_out(d));
    for (int b = 0; b < 8; ++b) ASSERT_EQ(static_cast<unsigned char>(bits >> (8 * b)), d[b]);
  }
}

struct RoundCase {
  double value;
  unsigned char before, after;
  double expected;
};

class BRound : public testing::TestWithParam<RoundCase> {};

TEST_P(BRound, RoundsToDigitsAfterPoint) {
  const RoundCase &c = GetParam();
  const unsigned char precision[2] = {c.before, c.after};
  EXPECT_EQ(c.expected, b_round(c.value, precision)) << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Domains, BRound,
    testing::Values(RoundCase{2.675, 5, 2, 2.68}, RoundCase{-2.675, 5, 2, -2.68},
                    RoundCase{1.005, 3, 2, 1.01}, RoundCase{123.456, 5, 0, 123.0},
                    RoundCase{0.5, 1, 0, 1.0}, RoundCase{-0.5, 1, 0, -1.0},
                    RoundCase{0.004, 1, 2, 0.0}, RoundCase{0.006, 1, 2, 0.01},
                    RoundCase{99.995, 2, 2, 100.0}, RoundCase{1.23456789, 3, 4, 1.2346},
                    // unchanged: no precision, too many digits, nothing to cut
                    RoundCase{3.14159, 0, 0, 3.14159}, RoundCase{3.14159, 1, 16, 3.14159},
                    RoundCase{1e20 + 65536, 20, 2, 1e20 + 65536}, RoundCase{0.0, 3, 2, 0.0}));

TEST(BRound, LeavesNonFiniteAndNullPrecisionAlone) {
  const unsigned char precision[2] = {5, 2};
  EXPECT_TRUE(std::isnan(b_round(std::nan(""), precision)));
  EXPECT_EQ(std::numeric_limits<double>::infinity(),
            b_round(std::numeric_limits<double>::infinity(), precision));
  EXPECT_EQ(2.675, b_round(2.675, nullptr));
}

TEST(QeltAtof, ReadsDecimalPrefix) {
  struct Case {
    const char *text;
    double value;
  };
  const Case cases[] = {{"12.5", 12.5},   {"  -3e2x", -300.0}, {"+4", 4.0},  {"abc", 0.0},
                        {"", 0.0},        {".5", 0.5},         {"5.", 5.0},  {"1e-999", 0.0},
                        {"\t7,5", 7.0},   {"+-1", 0.0}};
  for (const Case &c : cases) EXPECT_EQ(c.value, qelt_atof(c.text)) << c.text;
  EXPECT_EQ(std::numeric_limits<double>::infinity(), qelt_atof("1e999"));
  EXPECT_EQ(-std::numeric_limits<double>::infinity(), qelt_atof("-1e999"));
  EXPECT_EQ(0.0, qelt_atof(nullptr));
}

TEST(Hex, ConvertsBothWays) {
  const unsigned char bytes[] = {0x00, 0xAB, 0x7F, 0xFF};
  EXPECT_EQ("00AB7FFF", hex(bytes, 4));
  unsigned char out[4] = {9, 9, 9, 9};
  EXPECT_EQ(4, hex_to_raw(out, "00ab7FfF", 8));
  EXPECT_EQ(0, std::memcmp(bytes, out, 4));
  EXPECT_EQ(2, hex_to_raw(out, "ABC", 3));
  EXPECT_EQ(0xAB, out[0]);
  EXPECT_EQ(0xC0, out[1]);
  EXPECT_EQ(-1, hex_to_raw(out, "0G", 2));
  EXPECT_EQ(0, hex_to_raw(out, "", 0));
}

std::vector<unsigned char> bytes_of(const char *hex_text) {
  std::vector<unsigned char> out(std::strlen(hex_text) / 2);
  hex_to_raw(out.data(), hex_text, static_cast<int>(std::strlen(hex_text)));
  return out;
}

struct FormatCase {
  double value;
  const char *msb, *vax, *ibm;
};

class ConvertDouble : public testing::TestWithParam<FormatCase> {};

TEST_P(ConvertDouble, MatchesKnownRepresentations) {
  const FormatCase &c = GetParam();
  const char *expected[4] = {nullptr, c.msb, c.vax, c.ibm};
  for (int to = 1; to < 4; ++to) {
    unsigned char d[8];
    double_in(c.value, d);
    al_convert_double(d, AL_DOUBLE_IEEE_LSB, to);
    EXPECT_EQ(expected[to], hex(d, 8)) << c.value << " to " << to;
    // And from that representation to every other one.
    for (int other = 0; other < 4; ++other) {
      std::vector<unsigned char> from = bytes_of(expected[to]);
      al_convert_double(from.data(), to, other);
      unsigned char reference[8];
      double_in(c.value, reference);
      if (other != 0) al_convert_double(reference, AL_DOUBLE_IEEE_LSB, other);
      EXPECT_EQ(hex(reference, 8), hex(from.data(), 8)) << to << " -> " << other;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ConvertDouble,
    testing::Values(FormatCase{1.0, "3FF0000000000000", "1040000000000000", "4110000000000000"},
                    FormatCase{-2.5, "C004000000000000", "24C0000000000000", "C128000000000000"},
                    FormatCase{0.1, "3FB999999999999A", "D93F999999999A99",
                               "401999999999999A"},
                    FormatCase{0.0, "0000000000000000", "0000000000000000", "0000000000000000"}));

TEST(ConvertDouble, RandomValuesRoundTripThroughEveryFormat) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-200, 200);
  for (int i = 0; i < 20000; ++i) {
    const double value = std::ldexp(mantissa(random), exponent(random));
    for (int via = 1; via < 4; ++via) {
      unsigned char d[8];
      double_in(value, d);
      al_convert_double(d, AL_DOUBLE_IEEE_LSB, via);
      al_convert_double(d, via, AL_DOUBLE_IEEE_LSB);
      ASSERT_EQ(value, double_out(d)) << "via " << via;
    }
  }
}

TEST(ConvertDouble, SaturatesAndIgnoresBadCodes) {
  unsigned char d[8];
  double_in(1e300, d);
  al_convert_double(d, AL_DOUBLE_IEEE_LSB, AL_DOUBLE_IBM_HEX);  // IBM tops out near 7.2e75
  EXPECT_EQ("7FFFFFFFFFFFFFFF", hex(d, 8));
  double_in(1.0, d);
  al_convert_double(d, 0, 7);
  al_convert_double(d, -1, 1);
  al_convert_double(d, 2, 2);
  EXPECT_EQ(1.0, double_out(d));
}

}  // namespace
