#include "sql/common/sql_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sql/common/crc32.h"

namespace {

TEST(SQLString, CapacityIsContentPlusTenAndGrowsOnAppend) {
  SQLString s("abc");
  EXPECT_EQ(3, s.Length());
  EXPECT_EQ(13, s.Capacity());
  s += SQLString("0123456789");
  EXPECT_EQ(13, s.Length());
  EXPECT_EQ(23, s.Capacity());
  EXPECT_STREQ("abc0123456789", s.GetString());

  EXPECT_EQ(10, SQLString().Capacity());
  EXPECT_EQ(0, SQLString().Length());
  EXPECT_EQ(60, SQLString(50).Capacity());
  EXPECT_STREQ("", SQLString(50).GetString());
}

TEST(SQLString, ConstructorsStopAtNulAndTakeAPrefix) {
  EXPECT_STREQ("ab", SQLString("abcdef", 2).GetString());
  EXPECT_EQ(2, SQLString("ab\0cd", 5).Length());
  EXPECT_EQ(0, SQLString(static_cast<char const *>(nullptr)).Length());
  EXPECT_EQ(0, SQLString("abc", -1).Length());
  EXPECT_STREQ("abc", SQLString("abc", SQLString::Native).GetString());
}

TEST(SQLString, CopiesAreIndependent) {
  SQLString a("first");
  SQLString b(a);
  b += SQLString(" more");
  EXPECT_STREQ("first", a.GetString());
  SQLString c;
  c = b;
  EXPECT_EQ(b, c);
  c = SQLString("x");  // shorter content reuses the buffer
  EXPECT_STREQ("x", c.GetString());
  EXPECT_STREQ("first more", b.GetString());
  c = c;
  EXPECT_STREQ("x", c.GetString());
}

TEST(SQLString, ConcatenationAndSelfAppend) {
  SQLString a("foo"), b("bar");
  SQLString ab = a + b;
  EXPECT_STREQ("foobar", ab.GetString());
  EXPECT_EQ(6, ab.Length());
  EXPECT_STREQ("foo", a.GetString());
  ab += ab;
  EXPECT_STREQ("foobarfoobar", ab.GetString());
  std::string expected;
  SQLString grown;
  for (int i = 0; i < 100; ++i) {
    grown += SQLString("xyz");
    expected += "xyz";
  }
  EXPECT_EQ(expected, grown.GetString());
}

TEST(SQLString, EqualityComparesLengthAndBytes) {
  struct Case {
    char const *a, *b;
    bool equal;
  } cases[] = {{"", "", true}, {"abc", "abc", true}, {"abc", "abd", false},
               {"abc", "ab", false}, {"ab", "abc", false}};
  for (auto const &c : cases) {
    EXPECT_EQ(c.equal, SQLString(c.a) == SQLString(c.b)) << c.a << " vs " << c.b;
    EXPECT_EQ(!c.equal, SQLString(c.a) != SQLString(c.b));
  }
}

TEST(SQLString, PrintAlwaysTerminatesWithinTheBuffer) {
  SQLString s("hello");
  char buf[8];
  std::memset(buf, 'Z', sizeof buf);
  s.Print(buf, 1);
  EXPECT_EQ('\0', buf[0]);
  EXPECT_EQ('Z', buf[1]);
  s.Print(buf, 4);
  EXPECT_STREQ("hel", buf);
  s.Print(buf, 8);
  EXPECT_STREQ("hello", buf);
  s.Print(buf, 0);  // no room at all: nothing written
  EXPECT_STREQ("hello", buf);
}

TEST(SQLString, HashIsTheCrc32OfTheBytes) {
  EXPECT_EQ(0x352441C2UL, SQLString("abc").Hash());
  EXPECT_EQ(0UL, SQLString().Hash());
  EXPECT_EQ(SQLString("table1").Hash(), SQLStringHash(SQLString("table1")));
  EXPECT_NE(SQLString("table1").Hash(), SQLString("table2").Hash());
}

TEST(Crc32, CheckValuesAndContinuation) {
  auto const *digits = reinterpret_cast<unsigned char const *>("123456789");
  EXPECT_EQ(0xCBF43926UL, calc_crc(0, digits, 9));
  // Hashing in pieces gives the same value as one pass.
  EXPECT_EQ(0xCBF43926UL, calc_crc(calc_crc(0, digits, 4), digits + 4, 5));
  EXPECT_EQ(0x1234UL, calc_crc(0x1234, digits, 0));
  EXPECT_EQ(0x1234UL, calc_crc(0x1234, digits, -5));
  unsigned char zero = 0;
  EXPECT_EQ(0xD202EF8DUL, calc_crc(0, &zero, 1));
}

}  // namespace
