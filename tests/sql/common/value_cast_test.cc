#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sql/common/sql_exception.h"
#include "sql/common/value_store.h"

namespace {

SQLType const kScalarTypes[] = {SQL_INTEGER,       SQL_STRING,           SQL_REAL, SQL_DATE,
                                SQL_TIMESTAMP,     SQL_INTERVAL_DAYS,    SQL_RAW,
                                SQL_INTERVAL_SECONDS};

// A non-NULL sample of each type.
SQLValueStore Sample(SQLType type) {
  SQLValueStore v;
  switch (type) {
    case SQL_INTEGER: v.SetInteger(7); break;
    case SQL_STRING: v.SetString("seven"); break;
    case SQL_REAL: v.SetReal(7.5); break;
    case SQL_DATE: v.SetDate(738945); break;
    case SQL_TIMESTAMP: v.SetTimestamp(1700000000); break;
    case SQL_INTERVAL_DAYS: v.SetIntervalDays(-7); break;
    case SQL_RAW: v.SetRaw(reinterpret_cast<unsigned char const *>("\x07\x00"), 2); break;
    default: v.SetIntervalSeconds(7000000000LL); break;
  }
  return v;
}

TEST(SQLValueStoreCast, CopyTakesOverEveryTypeAndNull) {
  for (SQLType t : kScalarTypes) {
    SQLValueStore src = Sample(t), dst;
    dst.SetDimension(4);
    dst.Copy(&src);
    EXPECT_EQ(SQLValueStore::Compare(&src, &dst, SQL_COMP_EQ), TV_TRUE) << t;
    EXPECT_EQ(t, dst.GetType());
    src.SetNull();
    dst.Copy(&src);
    EXPECT_TRUE(dst.IsNull()) << t;
    EXPECT_EQ(t, dst.GetType());
  }
  SQLValueStore undefined, dst;
  EXPECT_DEATH(dst.Copy(&undefined), "Unexpected type 0");
}

TEST(SQLValueStoreCast, CopyOfAnArrayCopiesElementsAndFromItsOwnElement) {
  SQLValueStore src;
  src.SetDimension(2);
  src.GetElement(0)->SetString("a");
  src.GetElement(1)->SetNull();
  SQLValueStore dst;
  dst.Copy(&src);
  ASSERT_EQ(2, dst.GetDimension());
  EXPECT_STREQ("a", dst.GetElement(0)->GetString());
  EXPECT_TRUE(dst.GetElement(1)->IsNull());
  dst.Copy(dst.GetElement(0));
  EXPECT_EQ(SQL_STRING, dst.GetType());
  EXPECT_STREQ("a", dst.GetString());
}

TEST(SQLValueStoreCast, CopyAndCastBetweenEveryPairOfTypes) {
  for (SQLType from : kScalarTypes)
    for (SQLType to : kScalarTypes) {
      SQLValueStore src = Sample(from), dst;
      if (from == to) {
        dst.CopyAndCast(&src, to);
        EXPECT_EQ(TV_TRUE, SQLValueStore::Compare(&src, &dst, SQL_COMP_EQ));
      } else if (from == SQL_INTEGER && to == SQL_REAL) {
        dst.CopyAndCast(&src, to);
        EXPECT_EQ(SQL_REAL, dst.GetType());
        EXPECT_EQ(7.0, dst.GetReal());
      } else {
        std::string message = "Cannot cast type " + std::to_string(from) + " to type " +
                              std::to_string(to);
        EXPECT_DEATH(dst.CopyAndCast(&src, to), message);
      }
      // A NULL source casts to a NULL of the requested type, whatever the pair.
      src.SetNull();
      dst.CopyAndCast(&src, to);
      EXPECT_TRUE(dst.IsNull());
      EXPECT_EQ(to, dst.GetType());
    }
}

TEST(SQLValueStoreCast, CopyAndCastOfAnArrayCastsEachElement) {
  SQLValueStore src, dst;
  src.SetDimension(2);
  src.GetElement(0)->SetInteger(3);
  src.GetElement(1)->SetReal(0.5);
  dst.CopyAndCast(&src, SQL_REAL);
  EXPECT_EQ(3.0, dst.GetElement(0)->GetReal());
  EXPECT_EQ(0.5, dst.GetElement(1)->GetReal());
}

TEST(SQLValueStoreCast, ReinterpretNumbersAsDatesTimesAndIntervals) {
  struct Case {
    double real;  // used when isReal
    bool isReal;
    std::int32_t integer;
    SQLType to;
    bool overflow;
    std::int64_t expected;
  } cases[] = {
      {0, false, 3652059, SQL_DATE, false, 3652059},
      {0, false, 3652060, SQL_DATE, true, 0},
      {0, false, -5, SQL_DATE, false, -5},  // only the upper bound is a date's
      {2.9, true, 0, SQL_DATE, false, 2},
      {-2.9, true, 0, SQL_INTERVAL_DAYS, false, -2},
      {3e9, true, 0, SQL_INTERVAL_DAYS, true, 0},
      {-3e9, true, 0, SQL_INTERVAL_DAYS, true, 0},
      {-3e9, true, 0, SQL_DATE, true, 0},
      {3e9, true, 0, SQL_INTERVAL_SECONDS, false, 3000000000LL},
      {1e19, true, 0, SQL_TIMESTAMP, true, 0},
      {0, false, -1, SQL_TIMESTAMP, false, -1},
  };
  for (auto const &c : cases) {
    SQLValueStore src, dst;
    if (c.isReal) src.SetReal(c.real);
    else src.SetInteger(c.integer);
    if (c.overflow) {
      EXPECT_THROW(dst.Reinterpret(&src, c.to), SQLExDEDatetimeFieldOverflow) << c.real;
      continue;
    }
    dst.Reinterpret(&src, c.to);
    EXPECT_EQ(c.to, dst.GetType());
    bool wide = c.to == SQL_TIMESTAMP || c.to == SQL_INTERVAL_SECONDS;
    EXPECT_EQ(c.expected, wide ? dst.GetTimestamp() : dst.GetInteger()) << c.real;
  }
  SQLValueStore s = Sample(SQL_STRING), dst;
  EXPECT_DEATH(dst.Reinterpret(&s, SQL_DATE), "Unexpected type 2");
  s.SetNull();
  dst.Reinterpret(&s, SQL_TIMESTAMP);
  EXPECT_TRUE(dst.IsNull());
}

}  // namespace
