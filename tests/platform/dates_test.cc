#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "platform/dates.h"

namespace {

struct DateCase {
  int year, month, day;
  int32_t number;  // -1 when invalid
};

class DateToNum : public testing::TestWithParam<DateCase> {};

TEST_P(DateToNum, GivesDayNumberOrRefuses) {
  const DateCase &c = GetParam();
  EXPECT_EQ(c.number, date_to_num(c.year, c.month, c.day))
      << c.year << "-" << c.month << "-" << c.day;
}

INSTANTIATE_TEST_SUITE_P(
    Dates, DateToNum,
    testing::Values(DateCase{1, 1, 1, 1}, DateCase{1, 12, 31, 365}, DateCase{2, 1, 1, 366},
                    DateCase{1970, 1, 1, 719163}, DateCase{2000, 1, 1, 730120},
                    DateCase{9999, 12, 31, 3652059},
                    // leap years around 1900 and 2000
                    DateCase{1900, 2, 29, -1}, DateCase{1900, 3, 1, 693655},
                    DateCase{1900, 2, 28, 693654}, DateCase{2000, 2, 29, 730179},
                    DateCase{2000, 3, 1, 730180}, DateCase{2004, 2, 29, 731640},
                    DateCase{2100, 2, 29, -1}, DateCase{1996, 2, 29, 728718},
                    // invalid fields
                    DateCase{0, 12, 31, -1}, DateCase{10000, 1, 1, -1}, DateCase{2020, 0, 1, -1},
                    DateCase{2020, 13, 1, -1}, DateCase{2020, 4, 31, -1},
                    DateCase{2020, 1, 0, -1}, DateCase{2020, 1, 32, -1},
                    DateCase{2021, 2, 29, -1}, DateCase{-5, 1, 1, -1}));

TEST(NumToDate, RefusesDayNumbersOutsideRange) {
  int y = 7, m = 7, d = 7;
  EXPECT_EQ(-1, num_to_date(0, &y, &m, &d));
  EXPECT_EQ(-1, num_to_date(3652060, &y, &m, &d));
  EXPECT_EQ(-1, num_to_date(-1, &y, &m, &d));
  EXPECT_EQ(7, y);  // outputs untouched
  ASSERT_EQ(0, num_to_date(1, &y, &m, &d));
  EXPECT_EQ(1, y);
  EXPECT_EQ(1, m);
  EXPECT_EQ(1, d);
  ASSERT_EQ(0, num_to_date(3652059, &y, &m, &d));
  EXPECT_EQ(9999, y);
  EXPECT_EQ(12, m);
  EXPECT_EQ(31, d);
  EXPECT_EQ(0, num_to_date(730180, nullptr, &m, nullptr));
  EXPECT_EQ(3, m);
}

// Every day number maps to a valid date that maps back to it, and
// consecutive numbers are consecutive calendar days.
TEST(NumToDate, RoundTripsOverWholeRange) {
  int prev_y = 0, prev_m = 12, prev_d = 31;
  for (int32_t n = 1; n <= 3652059; ++n) {
    int y, m, d;
    ASSERT_EQ(0, num_to_date(n, &y, &m, &d)) << n;
    ASSERT_EQ(n, date_to_num(y, m, d)) << n;
    const bool next_day = (y == prev_y && m == prev_m && d == prev_d + 1);
    const bool next_month = (y == prev_y && m == prev_m + 1 && d == 1);
    const bool next_year = (y == prev_y + 1 && m == 1 && d == 1 && prev_m == 12 && prev_d == 31);
    ASSERT_TRUE(next_day || next_month || next_year) << n;
    prev_y = y;
    prev_m = m;
    prev_d = d;
  }
}

struct FormatCase {
  int year, month, day;
  const char *format;
  const char *expected;
};

class FormatDate : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatDate, WritesPattern) {
  const FormatCase &c = GetParam();
  char out[64];
  const int len = format_date(date_to_num(c.year, c.month, c.day), c.format, out, sizeof out);
  EXPECT_STREQ(c.expected, out);
  EXPECT_EQ(static_cast<int>(std::strlen(c.expected)), len);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FormatDate,
    testing::Values(FormatCase{2024, 3, 5, "MMDDYYYY ", "03052024 "},
                    FormatCase{2024, 3, 5, "DD-MM-YY", "05-03-24"},
                    FormatCase{2024, 11, 25, "D/M/YYYY", "25/11/2024"},
                    FormatCase{2024, 3, 5, "D.M.YYYY", "5.3.2024"},
                    FormatCase{7, 1, 9, "YYYY-MM-DD", "0007-01-09"},
                    FormatCase{2009, 1, 9, "YY", "09"}, FormatCase{2009, 1, 9, "Y", "9"},
                    FormatCase{2024, 3, 5, "day DD", "day 05"}, FormatCase{2024, 3, 5, "", ""}));

TEST(FormatDate, RefusesBadDayNumberAndSmallBuffer) {
  char out[8] = "xxxxxxx";
  EXPECT_EQ(-1, format_date(0, "YYYY", out, sizeof out));
  EXPECT_STREQ("", out);
  EXPECT_EQ(-1, format_date(3652060, "YYYY", out, sizeof out));
  EXPECT_EQ(-1, format_date(730120, "YYYY-MM-DD", out, sizeof out));  // needs 11 bytes
  EXPECT_STREQ("", out);
  EXPECT_EQ(7, format_date(730120, "YYYY-MM", out, sizeof out));
  EXPECT_STREQ("2000-01", out);
}

TEST(Utc, PacksAndUnpacks) {
  EXPECT_EQ(0, al_pack_utc(1970, 1, 1, 0, 0, 0));
  EXPECT_EQ(951782400, al_pack_utc(2000, 2, 29, 0, 0, 0));
  EXPECT_EQ(4102444799, al_pack_utc(2099, 12, 31, 23, 59, 59));
  EXPECT_EQ(-1, al_pack_utc(1969, 12, 31, 23, 59, 59));
  EXPECT_EQ(-1, al_pack_utc(2001, 2, 29, 0, 0, 0));
  EXPECT_EQ(-1, al_pack_utc(2001, 1, 1, 24, 0, 0));

  int y, mo, d, h, mi, s;
  EXPECT_EQ(-1, al_unpack_utc(-1, &y, &mo, &d, &h, &mi, &s));
  ASSERT_EQ(0, al_unpack_utc(4102444799, &y, &mo, &d, &h, &mi, &s));
  EXPECT_EQ((std::vector<int>{2099, 12, 31, 23, 59, 59}), (std::vector<int>{y, mo, d, h, mi, s}));

  std::mt19937_64 random(42);
  std::uniform_int_distribution<int64_t> any(0, al_pack_utc(9999, 12, 31, 23, 59, 59));
  for (int i = 0; i < 10000; ++i) {
    const int64_t t = any(random);
    ASSERT_EQ(0, al_unpack_utc(t, &y, &mo, &d, &h, &mi, &s));
    ASSERT_EQ(t, al_pack_utc(y, mo, d, h, mi, s));
  }
}

TEST(Utc, GmtimeFillsBrokenDownTime) {
  struct tm parts {};
  ASSERT_NE(nullptr, qelt_gmtime(951825845, &parts));  // 2000-02-29 12:04:05, a Tuesday
  EXPECT_EQ(5, parts.tm_sec);
  EXPECT_EQ(4, parts.tm_min);
  EXPECT_EQ(12, parts.tm_hour);
  EXPECT_EQ(29, parts.tm_mday);
  EXPECT_EQ(1, parts.tm_mon);
  EXPECT_EQ(100, parts.tm_year);
  EXPECT_EQ(2, parts.tm_wday);
  EXPECT_EQ(59, parts.tm_yday);
  ASSERT_NE(nullptr, qelt_gmtime(-1, &parts));  // 1969-12-31 23:59:59
  EXPECT_EQ(69, parts.tm_year);
  EXPECT_EQ(23, parts.tm_hour);
  EXPECT_EQ(nullptr, qelt_gmtime(int64_t{1} << 50, &parts));
}

}  // namespace
