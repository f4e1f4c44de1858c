#include "sql/common/sql_parameter.h"

#include <gtest/gtest.h>

#include <string>

#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"

namespace {

unsigned char const *U(char const *s) { return reinterpret_cast<unsigned char const *>(s); }

SQLType const kTypes[] = {SQL_INTEGER, SQL_STRING,        SQL_REAL, SQL_DATE,
                          SQL_TIMESTAMP, SQL_INTERVAL_DAYS, SQL_RAW,  SQL_INTERVAL_SECONDS};

TEST(SQLParameter, IdsAreUniqueAndCounted) {
  unsigned long before = SQLParameter::_idCounter;
  SQLParameter a, b;
  EXPECT_EQ(before, a.GetId());
  EXPECT_EQ(before + 1, b.GetId());
  EXPECT_EQ(before + 2, SQLParameter::_idCounter);
  EXPECT_TRUE(a.GetNumericTypeOpen());
  EXPECT_EQ(SQL_UNDEFINED, a.GetType());
}

// Which binds each declared type accepts: a bind of another type throws and
// leaves the previous value.
TEST(SQLParameter, BindsAcceptOnlyTheirTypes) {
  enum { kInteger, kReal, kString, kRaw, kDate, kTimestamp, kIntDays, kIntSecs, kBinds };
  auto bind = [](SQLParameter &p, int which) {
    switch (which) {
      case kInteger: p.BindInteger(7); break;
      case kReal: p.BindReal(7.9); break;
      case kString: p.BindString(U("ab"), 2); break;
      case kRaw: p.BindRaw(U("\x01"), 1); break;
      case kDate: p.BindDate(7); break;
      case kTimestamp: p.BindTimestamp(7); break;
      case kIntDays: p.BindIntervalDays(7); break;
      default: p.BindIntervalSeconds(7); break;
    }
  };
  // Accepted binds per declared type, as bits of the enumeration above.
  auto accepted = [](SQLType t) {
    switch (t) {
      case SQL_INTEGER: return 1 << kInteger;
      case SQL_REAL: return 1 << kInteger | 1 << kReal;
      case SQL_STRING: return 1 << kString;
      case SQL_RAW: return 1 << kRaw;
      case SQL_DATE: return 1 << kInteger | 1 << kReal | 1 << kDate;
      case SQL_TIMESTAMP: return 1 << kInteger | 1 << kReal | 1 << kTimestamp;
      case SQL_INTERVAL_DAYS: return 1 << kInteger | 1 << kReal | 1 << kIntDays;
      default: return 1 << kInteger | 1 << kReal | 1 << kIntSecs;
    }
  };
  for (SQLType t : kTypes)
    for (int which = 0; which < kBinds; ++which) {
      SQLParameter p;
      p.SetType(t, 0, 1);
      p.SetNull();
      if (accepted(t) & (1 << which)) {
        bind(p, which);
        EXPECT_FALSE(p.IsNull()) << t << " " << which;
      } else {
        EXPECT_THROW(bind(p, which), SQLExInvalidParameterType) << t << " " << which;
        EXPECT_TRUE(p.IsNull());
      }
    }
}

TEST(SQLParameter, ConversionsOfIntegerAndRealBinds) {
  SQLParameter p;
  p.SetType(SQL_REAL, 0, 1);
  p.BindInteger(7);  // numeric type open: stays INTEGER
  EXPECT_EQ(SQL_INTEGER, p.GetValueStore()->GetType());
  EXPECT_EQ(7.0, p.GetReal());
  p.SetNumericTypeOpen(false);
  p.BindInteger(7);
  EXPECT_EQ(SQL_REAL, p.GetValueStore()->GetType());

  p.SetType(SQL_DATE, 0, 1);
  p.BindReal(2.9);
  EXPECT_EQ(2, p.GetDate());
  p.BindReal(-2.9);
  EXPECT_EQ(-2, p.GetDate());
  EXPECT_THROW(p.BindReal(1e10), SQLExDENumericValueOutOfRange);
  EXPECT_THROW(p.BindInteger(1L << 40), SQLExDENumericValueOutOfRange);
  EXPECT_EQ(-2, p.GetDate());

  p.SetType(SQL_INTERVAL_SECONDS, 0, 1);
  p.BindInteger(-5);
  EXPECT_EQ(-5, p.GetIntervalSeconds());
  p.SetType(SQL_TIMESTAMP, 0, 1);
  p.BindInteger(1L << 40);
  EXPECT_EQ(1LL << 40, p.GetTimestamp());
}

TEST(SQLParameter, StringAndRawBindsRecordTheirLength) {
  SQLParameter p;
  p.SetType(SQL_STRING, 10, 1);
  p.BindString(U("abc"), 3);
  EXPECT_EQ(3u, p.GetLength());
  unsigned char const *bytes;
  unsigned long n;
  p.GetString(&bytes, &n);
  EXPECT_EQ("abc", std::string(reinterpret_cast<char const *>(bytes), n));
  p.SetType(SQL_RAW, 0, 1);
  EXPECT_THROW(p.BindRaw(U(""), 0), SQLExZeroLengthRawBound);
  p.BindRaw(U("\x01\x02"), 2);
  p.GetRaw(&bytes, &n);
  EXPECT_EQ(2u, n);
  EXPECT_EQ(2u, p.GetLength());
}

TEST(SQLParameter, BindVSChecksTypeAndDepthButTakesNull) {
  SQLParameter p;
  p.SetType(SQL_REAL, 0, 1);
  SQLValueStore v;
  v.SetInteger(4);
  p.BindVS(&v);  // INTEGER for REAL
  EXPECT_EQ(4, p.GetInteger());
  v.SetString("x");
  EXPECT_THROW(p.BindVS(&v), SQLExInvalidParameterType);
  v.SetNull();
  p.BindVS(&v);  // NULL of any type
  EXPECT_TRUE(p.IsNull());

  SQLParameter arr;
  arr.SetType(SQL_STRING, 0, 2);
  SQLValueStore a;
  a.SetDimension(2);
  a.GetElement(0)->SetString("abc");
  a.GetElement(1)->SetString("d");
  arr.BindVS(&a);
  EXPECT_EQ(3u, arr.GetLength());
  EXPECT_FALSE(arr.IsNull());
  SQLValueStore out;
  arr.CopyIntoVS(&out);
  EXPECT_STREQ("d", out.GetElement(1)->GetString());
  a.SetDimension(1);
  EXPECT_THROW(arr.BindVS(&a), SQLExInvalidParameterType);
}

TEST(SQLParameter, Log) {
  SQLParameter p;
  p.SetType(SQL_STRING, 0, 1);
  p.BindString(U("hi"), 2);
  SQLLogger::Instance()->SetLogFlags(1);
  testing::internal::CaptureStderr();
  p.Log();
  EXPECT_EQ("Parameter(id=" + std::to_string(p.GetId()) + ",Str:'hi',SQL_STRING,strLength=2)",
            testing::internal::GetCapturedStderr());
}

}  // namespace
