// The client schema: how the SQL layers see an application table.
//
// An SQLSchema lists a table's columns in row order, each with an
// SQLColumnDescriptor and its dictionary record, and the table's
// pseudo-columns (its indexes "_index<n>" and its combined columns) as lists
// of column ids. A column id is the position of a column among the ordinary
// columns ordered by row offset, counted from 0. Schemas are built from the
// client data dictionary once per process and table, cached by table name in
// SQLSchemaMgr and shared through counted SQLSchemaPtr handles; a changed
// dictionary is seen only by a new process.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_containers.h"
#include "sql/common/sql_string.h"
#include "sql/common/sql_type.h"

struct DD_COLUMN;

// The SQL type of a dictionary column type (the type byte of DD_COLUMN).
// A combined column (13) or a code outside 1..15 stops the process through
// SQLAbort ("Unexpected type %d"): ordinary columns never have one.
SQLType SQLTypeFromDDType(int ddType);

// Thrown by value when the data dictionary does not hold a table.
class SQLSchemaException {};
class SQLSchemaExNotExists : public SQLSchemaException {
 public:
  explicit SQLSchemaExNotExists(char const *tableName) : tableName_(tableName) {}
  char const *GetTableName() const { return tableName_.GetString(); }

 private:
  SQLString tableName_;
};

class SQLSchema {
 public:
  // One pseudo-column: its name and the ids of the ordinary columns it
  // stands for, in member order.
  struct PseudoCol {
    char const *name;  // the column's own name in the dictionary record
    intList ids;
  };

  SQLSchema(SQLSchema const &) = delete;
  SQLSchema &operator=(SQLSchema const &) = delete;

  int GetNumCols() const { return static_cast<int>(descriptors_.size()); }
  int GetNumPseudoCols() const { return static_cast<int>(pseudoCols_.size()); }

  // The id of the first column whose name equals `name` byte for byte, -1
  // when there is none (also for the system columns "_compnr" and "_dlock").
  int GetColumnId(char const *name) const;
  // REQUIRES: 0 <= id < GetNumCols(). Valid while a handle to the schema lives.
  SQLColumnDescriptor const *GetColumnDescriptor(int id) const;
  // The column's dictionary record (a record that lives for the process).
  // REQUIRES: 0 <= id < GetNumCols().
  DD_COLUMN *GetDDColumn(int id) const;

  // REQUIRES: 0 <= i < GetNumPseudoCols(). Fills name and ids.
  // The lists are shared by every user of the schema: walk a copy of one
  // (intList keeps its cursor inside), never the list itself.
  void GetPseudoCol(int i, char const **name, intList const **ids) const;
  // The id list of the first pseudo-column called `name`, null when none.
  intList const *GetPseudoColByName(char const *name) const;

  // Not available in the client: stops through SQLAbort.
  [[noreturn]] void *GetDBSBaseColumn(int id) const;

  // Traces the columns and pseudo-columns when any trace flag is on.
  void Log() const;

 private:
  friend class SQLSchemaMgr;
  friend class SQLSchemaPtr;

  // Builds the schema from the dictionary; throws SQLSchemaExNotExists when
  // the dictionary has no such table. Nothing built survives a failure.
  explicit SQLSchema(char const *tableName);
  // Not available in the client: stops through SQLAbort.
  SQLSchema(char const *tableName, int companyNumber);
  ~SQLSchema() = default;

  void CheckId(int id, char const *operation) const;

  std::vector<std::unique_ptr<SQLColumnDescriptor>> descriptors_;  // one per column
  std::vector<DD_COLUMN *> ddColumns_;  // one per column, not owned
  std::vector<PseudoCol> pseudoCols_;   // in dictionary order
  int refCount_ = 0;                    // handles held by SQLSchemaPtr
};

// A counted handle to a shared schema. Copies count; the last handle to go
// deletes the schema.
class SQLSchemaPtr {
 public:
  SQLSchemaPtr() = default;
  SQLSchemaPtr(SQLSchemaPtr const &other);
  SQLSchemaPtr &operator=(SQLSchemaPtr const &other);
  ~SQLSchemaPtr();

  SQLSchema *Get() const { return schema_; }
  SQLSchema *operator->() const { return schema_; }
  SQLSchema &operator*() const { return *schema_; }
  bool IsNull() const { return schema_ == nullptr; }
  // Handles to this handle's schema, 0 for a null handle.
  int UseCount() const { return schema_ ? schema_->refCount_ : 0; }
  bool operator==(SQLSchemaPtr const &other) const { return schema_ == other.schema_; }

 private:
  friend class SQLSchemaMgr;
  // Takes the first reference of a schema made with new.
  explicit SQLSchemaPtr(SQLSchema *schema);
  void Release();

  SQLSchema *schema_ = nullptr;
};

// The process-wide schema cache, keyed by table name.
class SQLSchemaMgr {
 public:
  // The shared schema of a table, built on the first request. Throws
  // SQLSchemaExNotExists for a table the dictionary does not hold; the cache
  // is then unchanged and a later request asks the dictionary again.
  static SQLSchemaPtr GetSchema(char const *tableName);
  // The same cache; a miss would build a schema per company, which the
  // client does not support: it stops through SQLAbort.
  static SQLSchemaPtr GetSchema(char const *tableName, int companyNumber);
  // Deletes the cache, releasing its reference to every schema. Schemas
  // still held by handles live on.
  static void Exit();

  // Schemas built since the process started.
  static int GetNoSchemas() { return _noSchemas; }
  // Schemas in the cache now.
  static int GetNoCachedSchemas();

 private:
  static SQLSchemaPtrKeySQLStringHash &Cache();
  static SQLSchemaPtr Insert(SQLString const &key, SQLSchema *schema);

  static SQLSchemaPtrKeySQLStringHash *_schemas;  // created with size 100 on first use
  static int _noSchemas;                          // schemas built
};
