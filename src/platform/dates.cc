// Day numbers in the proleptic Gregorian calendar and UTC seconds.
//
// A day number counts days from 1 January of year 1 (day 1). Conversions go
// through whole 400-year cycles of 146097 days, so they are exact over the
// whole range without tables.
#include "platform/dates.h"

#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/timezone.h"

namespace {

constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;
constexpr int64_t kLastUtcSecond =
    (int64_t{AL_LAST_DAY_NUMBER} - kEpochDayNumber + 1) * kSecondsPerDay - 1;

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

// Days from 1 March of year 0 (the cycle's start) to the given date; March
// first puts the leap day at the end of the computed year.
int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = y / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;
}

void civil_from_days(int64_t z, int *y, int *m, int *d) {
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

// Day number 1 is civil day days_from_civil(1, 1, 1).
const int64_t kDayOneCivil = days_from_civil(1, 1, 1);

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

extern "C" int32_t date_to_num(int year, int month, int day) {
  if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1 ||
      day > days_in_month(year, month)) {
    return -1;
  }
  return static_cast<int32_t>(days_from_civil(year, month, day) - kDayOneCivil + 1);
}

extern "C" int num_to_date(int32_t day_number, int *year, int *month, int *day) {
  if (day_number < AL_FIRST_DAY_NUMBER || day_number > AL_LAST_DAY_NUMBER) return -1;
  int y, m, d;
  civil_from_days(day_number - 1 + kDayOneCivil, &y, &m, &d);
  if (year) *year = y;
  if (month) *month = m;
  if (day) *day = d;
  return 0;
}

int64_t utc_seconds_of(int year, int month, int day, int hour, int minute, int second) {
  const int64_t days = days_from_civil(year, month, day) - days_from_civil(1970, 1, 1);
  return days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

extern "C" int64_t al_pack_utc(int year, int month, int day, int hour, int minute,
                               int second) {
  if (date_to_num(year, month, day) < 0 || year < 1970 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59) {
    return -1;
  }
  return utc_seconds_of(year, month, day, hour, minute, second);
}

extern "C" int al_unpack_utc(int64_t utc, int *year, int *month, int *day, int *hour,
                             int *minute, int *second) {
  if (utc < 0 || utc > kLastUtcSecond) return -1;
  const int64_t days = utc / kSecondsPerDay;
  const int64_t rest = utc % kSecondsPerDay;
  num_to_date(static_cast<int32_t>(days + kEpochDayNumber), year, month, day);
  if (hour) *hour = static_cast<int>(rest / 3600);
  if (minute) *minute = static_cast<int>(rest / 60 % 60);
  if (second) *second = static_cast<int>(rest % 60);
  return 0;
}

struct tm *qelt_gmtime(int64_t seconds, struct tm *result) {
  const int64_t days = floor_div(seconds, kSecondsPerDay);
  const int64_t rest = seconds - days * kSecondsPerDay;
  const int64_t day_number = days + kEpochDayNumber;
  if (result == nullptr || day_number < AL_FIRST_DAY_NUMBER ||
      day_number > AL_LAST_DAY_NUMBER) {
    return nullptr;
  }
  int y, m, d;
  num_to_date(static_cast<int32_t>(day_number), &y, &m, &d);
  *result = tm{};
  result->tm_sec = static_cast<int>(rest % 60);
  result->tm_min = static_cast<int>(rest / 60 % 60);
  result->tm_hour = static_cast<int>(rest / 3600);
  result->tm_mday = d;
  result->tm_mon = m - 1;
  result->tm_year = y - 1900;
  // Day 1 (1 January of year 1) was a Monday.
  result->tm_wday = static_cast<int>(day_number % 7);
  result->tm_yday = static_cast<int>(day_number - date_to_num(y, 1, 1));
  result->tm_isdst = 0;
  return result;
}

int32_t date_num() {
  const int64_t local = al_utc_to_local(al_time(nullptr));
  return static_cast<int32_t>(floor_div(local, kSecondsPerDay) + kEpochDayNumber);
}

int format_date(int32_t day_number, const char *format, char *output, size_t size) {
  if (output == nullptr || size == 0) return -1;
  output[0] = '\0';
  int year, month, day;
  if (format == nullptr || num_to_date(day_number, &year, &month, &day) < 0) return -1;

  std::string text;
  for (const char *p = format; *p != '\0';) {
    const char c = *p;
    size_t run = 0;
    while (p[run] == c) ++run;
    char field[16];
    if (c == 'D' || c == 'M') {
      const int width = static_cast<int>(run > 9 ? 9 : run);
      std::snprintf(field, sizeof field, "%0*d", width, c == 'D' ? day : month);
      text += field;
    } else if (c == 'Y') {
      if (run >= 3) {
        std::snprintf(field, sizeof field, "%04d", year);
      } else if (run == 2) {
        std::snprintf(field, sizeof field, "%02d", year % 100);
      } else {
        std::snprintf(field, sizeof field, "%d", year % 10);
      }
      text += field;
    } else {
      text.append(run, c);
    }
    p += run;
  }
  if (text.size() >= size) return -1;
  text.copy(output, text.size());
  output[text.size()] = '\0';
  return static_cast<int>(text.size());
}
