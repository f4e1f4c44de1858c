// Key extraction, filling and comparison over row images, built on
// hand-made column records so that no dump is involved.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dbc/dict/dd.h"
#include "platform/numbers.h"

namespace {

DD_COLUMN Col(const char *name, int type, int offset, int length, int depth = 1) {
  DD_COLUMN c{};
  std::snprintf(c.name, sizeof c.name, "exrow010.%s", name);
  c.type = static_cast<uint8_t>(type);
  c.offset = static_cast<uint16_t>(offset);
  c.length = static_cast<uint16_t>(length);
  c.depth = static_cast<uint8_t>(depth);
  if (depth > 1) c.flags |= DDF_ARRAY;
  return c;
}

struct TypeCase {
  const char *what;
  DD_COLUMN column;
  std::vector<unsigned char> smaller;
  std::vector<unsigned char> larger;
};

std::vector<unsigned char> F4(double v) {
  std::vector<unsigned char> b(4);
  float_in(v, b.data());
  return b;
}

std::vector<unsigned char> F8(double v) {
  std::vector<unsigned char> b(8);
  double_in(v, b.data());
  return b;
}

class CompareByType : public ::testing::TestWithParam<TypeCase> {};

// Every type compared as its stored form says: signed integers big-endian,
// unsigned bytes, reals numerically, texts and raw bytes by their bytes.
TEST_P(CompareByType, PackedAndRowOrderAgree) {
  const TypeCase &tc = GetParam();
  DD_COLUMN lead = Col("lead", DDT_SHORT, 0, 2);
  DD_COLUMN part = tc.column;
  part.offset = 2;
  DD_COLUMN *parts[] = {&lead, &part, nullptr};
  DD_KEY key{parts, 1, 0, 0};

  const size_t row_len = 2 + part.length;
  std::vector<unsigned char> a(row_len, 0), b(row_len, 0);
  a[1] = b[1] = 7;  // equal leading part
  std::memcpy(a.data() + 2, tc.smaller.data(), tc.smaller.size());
  std::memcpy(b.data() + 2, tc.larger.data(), tc.larger.size());

  std::vector<unsigned char> ka(row_len), kb(row_len);
  EXPECT_EQ(zdb_extract_key(ka.data(), a.data(), &key), ka.data() + row_len);
  zdb_extract_key(kb.data(), b.data(), &key);
  EXPECT_EQ(zdb_compare_key(ka.data(), kb.data(), &key), -1) << tc.what;
  EXPECT_EQ(zdb_compare_key(kb.data(), ka.data(), &key), 1) << tc.what;
  EXPECT_EQ(zdb_compare_key(ka.data(), ka.data(), &key), 0) << tc.what;
  EXPECT_EQ(zdb_compare_key_in_row(a.data(), b.data(), &key), -1) << tc.what;
  EXPECT_EQ(compare_column(b.data(), a.data(), &part), 1) << tc.what;
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, CompareByType,
    ::testing::Values(
        TypeCase{"byte unsigned", Col("b", DDT_BYTE, 0, 1), {0x7F}, {0x80}},
        TypeCase{"enum unsigned", Col("e", DDT_ENUM, 0, 1), {0x01}, {0xFF}},
        TypeCase{"short signed", Col("i", DDT_SHORT, 0, 2), {0x80, 0x00}, {0x7F, 0xFF}},
        TypeCase{"long signed", Col("l", DDT_LONG, 0, 4), {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 1}},
        TypeCase{"date", Col("t", DDT_DATE, 0, 4), {0, 0, 1, 0}, {0, 1, 0, 0}},
        TypeCase{"time", Col("k", DDT_TIME, 0, 4), {0x80, 0, 0, 0}, {0, 0, 0, 0}},
        TypeCase{"u", Col("u", DDT_LONG_U, 0, 4), {0, 0, 0, 2}, {0, 0, 0, 3}},
        TypeCase{"v", Col("v", DDT_LONG_V, 0, 4), {0, 0, 0, 2}, {0, 0, 1, 0}},
        TypeCase{"set signed", Col("p", DDT_SET, 0, 4), {0x80, 0, 0, 0}, {0, 0, 0, 1}},
        TypeCase{"float", Col("f", DDT_FLOAT, 0, 4), F4(-2.5), F4(1.25)},
        TypeCase{"double", Col("d", DDT_DOUBLE, 0, 8), F8(1e10), F8(1e11)},
        TypeCase{"string", Col("s", DDT_STRING, 0, 4), {'a', 'b', ' ', ' '}, {'a', 'c', ' ', ' '}},
        TypeCase{"mbstring", Col("m", DDT_MBSTRING, 0, 3), {'x', 'y', 'y'}, {'x', 'y', 'z'}},
        TypeCase{"raw unsigned", Col("r", DDT_RAW, 0, 2), {0x00, 0x7F}, {0x00, 0x80}},
        TypeCase{"array second element", Col("a", DDT_SHORT, 0, 6, 3), {0, 1, 0, 1, 0, 9},
                 {0, 1, 0, 2, 0, 0}}),
    [](const auto &info) {
      std::string n = info.param.what;
      for (char &c : n)
        if (c == ' ') c = '_';
      return n;
    });

TEST(RowImage, CombinedColumnStandsForItsMembers) {
  DD_COLUMN a = Col("a", DDT_LONG, 10, 4);
  DD_COLUMN b = Col("b", DDT_STRING, 0, 3);
  DD_COLUMN *members[] = {&a, &b, nullptr};
  DD_COLUMN comb = Col("ab", DDT_COMBINED, 10, 7);
  comb.members = members;
  DD_COLUMN c = Col("c", DDT_BYTE, 14, 1);
  DD_COLUMN *parts[] = {&comb, &c, nullptr};
  DD_KEY key{parts, 1, 0, 0};

  std::vector<unsigned char> row(16, 0);
  std::memcpy(row.data(), "xyz", 3);
  row[13] = 5;
  row[14] = 0xAA;
  unsigned char buf[16] = {};
  ASSERT_EQ(zdb_extract_key(buf, row.data(), &key), buf + 8);
  const unsigned char expected[] = {0, 0, 0, 5, 'x', 'y', 'z', 0xAA};
  EXPECT_EQ(0, std::memcmp(buf, expected, 8));
  EXPECT_EQ(_zdb_key_size(parts), 8);
  EXPECT_EQ(is_key_part(parts, &b), 1);

  std::vector<unsigned char> back(16, 0xEE);
  EXPECT_EQ(zdb_fill_key(back.data(), buf, &key), buf + 8);
  EXPECT_EQ(0, std::memcmp(back.data(), "xyz", 3));
  EXPECT_EQ(back[13], 5);
  EXPECT_EQ(back[14], 0xAA);
  EXPECT_EQ(back[3], 0xEE);  // bytes outside the key stay

  // The n-form stops after the first list entry.
  unsigned char one[16] = {};
  EXPECT_EQ(zdb_extract_n_cols(one, row.data(), parts, 1), one + 7);
}

// Extract then fill gives back the key columns of any row, and packed order
// agrees with row order.
TEST(RowImage, ExtractFillCompareRoundTripOnRandomRows) {
  DD_COLUMN i = Col("i", DDT_SHORT, 0, 2);
  DD_COLUMN s = Col("s", DDT_STRING, 2, 5);
  DD_COLUMN r = Col("r", DDT_RAW, 7, 3);
  DD_COLUMN l = Col("l", DDT_LONG, 10, 4);
  DD_COLUMN *parts[] = {&l, &i, &s, &r, nullptr};
  DD_KEY key{parts, 1, 0, 0};
  std::mt19937 rng(7);
  auto random_row = [&] {
    std::vector<unsigned char> row(14);
    for (auto &b : row) b = static_cast<unsigned char>(rng() % 4 ? rng() : 0);
    for (int k = 2; k < 7; ++k) row[k] = static_cast<unsigned char>('a' + rng() % 3);
    return row;
  };
  for (int n = 0; n < 200; ++n) {
    auto a = random_row();
    auto b = random_row();
    unsigned char ka[14], kb[14];
    zdb_extract_key(ka, a.data(), &key);
    zdb_extract_key(kb, b.data(), &key);
    std::vector<unsigned char> back(14, 0);
    zdb_fill_key(back.data(), ka, &key);
    ASSERT_EQ(back, a);
    ASSERT_EQ(zdb_compare_key(ka, kb, &key), zdb_compare_key_in_row(a.data(), b.data(), &key));
  }
}

}  // namespace
