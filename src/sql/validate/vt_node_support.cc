#include "sql/validate/vt_node_support.h"

#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vtsc_support.h"

void SQLVTNotYetResolving(char const *operation) {
  throw SQLException("0A000", 302, SQLString(operation) + SQLString(" is not available yet"));
}

void SQLVTLogChild(char const *label, SQLVTNode const *child) {
  if (SQLVTTracing()) *SQLLogger::Instance() << label << endl << incind;
  child->Log();
  if (SQLVTTracing()) *SQLLogger::Instance() << decind;
}
