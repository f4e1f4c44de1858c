#include "sql/exec/row_sorter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "sql/common/value_store.h"
#include "sql/exec/row_codec.h"
#include "sql/exec/sort_key.h"

namespace molvane::test {
namespace {

// One row: key columns, then an id column that tells the rows apart.
using Row = std::vector<SQLValueStore>;

std::vector<SQLValueStore const *> Pointers(Row const &row) {
  std::vector<SQLValueStore const *> p;
  for (SQLValueStore const &v : row) p.push_back(&v);
  return p;
}

SQLValueStore Int(int v) {
  SQLValueStore s;
  s.SetInteger(v);
  return s;
}

// Values of one key kind: NULLs, duplicates and boundary values included.
SQLValueStore MakeKey(char kind, std::mt19937 &random) {
  SQLValueStore v;
  unsigned r = random() % 12;
  switch (kind) {
    case 'i': v.SetInteger(r == 0 ? INT32_MIN : r == 1 ? INT32_MAX : static_cast<int>(random() % 9) - 4); break;
    case 't': v.SetTimestamp(r == 0 ? INT64_MAX : r == 1 ? INT64_MIN : static_cast<std::int64_t>(random() % 9) - 4); break;
    case 'r': v.SetReal(r == 0 ? -0.0 : r == 1 ? 0.0 : (static_cast<double>(random() % 9) - 4) / 3); break;
    case 's': {
      // Equal prefixes, trailing blanks and bytes below a blank.
      static char const *texts[] = {"abcdefgh", "abcdefghi", "abcdefgh  ", "abc", "abc\x01", "", " ", "zz", "abcdefgha"};
      std::string t = texts[random() % 9];
      v.SetString(reinterpret_cast<unsigned char const *>(t.data()), t.size());
      break;
    }
    case 'b': {
      static char const raws[][4] = {"\0\0\0", "\0\0", "ab", "ab\0", "\xff\xff\xff"};
      int which = static_cast<int>(random() % 5);
      v.SetRaw(reinterpret_cast<unsigned char const *>(raws[which]), which == 1 || which == 2 ? 2 : 3);
      break;
    }
    case 'a': {
      v.SetDimension(static_cast<int>(random() % 3));
      for (int i = 0; i < v.GetDimension(); ++i) {
        if (random() % 4 == 0) {
          v.GetElement(i)->SetInteger(0);
          v.GetElement(i)->SetNull();
        } else {
          v.GetElement(i)->SetInteger(static_cast<int>(random() % 3));
        }
      }
      return v;
    }
  }
  if (r == 11) v.SetNull();
  return v;
}

struct SorterCase {
  char const *name;
  std::string kinds;               // one letter a key
  std::vector<bool> descending;
  int rows;
  int cacheRows;
};

class RowSorterOrder : public ::testing::TestWithParam<SorterCase> {};

TEST_P(RowSorterOrder, MatchesAStableSortOfTheRows) {
  SorterCase const &c = GetParam();
  int keys = static_cast<int>(c.kinds.size());
  std::mt19937 random(7);
  std::vector<Row> rows;
  for (int i = 0; i < c.rows; ++i) {
    Row row;
    for (char kind : c.kinds) row.push_back(MakeKey(kind, random));
    row.push_back(Int(i));
    rows.push_back(std::move(row));
  }
  SQLRowSorter sorter(keys, c.descending, keys + 1, c.cacheRows);
  for (int pass = 0; pass < 2; ++pass) {  // a second use after Clear
    sorter.Clear();
    for (Row const &row : rows) sorter.Add(Pointers(row).data());
    sorter.Sort();

    std::vector<Row> expected = rows;
    std::stable_sort(expected.begin(), expected.end(), [&](Row const &a, Row const &b) {
      for (int k = 0; k < keys; ++k) {
        int d = SQLCompareKeyValues(&a[static_cast<size_t>(k)], &b[static_cast<size_t>(k)]);
        if (c.descending[static_cast<size_t>(k)]) d = -d;
        if (d != 0) return d < 0;
      }
      return false;
    });
    Row out(static_cast<size_t>(keys + 1));
    std::vector<SQLValueStore *> outp;
    for (SQLValueStore &v : out) outp.push_back(&v);
    for (Row const &want : expected) {
      ASSERT_TRUE(sorter.Next(outp.data()));
      ASSERT_EQ(out.back().GetInteger(), want.back().GetInteger());
      for (int k = 0; k < keys; ++k) {
        SQLValueStore const &got = out[static_cast<size_t>(k)];
        SQLValueStore const &exp = want[static_cast<size_t>(k)];
        ASSERT_EQ(got.GetType(), exp.GetType());
        ASSERT_EQ(got.IsNull(), exp.IsNull());
        if (exp.GetType() == SQL_STRING || exp.GetType() == SQL_RAW) {
          ASSERT_EQ(std::string(got.GetString(), got.GetLength()), std::string(exp.GetString(), exp.GetLength()));
        }
      }
    }
    EXPECT_FALSE(sorter.Next(outp.data()));
    if (c.cacheRows < c.rows) {
      EXPECT_GT(sorter.GetRunCount(), 1);
    } else {
      EXPECT_EQ(sorter.GetRunCount(), 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RowSorterOrder,
    ::testing::Values(SorterCase{"IntInMemory", "i", {false}, 500, 1000},
                      SorterCase{"IntDescendingSpilled", "i", {true}, 500, 7},
                      SorterCase{"IntThenTextMultiPassMerge", "is", {false, true}, 1200, 3},
                      SorterCase{"TimestampExtremes", "t", {false}, 300, 1000},
                      SorterCase{"TimestampSpilledDescending", "t", {true}, 300, 10},
                      SorterCase{"RealSignedZeros", "rb", {false, false}, 300, 1000},
                      SorterCase{"TextPrefixesSpilled", "s", {false}, 400, 9},
                      SorterCase{"TextDescending", "s", {true}, 400, 1000},
                      SorterCase{"RawShorterFirst", "b", {false}, 200, 1000},
                      SorterCase{"ArraysThenInt", "ai", {false, true}, 300, 5},
                      SorterCase{"NoRows", "i", {false}, 0, 5}),
    [](::testing::TestParamInfo<SorterCase> const &info) { return info.param.name; });

TEST(RowSorter, SpilledMemoryStaysBoundedWhateverTheRowCount) {
  SQLRowSorter sorter(1, {false}, 2, 50);
  std::vector<std::size_t> peaks;
  for (int n : {20000, 80000}) {
    sorter.Clear();
    std::mt19937 random(3);
    Row row{Int(0), Int(0)};
    for (int i = 0; i < n; ++i) {
      row[0].SetInteger(static_cast<int>(random() % 1000));
      row[1].SetInteger(i);
      sorter.Add(Pointers(row).data());
    }
    sorter.Sort();
    peaks.push_back(sorter.GetPeakBytes());
    Row out(2);
    SQLValueStore *outp[] = {&out[0], &out[1]};
    int count = 0, last = -1;
    while (sorter.Next(outp)) {
      ASSERT_LE(last, out[0].GetInteger());
      last = out[0].GetInteger();
      ++count;
    }
    EXPECT_EQ(count, n);
  }
  EXPECT_EQ(peaks[0], peaks[1]);
  EXPECT_LT(peaks[1], std::size_t{2} << 20);
}

TEST(RowCodec, RecordsGiveBackTypeNullFlagAndValue) {
  std::vector<SQLValueStore> values(9);
  values[0].SetInteger(-5);
  values[1].SetDate(730000);
  values[1].SetNull();  // a NULL keeps its type
  values[2].SetIntervalDays(3);
  values[3].SetTimestamp(-1);
  values[4].SetIntervalSeconds(1LL << 40);
  values[5].SetReal(2.5);
  std::string long_text(300, 'q');
  values[6].SetString(reinterpret_cast<unsigned char const *>(long_text.data()), long_text.size());
  values[7].SetRaw(reinterpret_cast<unsigned char const *>("\0a\0"), 3);
  values[8].SetDimension(2);
  values[8].GetElement(0)->SetString("x");
  values[8].GetElement(1)->SetString("");
  values[8].GetElement(1)->SetNull();
  std::vector<SQLValueStore const *> in;
  for (SQLValueStore const &v : values) in.push_back(&v);
  std::vector<unsigned char> record;
  sql_row_codec::Append(in.data(), 9, &record);
  ASSERT_EQ(record.size(), sql_row_codec::Size(in.data(), 9));
  EXPECT_EQ(sql_row_codec::Skip(record.data(), 9), record.data() + record.size());

  std::vector<SQLValueStore> back(9);
  std::vector<SQLValueStore *> out;
  for (SQLValueStore &v : back) out.push_back(&v);
  EXPECT_EQ(sql_row_codec::Get(record.data(), 9, out.data()), record.data() + record.size());
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(back[i].GetType(), values[i].GetType());
    EXPECT_EQ(back[i].IsNull(), values[i].IsNull());
  }
  EXPECT_EQ(back[0].GetInteger(), -5);
  EXPECT_EQ(back[1].GetDate(), 730000);
  EXPECT_EQ(back[4].GetIntervalSeconds(), 1LL << 40);
  EXPECT_EQ(back[5].GetReal(), 2.5);
  EXPECT_EQ(std::string(back[6].GetString(), back[6].GetLength()), long_text);
  EXPECT_EQ(std::string(back[7].GetString(), 3), std::string("\0a\0", 3));
  ASSERT_EQ(back[8].GetDimension(), 2);
  EXPECT_STREQ(back[8].GetElement(0)->GetString(), "x");
  EXPECT_TRUE(back[8].GetElement(1)->IsNull());

  // A store that never received a value goes through as a NULL.
  SQLValueStore untyped;
  untyped.SetNull();
  SQLValueStore const *one = &untyped;
  record.clear();
  sql_row_codec::Append(&one, 1, &record);
  SQLValueStore got;
  SQLValueStore *target = &got;
  EXPECT_EQ(sql_row_codec::Get(record.data(), 1, &target), record.data() + record.size());
  EXPECT_TRUE(got.IsNull());
}

}  // namespace
}  // namespace molvane::test
