#include "sql/validate/set_clause.h"

#include "sql/common/sql_logger.h"
#include "sql/validate/vtsc_support.h"

void SQLVTSetClause::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "SetClause(";
  if (column_) {
    column_->Log();
  } else {
    log << columnId_;
  }
  log << ", ";
  value_->Log();
  log << ")";
}

SQLVTSetClauseList::~SQLVTSetClauseList() {
  for (bool more = First(); more; more = Next()) delete GetCurrent();
}

void SQLVTSetClauseList::AppendClause(SQLVTSetClause *clause) {
  std::unique_ptr<SQLVTSetClause> owned(clause);  // deleted when the append fails
  Append(clause);
  owned.release();
}

void SQLVTSetClauseList::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  auto *walk = const_cast<SQLVTSetClauseList *>(this);  // the cursor is the list's, not its contents'
  log << "SetClauseList(";
  bool first = true;
  for (bool more = walk->First(); more; more = walk->Next()) {
    if (!first) log << ", ";
    first = false;
    walk->GetCurrent()->Log();
  }
  log << ")";
}
