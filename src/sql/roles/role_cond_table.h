// The table a role condition is read against: it gives the condition's
// column names their ids and descriptors.
#pragma once

#include <string>

#include "sql/common/sql_schema.h"

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

// A table of the client schema: its columns are the dictionary's.
class SQLSCSchemaTable : public SQLSCTable {
 public:
  // Copies the name. Throws SQLSchemaExNotExists for a table that the
  // data dictionary does not hold.
  explicit SQLSCSchemaTable(char const *name);

  char const *GetName() const override { return name_.c_str(); }
  int GetColumnId(char const *name) const override { return schema_->GetColumnId(name); }
  SQLColumnDescriptor const *GetColumnDescriptor(int id) const override {
    return schema_->GetColumnDescriptor(id);
  }
  // The counted schema handle: whoever keeps column descriptors of the
  // table beyond this object keeps a copy of it.
  SQLSchemaPtr const &GetSchema() const { return schema_; }

 private:
  std::string name_;
  SQLSchemaPtr schema_;
};
