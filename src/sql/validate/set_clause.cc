#include "sql/validate/set_clause.h"

#include "sql/common/sql_logger.h"
#include "sql/validate/vt_scope.h"
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

void SQLVTSetClause::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *, int) {
  if (!column_) return;
  SQLVTColumnInfo info;
  std::string name = column_->GetText();
  if (!scope->GetColumnInfo(column_.get(), &info, false) || info.levelOffset != 0) {
    SQLVTThrow("42I03", "Unknown column '" + name + "'", column_->GetLineNumber());
  }
  int id = info.position;
  if (info.kind == SQLVTColumnInfo::PseudoColumn) {
    if (info.count != 1) SQLVTThrow("42I63", "Combined column '" + name + "' used in SET clause", GetLineNumber());
    id = info.positions[0];
  }
  // The value is sent as it is: it must not name columns or compute.
  if (!value_->IsConstant()) {
    SQLVTThrow("42I69", "Only constants and host variables may be assigned to column '" + name + "'",
               value_->GetLineNumber());
  }
  columnId_ = id;
  columnName_ = name;
  column_.reset();
}

void SQLVTSetClause::CastValue(SQLType type) { SQLVTCastOperand(&value_, type, true); }

void SQLVTSetClauseList::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags) {
  for (bool more = First(); more; more = Next()) GetCurrent()->MapColumnNamesToIds(scope, treeData, flags);
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
