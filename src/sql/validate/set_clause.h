// The SET clauses of an UPDATE statement: a column and its new value each,
// in statement order.
#pragma once

#include <memory>

#include "sql/common/list.h"
#include "sql/validate/vt_object.h"
#include "sql/validate/vtsc_identifier.h"

class SQLVTSetClause : public SQLVTObject {
 public:
  // Takes ownership of column and value.
  SQLVTSetClause(SQLVTSCIdentifier *column, SQLVTSCValueExpr *value) : column_(column), value_(value) {}

  // The column name; null once resolved.
  SQLVTSCIdentifier *GetColumn() const { return column_.get(); }
  SQLVTSCValueExpr *GetValue() const { return value_.get(); }
  // The column's id, -1 until resolved.
  int GetColumnId() const { return columnId_; }

  // "SetClause(" column or id ", " value ")".
  void Log() const;

 private:
  std::unique_ptr<SQLVTSCIdentifier> column_;
  std::unique_ptr<SQLVTSCValueExpr> value_;
  int columnId_ = -1;
};

class SQLVTSetClauseList : public List<SQLVTSetClause *> {
 public:
  SQLVTSetClauseList() = default;
  SQLVTSetClauseList(SQLVTSetClauseList const &) = delete;
  SQLVTSetClauseList &operator=(SQLVTSetClauseList const &) = delete;
  ~SQLVTSetClauseList() override;

  // Appends; takes ownership of clause.
  void AppendClause(SQLVTSetClause *clause);
  // "SetClauseList(" clauses ")".
  void Log() const;
};
