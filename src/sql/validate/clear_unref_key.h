// SQLVTClearUnrefKey: the foreign key that a CLEAR/UNREF statement tests for
// the columns of a table joined by a REFERS TO with the ClearUnref mode.
// Columns whose keys carry the same id form one group. Shared through
// RefPtr by the scope records, the select list and the CLEAR/UNREF node;
// deleted with the last reference.
#pragma once

#include <memory>

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

 private:
  int id_;  // columns with equal ids share the key
  std::unique_ptr<SQLVTSCRowValueConstr> referring_;
};
