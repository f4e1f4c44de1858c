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

#ifdef __cplusplus
}
#endif
