#include "sql/roles/role_cond_parse.h"

#include <string>

#include "sql/common/sql_exception.h"
#include "sql/roles/role_cond_build.h"

SQLVTSCSearchCond *SQLParseSC(char const *text, SQLSCTable const *table) {
  sql_scyySetLexBuffer(text);
  // The parse's destructor deletes whatever did not reach the root, also
  // when an error is thrown through the parser.
  SQLSCParse parse(table);
  if (sql_scyyparse() != 0) return nullptr;
  return parse.TakeRoot();
}

void sql_scyyerror(char const *) {
  char const *token = sql_scyyGetToken();
  std::string message = *token != '\0' ? std::string("Unexpected token '") + token + "'"
                                       : std::string("Unexpected end of condition");
  throw SQLException(scstate::kSyntaxError, scstate::kNativeError, SQLString(message.c_str()));
}
