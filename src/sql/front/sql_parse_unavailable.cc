// The parse entry of a build without the SQL grammar: every text is refused
// with a syntax error, so that statements fail cleanly instead of the build
// failing to link.
#include "sql/front/sql_parse.h"

#include "sql/common/sql_exception.h"

SQLVTNode *SQLParse(const char *, int, SQLVTreeData *) {
  throw SQLExSyntaxError("42I00", SQLString("The SQL parser is not available"), 0);
}
