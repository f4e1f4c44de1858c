// Day numbers, UTC seconds and date formatting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include <molvane/datetime.h>

// Day number of 1 January 1970, the first day of UTC seconds.
inline constexpr int32_t kEpochDayNumber = 719163;
inline constexpr int64_t kSecondsPerDay = 86400;

// Today's day number in the local time zone.
int32_t date_num();

// Writes a day number as text by a pattern: a run of "D" is the day of the
// month and a run of "M" the month, zero-padded to the run's length (a
// single letter gives no padding); "YY" is the year's last two digits and
// a run of three or more "Y" the year zero-padded to four digits (a single
// "Y" is the last digit). Other characters are copied. The output always
// ends with a NUL. Returns the length written, or -1 (output empty) for a
// day number outside 1..3652059 or when the output does not fit in `size`.
int format_date(int32_t day_number, const char *format, char *output, size_t size);

// The broken-down UTC time of seconds since 1970 into `result` (seconds,
// minutes, hours, day of month, month 0..11, years since 1900, week day,
// year day; no daylight saving); null for a time outside years 1..9999.
struct tm *qelt_gmtime(int64_t seconds, struct tm *result);

// Seconds since 1970 (negative before) of a UTC date and time whose fields
// are already valid; no checks.
int64_t utc_seconds_of(int year, int month, int day, int hour, int minute, int second);
