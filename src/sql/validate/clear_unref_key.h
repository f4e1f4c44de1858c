// SQLVTClearUnrefKey: the foreign key that a CLEAR/UNREF statement tests for
// the columns of a table joined by a REFERS TO with the ClearUnref mode.
// Columns whose keys carry the same id form one group. Shared through
// RefPtr by the scope records, the select list and the CLEAR/UNREF node;
// deleted with the last reference.
#pragma once

class SQLVTClearUnrefKey {
 public:
  explicit SQLVTClearUnrefKey(int id) : id_(id) {}
  SQLVTClearUnrefKey(SQLVTClearUnrefKey const &) = delete;
  SQLVTClearUnrefKey &operator=(SQLVTClearUnrefKey const &) = delete;
  virtual ~SQLVTClearUnrefKey();

  int GetId() const { return id_; }

 private:
  int id_;  // columns with equal ids share the key
};
