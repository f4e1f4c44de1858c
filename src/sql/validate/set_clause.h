// The SET clauses of an UPDATE statement: a column and its new value each,
// in statement order.
#pragma once

#include <memory>
#include <string>

#include "sql/common/list.h"
#include "sql/validate/vt_object.h"
#include "sql/validate/vtsc_identifier.h"

class SQLVTScope;
class SQLVTreeData;

class SQLVTSetClause : public SQLVTObject {
 public:
  // Takes ownership of column and value.
  SQLVTSetClause(SQLVTSCIdentifier *column, SQLVTSCValueExpr *value) : column_(column), value_(value) {}

  // The column name; null once resolved.
  SQLVTSCIdentifier *GetColumn() const { return column_.get(); }
  SQLVTSCValueExpr *GetValue() const { return value_.get(); }
  // The column's id, -1 until resolved.
  int GetColumnId() const { return columnId_; }
  // The column's name (kept for messages once resolved).
  char const *GetColumnName() const { return columnName_.c_str(); }

  // Resolves the column name against the table on top of scope: 42I03 for
  // an unknown column, 42I63 for a combined column of more than one
  // member. The value is not resolved: only constants and host variables
  // may be assigned, anything else is refused with 42I69.
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags);
  // Replaces the value by its Cast to type (tolerant).
  void CastValue(SQLType type);

  // "SetClause(" column or id ", " value ")".
  void Log() const;

 private:
  std::unique_ptr<SQLVTSCIdentifier> column_;
  std::unique_ptr<SQLVTSCValueExpr> value_;
  int columnId_ = -1;
  std::string columnName_;
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
  // Resolves each clause in order.
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags);
};
