// The five host callbacks of the classic SQL API. Each slot starts with a
// default that returns a neutral result and logs "Function <name> not
// defined" (once per process, never on standard error); sql_init_func
// replaces them.
#pragma once

#include <molvane/sql.h>

namespace sqlcb {

sql_error_func Error();
sql_crt_extvar_func CreateExtVar();
sql_get_extvar_func GetExtVar();
sql_put_extvar_func PutExtVar();
sql_where_used_func WhereUsed();

// The where-used handler a statement parsed with flag 0x08 gets: it calls
// whatever callback 8 holds at the time of the call.
void WhereUsedRelay(char const *name, int kind);

}  // namespace sqlcb
