/* Dates, UTC times, time zones and the stored floating-point layouts. */
#ifndef MOLVANE_DATETIME_H
#define MOLVANE_DATETIME_H

#include <stdint.h>

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

/* Day numbers count days in the proleptic Gregorian calendar: day 1 is
 * 1 January of year 1, day 3652059 is 31 December 9999. */
#define AL_FIRST_DAY_NUMBER 1
#define AL_LAST_DAY_NUMBER 3652059

/* The day number of a date, or -1 when the year is outside 1..9999 or the
 * month or day is not valid. */
MOLVANE_API int32_t date_to_num(int year, int month, int day);

/* Splits a day number into year, month (1..12) and day (1..31); 0, or -1
 * for a day number outside 1..3652059 (the outputs are then left alone).
 * A null output is skipped. */
MOLVANE_API int num_to_date(int32_t day_number, int *year, int *month, int *day);

/* Seconds since 1970-01-01 00:00:00 UTC of a UTC date and time; -1 when a
 * field is out of range or the time lies before 1970 or after 9999. */
MOLVANE_API int64_t al_pack_utc(int year, int month, int day, int hour, int minute,
                                int second);

/* Splits UTC seconds since 1970 into date and time; -1 for negative input
 * or a time after 9999 (the outputs are then left alone), else 0. */
MOLVANE_API int al_unpack_utc(int64_t utc, int *year, int *month, int *day, int *hour,
                              int *minute, int *second);

/* Converts between UTC seconds and local wall-clock seconds (the local
 * date and time counted as if it were UTC) in the current time zone.
 * A local time that a daylight-saving change skips is taken with the
 * offset in force before the change; a local time that occurs twice is
 * taken as its first occurrence. */
MOLVANE_API int64_t al_utc_to_local(int64_t utc);
MOLVANE_API int64_t al_local_to_utc(int64_t local);

/* Selects the time zone: a zone name such as "Europe/Amsterdam" (a TZif
 * file under $ZUV/lib/zoneinfo, else under the system's zoneinfo folder)
 * or a POSIX TZ rule such as "CET-1CEST,M3.5.0,M10.5.0/3". 0, or -1 when
 * the zone cannot be found or read (the zone stays as it was). A null or
 * empty name returns to the default: the user's time-zone setting once the
 * user's settings are read, else $TZ, else the system's local time. */
MOLVANE_API int qelt_timezone_set(const char *name);

/* Stored floating-point layouts: IEEE 754 single (4 bytes) and double
 * (8 bytes), least significant byte first, whatever the host's order. */
MOLVANE_API void float_in(double value, unsigned char *target);
MOLVANE_API double float_out(const unsigned char *source);
MOLVANE_API void double_in(double value, unsigned char *target);
MOLVANE_API double double_out(const unsigned char *source);

/* Trace hooks of the host. The location callback fills `buffer` (of `size`
 * bytes) with a NUL-terminated text saying where the host is (its program
 * and line); the SQL records of the binary trace carry it. Null removes it. */
typedef void (*blat_loc_callback)(char *buffer, int size);
MOLVANE_API void blat_set_loc_callback(blat_loc_callback callback);

/* Sends standard error, appended, to a file: the given path, or with a null
 * or empty one "stderr<pid>.log" in the temporary directory. 0, or -1 when
 * the file cannot be opened (standard error is then unchanged). */
MOLVANE_API int redirect_stderr_for_trace(const char *file_name);

MOLVANE_EXTERN_C_END

#endif
