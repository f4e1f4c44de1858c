#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include <molvane/platform.h>

#include "platform/dates.h"
#include "platform/timezone.h"
#include "platform/user.h"
#include "support/test_env.h"

namespace {

int64_t utc(int y, int mo, int d, int h, int mi, int s) { return al_pack_utc(y, mo, d, h, mi, s); }

// Local wall-clock seconds of a date and time.
int64_t wall(int y, int mo, int d, int h, int mi, int s) { return utc_seconds_of(y, mo, d, h, mi, s); }

TEST(TimeZone, ConvertsAcrossDaylightSavingChanges) {
  ASSERT_EQ(0, qelt_timezone_set("Europe/Amsterdam"));
  struct Case {
    int64_t utc;
    int64_t local;
    bool unique;  // the local time occurs once
  };
  const Case cases[] = {
      {utc(2024, 3, 31, 0, 59, 59), wall(2024, 3, 31, 1, 59, 59), true},  // last second of CET
      {utc(2024, 3, 31, 1, 0, 0), wall(2024, 3, 31, 3, 0, 0), true},      // first of CEST
      {utc(2024, 7, 1, 12, 0, 0), wall(2024, 7, 1, 14, 0, 0), true},
      {utc(2024, 10, 27, 0, 59, 59), wall(2024, 10, 27, 2, 59, 59), true},
      {utc(2024, 10, 27, 1, 0, 0), wall(2024, 10, 27, 2, 0, 0), false},   // back to CET
      {utc(2024, 10, 27, 2, 0, 0), wall(2024, 10, 27, 3, 0, 0), true},
      {utc(2200, 7, 1, 12, 0, 0), wall(2200, 7, 1, 14, 0, 0), true},  // beyond the table: rule
      {utc(2200, 1, 1, 12, 0, 0), wall(2200, 1, 1, 13, 0, 0), true},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.local, al_utc_to_local(c.utc)) << c.utc;
    if (c.unique) {
      EXPECT_EQ(c.utc, al_local_to_utc(c.local)) << c.local;
    }
  }
  // A skipped local time reads with the offset before the change.
  EXPECT_EQ(utc(2024, 3, 31, 1, 30, 0), al_local_to_utc(wall(2024, 3, 31, 2, 30, 0)));
  // A repeated local time reads as its first occurrence.
  EXPECT_EQ(utc(2024, 10, 27, 0, 30, 0), al_local_to_utc(wall(2024, 10, 27, 2, 30, 0)));
}

TEST(TimeZone, ExtremeTimesDoNotOverflow) {
  ASSERT_EQ(0, qelt_timezone_set("JST-9"));
  EXPECT_EQ(INT64_MAX, al_utc_to_local(INT64_MAX));
  EXPECT_EQ(INT64_MIN, al_local_to_utc(INT64_MIN));
  EXPECT_EQ(INT64_MAX - 9 * 3600, al_local_to_utc(INT64_MAX));
}

TEST(TimeZone, MktimeHonoursDaylightFlagAndNormalises) {
  ASSERT_EQ(0, qelt_timezone_set("Europe/Amsterdam"));
  struct tm t {};
  t.tm_year = 124, t.tm_mon = 9, t.tm_mday = 27, t.tm_hour = 2, t.tm_min = 30, t.tm_isdst = 0;
  EXPECT_EQ(utc(2024, 10, 27, 1, 30, 0), qelt_mktime(&t));
  EXPECT_EQ(0, t.tm_isdst);
  t = tm{};
  t.tm_year = 124, t.tm_mon = 9, t.tm_mday = 27, t.tm_hour = 2, t.tm_min = 30, t.tm_isdst = -1;
  EXPECT_EQ(utc(2024, 10, 27, 0, 30, 0), qelt_mktime(&t));
  EXPECT_EQ(1, t.tm_isdst);

  // 32 January 2024 25:00 is 2 February 01:00 (CET).
  t = tm{};
  t.tm_year = 124, t.tm_mon = 0, t.tm_mday = 32, t.tm_hour = 25, t.tm_isdst = -1;
  EXPECT_EQ(utc(2024, 2, 2, 0, 0, 0), qelt_mktime(&t));
  EXPECT_EQ(1, t.tm_mon);
  EXPECT_EQ(2, t.tm_mday);
  EXPECT_EQ(1, t.tm_hour);
  EXPECT_EQ(5, t.tm_wday);

  // Before 1970 is a valid, negative result.
  t = tm{};
  t.tm_year = 69, t.tm_mon = 11, t.tm_mday = 31, t.tm_hour = 23, t.tm_isdst = -1;
  EXPECT_EQ(-7200, qelt_mktime(&t));  // 23:00 CET is 22:00 UTC
}

TEST(TimeZone, MktimeReportsRangeErrors) {
  ASSERT_EQ(0, qelt_timezone_set("UTC"));
  struct tm t {};
  t.tm_year = 10000 - 1900, t.tm_mday = 1, t.tm_isdst = -1;
  errno = 0;
  EXPECT_EQ(-1, qelt_mktime(&t));
  EXPECT_EQ(ERANGE, errno);
  t = tm{};
  t.tm_year = 8099, t.tm_mon = 11, t.tm_mday = 31, t.tm_hour = 24;  // into year 10000
  errno = 0;
  EXPECT_EQ(-1, qelt_mktime(&t));
  EXPECT_EQ(ERANGE, errno);
  errno = 0;
  EXPECT_EQ(-1, qelt_mktime(nullptr));
  EXPECT_EQ(EINVAL, errno);
}

TEST(TimeZone, AcceptsPosixRules) {
  struct Case {
    const char *rule;
    int64_t at;
    int offset;
    bool dst;
  };
  const Case cases[] = {
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", utc(2024, 1, 15, 0, 0, 0), 11 * 3600, true},
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", utc(2024, 7, 15, 0, 0, 0), 10 * 3600, false},
      {"EST5EDT", utc(2024, 7, 1, 0, 0, 0), -4 * 3600, true},
      {"EST5EDT", utc(2024, 1, 15, 0, 0, 0), -5 * 3600, false},
      // Second Sunday of March 2024 is the 10th; the change is at 02:00 EST.
      {"EST5EDT,M3.2.0,M11.1.0", utc(2024, 3, 10, 6, 59, 59), -5 * 3600, false},
      {"EST5EDT,M3.2.0,M11.1.0", utc(2024, 3, 10, 7, 0, 0), -4 * 3600, true},
      {"<+0530>-5:30", utc(2024, 3, 10, 7, 0, 0), 5 * 3600 + 1800, false},
      {"XXX3YYY,J60/0,J300", utc(2023, 3, 1, 3, 0, 0), -2 * 3600, true},  // J60 is 1 March
      {"XXX3YYY,J60/0,J300", utc(2023, 2, 28, 23, 0, 0), -3 * 3600, false},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(0, qelt_timezone_set(c.rule)) << c.rule;
    bool dst = !c.dst;
    EXPECT_EQ(c.offset, tz_offset_at(c.at, &dst)) << c.rule << " at " << c.at;
    EXPECT_EQ(c.dst, dst) << c.rule;
  }
}

TEST(TimeZone, RefusesUnknownAndUnsafeNamesKeepingTheZone) {
  ASSERT_EQ(0, qelt_timezone_set("Asia/Tokyo"));
  const char *bad[] = {"No/Such_Zone", "../../etc/passwd", "/etc/localtime", "Europe/../UTC",
                       "AB1", "EST5EDT,M13.1.0,M11.1.0"};
  for (const char *name : bad) EXPECT_EQ(-1, qelt_timezone_set(name)) << name;
  EXPECT_EQ("Asia/Tokyo", tz_current_name());
  EXPECT_EQ(9 * 3600, tz_offset_at(0));
}

// A TZif file built field by field: version 0 (1) or '2' with a footer.
std::string tzif(char version, const std::vector<int64_t> &times,
                 const std::vector<uint8_t> &indices,
                 const std::vector<std::pair<int32_t, bool>> &types, const std::string &chars,
                 const std::vector<uint8_t> &designations, const std::string &footer) {
  auto be = [](std::string &out, uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i)));
  };
  auto block = [&](std::string &out, int width) {
    out += "TZif";
    out.push_back(version);
    out.append(15, '\0');
    for (uint64_t count : {uint64_t{0}, uint64_t{0}, uint64_t{0}, uint64_t{times.size()},
                           uint64_t{types.size()}, uint64_t{chars.size()}}) {
      be(out, count, 4);
    }
    for (int64_t t : times) be(out, static_cast<uint64_t>(t), width);
    for (uint8_t i : indices) out.push_back(static_cast<char>(i));
    for (size_t i = 0; i < types.size(); ++i) {
      be(out, static_cast<uint32_t>(types[i].first), 4);
      out.push_back(types[i].second ? 1 : 0);
      out.push_back(static_cast<char>(designations[i]));
    }
    out += chars;
  };
  std::string out;
  block(out, 4);
  if (version != '\0') {
    block(out, 8);
    out += "\n" + footer + "\n";
  }
  return out;
}

class ZoneFiles : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, set_zuv(root_.path().c_str())); }
  void Install(const std::string &name, const std::string &bytes) {
    root_.WriteFile("lib/zoneinfo/" + name, bytes);
  }
  molvane::test::ScratchDir root_;
};

TEST_F(ZoneFiles, ReadsVersion2FileUnderEnvironmentRootFirst) {
  const std::string chars("AAA\0BBB\0", 8);
  // Shadows the system's zone of the same name.
  Install("Europe/Amsterdam",
          tzif('2', {1000000000, 1100000000}, {1, 0}, {{3600, false}, {7200, true}}, chars,
               {0, 4}, "CCC-3"));
  ASSERT_EQ(0, qelt_timezone_set("Europe/Amsterdam"));
  std::string abbreviation;
  bool dst = false;
  EXPECT_EQ(3600, tz_offset_at(999999999, &dst, &abbreviation));
  EXPECT_EQ("AAA", abbreviation);
  EXPECT_EQ(7200, tz_offset_at(1000000000, &dst, &abbreviation));
  EXPECT_EQ("BBB", abbreviation);
  EXPECT_TRUE(dst);
  EXPECT_EQ(7200, tz_offset_at(1099999999));
  EXPECT_EQ(3 * 3600, tz_offset_at(2000000000, nullptr, &abbreviation));  // the footer rule
  EXPECT_EQ("CCC", abbreviation);
}

TEST_F(ZoneFiles, ReadsVersion1File) {
  Install("Test/Old", tzif('\0', {-100, 500}, {1, 0}, {{-3600, false}, {1800, true}},
                           std::string("X1\0Y2\0", 6), {0, 3}, ""));
  ASSERT_EQ(0, qelt_timezone_set("Test/Old"));
  EXPECT_EQ(-3600, tz_offset_at(-101));
  EXPECT_EQ(1800, tz_offset_at(0));
  EXPECT_EQ(-3600, tz_offset_at(1000000));
}

TEST_F(ZoneFiles, RefusesMalformedFiles) {
  const std::string good = tzif('2', {1000000000}, {1}, {{0, false}, {3600, true}},
                                std::string("AAA\0BBB\0", 8), {0, 4}, "AAA0");
  struct Case {
    const char *name;
    std::string bytes;
  };
  std::string bad_index_v2 = tzif('2', {1000000000}, {2}, {{0, false}, {3600, true}},
                                  std::string("AAA\0BBB\0", 8), {0, 4}, "AAA0");
  std::string unsorted = tzif('2', {2000, 1000}, {0, 1}, {{0, false}, {3600, true}},
                              std::string("AAA\0BBB\0", 8), {0, 4}, "AAA0");
  std::string unterminated = tzif('2', {}, {}, {{0, false}}, std::string("AAA", 3), {0}, "AAA0");
  std::string huge_count = good;
  huge_count[20 + 12] = 0x7F;  // timecnt of the version 1 header
  const Case cases[] = {
      {"Bad/Truncated", good.substr(0, good.size() - 10)},
      {"Bad/NoFooterEnd", good.substr(0, good.size() - 1)},
      {"Bad/Magic", "TZix" + good.substr(4)},
      {"Bad/Index", bad_index_v2},
      {"Bad/Unsorted", unsorted},
      {"Bad/Designation", unterminated},
      {"Bad/HugeCount", huge_count},
      {"Bad/Empty", ""},
  };
  ASSERT_EQ(0, qelt_timezone_set("UTC"));
  for (const Case &c : cases) {
    Install(c.name, c.bytes);
    EXPECT_EQ(-1, qelt_timezone_set(c.name)) << c.name;
  }
  EXPECT_EQ("UTC", tz_current_name());
  Install("Good/Zone", good);
  EXPECT_EQ(0, qelt_timezone_set("Good/Zone"));
}

TEST(TimeZone, UserSettingAppliesUntilHostChooses) {
  std::snprintf(user_info.timezone, sizeof user_info.timezone, "Asia/Tokyo");
  EXPECT_EQ(9 * 3600, tz_offset_at(utc(2024, 1, 1, 0, 0, 0)));
  EXPECT_EQ("Asia/Tokyo", tz_current_name());
  ASSERT_EQ(0, qelt_timezone_set("UTC"));
  std::snprintf(user_info.timezone, sizeof user_info.timezone, "Europe/Amsterdam");
  EXPECT_EQ(0, tz_offset_at(utc(2024, 1, 1, 0, 0, 0)));
  ASSERT_EQ(0, qelt_timezone_set(nullptr));  // back to the default, which the user's setting wins
  EXPECT_EQ(3600, tz_offset_at(utc(2024, 1, 1, 0, 0, 0)));
  std::snprintf(user_info.timezone, sizeof user_info.timezone, "No/Such");
  EXPECT_EQ(3600, tz_offset_at(utc(2024, 1, 1, 0, 0, 0)));  // kept, and logged once
}

TEST(TimeZone, DateNumFollowsLocalDate) {
  ASSERT_EQ(0, qelt_timezone_set("Pacific/Kiritimati"));  // UTC+14
  const int64_t now = al_utc_to_local(std::time(nullptr));
  const int32_t expected = static_cast<int32_t>(now / kSecondsPerDay + kEpochDayNumber);
  const int32_t today = date_num();
  EXPECT_TRUE(today == expected || today == expected + 1);  // midnight may pass
}

}  // namespace
