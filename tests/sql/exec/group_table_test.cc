#include "sql/exec/group_table.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace molvane::test {
namespace {

// A table of two-key groups with one accumulator, and the rows' key cells.
class GroupTableTest : public ::testing::Test {
 protected:
  SQLGroupTable table_{2, 1};
  SQLValueStore first_, second_;
  SQLValueStore const *keys_[2] = {&first_, &second_};
  SQLGroupTable::Cell zero_{SQLGroupTable::Cell::kInteger, 0, 0.0};

  // The group of the current keys, made when new.
  int GroupOf() {
    std::uint64_t hash = SQLGroupTable::Hash(keys_, 2);
    int g = table_.Find(keys_, hash);
    return g >= 0 ? g : table_.Add(keys_, hash, &zero_);
  }
};

TEST_F(GroupTableTest, NumbersOfDifferentTypesOrNullsShareTheirGroup) {
  second_.SetString("a");
  first_.SetInteger(5);
  int five = GroupOf();
  first_.SetReal(5.0);
  EXPECT_EQ(GroupOf(), five);
  first_.SetReal(5.5);
  int other = GroupOf();
  EXPECT_NE(other, five);
  first_.SetInteger(0);
  first_.SetNull();
  int null = GroupOf();
  EXPECT_NE(null, five);
  first_.SetReal(0.0);
  first_.SetNull();
  EXPECT_EQ(GroupOf(), null);
  // The first key equal, the second not: another group.
  first_.SetInteger(5);
  second_.SetString("b");
  EXPECT_NE(GroupOf(), five);
  // Trailing blanks do not count.
  second_.SetString("a  ");
  EXPECT_EQ(GroupOf(), five);
  EXPECT_EQ(table_.GetSize(), 4);
}

// Random keys of mixed types, through several rehashes and a Clear: the
// table must group exactly as SQLKeyValuesEqual does.
TEST_F(GroupTableTest, GroupsAsTheKeyEqualityDoesOverRandomMixedKeys) {
  std::mt19937 random(7);
  for (int round = 0; round < 2; ++round) {
    table_.Clear();
    std::vector<std::pair<SQLValueStore, SQLValueStore>> seen;
    for (int row = 0; row < 5000; ++row) {
      int value = static_cast<int>(random() % 300);
      switch (random() % 4) {
        case 0: first_.SetInteger(value); break;
        case 1: first_.SetReal(value / 2.0); break;
        case 2: first_.SetInteger(value); first_.SetNull(); break;
        default: first_.SetReal(-static_cast<double>(value % 3)); break;  // -0.0 among them
      }
      second_.SetString(std::string(random() % 2 ? "x" : "y").c_str());
      int expected = -1;
      for (std::size_t g = 0; g < seen.size() && expected < 0; ++g)
        if (SQLKeyValuesEqual(&first_, &seen[g].first) && SQLKeyValuesEqual(&second_, &seen[g].second))
          expected = static_cast<int>(g);
      if (expected < 0) {
        expected = static_cast<int>(seen.size());
        seen.emplace_back(first_, second_);
      }
      ASSERT_EQ(GroupOf(), expected) << "row " << row;
    }
    EXPECT_EQ(table_.GetSize(), static_cast<int>(seen.size()));
  }
}

TEST(GroupTable, KeepsKeysAndAccumulatorCellsPerGroupAndReadsThemAsValues) {
  using Cell = SQLGroupTable::Cell;
  SQLGroupTable table(1, 3);
  SQLValueStore key;
  SQLValueStore const *keys[1] = {&key};
  Cell const initial[3] = {{Cell::kInteger, 0, 0.0}, {Cell::kNull, 0, 0.0}, {Cell::kNull, 0, 0.0}};
  for (int round = 0; round < 2; ++round) {
    table.Clear();
    for (int i = 0; i < 200; ++i) {
      key.SetInteger(i * 7);
      ASSERT_EQ(table.Add(keys, SQLGroupTable::Hash(keys, 1), initial), i);
      Cell *cells = table.GetAccumulators(i);
      cells[0].integer = i;
      if (i % 2) {
        int n = table.NewStore();
        table.GetStore(n)->SetString(("s" + std::to_string(i)).c_str());
        cells[2] = Cell{Cell::kStore, n, 0.0};
      } else {
        cells[2] = Cell{Cell::kReal, 0, i / 4.0};
      }
    }
    SQLValueStore value;
    for (int i = 0; i < 200; ++i) {
      key.SetInteger(i * 7);
      ASSERT_EQ(table.Find(keys, SQLGroupTable::Hash(keys, 1)), i);
      EXPECT_EQ(table.GetKeys(i)[0].GetInteger(), i * 7);
      Cell const *cells = table.GetAccumulators(i);
      table.Read(cells[0], SQL_INTEGER, &value);
      EXPECT_EQ(value.GetInteger(), i);
      table.Read(cells[1], SQL_REAL, &value);
      EXPECT_TRUE(value.IsNull());
      EXPECT_EQ(value.GetType(), SQL_REAL);
      table.Read(cells[2], SQL_STRING, &value);
      if (i % 2)
        EXPECT_STREQ(value.GetString(), ("s" + std::to_string(i)).c_str());
      else
        EXPECT_EQ(value.GetReal(), i / 4.0);
    }
    key.SetInteger(3);
    EXPECT_EQ(table.Find(keys, SQLGroupTable::Hash(keys, 1)), -1);
  }
}

}  // namespace
}  // namespace molvane::test
