#include "sql/statement/sql_callbacks.h"

#include <atomic>

#include "platform/log.h"

namespace {

// A callback the host has not installed: the call goes on with the
// default's neutral result, and the log says once per process which
// callback is missing and what that means. Nothing goes to the host's
// standard error: a failing call's text is its message (get_zdb_msg).
void NoteMissing(std::atomic<bool> &noted, const char *name, const char *effect) {
  if (!noted.exchange(true))
    log_mesg(__FILE__, __LINE__, "sql_init_func", LOG_INFO, "Function %s not defined: %s", name, effect);
}

std::atomic<bool> g_notedError, g_notedCreate, g_notedGet, g_notedPut, g_notedWhereUsed;

int DefaultError(int, char *) {
  NoteMissing(g_notedError, "SQL_FUNC_ERROR", "the texts of SQL errors reach the host through get_zdb_msg only");
  return 0;
}

char *DefaultCreateExtVar(char *, unsigned char *, char **, int *const, unsigned long) {
  NoteMissing(g_notedCreate, "SQL_FUNC_CRT_EXTVAR",
              "a parameter or select item that the host does not bind has no variable");
  return nullptr;
}

int DefaultGetExtVar(char *, SqlVal *, unsigned char *, int *) {
  NoteMissing(g_notedGet, "SQL_FUNC_GET_EXTVAR", "a parameter that the host does not bind has no value");
  return 0;
}

void DefaultPutExtVar(char *, unsigned char *, unsigned char, int, int *) {
  NoteMissing(g_notedPut, "SQL_FUNC_PUT_EXTVAR", "the values of fetched rows are not delivered");
}

void DefaultWhereUsed(char const *, int) {
  NoteMissing(g_notedWhereUsed, "SQL_WHERE_USED", "the names a statement uses are not reported");
}
sql_error_func g_error = &DefaultError;
sql_crt_extvar_func g_createExtVar = &DefaultCreateExtVar;
sql_get_extvar_func g_getExtVar = &DefaultGetExtVar;
sql_put_extvar_func g_putExtVar = &DefaultPutExtVar;
sql_where_used_func g_whereUsed = &DefaultWhereUsed;

// Stores `function` in the slot (its default when null) and returns the
// previous function.
template <class F>
sql_func Swap(F &slot, sql_func function, F fallback) {
  sql_func previous = reinterpret_cast<sql_func>(slot);
  slot = function != nullptr ? reinterpret_cast<F>(function) : fallback;
  return previous;
}

}  // namespace

namespace sqlcb {

sql_error_func Error() { return g_error; }
sql_crt_extvar_func CreateExtVar() { return g_createExtVar; }
sql_get_extvar_func GetExtVar() { return g_getExtVar; }
sql_put_extvar_func PutExtVar() { return g_putExtVar; }
sql_where_used_func WhereUsed() { return g_whereUsed; }

void WhereUsedRelay(char const *name, int kind) { g_whereUsed(name, kind); }

}  // namespace sqlcb

extern "C" sql_func sql_init_func(int number, sql_func function) {
  switch (number) {
    case SQL_FUNC_ERROR: return Swap(g_error, function, &DefaultError);
    case SQL_FUNC_CRT_EXTVAR: return Swap(g_createExtVar, function, &DefaultCreateExtVar);
    case SQL_FUNC_GET_EXTVAR: return Swap(g_getExtVar, function, &DefaultGetExtVar);
    case SQL_FUNC_PUT_EXTVAR: return Swap(g_putExtVar, function, &DefaultPutExtVar);
    case SQL_WHERE_USED: return Swap(g_whereUsed, function, &DefaultWhereUsed);
    default: return nullptr;
  }
}
