// The time-zone engine: TZif zone files and POSIX TZ rules.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include <molvane/datetime.h>

// Offset of local time from UTC (seconds east) at a UTC instant, in the
// current zone; `is_dst` and `abbreviation` are filled when not null.
int tz_offset_at(int64_t utc, bool *is_dst = nullptr, std::string *abbreviation = nullptr);

// The name the current zone was selected by ("UTC" when none was found).
std::string tz_current_name();

// Seconds since 1970 UTC of a broken-down local time (seconds, minutes,
// hours, day of month, month 0..11, years since 1900). Out-of-range fields
// carry into the next larger one, as with the C library's mktime. With
// tm_isdst -1 daylight saving is decided by the zone's rules; 0 or 1 pick
// that reading of a local time that occurs twice. On success the record
// is normalised (week day, year day and daylight flag filled). On failure
// returns -1 and sets errno: ERANGE for a time outside years 1..9999,
// EINVAL for a null record.
int64_t qelt_mktime(struct tm *local_time);
