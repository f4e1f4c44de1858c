#include "sql/statement/diag_area.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "alloc_failure.h"

namespace {

struct Read {
  short result;
  char state[6];
  long native;
  char message[32];
  short length;
  int line;
};

Read ReadRecord(SQLDiagArea const &area, short n, short bufferLength = 32) {
  Read r{};
  std::memset(r.message, 'x', sizeof r.message);
  r.native = r.length = r.line = -7;
  r.result = area.GetDiagRec(n, r.state, &r.native, r.message, bufferLength, &r.length, &r.line);
  return r;
}

TEST(SQLDiagArea, NewestRecordComesFirstAndPastTheLastIsNoData) {
  SQLDiagArea area;
  area.CreateDiagRec("42I04", 0, SQLString("first"), 3);
  area.CreateDiagRec("24000", 17, SQLString("second"), 0);

  Read one = ReadRecord(area, 1);
  EXPECT_EQ(one.result, 0);
  EXPECT_STREQ(one.state, "24000");
  EXPECT_EQ(one.native, 17);
  EXPECT_STREQ(one.message, "second");
  EXPECT_EQ(one.length, 6);
  EXPECT_EQ(one.line, 0);

  Read two = ReadRecord(area, 2);
  EXPECT_EQ(two.result, 0);
  EXPECT_STREQ(two.state, "42I04");
  EXPECT_STREQ(two.message, "first");
  EXPECT_EQ(two.line, 3);

  Read three = ReadRecord(area, 3);
  EXPECT_EQ(three.result, 100);
  EXPECT_STREQ(three.state, "00000");
  EXPECT_EQ(three.native, 0);
  EXPECT_STREQ(three.message, "");
  EXPECT_EQ(three.length, 0);
  EXPECT_EQ(three.line, 0);
}

struct MisuseCase {
  char const *name;
  short n;
  short bufferLength;
  short result;
  char const *state;
  bool bufferWritten;
};

class SQLDiagAreaMisuse : public testing::TestWithParam<MisuseCase> {};

TEST_P(SQLDiagAreaMisuse, ReportsItsOwnStateAndEmptyOutputs) {
  MisuseCase const &c = GetParam();
  SQLDiagArea area;
  area.CreateDiagRec("22003", 501, SQLString("overflow"), 4);
  Read r = ReadRecord(area, c.n, c.bufferLength);
  EXPECT_EQ(r.result, c.result);
  EXPECT_STREQ(r.state, c.state);
  EXPECT_EQ(r.native, 0);
  EXPECT_EQ(r.length, 0);
  EXPECT_EQ(r.line, 0);
  EXPECT_EQ(r.message[0], c.bufferWritten ? '\0' : 'x');
  EXPECT_EQ(area.NrRecords(), 1);  // misuse adds no record
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SQLDiagAreaMisuse,
    testing::Values(MisuseCase{"RecordZero", 0, 32, -1, "35000", true},
                    MisuseCase{"NegativeRecordNoBuffer", -3, 0, -1, "35000", false},
                    MisuseCase{"PastTheLast", 2, 32, 100, "00000", true},
                    MisuseCase{"BufferLengthZero", 1, 0, -1, "HY090", false},
                    MisuseCase{"BufferLengthNegative", 1, -5, -1, "HY090", false}),
    [](testing::TestParamInfo<MisuseCase> const &info) { return std::string(info.param.name); });

TEST(SQLDiagArea, LongMessageIsCutButItsFullLengthReported) {
  SQLDiagArea area;
  area.CreateDiagRec("QP999", 0, SQLString("a message longer than the buffer"), 0);
  Read r = ReadRecord(area, 1, 8);
  EXPECT_EQ(r.result, 0);
  EXPECT_STREQ(r.message, "a messa");
  EXPECT_EQ(r.length, 32);
  EXPECT_EQ(r.message[8], 'x');  // nothing written past the buffer length
}

TEST(SQLDiagArea, LengthAboveShortRangeIsReportedAsLargestShort) {
  SQLDiagArea area;
  area.CreateDiagRec("QP999", 0, SQLString(std::string(40000, 'm').c_str()), 0);
  Read r = ReadRecord(area, 1);
  EXPECT_EQ(r.length, 32767);
}

TEST(SQLDiagArea, NullOutputsAreSkippedAndStateIsCutToFiveCharacters) {
  SQLDiagArea area;
  area.CreateDiagRec("HY0101234", 9, SQLString("m"), 0);
  EXPECT_EQ(area.GetDiagRec(1, nullptr, nullptr, nullptr, 10, nullptr, nullptr), 0);
  char state[6];
  EXPECT_EQ(area.GetDiagRec(1, state, nullptr, nullptr, 10, nullptr, nullptr), 0);
  EXPECT_STREQ(state, "HY010");
}

TEST(SQLDiagArea, FailedAllocationFillsTheSpareAndDropsLaterRecords) {
  SQLDiagArea area;
  area.CreateDiagRec("42000", 0, SQLString("kept"), 0);
  SQLString empty;
  {
    ScopedAllocationFailure fail;
    area.CreateDiagRec("QP501", 501, empty, 7);
  }
  area.CreateDiagRec("24000", 0, SQLString("dropped"), 0);
  EXPECT_EQ(area.NrRecords(), 2);

  Read spare = ReadRecord(area, 1);
  EXPECT_EQ(spare.result, 0);
  EXPECT_STREQ(spare.state, "QP501");
  EXPECT_EQ(spare.native, 501);
  EXPECT_STREQ(spare.message, "");
  EXPECT_EQ(spare.line, 7);
  Read kept = ReadRecord(area, 2);
  EXPECT_STREQ(kept.message, "kept");
  EXPECT_EQ(ReadRecord(area, 3).result, 100);

  area.Empty();
  EXPECT_EQ(area.NrRecords(), 0);
  area.CreateDiagRec("24000", 0, SQLString("after"), 0);
  EXPECT_STREQ(ReadRecord(area, 1).message, "after");
}

TEST(SQLDiagArea, FailureWhileLinkingTheRecordLeavesNoLeak) {
  // Each of the record, its message copy and its list element fails in turn.
  SQLDiagArea area;
  SQLString message("m");
  for (int skip = 0; skip < 3; ++skip) {
    {
      ScopedAllocationFailure fail(skip, 1);
      area.CreateDiagRec("QP501", 501, message, 0);
    }
    EXPECT_EQ(area.NrRecords(), 1) << skip;
    area.Empty();
  }
}

}  // namespace
