// Texts of database error numbers (the values left in zdb_errno).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The text of an error number: 100 to 899 from the error table (a short
// generic text for a number the table does not name); above 1000
// "database error %d" of the number less 1000; any other "zdb_errno %d".
// The text is static (formatted ones are overwritten by the next call);
// the caller does not free it.
const char *zdberrorstr(int err);

// The short name of an error number of the table ("duplicate key" for 100),
// or null for a number the table does not hold. Static text.
const char *zdberrorname(int err);

// The table's numbers in ascending order: the first number above `after`,
// or 0 past the last.
int zdberror_next(int after);

#ifdef __cplusplus
}
#endif
