// Row data sets: the stream bytes of encoded rows, the overflow file, the
// size limit, sorted rows with merged counters, and the layouts taken from
// the fixture dictionary.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/dd_test_env.h"
#include "dbc/request/rds.h"
#include "dbc/log_capture.h"
#include "support/test_env.h"

namespace {

using Bytes = std::vector<unsigned char>;

RDS_COLUMN Column(std::uint32_t code, std::uint16_t size, std::uint16_t offset,
                  std::uint16_t count = 1) {
  return RDS_COLUMN{code, RDS_ST_VALUE, 0, size, offset, count};
}

// Two longs and a long string of 12 bytes: a row of 20 bytes.
struct SmallSet {
  std::vector<RDS_COLUMN> columns{Column(RDS_LONG, 4, 0), Column(RDS_LONG, 4, 4),
                                  Column(RDS_LSTRING, 12, 8)};
  RDS *rds = rds_create(4 + 20 + 9 + 2, 20, 3, columns.data(), 0, RDS_ENCODED);
  ~SmallSet() { rds_close(rds); }
};

Bytes Row(std::int32_t a, std::int32_t b, const std::string &text) {
  Bytes row(20, ' ');
  for (int i = 0; i < 4; ++i) {
    row[i] = static_cast<unsigned char>(static_cast<std::uint32_t>(a) >> (24 - 8 * i));
    row[4 + i] = static_cast<unsigned char>(static_cast<std::uint32_t>(b) >> (24 - 8 * i));
  }
  std::memcpy(row.data() + 8, text.data(), std::min<size_t>(text.size(), 12));
  return row;
}

Bytes StreamOf(RDS *rds) {
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  EXPECT_EQ(rds_write_to_sp(rds, out), 0);
  sflush(out);
  size_t n = 0;
  const unsigned char *p = stream_bytes(out, &n);
  Bytes bytes(p, p + n);
  sclose(out);
  return bytes;
}

size_t FilesIn(const std::string &dir) {
  size_t n = 0;
  for (auto &entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file();
  return n;
}

TEST(RowDataSet, EmptySetIsFourZeroBytes) {
  SmallSet set;
  ASSERT_NE(set.rds, nullptr);
  EXPECT_EQ(StreamOf(set.rds), Bytes({0, 0, 0, 0}));
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  EXPECT_EQ(rds_write_to_sp(nullptr, out), 0);
  sclose(out);
}

TEST(RowDataSet, FirstRowCarriesEveryColumnAndRepeatCarriesNone) {
  SmallSet set;
  Bytes row = Row(7, -1, "abc");
  ASSERT_EQ(rds_put_seq(set.rds, row.data()), 0);
  ASSERT_EQ(rds_put_seq(set.rds, row.data()), 0);
  Bytes expected = {0, 0, 0, 33, 0, 0, 0, 2,            // data length, rows
                    0, 0, 0, 1,                          // ordinal 1
                    0, 1, 1, 0, 0, 0, 7,                 // column 1
                    0, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF,     // column 2
                    0, 3, 0x11, 0, 3, 'a', 'b', 'c',     // column 3, last, trimmed
                    0, 0, 0, 2, 0x00, 0x01, 0x30};       // ordinal 2: no item
  EXPECT_EQ(StreamOf(set.rds), expected);
}

TEST(RowDataSet, OnlyChangedColumnsAndStatesAreSent) {
  SmallSet set;
  Bytes row = Row(1, 2, "x");
  ASSERT_EQ(rds_put_seq(set.rds, row.data()), 0);
  Bytes second = Row(1, 3, "x");
  ASSERT_EQ(rds_put_seq(set.rds, second.data()), 0);
  set_rdscol_state(&set.rds->columns[2], RDS_ST_NULL);
  EXPECT_EQ(set.rds->columns[2].state, RDS_ST_NULL);
  ASSERT_EQ(rds_put_seq(set.rds, second.data()), 0);
  prepare_rds_col_state(set.rds);
  ASSERT_EQ(rds_put_seq(set.rds, second.data()), 0);
  Bytes s = StreamOf(set.rds);
  Bytes tail(s.begin() + 8 + 24, s.end());
  EXPECT_EQ(tail, Bytes({0, 0, 0, 2, 0, 2, 0x11, 0, 0, 0, 3,   // column 2 changed
                         0, 0, 0, 3, 0, 3, 0x14,               // column 3 null
                         0, 0, 0, 4, 0, 3, 0x11, 0, 1, 'x'}));  // value again

  rds_rewind(set.rds);
  Bytes got(20);
  ASSERT_EQ(rds_get_seq(set.rds, got.data()), 0);
  EXPECT_EQ(got, row);
  ASSERT_EQ(rds_get_seq(set.rds, got.data()), 0);
  EXPECT_EQ(got, second);
  ASSERT_EQ(rds_get_seq(set.rds, got.data()), 0);
  EXPECT_EQ(set.rds->columns[2].state & RDS_ST_NULL, RDS_ST_NULL);
  ASSERT_EQ(rds_get_seq(set.rds, got.data()), 0);
  EXPECT_EQ(got, second);
  EXPECT_EQ(rds_get_seq(set.rds, got.data()), 1);
}

TEST(RowDataSet, BlankLongStringIsSentAsLengthZeroAndReadBackAsBlanks) {
  SmallSet set;
  Bytes row = Row(0, 0, "");
  ASSERT_EQ(rds_put_seq(set.rds, row.data()), 0);
  Bytes s = StreamOf(set.rds);
  ASSERT_EQ(s.size(), 8u + 4 + 7 + 7 + 5);
  EXPECT_EQ(Bytes(s.end() - 5, s.end()), Bytes({0, 3, 0x11, 0, 0}));
  Bytes got(20, 'z');
  rds_rewind(set.rds);
  ASSERT_EQ(rds_get_seq(set.rds, got.data()), 0);
  EXPECT_EQ(got, row);
  Bytes expand(20);
  rds_get_expand_row(set.rds, expand.data());
  EXPECT_EQ(expand, row);
}

// A row that cannot be stored (its overflow file cannot be made) leaves the
// set as it was: put again, it is read back like every other.
TEST(RowDataSet, LongRowsCrossIntoTheOverflowFileWhichResetRemoves) {
  molvane::test::ScratchDir tmp;
  molvane::test::LogCapture log;
  const std::string dir = tmp.path() + "/later";
  setenv("ZUV_TMP", dir.c_str(), 1);
  std::vector<RDS_COLUMN> columns{Column(RDS_LONG, 4, 0), Column(RDS_STRING, 1000, 4)};
  RDS *rds = rds_create(4 + 1004 + 6, 1004, 2, columns.data(), 0, RDS_ENCODED);
  ASSERT_NE(rds, nullptr);
  std::vector<Bytes> rows;
  int refused = 0;
  for (int i = 0; i < 100; ++i) {
    Bytes row(1004, static_cast<unsigned char>('A' + i % 26));
    row[3] = static_cast<unsigned char>(i);
    rows.push_back(row);
    if (rds_put_seq(rds, row.data()) != 0) {
      ++refused;
      std::filesystem::create_directory(dir);
      ASSERT_EQ(rds_put_seq(rds, row.data()), 0);
    }
  }
  EXPECT_EQ(refused, 1);
  EXPECT_TRUE(log.Contains("Can't create overflow-file"));
  EXPECT_GT(rds->data_length, RDS_MEMORY);
  EXPECT_EQ(FilesIn(dir), 1u);
  Bytes s = StreamOf(rds);
  EXPECT_EQ(s.size(), 8u + rds->data_length);
  rds_rewind(rds);
  Bytes got(1004);
  for (const Bytes &row : rows) {
    ASSERT_EQ(rds_get_seq(rds, got.data()), 0);
    ASSERT_EQ(got, row);
  }
  rds_reset(rds, 0);
  EXPECT_EQ(FilesIn(dir), 0u);
  EXPECT_EQ(StreamOf(rds), Bytes({0, 0, 0, 0}));
  rds_close(rds);
}

TEST(RowDataSet, SizeLimitIs30960Bytes) {
  molvane::test::LogCapture log;
  std::vector<RDS_COLUMN> columns{Column(RDS_LONG, 4, 0)};
  struct Case { int stored, length; bool ok; };
  for (Case c : {Case{30960, 30960, true}, Case{30961, 100, false}, Case{100, 30961, false}}) {
    RDS *rds = rds_create(c.stored, c.length, 1, columns.data(), 0, RDS_ENCODED);
    EXPECT_EQ(rds != nullptr, c.ok) << c.stored << "," << c.length;
    rds_close(rds);
  }
  EXPECT_TRUE(log.Contains("rds: Rds size (30961,100) exceeds internal limit (30960)"));
}

TEST(RowDataSet, WritesMustNotLeaveAGap) {
  SmallSet set;
  unsigned char b = 1;
  EXPECT_EQ(rds_write_data(set.rds, 1, &b, 1), -1);
  EXPECT_EQ(rds_write_data(set.rds, 0, &b, 0), -1);
  EXPECT_EQ(rds_write_data(set.rds, 0, &b, 1), 0);
  EXPECT_EQ(rds_read_data(set.rds, 1, &b, 1), -1);
  EXPECT_EQ(rds_put_group(set.rds, &b, 1), -1);
}

// A refcount set over a key of one long: rows of key, first and second counter.
struct CounterSet {
  std::vector<RDS_COLUMN> columns{Column(RDS_LONG, 4, 0), Column(RDS_LONG, 4, 4),
                                  Column(RDS_LONG, 4, 8)};
  RDS *rds = nullptr;
  std::int16_t search[2] = {1, 0};
  std::uint16_t keys[2] = {1, 0};
  RDS_GROUP_COLUMN groups[2] = {{1, RDS_COUNTER_FIRST}, {2, RDS_COUNTER_SECOND}};
  RDS_GROUP group{keys, 2, groups};
  CounterSet() {
    rds = rds_create(12, 12, 3, columns.data(), 0, RDS_SORTED);
    rds->search_list = search;
    rds->group = &group;
  }
  ~CounterSet() {
    rds->search_list = nullptr;
    rds->group = nullptr;
    rds_close(rds);
  }
  std::vector<std::int32_t> Get(int position) {
    Bytes row(12);
    EXPECT_EQ(rds_get_idx_row(rds, position, row.data()), 0);
    std::vector<std::int32_t> v;
    for (int i = 0; i < 3; ++i)
      v.push_back(static_cast<std::int32_t>((row[4 * i] << 24) | (row[4 * i + 1] << 16) |
                                            (row[4 * i + 2] << 8) | row[4 * i + 3]));
    return v;
  }
};

TEST(RowDataSet, CounterChangesOfOneKeyMerge) {
  struct Case { int first_flags, second_flags; std::int32_t first, second; };
  const Case cases[] = {
      {1, 1, 2 * 5 + 2, 0},         // two increments of the first counter
      {2, 1, -2 * 5 + 2, 0},        // decrement then increment
      {3, 2, 2 * 5 + 1 - 2, 0},     // set, then a change on the set value
      {1, 3, 1, 0},                 // a change, then set
      {8, 8, 0, 2 * 5 + 2},         // second counter
      {24, 16, 0, 2 * 5 + 1 - 2},
      {9, 0, 2 * 5, 2 * 5},         // no selector: unchanged
  };
  for (const Case &c : cases) {
    CounterSet set;
    Bytes row = Row(42, 5, "");
    row.resize(12);
    row[8] = 0; row[9] = 0; row[10] = 0; row[11] = 5;
    ASSERT_EQ(rds_put_group(set.rds, row.data(), c.first_flags), 0);
    ASSERT_EQ(rds_put_group(set.rds, row.data(), c.second_flags), 0);
    EXPECT_EQ(set.rds->row_count, 1);
    EXPECT_EQ(set.Get(0), (std::vector<std::int32_t>{42, c.first, c.second}))
        << c.first_flags << "/" << c.second_flags;
  }
}

TEST(RowDataSet, SortedRowsStayInKeyOrderAndRemovedEntriesKeepTheirPlaces) {
  CounterSet set;
  for (int key : {30, 10, 20, 40}) {
    Bytes row = Row(key, 1, "");
    row.resize(12);
    ASSERT_EQ(rds_put_group(set.rds, row.data(), 1), 0);
  }
  Bytes probe = Row(20, 0, "");
  std::int32_t position = -1;
  EXPECT_EQ(rds_srch(set.rds, probe.data(), &position, nullptr, set.search), 1);
  EXPECT_EQ(position, 1);
  probe = Row(25, 0, "");
  EXPECT_EQ(rds_srch(set.rds, probe.data(), &position, nullptr, set.search), 0);
  EXPECT_EQ(position, 2);
  rds_del_idx(set.rds, 0);  // key 10
  EXPECT_EQ(set.rds->row_count, 3);
  Bytes row = Row(15, 1, "");
  row.resize(12);
  ASSERT_EQ(rds_put_group(set.rds, row.data(), 1), 0);
  std::vector<std::int32_t> keys;
  rds_rewind(set.rds);
  Bytes got(12);
  while (rds_get_seq(set.rds, got.data()) == 0) keys.push_back(got[3]);
  EXPECT_EQ(keys, (std::vector<std::int32_t>{15, 20, 30, 40}));
  EXPECT_EQ(set.Get(3)[1], 2);  // key 40 kept its row
}

TEST(RowDataSet, DumpsLeaveTheReadPositionAlone) {
  SmallSet set;
  Bytes a = Row(1, 2, "one"), b = Row(1, 3, "two");
  rds_put_seq(set.rds, a.data());
  rds_put_seq(set.rds, b.data());
  rds_rewind(set.rds);
  Bytes got(20);
  ASSERT_EQ(rds_get_seq(set.rds, got.data()), 0);
  testing::internal::CaptureStderr();
  dump_rds_rows(set.rds, 1);
  dump_rds_rows(set.rds, 0);
  qpdump(2, "%s\n", "x");
  std::string text = testing::internal::GetCapturedStderr();
  std::string pad(9, ' ');
  EXPECT_EQ(text, "1 2 one" + pad + " \n1 3 two" + pad + " \n"
                  "[1] 1:1 2:2 3:one\n[2] 2:3 3:two\nEnd of RDS\n      x\n");
  ASSERT_EQ(rds_get_seq(set.rds, got.data()), 0);
  EXPECT_EQ(got, b);
}

TEST(RowDataSet, UpdateActionLayoutFollowsTheDictionary) {
  molvane::test::UseFixtureDictionary();
  DD_TABLE *table = ddtable("exemp010");
  ASSERT_NE(table, nullptr);
  RDS_COLUMN_MAP *map = nullptr;
  int count = 0;
  RDS *rds = rds_open_update_actions(table, &map, &count);
  ASSERT_NE(rds, nullptr);
  EXPECT_EQ(count, table->column_count + 1);
  EXPECT_EQ(rds->flags & 14u, RDS_ENCODED);
  int stored = 0, longs = 0;
  std::uint16_t offset = 12;
  for (int i = 3; i < rds->column_count; ++i) {
    const RDS_COLUMN &c = rds->columns[i];
    EXPECT_EQ(c.offset, offset);
    offset = static_cast<std::uint16_t>(offset + c.size * c.count);
    longs += c.code == RDS_LSTRING || c.code == RDS_LRAW;
    ++stored;
    ASSERT_NE(map[i - 3].column, nullptr);
    EXPECT_EQ(map[i - 3].index, i);
    EXPECT_EQ(map[i - 3].column->length, c.size * c.count);
  }
  EXPECT_EQ(map[stored].column, nullptr);
  EXPECT_EQ(rds->row_length, offset);
  EXPECT_EQ(rds->stored_size, 4 + offset + 3 * rds->column_count + 2 * longs);
  rds_close(rds);

  RDS *counters = rds_open_refcount_actions(table);
  ASSERT_NE(counters, nullptr);
  EXPECT_EQ(counters->flags & 14u, RDS_SORTED);
  int k = counters->column_count - 2;
  EXPECT_EQ(counters->group->groups[0].index, k);
  EXPECT_EQ(counters->group->groups[1].kind, RDS_COUNTER_SECOND);
  EXPECT_EQ(counters->row_length, _zdb_key_size(key_desc(table, 1)->parts) + 8);
  rds_close(counters);
}

}  // namespace
