// Short names of the database error numbers, for hosts that show an error as
// "error 100 (duplicate key): <text>" and for the error list in docs/errors.md.
// Every number of the text table has a name here; a test keeps the two tables
// and the document in step.
#include "platform/errtext.h"

#include <molvane/zdb.h>

namespace {

struct ErrName {
  int number;
  const char *name;
};

// Sorted by number.
constexpr ErrName kNames[] = {
    {100, "duplicate key"},
    {102, "illegal argument"},
    {103, "illegal key description"},
    {107, "record locked"},
    {110, "end of file"},
    {111, "no record found"},
    {112, "no current record"},
    {201, "row changed after delayed lock"},
    {203, "not allowed in a transaction"},
    {205, "out of range"},
    {206, "row not locked"},
    {208, "no permission"},
    {213, "transaction not updated"},
    {214, "mapped company number"},
    {215, "illegal state"},
    {217, "role syntax error"},
    {251, "audit set-up"},
    {254, "notification rows not written"},
    {301, "SQL bind or parameter error"},
    {302, "SQL statement error"},
    {304, "overflow file"},
    {306, "division by zero"},
    {307, "string truncation"},
    {308, "array index"},
    {309, "substring error"},
    {310, "cardinality violation"},
    {311, "temporary file error"},
    {312, "invalid parameter type"},
    {313, "query time-out"},
    {314, "invalid statement handle"},
    {315, "string length mismatch"},
    {316, "zero-length raw value"},
    {317, "trim error"},
    {319, "invalid escape character"},
    {325, "invalid escape sequence"},
    {401, "company mapping inconsistent"},
    {402, "driver not compatible"},
    {501, "out of memory"},
    {502, "already logged on"},
    {503, "null bind address"},
    {504, "bad bind"},
    {505, "no driver"},
    {506, "table does not exist"},
    {508, "not logged on"},
    {509, "bad cursor"},
    {510, "driver communication"},
    {511, "incompatible SQL protocol"},
    {512, "dictionary corrupt"},
    {513, "table not in dictionary"},
    {517, "allocation failed"},
    {518, "invalid session"},
    {519, "illegal company number"},
    {520, "buffered update failed"},
    {525, "no resource"},
    {600, "unmappable reference error"},
    {601, "reference table locked"},
    {602, "undefined reference"},
    {605, "still referenced"},
    {606, "reference does not exist"},
    {607, "parent not found"},
    {608, "no reference counters"},
    {609, "reference check failed"},
    {701, "database full"},
    {702, "database read-only"},
    {703, "database I/O error"},
    {704, "database file corrupt"},
};

}  // namespace

extern "C" const char *zdberrorname(int err) {
  for (const ErrName &e : kNames) {
    if (e.number == err) return e.name;
    if (e.number > err) break;
  }
  return nullptr;
}
