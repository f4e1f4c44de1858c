// The DD_INFO_TABLE description of fixture tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <molvane/platform.h>

#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/request/request_payloads.h"
#include "platform/mal.h"
#include "support/test_env.h"

namespace {

// Reads back what the writer wrote.
class Cursor {
 public:
  explicit Cursor(std::vector<std::uint8_t> b) : b_(std::move(b)) {}
  std::uint8_t u8() { return b_.at(at_++); }
  std::uint16_t u16() { std::uint16_t v = static_cast<std::uint16_t>(u8() << 8); return v | u8(); }
  std::string text() {
    std::string s;
    while (char c = static_cast<char>(u8())) s += c;
    return s;
  }
  std::string raw(std::size_t n) {
    std::string s(b_.begin() + static_cast<long>(at_), b_.begin() + static_cast<long>(at_ + n));
    at_ += n;
    return s;
  }
  bool done() const { return at_ == b_.size(); }

 private:
  std::vector<std::uint8_t> b_;
  std::size_t at_ = 0;
};

// Combined columns with members, in the table's column order (index
// columns _index<n> are combined columns too).
int CombinedCount(const DD_TABLE *table) {
  int n = 0;
  for (int i = 0; i < table->column_count; ++i)
    if (table->columns[i].type == DDT_COMBINED && table->columns[i].members != nullptr &&
        table->columns[i].members[0] != nullptr)
      ++n;
  return n;
}

std::vector<std::uint8_t> Describe(const DD_TABLE *table, std::uint16_t compnr) {
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  EXPECT_EQ(dbc_write_dd_info(out, table, compnr), 0);
  sflush(out);
  std::size_t n = 0;
  const unsigned char *p = stream_bytes(out, &n);
  std::vector<std::uint8_t> bytes(p, p + n);
  sclose(out);
  return bytes;
}

class DdInfo : public testing::Test {
 protected:
  void SetUp() override {
    set_zuv(molvane::test::FixturePath("zuv").c_str());
    init_local_dd();
  }
};

TEST_F(DdInfo, ColumnsInRowOrderWithKeysAndReferenceKinds) {
  const DD_TABLE *table = ddtable("exdep010");
  ASSERT_NE(table, nullptr);
  DD_COLUMN **sorted = sort_columns_by_offset(table, nullptr);
  int stored = get_nr_columns(sorted);

  Cursor c(Describe(table, 7));
  EXPECT_EQ(c.raw(9), std::string("exdep010", 9));
  EXPECT_EQ(c.u16(), stored);
  int combined = c.u16();
  EXPECT_EQ(combined, CombinedCount(table));
  EXPECT_EQ(c.u16(), table->key_count);
  EXPECT_EQ(c.u16(), 0);  // group words
  EXPECT_EQ(c.u16(), 7);  // company number
  std::uint16_t referencing = c.u16();
  EXPECT_GT(referencing, 0);
  EXPECT_LT(referencing, table->refby_count);  // the counted reference is not sent
  EXPECT_EQ(c.u16(), 0);  // the table references nothing
  EXPECT_EQ(c.u16(), 3);  // counted update and delete references reach the key
  for (int i = 0; i < stored; ++i) {
    SCOPED_TRACE(sorted[i]->name);
    EXPECT_EQ(c.text(), std::string(std::strchr(sorted[i]->name, '.') + 1));
    EXPECT_EQ(c.u16(), sorted[i]->length);
    EXPECT_EQ(c.u16(), sorted[i]->offset);
    EXPECT_EQ(c.u8(), sorted[i]->type);
    EXPECT_EQ(c.u8(), sorted[i]->flags);
    EXPECT_EQ(c.u8(), sorted[i]->depth);
    c.raw(2);
  }
  for (int i = 0; i < combined; ++i) {
    c.text();
    int members = c.u16();
    for (int m = 0; m < members; ++m) EXPECT_LT(c.u16(), stored);
  }
  // Key 1 on code: index 1, unique, one column at the position of code.
  EXPECT_EQ(c.u8(), 1);
  EXPECT_EQ(c.u8(), 0);
  c.u8();
  ASSERT_EQ(c.u16(), 1);
  EXPECT_STREQ(sorted[c.u16()]->name, "exdep010.code");
  EXPECT_EQ(c.u8(), 2);
  EXPECT_EQ(c.u8(), 1);  // duplicates allowed
  c.u8();
  ASSERT_EQ(c.u16(), 1);
  EXPECT_STREQ(sorted[c.u16()]->name, "exdep010.name");
  for (int i = 0; i < referencing; ++i) {
    EXPECT_EQ(c.text().rfind("exemp010.", 0), 0u);
    c.u16();
  }
  EXPECT_TRUE(c.done());
  mal_free(sorted);
}

TEST_F(DdInfo, CombinedColumnAndReferencesOfTheTable) {
  const DD_TABLE *table = ddtable("exemp010");
  ASSERT_NE(table, nullptr);
  DD_COLUMN **sorted = sort_columns_by_offset(table, nullptr);
  Cursor c(Describe(table, 1));
  c.raw(9);
  int stored = c.u16();
  int combined = c.u16();
  EXPECT_EQ(combined, CombinedCount(table));
  c.u16();
  c.u16();
  c.u16();
  EXPECT_EQ(c.u16(), 0);
  EXPECT_EQ(c.u16(), table->ref_count);
  c.u16();
  for (int i = 0; i < stored; ++i) {
    c.text();
    c.raw(9);
  }
  bool seen = false;
  for (int i = 0; i < combined; ++i) {
    std::string name = c.text();
    std::vector<std::string> members(c.u16());
    for (std::string &m : members) m = sorted[c.u16()]->name;
    if (name == "ident") {
      seen = true;
      EXPECT_EQ(members, (std::vector<std::string>{"exemp010.emp", "exemp010.name"}));
    }
  }
  EXPECT_TRUE(seen);
  mal_free(sorted);
}

TEST_F(DdInfo, NewDictionaryNamesBeginUpperCase) {
  init_dd_mode(3);
  const DD_TABLE *table = ddtable("exdep010");
  ASSERT_NE(table, nullptr);
  Cursor c(Describe(table, 0));
  EXPECT_EQ(c.raw(9), std::string("Exdep010", 9));
  init_dd_mode(1);
}

}  // namespace
