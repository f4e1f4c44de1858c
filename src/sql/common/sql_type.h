// Value types and small enumerations shared by every SQL layer.
#pragma once

// The type of an SQL value. Each code is one bit, so that type sets can be
// held as masks; the array flag is a type of its own for a value store.
enum SQLType : int {
  SQL_UNDEFINED = 0,
  SQL_INTEGER = 1,            // signed 32-bit integer
  SQL_STRING = 2,             // TSS text
  SQL_REAL = 4,               // double
  SQL_DATE = 8,               // day number
  SQL_TIMESTAMP = 16,         // seconds since 1970-01-01 UTC, 64-bit
  SQL_INTERVAL_DAYS = 32,     // signed 32-bit count of days
  SQL_INTERVAL_SECONDS = 64,  // signed 64-bit count of seconds
  SQL_ARRAY = 128,            // vector of element value stores
  SQL_RAW = 256,              // bytes without a terminator
};

// The kind of an explicit or derived join.
enum SQLJoinType : int {
  SQL_JOIN_INNER = 0,
  SQL_JOIN_LEFT = 1,   // LEFT OUTER
  SQL_JOIN_RIGHT = 2,  // RIGHT OUTER
  SQL_JOIN_FULL = 3,   // FULL OUTER
};

// Which end(s) TRIM strips.
enum SQLTrimSpec : int {
  SQL_TRIM_LEADING = 0,
  SQL_TRIM_TRAILING = 1,
  SQL_TRIM_BOTH = 2,
};
