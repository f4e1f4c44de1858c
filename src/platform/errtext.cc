// Texts of database error numbers. The table holds the numbers that the
// database client and the SQL layers set; a number of 100 to 899 that the
// table does not hold gets the generic text of its range.
#include "platform/errtext.h"

#include <molvane/zdb.h>

#include <cstdio>

namespace {

struct ErrText {
  int number;
  const char *text;
};

// Sorted by number.
constexpr ErrText kTexts[] = {
    {100, "Duplicate value"},
    {102, "Illegal argument"},
    {103, "Illegal key description"},
    {107, "Record is locked"},
    {110, "End of file reached"},
    {111, "No record found"},
    {112, "No current record"},
    {201, "Record changed after delayed lock"},
    {203, "Action not allowed within transaction"},
    {205, "Out of range"},
    {206, "Record is not locked"},
    {208, "No permission for this action"},
    {213, "Transaction is started but not updated"},
    {214, "Unallowed operation for mapping company numbers"},
    {215, "Illegal state"},
    {217, "Syntax error in role or permission"},
    {251, "The audit server setup is not correct"},
    {254, "Transaction-notification rows could not be written"},
    {301, "SQL: Bind or parameter error"},
    {302, "SQL: Statement error"},
    {304, "Cannot create overflow file"},
    {306, "SQL: Division by zero"},
    {307, "SQL: String truncation"},
    {308, "SQL: Index outside dimensions of array"},
    {309, "SQL: Substring error"},
    {310, "SQL: Cardinality violation"},
    {311, "SQL: Temporary file error"},
    {312, "SQL: Invalid parameter type"},
    {313, "Query time out error"},
    {314, "SQL: Invalid statement handle"},
    {315, "SQL: String data length mismatch"},
    {316, "SQL: Zero-length raw value"},
    {317, "SQL: Trim error"},
    {319, "SQL: Invalid escape character"},
    {325, "SQL: Invalid escape sequence"},
    {401, "Company number mapping is not consistent"},
    {402, "Driver configuration is not compatible"},
    {501, "Memory error"},
    {502, "Already logged on"},
    {503, "Null address of a bind variable"},
    {504, "Bad column or type pair in a bind"},
    {505, "No database driver available"},
    {506, "Table does not exist"},
    {508, "Not logged on to a database"},
    {509, "Bad memory cursor; bad table pointer specified"},
    {510, "Communication error with the database driver"},
    {511, "Incompatible SQL protocol"},
    {512, "Data dictionary is corrupt"},
    {513, "Table not found in data dictionary"},
    {517, "Memory allocation failed"},
    {518, "Invalid session code specified"},
    {519, "No company number specified or illegal company number"},
    {520, "Error during buffered updates"},
    {525, "No resource available"},
    {600, "Unmappable error for reference"},
    {601, "Reference table is locked"},
    {602, "Undefined reference for column"},
    {605, "There are still references for this table"},
    {606, "Reference does not exist"},
    {607, "Parent table not found for reference"},
    {608, "No reference counter(s) in table"},
    {609, "Reference check failed"},
    {701, "Database or disk is full"},
    {702, "Database file is read-only"},
    {703, "Disk I/O error on the database file"},
    {704, "Database file is corrupt"},
};

// Generic texts by hundreds, for numbers the table does not hold.
constexpr const char *kGeneric[] = {
    "Record action error",        // 1xx
    "Action error",               // 2xx
    "SQL error",                  // 3xx
    "Company number error",       // 4xx
    "Database client error",      // 5xx
    "Referential integrity error",// 6xx
    "Database error",             // 7xx
    "Database error",             // 8xx
};

}  // namespace

extern "C" const char *zdberrorstr(int err) {
  static char formatted[48];
  if (err >= 100 && err <= 899) {
    size_t lo = 0, hi = sizeof kTexts / sizeof kTexts[0];
    while (lo < hi) {
      size_t mid = (lo + hi) / 2;
      if (kTexts[mid].number < err) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (lo < sizeof kTexts / sizeof kTexts[0] && kTexts[lo].number == err) return kTexts[lo].text;
    return kGeneric[err / 100 - 1];
  }
  if (err > 1000) {
    std::snprintf(formatted, sizeof formatted, "database error %d", err - 1000);
  } else {
    std::snprintf(formatted, sizeof formatted, "zdb_errno %d", err);
  }
  return formatted;
}

extern "C" int zdberror_next(int after) {
  for (const ErrText &e : kTexts)
    if (e.number > after) return e.number;
  return 0;
}
