// Text helpers of the SQL layers (SQLUtil).
//
// The conversions to text write into a static buffer of their own and return
// it; the text is valid until the next call of the same function
// (long_to_ascii and bs8_to_ascii share one buffer).
#pragma once

#include <cstdint>

#include "sql/common/sql_type.h"

// Decimal text of v.
char const *long_to_ascii(long v);
// Decimal text of a 64-bit integer, with a leading "-" when negative.
char const *bs8_to_ascii(std::int64_t v);
// The bytes of the pointer in memory order (least significant first), two
// lower-case hexadecimal digits each: 16 digits on this 64-bit system.
char const *ptr_to_ascii(void const *p);
// Converts the first n hexadecimal digits of hex into (n + 1) / 2 bytes,
// high nibble first; an odd last digit becomes the high nibble of a last byte
// whose low nibble is 0. Returns FALSE, writing nothing, when any of the n
// characters is not a hexadecimal digit.
bool hexstring_to_raw(char const *hex, int n, char *out);
// Upper-case hexadecimal text of at most the first 5,000 bytes.
char const *raw_to_hexstring(unsigned char const *bytes, unsigned long n);

// Display names; a value outside the enumeration stops through SQLAbort.
char const *SQLGetTypeName(SQLType type);  // "INTEGER", ..., "RAW"
char const *SQLGetJoinTypeName(SQLJoinType type);  // "INNER JOIN", ...
char const *SQLGetTrimSpecName(SQLTrimSpec spec);  // "LEADING", ...
