// SQLVTClearUnrefKey: the foreign key that a CLEAR/UNREF statement tests for
// the columns of a table joined by a REFERS TO with the ClearUnref mode.
// Columns whose keys carry the same id form one group. Shared through
// RefPtr by the scope records, the select list and the CLEAR/UNREF node;
// deleted with the last reference.
#pragma once

#include <memory>

#include "sql/common/list.h"

class SQLRSSCValueExpr;
class SQLVTSCRowValueConstr;

class SQLVTClearUnrefKey {
 public:
  // Takes ownership of foreignKey (the referring columns; may be null).
  explicit SQLVTClearUnrefKey(int id, SQLVTSCRowValueConstr *foreignKey = nullptr);
  SQLVTClearUnrefKey(SQLVTClearUnrefKey const &) = delete;
  SQLVTClearUnrefKey &operator=(SQLVTClearUnrefKey const &) = delete;
  virtual ~SQLVTClearUnrefKey();

  int GetId() const { return id_; }
  SQLVTSCRowValueConstr *GetForeignKey() const { return foreignKey_.get(); }

  // A new list of the executable forms of the foreign-key expressions, in
  // order (empty without a foreign key).
  List<SQLRSSCValueExpr *> *CreateRS() const;
  // "ClearUnrefKey(" id ", " row value ")".
  void Log() const;

 private:
  int id_;  // columns with equal ids share the key
  std::unique_ptr<SQLVTSCRowValueConstr> foreignKey_;
};
