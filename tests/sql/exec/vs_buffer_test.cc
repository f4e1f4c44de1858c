#include "sql/exec/vs_buffer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "dbc/session/dbc_settings.h"
#include "molvane/datetime.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/container_exceptions.h"
#include "sql/common/sql_exception.h"
#include "sql/common/value_store.h"
#include "sql/exec/vs_buffer_id_array.h"

namespace {

struct Table {
  std::vector<SQLColumnDescriptor> columns;
  std::vector<SQLColumnDescriptor const *> pointers;
  explicit Table(std::vector<SQLColumnDescriptor> c) : columns(std::move(c)) {
    for (auto const &d : columns) pointers.push_back(&d);
  }
  int n() const { return static_cast<int>(columns.size()); }
};

std::vector<unsigned char> FileBytes(std::string const &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// The first `n` bytes of the buffer's spill file, once they are in the
// file: the buffer writes its spill file a block at a time, so more rows
// like `row` are written (and spilled) until the file holds them.
std::vector<unsigned char> SpilledBytes(SQLVSBuffer &buffer, SQLValueStore const *const *row, size_t n) {
  for (int i = 0; i < 1000000 && FileBytes(buffer.SpillFilePath()).size() < n; ++i)
    for (int k = 0; k < 1000; ++k) buffer.Write(row);
  return FileBytes(buffer.SpillFilePath());
}

bool Same(SQLValueStore const &a, SQLValueStore const &b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull();
  if (a.GetType() != b.GetType()) return false;
  if (a.GetType() == SQL_ARRAY) {
    if (a.GetDimension() != b.GetDimension()) return false;
    for (int i = 0; i < a.GetDimension(); ++i)
      if (!Same(*a.GetElement(i), *b.GetElement(i))) return false;
    return true;
  }
  switch (a.GetType()) {
    case SQL_REAL: return a.GetReal() == b.GetReal();
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS: return a.GetTimestamp() == b.GetTimestamp();
    case SQL_STRING:
    case SQL_RAW:
      return a.GetLength() == b.GetLength() &&
             (a.GetLength() == 0 || std::memcmp(a.GetBytes(), b.GetBytes(), a.GetLength()) == 0);
    default: return a.GetInteger() == b.GetInteger();
  }
}

TEST(VSBuffer, CacheSizeComesFromTheArgumentOrTheSetting) {
  Table t({SQLColumnDescriptor("a", SQL_INTEGER, 4, 1)});
  struct Case {
    int setting;
    int argument;
    int expected;
  };
  for (Case c : {Case{1, -1, 71}, Case{0, -1, 71}, Case{-5, -1, 71}, Case{2, -1, 2}, Case{500, -1, 500},
                 Case{500, 7, 7}, Case{500, 0, 2}, Case{500, 1, 2}}) {
    dbc_settings().qelt_sql_cacherows = c.setting;
    SQLVSBuffer buffer(t.n(), t.pointers.data(), c.argument);
    EXPECT_EQ(buffer.GetCacheSize(), c.expected) << c.setting << " " << c.argument;
  }
}

// A short text or raw value comes back from the spill file as it went in,
// unpadded, whatever the cache size: spilled and cached rows are identical.
TEST(VSBuffer, ShortTextsComeBackUnpaddedFromTheSpillFile) {
  Table t({SQLColumnDescriptor("s", SQL_STRING, 6, 1), SQLColumnDescriptor("r", SQL_RAW, 4, 1),
           SQLColumnDescriptor("a", SQL_STRING, 3, 2)});
  std::vector<SQLValueStore> v(3);
  v[0].SetString("ab ");
  unsigned char raw[2] = {1, 0};
  v[1].SetRaw(raw, 2);
  v[2].SetDimension(2);
  v[2].GetElement(0)->SetString("x");
  v[2].GetElement(1)->SetString("");
  std::vector<SQLValueStore const *> row = {&v[0], &v[1], &v[2]};
  for (int cacheRows : {2, 100}) {
    SQLVSBuffer buffer(t.n(), t.pointers.data(), cacheRows);
    std::vector<SQLVSBufferId> ids;
    for (int i = 0; i < 5; ++i) ids.push_back(buffer.Write(row.data()));
    EXPECT_EQ(buffer.HasSpillFile(), cacheRows == 2);
    for (SQLVSBufferId id : ids) {
      SQLValueStore const *r = buffer.GetForRead(id);
      EXPECT_EQ(std::string(r[0].GetString(), r[0].GetLength()), "ab ") << cacheRows;
      ASSERT_EQ(r[1].GetLength(), 2u);
      EXPECT_EQ(r[1].GetBytes()[0], 1);
      EXPECT_EQ(r[2].GetElement(0)->GetLength(), 1u);
      EXPECT_EQ(r[2].GetElement(1)->GetLength(), 0u);
    }
  }
}

TEST(VSBuffer, RecordSizeFromColumnWidths) {
  Table fixed({SQLColumnDescriptor("i", SQL_INTEGER, 4, 1), SQLColumnDescriptor("r", SQL_REAL, 8, 1),
               SQLColumnDescriptor("s", SQL_STRING, 5, 1), SQLColumnDescriptor("a", SQL_DATE, 4, 3)});
  SQLVSBuffer b1(fixed.n(), fixed.pointers.data(), 2);
  EXPECT_TRUE(b1.IsFixedSize());
  // A text carries its length; the array has an element bitmap.
  EXPECT_EQ(b1.GetRecordSize(), 1 + 4 + 8 + (4 + 5) + (1 + 12));
  Table variable({SQLColumnDescriptor("i", SQL_INTEGER, 4, 1), SQLColumnDescriptor("s", SQL_RAW, 0, 1)});
  SQLVSBuffer b2(variable.n(), variable.pointers.data(), 2);
  EXPECT_FALSE(b2.IsFixedSize());
}

TEST(VSBuffer, SpilledFixedRecordHasTheStoredLayout) {
  std::vector<SQLColumnDescriptor> cols = {SQLColumnDescriptor("i", SQL_INTEGER, 4, 1),
                                           SQLColumnDescriptor("r", SQL_REAL, 8, 1),
                                           SQLColumnDescriptor("t", SQL_TIMESTAMP, 8, 1),
                                           SQLColumnDescriptor("s", SQL_STRING, 3, 1)};
  for (int i = 0; i < 5; ++i) cols.emplace_back("n", SQL_INTEGER, 4, 1);
  Table t(cols);  // 9 columns: a 2-byte bitmap
  std::vector<SQLValueStore> v(9);
  v[0].SetInteger(0x01020304);
  v[1].SetReal(1.5);
  v[2].SetTimestamp(0x0A0B0C0D0E0F1011LL);
  v[3].SetString("ab");
  for (int i = 4; i < 9; ++i) v[i].SetInteger(i);
  v[8].SetNull();
  std::vector<SQLValueStore const *> row;
  for (auto &s : v) row.push_back(&s);
  SQLVSBuffer buffer(t.n(), t.pointers.data(), 2);
  SQLVSBufferId first = buffer.Write(row.data());
  buffer.Write(row.data());
  EXPECT_FALSE(buffer.HasSpillFile());
  buffer.Write(row.data());  // evicts the first row
  ASSERT_TRUE(buffer.HasSpillFile());
  // The first row's record is in the file once the block is written out.
  EXPECT_EQ(buffer.GetForRead(first)[8].IsNull(), true);
  EXPECT_EQ(buffer.GetForRead(first)[0].GetInteger(), 0x01020304);
  std::vector<unsigned char> bytes = SpilledBytes(buffer, row.data(), static_cast<size_t>(buffer.GetRecordSize()));
  ASSERT_GE(bytes.size(), static_cast<size_t>(buffer.GetRecordSize()));
  unsigned char real[8];
  double_in(1.5, real);
  std::vector<unsigned char> expected = {0x00, 0x01, 0x01, 0x02, 0x03, 0x04};
  expected.insert(expected.end(), real, real + 8);
  for (int b : {0x11, 0x10, 0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A}) expected.push_back(static_cast<unsigned char>(b));
  // The text's own length, its bytes, and zeros up to the declared length.
  for (int b : {0, 0, 0, 2, int{'a'}, int{'b'}, 0}) expected.push_back(static_cast<unsigned char>(b));
  for (int i = 4; i < 8; ++i)
    for (int b : {0, 0, 0, i}) expected.push_back(static_cast<unsigned char>(b));
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<long>(expected.size())),
            expected);
}

TEST(VSBuffer, SpilledArrayCarriesTheNullBitmapOfItsElements) {
  Table t({SQLColumnDescriptor("a", SQL_INTEGER, 4, 3)});
  SQLValueStore v;
  v.SetDimension(3);
  v.GetElement(0)->SetInteger(7);
  v.GetElement(1)->SetNull();
  v.GetElement(2)->SetInteger(9);
  SQLValueStore const *p = &v;
  SQLVSBuffer buffer(t.n(), t.pointers.data(), 2);
  ASSERT_EQ(buffer.GetRecordSize(), 1 + 1 + 12);
  SQLVSBufferId first = buffer.Write(&p);
  buffer.Write(&p);
  buffer.Write(&p);
  ASSERT_TRUE(buffer.HasSpillFile());
  EXPECT_TRUE(buffer.GetForRead(first)->GetElement(1)->IsNull());
  std::vector<unsigned char> expected = {0x00, 0x02, 0, 0, 0, 7, 0, 0, 0, 9, 0, 0, 0, 0};
  std::vector<unsigned char> bytes = SpilledBytes(buffer, &p, expected.size());
  ASSERT_GE(bytes.size(), expected.size());
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 14), expected);
}

// Random rows of every type, written with a small cache and read back both
// by id in random order and by iteration.
class VSBufferRoundTrip : public testing::TestWithParam<bool> {};

TEST_P(VSBufferRoundTrip, RowsComeBackUnchanged) {
  bool variable = GetParam();
  Table t({SQLColumnDescriptor("i", SQL_INTEGER, 4, 1), SQLColumnDescriptor("r", SQL_REAL, 8, 1),
           SQLColumnDescriptor("d", SQL_DATE, 4, 1), SQLColumnDescriptor("t", SQL_TIMESTAMP, 8, 1),
           SQLColumnDescriptor("id", SQL_INTERVAL_DAYS, 4, 1),
           SQLColumnDescriptor("is", SQL_INTERVAL_SECONDS, 8, 1),
           SQLColumnDescriptor("s", SQL_STRING, variable ? 0 : 6, 1),
           SQLColumnDescriptor("w", SQL_RAW, variable ? 0 : 4, 1), SQLColumnDescriptor("a", SQL_INTEGER, 4, 3)});
  std::mt19937 random(7);
  // Rows enough for a spill file of several blocks.
  std::vector<std::vector<SQLValueStore>> rows(3000, std::vector<SQLValueStore>(9));
  for (auto &r : rows) {
    r[0].SetInteger(static_cast<int>(random()));
    r[1].SetReal(std::ldexp(static_cast<double>(random()), -7) - 1e6);
    r[2].SetDate(static_cast<int>(random() % 3000000));
    r[3].SetTimestamp(static_cast<long long>(random()) * -4096);
    r[4].SetIntervalDays(-static_cast<int>(random() % 1000));
    r[5].SetIntervalSeconds(static_cast<long long>(random()) << 20);
    std::string s(variable ? random() % 40 : 6, 'a' + static_cast<char>(random() % 26));
    r[6].SetString(s.c_str());
    unsigned char raw[4] = {static_cast<unsigned char>(random()), 0, 255, 7};
    r[7].SetRaw(raw, 4);
    r[8].SetDimension(3);
    for (int e = 0; e < 3; ++e) r[8].GetElement(e)->SetInteger(e * static_cast<int>(random() % 100));
    for (int c = 0; c < 8; ++c)
      if (random() % 5 == 0) r[c].SetNull();
    if (random() % 7 == 0)
      for (int e = 0; e < 3; ++e) r[8].GetElement(e)->SetNull();
  }
  SQLVSBuffer buffer(t.n(), t.pointers.data(), 3);
  std::vector<SQLVSBufferId> ids;
  for (auto &r : rows) {
    std::vector<SQLValueStore const *> p;
    for (auto &s : r) p.push_back(&s);
    ids.push_back(buffer.Write(p.data()));
  }
  EXPECT_TRUE(buffer.HasSpillFile());
  std::vector<size_t> order(rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  for (size_t i : order) {
    SQLValueStore const *got = buffer.GetForRead(ids[i]);
    for (int c = 0; c < 9; ++c) ASSERT_TRUE(Same(got[c], rows[i][c])) << "row " << i << " col " << c;
  }
  auto walk = [&] {
    buffer.Iterate();
    for (size_t i = 0; i < rows.size(); ++i) {
      SQLValueStore const *got = buffer.NextRowForRead();
      ASSERT_NE(got, nullptr);
      for (int c = 0; c < 9; ++c) ASSERT_TRUE(Same(got[c], rows[i][c])) << "row " << i << " col " << c;
    }
    EXPECT_EQ(buffer.NextRowForRead(), nullptr);
  };
  walk();
  // Some rows change between walks (a longer text moves a variable record):
  // each walk, and each read by id, gives every row as last changed.
  for (int round = 0; round < 2; ++round) {
    for (size_t i = static_cast<size_t>(round); i < rows.size(); i += 7) {
      SQLValueStore *got = buffer.GetForUpdate(ids[i]);
      rows[i][0].SetInteger(static_cast<int>(i) * 3 + round);
      got[0].SetInteger(static_cast<int>(i) * 3 + round);
      if (variable) {
        std::string s(45 + static_cast<size_t>(round) * 10, static_cast<char>('k' + round));
        rows[i][6].SetString(s.c_str());
        got[6].SetString(s.c_str());
      }
      // The neighbours push the changed row out of the cache; the row
      // changed before it, out of the cache and the file's blocks alike,
      // comes back changed.
      for (size_t k = i + 1; k < std::min(i + 4, rows.size()); ++k) buffer.GetForRead(ids[k]);
      if (i < 7) continue;
      SQLValueStore const *before = buffer.GetForRead(ids[i - 7]);
      for (int c = 0; c < 9; ++c) ASSERT_TRUE(Same(before[c], rows[i - 7][c])) << "row " << i - 7 << " col " << c;
    }
    walk();
    walk();
    for (size_t i : order) {
      SQLValueStore const *got = buffer.GetForRead(ids[i]);
      for (int c = 0; c < 9; ++c) ASSERT_TRUE(Same(got[c], rows[i][c])) << "row " << i << " col " << c;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, VSBufferRoundTrip, testing::Values(false, true));

// Every type, scalar and as an array, in fixed and in variable records:
// NULLs in any element of an array survive the spill file, and so does a
// NULL standing for a whole array column.
struct TypeCase {
  SQLType type;
  bool variable;
};

constexpr int kDepth = 4;

// Element k of a row's array: distinct per k, of the exact declared length
// for fixed STRING and RAW columns.
void SetSample(SQLValueStore *v, SQLType type, bool variable, int k) {
  switch (type) {
    case SQL_INTEGER: v->SetInteger(-70000 * (k + 1) + 3); break;
    case SQL_REAL: v->SetReal(-1.0e300 / (k + 1) + 0.25); break;
    case SQL_DATE: v->SetDate(738000 + k); break;
    case SQL_TIMESTAMP: v->SetTimestamp(-0x123456789ALL * (k + 1)); break;
    case SQL_INTERVAL_DAYS: v->SetIntervalDays(-3 - k); break;
    case SQL_INTERVAL_SECONDS: v->SetIntervalSeconds(0x7FFFFFFF00LL + k); break;
    case SQL_STRING: {
      std::string text = variable ? std::string(static_cast<size_t>(k) * 5, static_cast<char>('a' + k))
                                  : std::string(3, static_cast<char>('a' + k));
      v->SetString(text.c_str());
      break;
    }
    default: {
      unsigned char raw[3] = {0, static_cast<unsigned char>(k), 0xFF};
      v->SetRaw(raw, variable ? static_cast<unsigned long>(k % 4) : 3);
      break;
    }
  }
}

class VSBufferNullElements : public testing::TestWithParam<TypeCase> {};

TEST_P(VSBufferNullElements, EveryNullComesBackFromTheFile) {
  TypeCase c = GetParam();
  bool text = c.type == SQL_STRING || c.type == SQL_RAW;
  unsigned long width = text ? (c.variable ? 0 : 3) : (c.type == SQL_INTEGER || c.type == SQL_DATE ||
                                                       c.type == SQL_INTERVAL_DAYS ? 4 : 8);
  std::vector<SQLColumnDescriptor> cols = {SQLColumnDescriptor("s", c.type, width, 1),
                                           SQLColumnDescriptor("a", c.type, width, kDepth)};
  if (c.variable && !text) cols.emplace_back("v", SQL_STRING, 0, 1);  // makes the records variable
  Table t(cols);
  // Per row, the NULL elements of the array: none, first, middle, last, two,
  // all of them, and -1 for a NULL in place of the whole array.
  std::vector<std::vector<int>> nulls = {{}, {0}, {1}, {2}, {kDepth - 1}, {0, kDepth - 1}, {0, 1, 2, 3}, {-1}};
  std::vector<std::vector<SQLValueStore>> rows;
  for (size_t r = 0; r < nulls.size(); ++r) {
    std::vector<SQLValueStore> row(cols.size());
    SetSample(&row[0], c.type, c.variable, static_cast<int>(r % kDepth));
    if (r % 2) row[0].SetNull();
    row[1].SetDimension(kDepth);
    for (int k = 0; k < kDepth; ++k) SetSample(row[1].GetElement(k), c.type, c.variable, k);
    for (int k : nulls[r]) {
      if (k < 0) {
        SetSample(&row[1], c.type, c.variable, 0);
        row[1].SetNull();
      } else {
        row[1].GetElement(k)->SetNull();
      }
    }
    if (cols.size() > 2) row[2].SetString("tail");
    rows.push_back(std::move(row));
  }
  SQLVSBuffer buffer(t.n(), t.pointers.data(), 2);
  ASSERT_EQ(buffer.IsFixedSize(), !c.variable);
  std::vector<SQLVSBufferId> ids;
  for (auto &r : rows) {
    std::vector<SQLValueStore const *> p;
    for (auto &s : r) p.push_back(&s);
    ids.push_back(buffer.Write(p.data()));
  }
  ASSERT_TRUE(buffer.HasSpillFile());
  auto expectRows = [&](auto next) {
    for (size_t r = 0; r < rows.size(); ++r) {
      SQLValueStore const *got = next(r);
      ASSERT_NE(got, nullptr);
      for (size_t col = 0; col < cols.size(); ++col)
        EXPECT_TRUE(Same(got[col], rows[r][col])) << "row " << r << " column " << col;
    }
  };
  expectRows([&](size_t r) { return buffer.GetForRead(ids[r]); });
  // Flip the NULL state of elements in place, then spill and read again.
  for (size_t r = 0; r < rows.size(); ++r) {
    SQLValueStore *got = buffer.GetForUpdate(ids[r]);
    if (rows[r][1].GetType() != SQL_ARRAY) continue;
    for (int k = 0; k < kDepth; ++k) {
      SQLValueStore *e = rows[r][1].GetElement(k);
      if (e->IsNull()) SetSample(e, c.type, c.variable, k); else e->SetNull();
      got[1].GetElement(k)->Copy(e);
    }
  }
  buffer.Iterate();
  expectRows([&](size_t) { return buffer.NextRowForRead(); });
  EXPECT_EQ(buffer.NextRowForRead(), nullptr);
}

std::string TypeCaseName(testing::TestParamInfo<TypeCase> const &info) {
  std::string name;
  switch (info.param.type) {
    case SQL_INTEGER: name = "Integer"; break;
    case SQL_STRING: name = "String"; break;
    case SQL_REAL: name = "Real"; break;
    case SQL_DATE: name = "Date"; break;
    case SQL_TIMESTAMP: name = "Timestamp"; break;
    case SQL_INTERVAL_DAYS: name = "IntervalDays"; break;
    case SQL_INTERVAL_SECONDS: name = "IntervalSeconds"; break;
    default: name = "Raw"; break;
  }
  return name + (info.param.variable ? "Variable" : "Fixed");
}

std::vector<TypeCase> AllTypeCases() {
  std::vector<TypeCase> cases;
  for (SQLType type : {SQL_INTEGER, SQL_STRING, SQL_REAL, SQL_DATE, SQL_TIMESTAMP, SQL_INTERVAL_DAYS,
                       SQL_INTERVAL_SECONDS, SQL_RAW})
    for (bool variable : {false, true}) cases.push_back({type, variable});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Types, VSBufferNullElements, testing::ValuesIn(AllTypeCases()), TypeCaseName);

TEST(VSBuffer, ValuesOfAnotherShapeThanTheirColumnAreRefused) {
  Table t({SQLColumnDescriptor("i", SQL_INTEGER, 4, 1), SQLColumnDescriptor("a", SQL_INTEGER, 4, 3)});
  SQLValueStore scalar;
  scalar.SetInteger(1);
  SQLValueStore shortArray;
  shortArray.SetDimension(2);
  for (int k = 0; k < 2; ++k) shortArray.GetElement(k)->SetInteger(k);
  SQLValueStore array;
  array.SetDimension(3);
  for (int k = 0; k < 3; ++k) array.GetElement(k)->SetInteger(k);
  SQLVSBuffer buffer(t.n(), t.pointers.data(), 2);
  for (auto row : {std::vector<SQLValueStore const *>{&scalar, &scalar},
                   std::vector<SQLValueStore const *>{&scalar, &shortArray},
                   std::vector<SQLValueStore const *>{&array, &array}})
    EXPECT_THROW(buffer.Write(row.data()), SQLExDEStringDataLengthMismatch);
  SQLValueStore const *good[] = {&scalar, &array};
  SQLVSBufferId id = buffer.Write(good);
  // A change through GetForUpdate is checked when the row is written out.
  buffer.GetForUpdate(id)[1].SetInteger(5);
  buffer.Write(good);
  EXPECT_THROW(buffer.Write(good), SQLExDEStringDataLengthMismatch);
}

TEST(VSBuffer, GrownRowsMoveAndIterateOnceAtTheirFirstPlace) {
  Table t({SQLColumnDescriptor("s", SQL_STRING, 0, 1)});
  SQLVSBuffer buffer(t.n(), t.pointers.data(), 2);
  std::vector<SQLVSBufferId> ids;
  for (char const *text : {"a", "bb", "ccc", "dddd"}) {
    SQLValueStore v;
    v.SetString(text);
    SQLValueStore const *p = &v;
    ids.push_back(buffer.Write(&p));
  }
  // Grow row 1 twice, each time pushing it out of the cache again.
  for (char const *text : {"a much longer text", "a text longer still than the last one"}) {
    buffer.GetForUpdate(ids[1])->SetString(text);
    buffer.GetForRead(ids[2]);
    buffer.GetForRead(ids[3]);
    EXPECT_STREQ(buffer.GetForRead(ids[1])->GetString(), text);
    buffer.GetForRead(ids[0]);
    buffer.GetForRead(ids[3]);
  }
  // Shrinking fits the relocated slot.
  buffer.GetForUpdate(ids[0])->SetString("");
  buffer.GetForRead(ids[2]);
  buffer.GetForRead(ids[3]);
  std::vector<std::string> seen;
  buffer.Iterate();
  while (SQLValueStore const *v = buffer.NextRowForRead()) seen.emplace_back(v->GetString());
  EXPECT_EQ(seen, (std::vector<std::string>{"", "a text longer still than the last one", "ccc", "dddd"}));
}

TEST(VSBuffer, EmptyDropsRowsAndTheFile) {
  Table t({SQLColumnDescriptor("i", SQL_INTEGER, 4, 1)});
  SQLVSBuffer buffer(t.n(), t.pointers.data(), 2);
  buffer.Iterate();
  EXPECT_EQ(buffer.NextRowForRead(), nullptr);
  SQLValueStore v;
  SQLValueStore const *p = &v;
  for (int i = 0; i < 5; ++i) {
    v.SetInteger(i);
    buffer.Write(&p);
  }
  std::string path = buffer.SpillFilePath();
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  buffer.Empty();
  EXPECT_NE(stat(path.c_str(), &st), 0);
  buffer.Iterate();
  EXPECT_EQ(buffer.NextRowForRead(), nullptr);
  v.SetInteger(42);
  SQLVSBufferId id = buffer.Write(&p);
  EXPECT_EQ(buffer.GetForRead(id)->GetInteger(), 42);
}

TEST(VSBuffer, FixedTextLongerThanItsColumnIsRefusedNotCut) {
  Table t({SQLColumnDescriptor("s", SQL_STRING, 2, 1)});
  SQLVSBuffer buffer(t.n(), t.pointers.data(), 2);
  SQLValueStore v;
  v.SetString("abc");
  SQLValueStore const *p = &v;
  buffer.Write(&p);
  buffer.Write(&p);
  EXPECT_THROW(buffer.Write(&p), SQLExDEStringDataRightTruncation);
}

int CompareInts(SQLVSBufferId const &a, SQLVSBufferId const &b, void *) {
  return (a.GetPosition() > b.GetPosition()) - (a.GetPosition() < b.GetPosition());
}

TEST(VSBufferIdArray, InsertKeepsKeyOrderAndGrowsByThirtyPercent) {
  SQLVSBufferIdKeySQLVSBufferIdArray array(CompareInts, nullptr);
  std::mt19937 random(3);
  std::vector<long> keys(1001);
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<long>(i);
  std::shuffle(keys.begin(), keys.end(), random);
  for (size_t i = 0; i < keys.size(); ++i) {
    if (i == 1000) {
      EXPECT_EQ(array.GetCapacity(), 1000);
    }
    array.Insert(SQLVSBufferId::BufferRow(keys[i]), SQLVSBufferId::BufferRow(keys[i] * 2));
  }
  EXPECT_EQ(array.GetCapacity(), 1300);
  SQLVSBufferIdKeySQLVSBufferIdArraystepper step(&array);
  long expected = 0;
  for (bool ok = step.First(); ok; ok = step.Next(), ++expected)
    EXPECT_EQ(step.GetCurrentKey().GetPosition(), expected);
  EXPECT_EQ(expected, 1001);
  EXPECT_EQ(array.Lookup(SQLVSBufferId::BufferRow(77)).GetPosition(), 154);
  EXPECT_THROW(array.Lookup(SQLVSBufferId::BufferRow(5000)), SLExNotExists);
  EXPECT_THROW(array.Insert(SQLVSBufferId::BufferRow(3), SQLVSBufferId()), SLExDuplicate);
  EXPECT_EQ(array.GetCount(), 1001);
}

TEST(VSBufferIdArray, DuplicatesWhenAllowedAndStableBulkSort) {
  SQLVSBufferIdKeySQLVSBufferIdArray inserted(CompareInts, nullptr);
  inserted.SetAllowDuplicates();
  SQLVSBufferIdKeySQLVSBufferIdArray appended(CompareInts, nullptr);
  appended.SetAllowDuplicates();
  long keys[] = {5, 1, 5, 3, 5, 1};
  for (long i = 0; i < 6; ++i) {
    inserted.Insert(SQLVSBufferId::BufferRow(keys[i]), SQLVSBufferId::BufferRow(i));
    appended.Append(SQLVSBufferId::BufferRow(keys[i]), SQLVSBufferId::BufferRow(i));
  }
  appended.Sort();
  EXPECT_EQ(inserted.GetCount(), 6);
  long lookedUp = inserted.Lookup(SQLVSBufferId::BufferRow(5)).GetPosition();
  EXPECT_TRUE(lookedUp == 0 || lookedUp == 2 || lookedUp == 4);
  long stable[] = {1, 5, 3, 0, 2, 4};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(appended.GetValue(i).GetPosition(), stable[i]);
    EXPECT_EQ(inserted.GetKey(i).GetPosition(), appended.GetKey(i).GetPosition());
  }
  SQLVSBufferIdKeySQLVSBufferIdArray unique(CompareInts, nullptr);
  unique.Append(SQLVSBufferId::BufferRow(1), SQLVSBufferId());
  unique.Append(SQLVSBufferId::BufferRow(1), SQLVSBufferId());
  EXPECT_THROW(unique.Sort(), SLExDuplicate);
  SQLVSBufferIdKeySQLVSBufferIdArraystepper empty(&unique);
  unique.Empty();
  EXPECT_FALSE(empty.First());
}

}  // namespace
