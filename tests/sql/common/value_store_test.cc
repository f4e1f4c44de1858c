#include "sql/common/value_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <molvane/datetime.h>

#include "sql/common/sql_logger.h"

namespace {

unsigned char const *U(char const *s) { return reinterpret_cast<unsigned char const *>(s); }

std::string Str(SQLValueStore const &v) { return std::string(v.GetString(), v.GetLength()); }

std::string Logged(SQLValueStore const &v) {
  SQLLogger::Instance()->SetLogFlags(1);
  testing::internal::CaptureStderr();
  v.Log();
  return testing::internal::GetCapturedStderr();
}

TEST(SQLValueStore, NewStoreIsUndefinedAndNotNull) {
  SQLValueStore v;
  EXPECT_EQ(SQL_UNDEFINED, v.GetType());
  EXPECT_FALSE(v.IsNull());
  EXPECT_EQ("<Undefined>", Logged(v));
}

TEST(SQLValueStore, SetNullKeepsTypeAndValueUntilTheNextSetter) {
  SQLValueStore v;
  v.SetInteger(5);
  v.SetNull();
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(SQL_INTEGER, v.GetType());
  EXPECT_EQ(5, v.GetInteger());
  v.SetReal(1.5);
  EXPECT_FALSE(v.IsNull());
  EXPECT_EQ(SQL_REAL, v.GetType());
}

TEST(SQLValueStore, StringBufferIsTerminatedAndReused) {
  SQLValueStore v;
  v.SetString(nullptr, 0);
  EXPECT_EQ(1u, v.GetCapacity());
  EXPECT_STREQ("", v.GetString());
  v.SetString("hello world");
  unsigned char const *buffer = v.GetBytes();
  v.SetString("hi");
  EXPECT_EQ(buffer, v.GetBytes());  // big enough: reused
  EXPECT_STREQ("hi", v.GetString());
  v.AppendString(U("  "), 2);
  v.RightPadString(1);
  EXPECT_EQ("hi   ", Str(v));
  v.StripTrailingSpaces();
  EXPECT_EQ("hi", Str(v));
  v.FillString(' ', 3);
  v.StripTrailingSpaces();
  EXPECT_EQ(0u, v.GetLength());
  v.SetString("abc");
  v.AppendString(v.GetBytes(), 3);  // from its own buffer while it grows
  v.AppendString(v.GetBytes(), 6);
  EXPECT_EQ("abcabcabcabc", Str(v));
}

TEST(SQLValueStore, RawBuffersHoldExactlyTheirBytes) {
  SQLValueStore v;
  v.SetRaw(U("\x01\x00\x02"), 3);
  EXPECT_EQ(SQL_RAW, v.GetType());
  EXPECT_EQ(3u, v.GetCapacity());
  v.RightPadRaw(2);
  EXPECT_EQ(0, std::memcmp(v.GetBytes(), "\x01\x00\x02\x00\x00", 5));
  v.FillRaw(0xAB, 2);
  EXPECT_EQ(2u, v.GetLength());
  EXPECT_EQ("Raw:ABAB", Logged(v));
}

TEST(SQLValueStore, ArraysKeepTheirElementsWhenShrinking) {
  SQLValueStore v;
  v.SetString("gone");
  v.SetDimension(3);
  EXPECT_EQ(SQL_ARRAY, v.GetType());
  EXPECT_EQ(SQL_UNDEFINED, v.GetElement(2)->GetType());
  v.GetElement(0)->SetInteger(1);
  v.GetElement(1)->SetNull();
  v.SetNull();
  EXPECT_FALSE(v.IsNull());  // an array is never NULL as a whole
  SQLValueStore *first = v.GetElement(0);
  v.SetDimension(2);
  EXPECT_EQ(first, v.GetElement(0));
  EXPECT_EQ(1, v.GetElement(0)->GetInteger());
  EXPECT_EQ("Arr:[0:Int:1,1:NULL]", Logged(v));
  v.SetInteger(4);  // a scalar setter ends the array
  EXPECT_EQ(SQL_INTEGER, v.GetType());
  EXPECT_EQ(0, v.GetDimension());
}

TEST(SQLValueStore, ConcatenateStringsAndRaws) {
  SQLValueStore a, b, r;
  a.SetString("ab");
  b.SetString("cde");
  r.Concatenate(&a, &b);
  EXPECT_EQ("abcde", Str(r));
  EXPECT_EQ('\0', r.GetString()[5]);
  a.SetRaw(U("\x01"), 1);
  b.SetRaw(U("\x02\x03"), 2);
  r.Concatenate(&a, &b);
  EXPECT_EQ(SQL_RAW, r.GetType());
  EXPECT_EQ(0, std::memcmp(r.GetBytes(), "\x01\x02\x03", 3));
  b.SetNull();
  r.Concatenate(&a, &b);
  EXPECT_TRUE(r.IsNull());
  SQLValueStore i;
  i.SetInteger(1);
  EXPECT_DEATH(r.Concatenate(&a, &i), "Unexpected types 256 and 1");
}

TEST(SQLValueStore, LogsEveryType) {
  SQLValueStore v;
  v.SetInteger(-3);
  EXPECT_EQ("Int:-3", Logged(v));
  v.SetString("x y");
  EXPECT_EQ("Str:'x y'", Logged(v));
  v.SetReal(2.5);
  EXPECT_EQ("Real:2.500000", Logged(v));
  v.SetDate(date_to_num(2024, 2, 29));
  EXPECT_EQ("Date:738945<2024/02/29>", Logged(v));
  v.SetDate(0);
  EXPECT_EQ("Date:0<Invalid>", Logged(v));
  v.SetTimestamp(86400 + 3661);
  EXPECT_EQ("Time:90061<1970/01/02 01:01:01>", Logged(v));
  v.SetIntervalDays(-2);
  EXPECT_EQ("IntDays:-2", Logged(v));
  v.SetIntervalSeconds(5000000000LL);
  EXPECT_EQ("IntSecs:5000000000", Logged(v));
  v.SetNull();
  EXPECT_EQ("NULL", Logged(v));
  SQLLogger::Instance()->SetLogFlags(0);
  testing::internal::CaptureStderr();
  v.Log();
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

TEST(SQLValueStore, IsEmptyByType) {
  SQLValueStore v;
  v.SetInteger(0);
  EXPECT_TRUE(v.IsEmpty());
  v.SetTimestamp(1);
  EXPECT_FALSE(v.IsEmpty());
  v.SetString("   ");
  EXPECT_TRUE(v.IsEmpty());
  v.SetString(" a");
  EXPECT_FALSE(v.IsEmpty());
  v.SetRaw(U("\0\0"), 2);
  EXPECT_TRUE(v.IsEmpty());
  v.SetDimension(0);
  EXPECT_FALSE(v.IsEmpty());
  v.SetDimension(2);
  v.GetElement(0)->SetReal(1.0);
  v.GetElement(1)->SetReal(0.0);
  EXPECT_TRUE(v.IsEmpty());
  v.SetNull();
  EXPECT_TRUE(SQLValueStore(v).IsEmpty());
}

TEST(SQLValueStore, CopiesAreDeep) {
  SQLValueStore a;
  a.SetDimension(2);
  a.GetElement(0)->SetString("one");
  a.GetElement(1)->SetRaw(U("\x07"), 1);
  SQLValueStore b(a);
  a.GetElement(0)->SetString("changed");
  EXPECT_STREQ("one", b.GetElement(0)->GetString());
  SQLValueStore c;
  c = std::move(b);
  EXPECT_EQ(2, c.GetDimension());
  EXPECT_EQ(SQL_RAW, c.GetElement(1)->GetType());
}

}  // namespace
