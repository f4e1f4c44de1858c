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
  explicit SQLVTClearUnrefKey(int id);
  // With the referring row value of the reference (taken over), whose
  // values the CLEAR/UNREF node tests.
  SQLVTClearUnrefKey(int id, SQLVTSCRowValueConstr *referring);
  SQLVTClearUnrefKey(SQLVTClearUnrefKey const &) = delete;
  SQLVTClearUnrefKey &operator=(SQLVTClearUnrefKey const &) = delete;
  virtual ~SQLVTClearUnrefKey();

  int GetId() const { return id_; }
  // The referring row value; null for a key made without one.
  SQLVTSCRowValueConstr *GetReferringRowValue() const { return referring_.get(); }

  // A new list of the executable forms of the referring values, in order
  // (empty without a row value).
  List<SQLRSSCValueExpr *> *CreateRS() const;
  // "ClearUnrefKey(" id ", " row value ")".
  void Log() const;

 private:
  int id_;  // columns with equal ids share the key
  std::unique_ptr<SQLVTSCRowValueConstr> referring_;
};
