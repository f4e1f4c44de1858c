// Domain checks inside the library: a column value of a row image against
// the dictionary domain of its column. The row check of a row action and the
// column check of the SQL update pass every value while the domain-check
// switch is off; zdb_domain_check (<molvane/zdb_domain.h>) ignores the
// switch.
#pragma once

#include <molvane/dd.h>
#include <molvane/zdb_domain.h>

// Results of a check; zdb_dd_check_keyword names them.
enum : int {
  DDC_OK = 0,      // "No domain errors"
  DDC_FILL = 1,    // a value that must be filled is empty (0, blanks, zero bytes)
  DDC_RANG = 2,    // outside the domain's range expression
  DDC_ILCH = 3,    // a character of the illegal set
  DDC_LECH = 4,    // a character outside the legal set
  DDC_CONV_U = 5,  // a lower-case letter in an upper-case domain
  DDC_CONV_L = 6,  // an upper-case letter in a lower-case domain
  DDC_DIGV = 7     // a real with more digits before the point than allowed
};

// The keyword of a result ("FILL", "RANG", ..., "CONV:u"); null for a number
// that is not a result.
const char *zdb_dd_check_keyword(int code);

// Checks one value of the column at `value`, `length` bytes (one element of
// an array; the domain length for texts and raw bytes). The column's type
// chooses the check and its flag DDF_FILL makes an empty value fail. Sets the
// failure text.
int zdb_dd_check_value(const DD_COLUMN *column, const unsigned char *value, int length);

// Checks one column of the row: each member of a combined column, each
// element of an array. Returns the first failure's result (0 when the column
// passes) and, through `failing` when not null, the column whose value
// failed. Logs nothing and ignores the switch.
int zdb_dd_check_column_result(const DD_COLUMN *column, const unsigned char *row,
                               const DD_COLUMN **failing);

// The text of the last failed single-value check, e.g. "ttdom001.qty not
// according to RANG (value 12)"; emptied at the start of every single-value
// check, so empty after a check that passed.
const char *zdb_dd_check_text();
// Empties the failure text, as every check does first.
void zdb_dd_check_clear_text();

// 1 when the switch is off or every column of the row passes; else logs the
// failure text under "Check dd" and returns 0.
int zdb_dd_check(const DD_TABLE *table, const unsigned char *row);
// The same for one column.
int zdb_dd_check_column(const DD_COLUMN *column, const unsigned char *row);

// The domain-check switch: off at start, and the library never turns it on
// by itself. zdb_dd_check_set_enabled is for the library's own embedders and
// tests; it is not exported.
int zdb_dd_check_enabled();
void zdb_dd_check_set_enabled(int on);

// 1 when the column's domain restricts values of the column's type: a range
// (integer types 1, 2, 3, 11), a range or a number of digits (reals 4, 5), a
// range, a case conversion or a non-empty legal or illegal character set
// (texts 6, 14); 0 otherwise.
int zdb_dd_column_has_domain_constraints(const DD_COLUMN *column);
