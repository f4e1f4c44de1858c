// The driver's row data set reader against the client's writer: random
// column sets and rows go through rds_put_seq and rds_write_to_sp and must
// come back unchanged from DecodeRds; damaged streams are refused, never
// read past their end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "store/rds_decode.h"
#include "support/test_env.h"

namespace {

using molvane::driver::DecodeRds;
using molvane::driver::RdsColumnSpec;
using molvane::driver::RdsRows;
using molvane::driver::RdsStream;
using molvane::driver::ReadRdsStream;
using molvane::driver::WireReader;
using Bytes = std::vector<std::uint8_t>;

struct RandomSet {
  std::vector<RDS_COLUMN> columns;
  std::vector<RdsColumnSpec> specs;
  int row_length = 0;
  int stored_size = 4;
};

RandomSet MakeColumns(std::mt19937 &rng) {
  static const std::uint16_t kSizes[] = {1, 2, 4, 4, 8, 0, 0, 0, 0};
  RandomSet set;
  int n = 1 + static_cast<int>(rng() % 12);
  for (int i = 0; i < n; ++i) {
    std::uint32_t code = 1 + rng() % 9;
    std::uint16_t size = kSizes[code - 1];
    std::uint16_t count = 1;
    if (size == 0) size = static_cast<std::uint16_t>(code == RDS_LSTRING || code == RDS_LRAW
                                                         ? 9 + rng() % 300
                                                         : 1 + rng() % 8);
    if ((code <= RDS_DOUBLE || code == RDS_STRING || code == RDS_RAW) && rng() % 4 == 0)
      count = static_cast<std::uint16_t>(2 + rng() % 3);
    set.columns.push_back(RDS_COLUMN{code, RDS_ST_VALUE, 0, size,
                                     static_cast<std::uint16_t>(set.row_length), count});
    RdsColumnSpec spec;
    spec.code = code;
    spec.size = size;
    spec.count = count;
    set.specs.push_back(spec);
    set.row_length += size * count;
    set.stored_size += 3 + size * count + ((code == RDS_LSTRING || code == RDS_LRAW) ? 2 : 0);
  }
  molvane::driver::RdsLayout(set.specs);
  return set;
}

// A row that shares most columns with the previous one, with long values
// that often end in their pad bytes.
void Mutate(const RandomSet &set, std::mt19937 &rng, Bytes &row) {
  for (const RDS_COLUMN &c : set.columns) {
    if (rng() % 3 != 0) continue;
    std::uint8_t *p = row.data() + c.offset;
    int bytes = c.size * c.count;
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(rng());
    if (c.code == RDS_LSTRING || c.code == RDS_LRAW) {
      int keep = static_cast<int>(rng() % (bytes + 1));
      for (int i = keep; i < bytes; ++i) p[i] = c.code == RDS_LSTRING ? ' ' : 0;
    }
  }
}

Bytes StreamBytes(RDS *rds) {
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  EXPECT_EQ(rds_write_to_sp(rds, out), 0);
  sflush(out);
  size_t n = 0;
  const unsigned char *p = stream_bytes(out, &n);
  Bytes bytes(p, p + n);
  sclose(out);
  return bytes;
}

RdsStream Parse(const Bytes &bytes) {
  WireReader in(bytes.data(), bytes.size());
  RdsStream s = ReadRdsStream(in, 64u << 20);
  EXPECT_EQ(in.consumed(), bytes.size());
  return s;
}

TEST(RdsDecode, DecodesWhatTheClientEncodes) {
  molvane::test::ScratchDir tmp;
  setenv("ZUV_TMP", tmp.path().c_str(), 1);
  std::mt19937 rng(20261207);
  for (int round = 0; round < 60; ++round) {
    RandomSet set = MakeColumns(rng);
    RDS *rds = rds_create(set.stored_size, set.row_length, static_cast<int>(set.columns.size()),
                          set.columns.data(), 0, RDS_ENCODED);
    ASSERT_NE(rds, nullptr);
    std::vector<Bytes> rows;
    Bytes row(set.row_length);
    Mutate(set, rng, row);
    int count = static_cast<int>(rng() % 40) + (round % 10 == 0 ? 400 : 0);
    for (int i = 0; i < count; ++i) {
      if (rng() % 5 != 0) Mutate(set, rng, row);
      ASSERT_EQ(rds_put_seq(rds, row.data()), 0);
      rows.push_back(row);
    }
    RdsRows decoded;
    std::string error;
    ASSERT_TRUE(DecodeRds(set.specs, Parse(StreamBytes(rds)), &decoded, &error)) << error;
    ASSERT_EQ(decoded.count, rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
      ASSERT_EQ(Bytes(decoded.row(i), decoded.row(i) + decoded.row_length), rows[i])
          << "round " << round << " row " << i;
    rds_close(rds);
  }
}

TEST(RdsDecode, DamagedStreamsAreRefused) {
  std::mt19937 rng(7);
  RandomSet set = MakeColumns(rng);
  RDS *rds = rds_create(set.stored_size, set.row_length, static_cast<int>(set.columns.size()),
                        set.columns.data(), 0, RDS_ENCODED);
  Bytes row(set.row_length);
  for (int i = 0; i < 20; ++i) {
    Mutate(set, rng, row);
    rds_put_seq(rds, row.data());
  }
  RdsStream good = Parse(StreamBytes(rds));
  rds_close(rds);
  RdsRows decoded;
  std::string error;
  RdsStream cut = good;
  cut.data.pop_back();
  EXPECT_FALSE(DecodeRds(set.specs, cut, &decoded, &error));
  RdsStream more = good;
  more.row_count += 1;
  EXPECT_FALSE(DecodeRds(set.specs, more, &decoded, &error));
  RdsStream lying = good;
  lying.row_count = 0xFFFFFFFF;
  EXPECT_FALSE(DecodeRds(set.specs, lying, &decoded, &error));
  // Random damage: decoded or refused, never a read past the data (ASan).
  for (int i = 0; i < 2000; ++i) {
    RdsStream bad = good;
    bad.data[rng() % bad.data.size()] = static_cast<char>(rng());
    if (rng() % 2) bad.data.resize(rng() % bad.data.size());
    DecodeRds(set.specs, bad, &decoded, &error);
  }
}

TEST(RdsDecode, ColumnKindsMatchTheClientsForEveryDictionaryColumn) {
  static molvane::test::ScratchDir zuv;
  setenv("ZUV", zuv.path().c_str(), 1);
  setenv("F_ZRDD", molvane::test::FixturePath("zuv/dict").c_str(), 1);
  init_local_dd();
  for (const char *name : {"exemp010", "exdep010", "ttaud110", "tttxt010"}) {
    DD_TABLE *table = ddtable(name);
    ASSERT_NE(table, nullptr) << name;
    for (int i = 0; i < table->column_count; ++i) {
      const DD_COLUMN &c = table->columns[i];
      if (c.type == DDT_COMBINED) continue;
      RDS_COLUMN client = rds_column_from_dd(&c, 0, 0);
      RdsColumnSpec driver = molvane::driver::RdsSpecFor(c.type, c.length, c.depth);
      EXPECT_EQ(client.code, driver.code) << c.name;
      EXPECT_EQ(client.size, driver.size) << c.name;
      EXPECT_EQ(client.count, driver.count) << c.name;
    }
  }
}

}  // namespace
