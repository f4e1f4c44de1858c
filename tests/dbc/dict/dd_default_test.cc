// Defaults written into a row image in each column type's stored form.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dbc/dict/dd.h"
#include "platform/numbers.h"

namespace {

DD_COLUMN Col(int type, int length, int depth = 1) {
  DD_COLUMN c{};
  std::strcpy(c.name, "exdef010.col");
  c.type = static_cast<uint8_t>(type);
  c.offset = 1;  // the byte before the column must stay untouched
  c.length = static_cast<uint16_t>(length);
  c.depth = static_cast<uint8_t>(depth);
  if (depth > 1) c.flags |= DDF_ARRAY;
  return c;
}

struct DefaultCase {
  const char *what;
  DD_COLUMN column;
  const char *text;
  std::vector<unsigned char> bytes;
};

class FillDefault : public ::testing::TestWithParam<DefaultCase> {};

TEST_P(FillDefault, WritesStoredForm) {
  const DefaultCase &tc = GetParam();
  std::vector<unsigned char> row(tc.bytes.size() + 2, 0xEE);
  fill_default(&tc.column, row.data(), tc.text);
  EXPECT_EQ(row.front(), 0xEE);
  EXPECT_EQ(row.back(), 0xEE);
  EXPECT_EQ(std::vector<unsigned char>(row.begin() + 1, row.end() - 1), tc.bytes) << tc.what;
}

std::vector<unsigned char> Float(double v) {
  std::vector<unsigned char> b(4);
  float_in(v, b.data());
  return b;
}

std::vector<unsigned char> Double(double v) {
  std::vector<unsigned char> b(8);
  double_in(v, b.data());
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, FillDefault,
    ::testing::Values(
        DefaultCase{"byte", Col(DDT_BYTE, 1), "200", {200}},
        DefaultCase{"enum", Col(DDT_ENUM, 1), "3", {3}},
        DefaultCase{"short", Col(DDT_SHORT, 2), "12", {0x00, 0x0C}},
        DefaultCase{"short negative", Col(DDT_SHORT, 2), "-2", {0xFF, 0xFE}},
        DefaultCase{"long", Col(DDT_LONG, 4), "258", {0, 0, 1, 2}},
        DefaultCase{"v", Col(DDT_LONG_V, 4), "12", {0, 0, 0, 0x0C}},
        DefaultCase{"v array", Col(DDT_LONG_V, 8, 2), "12", {0, 0, 0, 0x0C, 0, 0, 0, 0x0C}},
        DefaultCase{"date", Col(DDT_DATE, 4), "738000", {0x00, 0x0B, 0x42, 0xD0}},
        DefaultCase{"set", Col(DDT_SET, 4), "5", {0, 0, 0, 5}},
        DefaultCase{"empty number", Col(DDT_LONG, 4), "", {0, 0, 0, 0}},
        DefaultCase{"float", Col(DDT_FLOAT, 4), "1000.5", Float(1000.5)},
        DefaultCase{"double", Col(DDT_DOUBLE, 8), "2500.75", Double(2500.75)},
        DefaultCase{"string padded", Col(DDT_STRING, 5), "ab", {'a', 'b', ' ', ' ', ' '}},
        DefaultCase{"string cut", Col(DDT_STRING, 2), "abc", {'a', 'b'}},
        DefaultCase{"string empty", Col(DDT_STRING, 3), "", {' ', ' ', ' '}},
        DefaultCase{"string array", Col(DDT_STRING, 4, 2), "x", {'x', ' ', 'x', ' '}},
        DefaultCase{"mbstring keeps 4-byte character whole", Col(DDT_MBSTRING, 4),
                    "a\x9B\x41\x42\x43", {'a', ' ', ' ', ' '}},
        DefaultCase{"raw", Col(DDT_RAW, 3), "41", {0x41, 0x00, 0x00}},
        DefaultCase{"raw array", Col(DDT_RAW, 4, 2), "FF7f", {0xFF, 0x7F, 0xFF, 0x7F}},
        DefaultCase{"raw empty", Col(DDT_RAW, 2), "", {0, 0}}),
    [](const auto &info) {
      std::string n = info.param.what;
      for (char &c : n)
        if (c == ' ' || c == '-') c = '_';
      return n;
    });

TEST(FillDefault, UnknownTypeWritesNothing) {
  DD_COLUMN c = Col(0, 2);
  std::vector<unsigned char> row(4, 0xEE);
  fill_default(&c, row.data(), "12");
  EXPECT_EQ(row, std::vector<unsigned char>(4, 0xEE));
}

}  // namespace
