#include "sql/agent/token_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "platform/numbers.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Content(SQLTokenString const &ts) {
  unsigned char const *p;
  int n;
  ts.GetString(p, n);
  return Bytes(p, p + n);
}

struct GoldenCase {
  char const *name;
  std::function<void(SQLTokenString &)> write;
  Bytes bytes;
};

class TokenStringGolden : public testing::TestWithParam<GoldenCase> {};

TEST_P(TokenStringGolden, WritesLittleEndianItems) {
  SQLTokenString ts(20);
  GetParam().write(ts);
  EXPECT_EQ(GetParam().bytes, Content(ts));
}

INSTANTIATE_TEST_SUITE_P(
    EveryItemKind, TokenStringGolden,
    testing::Values(
        GoldenCase{"Bs1", [](SQLTokenString &t) { t.AppendBs1(-3); }, {1, 0xFD}},
        GoldenCase{"Bs2", [](SQLTokenString &t) { t.AppendBs2(-2); }, {2, 0xFE, 0xFF}},
        GoldenCase{"Bs4", [](SQLTokenString &t) { t.AppendBs4(0x12345678); }, {3, 0x78, 0x56, 0x34, 0x12}},
        GoldenCase{"Bs8",
                   [](SQLTokenString &t) { t.AppendBs8(INT64_C(0x0102030405060708)); },
                   {4, 8, 7, 6, 5, 4, 3, 2, 1}},
        GoldenCase{"Double", [](SQLTokenString &t) { t.AppendDouble(1.0); },
                   {5, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        GoldenCase{"Memory", [](SQLTokenString &t) { t.AppendMemory("abc", 3); },
                   {6, 3, 0, 'a', 'b', 'c'}},
        GoldenCase{"EmptyMemory", [](SQLTokenString &t) { t.AppendMemory("", 0); }, {6, 0, 0}},
        GoldenCase{"Token", [](SQLTokenString &t) { t.AppendToken(SQLNWTRSJoin); }, {7, 0x32, 0x01}},
        GoldenCase{"Type", [](SQLTokenString &t) { t.AppendType(SQL_TIMESTAMP); }, {7, 105, 0}},
        GoldenCase{"JoinType", [](SQLTokenString &t) { t.AppendJoinType(SQL_JOIN_FULL); }, {7, 123, 0}},
        GoldenCase{"Placeholders",
                   [](SQLTokenString &t) {
                     t.AppendToken(SQLNWTTerminator);
                     t.AppendBs2(0);
                     t.AppendBs4(0);
                     t.PutBs2(0x0102, 3);
                     t.PutBs4(-1, 6);
                   },
                   {7, 41, 0, 2, 2, 1, 3, 0xFF, 0xFF, 0xFF, 0xFF}}),
    [](testing::TestParamInfo<GoldenCase> const &info) { return std::string(info.param.name); });

TEST(TokenString, TypeTokensMapBothWays) {
  SQLType types[] = {SQL_INTEGER, SQL_STRING, SQL_REAL, SQL_DATE, SQL_TIMESTAMP,
                     SQL_INTERVAL_DAYS, SQL_INTERVAL_SECONDS, SQL_RAW};
  int codes[] = {102, 101, 103, 104, 105, 106, 107, 108};
  SQLTokenString ts(20);
  for (SQLType t : types) ts.AppendType(t);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(codes[i], ts.PeekToken()) << i;
    EXPECT_EQ(types[i], ts.GetType());
  }
  EXPECT_TRUE(ts.AtEnd());
}

TEST(TokenString, GrowsByTheRuleAcrossCapacityBoundaries) {
  SQLTokenString ts(20);
  for (int i = 0; i < 4; ++i) ts.AppendBs4(i);
  EXPECT_EQ(20, ts.Capacity());
  ts.AppendBs4(4);
  EXPECT_EQ(62, ts.Capacity());
  while (ts.Length() + 5 <= 62) ts.AppendBs4(0);
  EXPECT_EQ(62, ts.Capacity());
  ts.AppendBs4(0);
  EXPECT_EQ(116, ts.Capacity());

  SQLTokenString big(1000);
  std::vector<char> blob(990, 'x');
  big.AppendMemory(blob.data(), 990);  // 993 bytes, 994 counted
  EXPECT_EQ(1000, big.Capacity());
  big.AppendBs8(7);
  EXPECT_EQ(1334, big.Capacity());
  // The content survived every move.
  unsigned char const *p;
  std::int16_t n;
  big.GetMemory(p, n);
  EXPECT_EQ(990, n);
  EXPECT_EQ(0, std::memcmp(p, blob.data(), 990));
  EXPECT_EQ(7, big.GetBs8());

  SQLTokenString empty(nullptr, 0);
  empty.AppendToken(SQLNWTNull);
  EXPECT_EQ(SQLNWTNull, empty.GetToken());
}

TEST(TokenString, PeekTokenDoesNotConsume) {
  SQLTokenString ts(20);
  ts.AppendToken(SQLNWTRSTable);
  ts.AppendMemory("", 0);
  ts.AppendBs2(5);
  EXPECT_EQ(SQLNWTRSTable, ts.PeekToken());
  EXPECT_EQ(0, ts.GetReadOffset());
  EXPECT_EQ(SQLNWTRSTable, ts.GetToken());
  EXPECT_EQ(3, ts.GetReadOffset());
  EXPECT_EQ(SQLNWTmemory, ts.TypeCurrent());
  unsigned char const *p;
  std::int16_t n = -1;
  ts.GetMemory(p, n);
  EXPECT_EQ(0, n);
  unsigned char const *base;
  int len;
  ts.GetString(base, len);
  EXPECT_EQ(base + 6, p);  // points at the next item
  EXPECT_EQ(5, ts.GetBs2());
  EXPECT_TRUE(ts.AtEnd());
  ts.SetReadOffset(3);
  EXPECT_EQ(SQLNWTmemory, ts.TypeCurrent());
}

TEST(TokenString, PrependBuildsOutsideIn) {
  SQLTokenString inner(20), outer(20), empty(20);
  inner.AppendToken(SQLNWTRSTable);
  inner.AppendBs4(9);
  Bytes before = Content(inner);
  inner.PrependTokenString(empty);
  EXPECT_EQ(before, Content(inner));
  outer.AppendToken(SQLNWTRSFilter);
  inner.PrependTokenString(outer);
  EXPECT_EQ((Bytes{7, 48, 1, 7, 52, 1, 3, 9, 0, 0, 0}), Content(inner));
  inner.AppendTokenString(outer);
  EXPECT_EQ(14, inner.Length());
  inner.AppendTokenString(inner);
  EXPECT_EQ(28, inner.Length());
  inner.Truncate(3);
  EXPECT_EQ((Bytes{7, 48, 1}), Content(inner));
  inner.Reset();
  EXPECT_EQ(0, inner.Length());
  EXPECT_TRUE(inner.AtEnd());

  unsigned char const wire[] = {7, 41, 0};
  inner.SetString(wire, 3);
  EXPECT_EQ(SQLNWTTerminator, inner.GetToken());
  std::vector<unsigned char> large(500, 1);
  inner.SetString(large.data(), 500);
  EXPECT_EQ(500, inner.Length());
  EXPECT_GE(inner.Capacity(), 500);
}

// A random sequence of items, written and read back.
using Item = std::variant<std::int8_t, std::int16_t, std::int32_t, std::int64_t, double,
                          std::string, SQLNWToken>;

std::vector<Item> RandomItems(std::mt19937_64 &rng, int count) {
  std::vector<Item> items;
  for (int i = 0; i < count; ++i) {
    std::uint64_t r = rng();
    switch (rng() % 7) {
      case 0: items.emplace_back(static_cast<std::int8_t>(r)); break;
      case 1: items.emplace_back(static_cast<std::int16_t>(r)); break;
      case 2: items.emplace_back(static_cast<std::int32_t>(r)); break;
      case 3: items.emplace_back(static_cast<std::int64_t>(r)); break;
      case 4: {
        double d;
        std::memcpy(&d, &r, sizeof d);
        if (d != d) d = -0.0;  // NaN never compares equal
        items.emplace_back(d);
        break;
      }
      case 5: {
        std::string s(rng() % 70, '\0');
        for (char &c : s) c = static_cast<char>(rng());
        items.emplace_back(s);
        break;
      }
      default: items.emplace_back(static_cast<SQLNWToken>(static_cast<std::int16_t>(r))); break;
    }
  }
  return items;
}

void Write(SQLTokenString &ts, std::vector<Item> const &items) {
  for (Item const &it : items) {
    switch (it.index()) {
      case 0: ts.AppendBs1(std::get<0>(it)); break;
      case 1: ts.AppendBs2(std::get<1>(it)); break;
      case 2: ts.AppendBs4(std::get<2>(it)); break;
      case 3: ts.AppendBs8(std::get<3>(it)); break;
      case 4: ts.AppendDouble(std::get<4>(it)); break;
      case 5: ts.AppendMemory(std::get<5>(it).data(), static_cast<int>(std::get<5>(it).size())); break;
      case 6: ts.AppendToken(std::get<6>(it)); break;
    }
  }
}

Item ReadLike(SQLTokenString const &ts, Item const &expected) {
  switch (expected.index()) {
    case 0: return ts.GetBs1();
    case 1: return ts.GetBs2();
    case 2: return ts.GetBs4();
    case 3: return ts.GetBs8();
    case 4: return ts.GetDouble();
    case 5: {
      unsigned char const *p;
      std::int16_t n;
      ts.GetMemory(p, n);
      return std::string(reinterpret_cast<char const *>(p), static_cast<size_t>(n));
    }
    default: return ts.GetToken();
  }
}

TEST(TokenString, ReadsBackWhatWasWritten) {
  std::mt19937_64 rng(20261207);
  for (int round = 0; round < 200; ++round) {
    std::vector<Item> items = RandomItems(rng, static_cast<int>(rng() % 40));
    SQLTokenString ts(static_cast<int>(rng() % 30));
    Write(ts, items);
    // Read from a received copy, as a packet would arrive.
    unsigned char const *p;
    int n;
    ts.GetString(p, n);
    SQLTokenString received(p, n);
    for (Item const &expected : items) ASSERT_EQ(expected, ReadLike(received, expected)) << round;
    EXPECT_TRUE(received.AtEnd());
  }
}

// Every proper prefix of a well-formed string either reads whole items or
// raises the protocol error; the prefix is copied into a buffer of exactly
// its size, so a read past it is caught by the address sanitizer.
TEST(TokenString, TruncatedInputRaisesAtEveryBytePosition) {
  std::mt19937_64 rng(7);
  std::vector<Item> items = RandomItems(rng, 30);
  items.emplace_back(std::string("tail"));
  SQLTokenString full(20);
  Write(full, items);
  Bytes bytes = Content(full);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    SQLTokenString prefix(bytes.data(), static_cast<int>(cut));
    bool raised = false;
    try {
      for (Item const &expected : items) EXPECT_EQ(expected, ReadLike(prefix, expected));
    } catch (SQLExUnknownNetWorkToken const &e) {
      raised = true;
      EXPECT_STREQ("QP511", e.GetSQLState());
      EXPECT_EQ(511, e.GetZDBError());
    }
    EXPECT_TRUE(raised) << "cut at " << cut;
    EXPECT_LE(prefix.GetReadOffset(), static_cast<int>(cut));
  }
}

TEST(TokenString, MalformedItemsRaise) {
  struct Case {
    char const *name;
    Bytes bytes;
    std::function<void(SQLTokenString const &)> read;
  } cases[] = {
      {"WrongTag", {3, 1, 0, 0, 0}, [](SQLTokenString const &t) { t.GetBs2(); }},
      {"NegativeMemoryCount", {6, 0xFF, 0xFF, 1}, [](SQLTokenString const &t) {
         unsigned char const *p;
         std::int16_t n;
         t.GetMemory(p, n);
       }},
      {"MemoryPastEnd", {6, 5, 0, 'a'}, [](SQLTokenString const &t) {
         unsigned char const *p;
         std::int16_t n;
         t.GetMemory(p, n);
       }},
      {"NotATypeToken", {7, 0x32, 0x01}, [](SQLTokenString const &t) { t.GetType(); }},
      {"TypeCurrentAtEnd", {}, [](SQLTokenString const &t) { t.TypeCurrent(); }},
      {"SetReadOffsetPastEnd", {1, 0}, [](SQLTokenString const &t) { t.SetReadOffset(3); }},
  };
  for (auto const &c : cases) {
    SQLTokenString ts(c.bytes.data(), static_cast<int>(c.bytes.size()));
    EXPECT_THROW(c.read(ts), SQLExUnknownNetWorkToken) << c.name;
  }
  SQLTokenString ts(20);
  ts.AppendToken(SQLNWTRSJoin);
  try {
    ts.GetType();
    FAIL();
  } catch (SQLException const &e) {
    EXPECT_STREQ("Unexpected token 306", e.GetMessageText()->GetString());
  }
}

TEST(TokenString, OversizedMemoryIsATruncationError) {
  SQLTokenString ts(20);
  std::vector<char> blob(40000, 'x');
  ts.AppendMemory(blob.data(), 32767);
  EXPECT_EQ(32770, ts.Length());
  try {
    ts.AppendMemory(blob.data(), 32768);
    FAIL();
  } catch (SQLExDataException const &e) {
    EXPECT_STREQ("22001", e.GetSQLState());
  }
  EXPECT_EQ(32770, ts.Length());
}

TEST(TokenString, ListsTooLongToCountBecomeListsOfLists) {
  // Every count fits 16 bits and every item is read once, in order: 70,000
  // items are a list of three lists of 32,767, 32,767 and 4,466 items.
  struct {
    int n;
    std::vector<int> counts;  // of the lists, in the order they are read
  } const cases[] = {{3, {3}}, {32767, {32767}}, {32768, {2, 32767, 1}}, {70000, {3, 32767, 32767, 4466}}};
  for (auto const &c : cases) {
    int const n = c.n;
    SQLTokenString ts;
    ts.AppendNestedList(SQLNWTSCOr, n, [&](int i) { ts.AppendBs4(i); });
    int next = 0;
    std::vector<int> counts;
    std::function<void()> readList = [&] {
      ASSERT_EQ(ts.GetToken(), SQLNWTSCOr);
      int const count = ts.GetBs2();
      counts.push_back(count);
      for (int i = 0; i < count; ++i) {
        if (ts.TypeCurrent() == SQLNWTtoken) {
          readList();
        } else {
          ASSERT_EQ(ts.GetBs4(), next++);
        }
      }
    };
    readList();
    EXPECT_TRUE(ts.AtEnd());
    EXPECT_EQ(next, n);
    EXPECT_EQ(counts, c.counts);
  }
}

TEST(TokenString, ConvertDataFormatSwapsIntegersAndMemoryCounts) {
  SQLTokenString ts(20);
  ts.AppendBs1(5);
  ts.AppendBs2(0x0102);
  ts.AppendBs4(0x01020304);
  ts.AppendBs8(0x0102030405060708);
  ts.AppendDouble(2.5);
  ts.AppendMemory("xy", 2);
  ts.AppendToken(SQLNWTRSTable);
  Bytes original = Content(ts);
  ts.ConvertDataFormat(true, 0, 0, SQLTokenString::FromHostOrder);
  Bytes swapped = Content(ts);
  EXPECT_EQ((Bytes{1, 5, 2, 1, 2, 3, 1, 2, 3, 4, 4, 1, 2, 3, 4, 5, 6, 7, 8}),
            Bytes(swapped.begin(), swapped.begin() + 19));
  EXPECT_EQ(Bytes(original.begin() + 19, original.begin() + 28),
            Bytes(swapped.begin() + 19, swapped.begin() + 28));  // the double is untouched
  EXPECT_EQ((Bytes{6, 0, 2, 'x', 'y', 7, 1, 0x34}), Bytes(swapped.begin() + 28, swapped.end()));
  ts.ConvertDataFormat(true, 0, 0, SQLTokenString::ToHostOrder);
  EXPECT_EQ(original, Content(ts));
  ts.ConvertDataFormat(false, 1, 1, SQLTokenString::ToHostOrder);
  EXPECT_EQ(original, Content(ts));

  Bytes bad = {1, 0, 9, 0};
  SQLTokenString malformed(bad.data(), 4);
  EXPECT_THROW(malformed.ConvertDataFormat(true, 0, 0, SQLTokenString::ToHostOrder),
               SQLExUnknownNetWorkToken);
  Bytes cut = {6, 9, 0, 'a'};
  SQLTokenString shortMemory(cut.data(), 4);
  EXPECT_THROW(shortMemory.ConvertDataFormat(false, 0, 0, SQLTokenString::ToHostOrder),
               SQLExUnknownNetWorkToken);
}

TEST(TokenString, ConvertDataFormatConvertsDoublesBetweenRepresentations) {
  SQLTokenString ts(20);
  ts.AppendBs2(0x0102);
  ts.AppendDouble(1.0);
  ts.AppendMemory("z", 1);
  // Stored least significant byte first (code 0) to most significant first (code 1):
  // only the double changes, and swap does not touch it.
  ts.ConvertDataFormat(false, AL_DOUBLE_IEEE_LSB, AL_DOUBLE_IEEE_MSB, SQLTokenString::FromHostOrder);
  EXPECT_EQ((Bytes{2, 2, 1, 5, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 6, 1, 0, 'z'}), Content(ts));
  ts.ConvertDataFormat(false, AL_DOUBLE_IEEE_MSB, AL_DOUBLE_IEEE_LSB, SQLTokenString::ToHostOrder);
  EXPECT_EQ(0x0102, ts.GetBs2());
  EXPECT_EQ(1.0, ts.GetDouble());
}

std::string Trace(SQLTokenString const &ts) {
  SQLLogger::Instance()->SetLogFlags(SQLLogger::CommunicationPackets);
  SQLLogger::Instance()->ResetIndent();
  testing::internal::CaptureStderr();
  ts.Log();
  return testing::internal::GetCapturedStderr();
}

TEST(TokenString, TraceOfAQueryDescription) {
  // Filter (column 1 = 'ab') over table exdep010 in company 0.
  SQLTokenString ts(20);
  ts.AppendToken(SQLNWTRSFilter);
  ts.AppendToken(SQLNWTSCEquals);
  ts.AppendToken(SQLNWTVEColRef);
  ts.AppendBs1(0);
  ts.AppendBs2(1);
  ts.AppendToken(SQLNWTVEStringConst);
  ts.AppendMemory("ab", 2);
  ts.AppendToken(SQLNWTRSTable);
  ts.AppendMemory("exdep010", 8);
  ts.AppendBs4(-1);
  ts.AppendBs8(-5);
  ts.AppendDouble(0.5);
  EXPECT_EQ(
      "SQLNWTtoken SQLNWTRSFilter SQLNWTtoken SQLNWTSCEquals SQLNWTtoken SQLNWTVEColRef "
      "SQLNWTbs1 0 SQLNWTbs2 1 SQLNWTtoken SQLNWTVEStringConst SQLNWTmemory 2 97 98 "
      "SQLNWTtoken SQLNWTRSTable SQLNWTmemory 8 101 120 100 101 112 48 49 48 SQLNWTbs4 -1 "
      "SQLNWTbs8 -5 SQLNWTdouble 0.500000 \n",
      Trace(ts));

  SQLLogger::Instance()->SetLogFlags(0);
  testing::internal::CaptureStderr();
  ts.Log();
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

// A string is traced on one line whatever it holds: an unknown token is
// named by its number, an unknown tag ends the trace of the string.
TEST(TokenString, TraceOfUnknownTokensAndTags) {
  Bytes bytes = {7, 110, 0, 9, 7, 41, 0, 6, 9, 0};
  SQLTokenString ts(bytes.data(), static_cast<int>(bytes.size()));
  EXPECT_EQ(
      "SQLNWTtoken Unimplemented Log(SQLNWTToken) 110 "
      "Unimplemented Log(SQLNWTTokenType) 9 at offset 3, 6 bytes not traced\n",
      Trace(ts));
  Bytes cut = {7, 110, 0, 7, 41, 0, 6, 9, 0};
  SQLTokenString truncated(cut.data(), static_cast<int>(cut.size()));
  EXPECT_EQ(
      "SQLNWTtoken Unimplemented Log(SQLNWTToken) 110 SQLNWTtoken SQLNWTTerminator "
      "SQLNWTmemory Truncated item at offset 6\n",
      Trace(truncated));
  // A hostile string of unknown tags and tokens: still one line.
  Bytes hostile;
  for (int i = 0; i < 5000; ++i) hostile.insert(hostile.end(), {7, 0x7F, 0x7F});
  hostile.insert(hostile.end(), 10000, 0xEE);
  SQLTokenString many(hostile.data(), static_cast<int>(hostile.size()));
  const std::string trace = Trace(many);
  EXPECT_EQ(1, std::count(trace.begin(), trace.end(), '\n'));
}

TEST(TokenString, EveryNamedTokenHasItsName) {
  struct Case {
    int code;
    char const *name;
  } cases[] = {{1, "SQLNWTPacketForStmt"},  {34, "SQLNWTStmtExecuted"},
               {72, "SQLNWTTrimBoth"},      {108, "SQLNWTTypeRaw"},
               {123, "SQLNWTJoinTypeFull"}, {210, "SQLNWTNrRowsProcessed"},
               {331, "SQLNWTETUpdate"},     {426, "SQLNWTSCLikeAnsi"},
               {560, "SQLNWTVETextContent"}, {1018, "SQLNWTHintsNoHints"}};
  for (auto const &c : cases) EXPECT_STREQ(c.name, SQLNWTokenName(c.code));
  int named = 0;
  for (int code = -10; code < 2000; ++code) named += SQLNWTokenName(code) != nullptr;
  EXPECT_EQ(110, named);
  EXPECT_EQ(nullptr, SQLNWTokenName(SQLNWTTypeArray));
}

TEST(TokenStringDeathTest, WritersOfImpossibleValuesStop) {
  SQLTokenString ts(20);
  EXPECT_DEATH(ts.AppendType(SQL_ARRAY), "Unexpected type 128");
  EXPECT_DEATH(ts.AppendJoinType(static_cast<SQLJoinType>(4)), "Unexpected join type 4");
  EXPECT_DEATH(ts.PutBs4(1, 0), "No bs4 item at offset 0");
}

}  // namespace
