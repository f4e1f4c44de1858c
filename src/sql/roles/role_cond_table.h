// The table a role condition is read against: it gives the condition's
// column names their ids and descriptors. The table node of the validated
// tree (SQLVTTable) is the one the roles manager uses.
#pragma once

class SQLColumnDescriptor;

class SQLSCTable {
 public:
  SQLSCTable() = default;
  SQLSCTable(SQLSCTable const &) = delete;
  SQLSCTable &operator=(SQLSCTable const &) = delete;
  virtual ~SQLSCTable() = default;

  virtual char const *GetName() const = 0;
  // The id of the column called `name` (compared byte for byte), -1 when
  // the table has none.
  virtual int GetColumnId(char const *name) const = 0;
  // REQUIRES: id was returned by GetColumnId. The descriptor lives as long
  // as the table object (and, for a schema table, as long as its schema).
  virtual SQLColumnDescriptor const *GetColumnDescriptor(int id) const = 0;
};
