#include "sql/statement/sql_callbacks.h"

#include <cstdio>

namespace {

int DefaultError(int, char *) {
  std::fputs("Function SQL_FUNC_ERROR not defined\n", stderr);
  return 0;
}

char *DefaultCreateExtVar(char *, unsigned char *, char **, int *const, unsigned long) {
  std::fputs("Function SQL_FUNC_CRT_EXTVAR not defined\n", stderr);
  return nullptr;
}

int DefaultGetExtVar(char *, SqlVal *, unsigned char *, int *) {
  std::fputs("Function SQL_FUNC_GET_EXTVAR not defined\n", stderr);
  return 0;
}

void DefaultPutExtVar(char *, unsigned char *, unsigned char, int, int *) {
  std::fputs("Function SQL_FUNC_PUT_EXTVAR not defined\n", stderr);
}

void DefaultWhereUsed(char const *, int) {
  std::fputs("Function SQL_WHERE_USED not defined\n", stderr);
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
