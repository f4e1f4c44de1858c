// The records of name resolution: what a scope level exposes (tables of a
// FROM clause, columns of a select list) and what a lookup returns (a
// column or a table, with where it was found).
#pragma once

#include <cstddef>

#include "sql/common/ref_ptr.h"
#include "sql/validate/clear_unref_key.h"

class SQLColumnDescriptor;
class SQLSchema;
class SQLSchemaPtr;
class SQLVTNode;
class SQLVTSCCompnrSet;
class SQLVTScopeLevel;
class SQLVTTable;

// What a column shows where a REFERS TO join found no referred row.
enum SQLVTNullSpec : int {
  SQL_NULLSPEC_NONE = 0,         // NULL
  SQL_NULLSPEC_CLEAR = 1,        // empty values
  SQL_NULLSPEC_SET_UNREF = 2,    // unreferenced marks
  SQL_NULLSPEC_CLEAR_UNREF = 3,  // empty or marked, by the foreign key
};

// A table node as the scope records keep it. The records hold SQLVTTable
// pointers; the conversion from the node type happens here so that scope
// code needs only the declaration of the table node.
inline SQLVTTable *SQLVTAsTable(SQLVTTable *table) { return table; }
inline SQLVTTable const *SQLVTAsTable(SQLVTTable const *table) { return table; }
inline SQLSchema *SQLVTSchemaOf(SQLSchema *schema) { return schema; }
SQLSchema *SQLVTSchemaOf(SQLSchemaPtr const &schema);

// The result of a column lookup. The position array of a pseudo-column
// belongs to the level that filled it.
struct SQLVTColumnInfo {
  enum Kind : int { Column = 0, PseudoColumn = 1 };

  Kind kind = Column;
  int position = 0;                            // in the row of the resolving level
  int count = 0;                               // pseudo-column: number of positions
  int *positions = nullptr;                    // pseudo-column: the positions
  char const *correlationName = nullptr;       // null for an aggregate
  char const *pseudoColumnName = nullptr;      // pseudo-column only
  SQLColumnDescriptor const *descriptor = nullptr;
  SQLVTSCCompnrSet const *compnrSet = nullptr;  // of the base table; null when none
  SQLVTTable const *baseTable = nullptr;        // null for computed columns and aggregates
  char const *baseColumnName = nullptr;
  int levelOffset = 0;                          // 0 innermost, -1 the next level out, ...
  SQLVTNullSpec nullSpec = SQL_NULLSPEC_NONE;
  RefPtr<SQLVTClearUnrefKey> key;
  char const *baseTableName = nullptr;          // the base table's name; null without one

  char const *GetBaseTableName() const { return baseTableName; }
  void SetClearUnrefKey(RefPtr<SQLVTClearUnrefKey> const &k) { key = k; }
};

// The result of a table lookup.
struct SQLVTTableInfo {
  SQLVTTable *table = nullptr;                  // null for a derived table
  SQLVTScopeLevel *derivedLevel = nullptr;      // null for a base table
  int columnOffset = 0;
  int levelOffset = 0;                          // as in SQLVTColumnInfo
  int grouped = 0;                              // 1 when reached through a group level
  SQLVTNullSpec nullSpec = SQL_NULLSPEC_NONE;
  RefPtr<SQLVTClearUnrefKey> key;
  SQLVTSCCompnrSet const *compnrSet = nullptr;  // the base table's set
  SQLVTNode *tableNode = nullptr;               // the base table as a node

  void SetClearUnrefKey(RefPtr<SQLVTClearUnrefKey> const &k) { key = k; }
  // FALSE for a derived table.
  bool IsForUpdate() const;
};

// One FROM table as a table level sees it. What the level needs of the
// table node is taken when the table is exposed:
//   GetCorrelationName(), GetName(), GetSchema() (an SQLSchemaPtr or
//   SQLSchema*), GetCompnrSet() (SQLVTSCCompnrSet const*), and the node's
//   GetNumCols and GetColumnDescriptor.
class SQLVTExposedTable {
 public:
  template <class Table>
  SQLVTExposedTable(Table *table, int columnOffset, SQLVTNullSpec nullSpec,
                    RefPtr<SQLVTClearUnrefKey> key)
      : table_(SQLVTAsTable(table)),
        node_(table),
        correlationName_(table->GetCorrelationName()),
        name_(table->GetName()),
        schema_(SQLVTSchemaOf(table->GetSchema())),
        compnrSet_(table->GetCompnrSet()),
        numCols_(table->GetNumCols()),
        columnOffset_(columnOffset),
        nullSpec_(nullSpec),
        key_(key) {}

  SQLVTTable *GetTable() const { return table_; }
  SQLVTNode *GetNode() const { return node_; }
  char const *GetCorrelationName() const { return correlationName_; }
  char const *GetName() const { return name_; }
  SQLSchema *GetSchema() const { return schema_; }
  SQLVTSCCompnrSet const *GetCompnrSet() const { return compnrSet_; }
  int GetNumCols() const { return numCols_; }
  int GetColumnOffset() const { return columnOffset_; }
  SQLVTNullSpec GetNullSpec() const { return nullSpec_; }
  RefPtr<SQLVTClearUnrefKey> GetClearUnrefKey() const { return key_; }

 private:
  SQLVTTable *table_;
  SQLVTNode *node_;
  char const *correlationName_;  // owned by the node
  char const *name_;             // owned by the node
  SQLSchema *schema_;            // held by the node
  SQLVTSCCompnrSet const *compnrSet_;
  int numCols_;
  int columnOffset_;  // position of the table's first column in the level's row
  SQLVTNullSpec nullSpec_;
  RefPtr<SQLVTClearUnrefKey> key_;
};

// One column of a select list as a column level sees it.
class SQLVTExposedColumn {
 public:
  // A computed column: no base table.
  SQLVTExposedColumn(char const *exposedName, SQLColumnDescriptor const *descriptor, int sourceColumnId,
                     std::nullptr_t, char const *baseColumnName, SQLVTNullSpec nullSpec,
                     RefPtr<SQLVTClearUnrefKey> key, SQLVTSCCompnrSet const *compnrSet)
      : exposedName_(exposedName ? exposedName : ""),
        descriptor_(descriptor),
        sourceColumnId_(sourceColumnId),
        baseColumnName_(baseColumnName),
        nullSpec_(nullSpec),
        key_(key),
        compnrSet_(compnrSet) {}
  // A column of a base table (null for none); the table's GetName is taken.
  template <class Table>
  SQLVTExposedColumn(char const *exposedName, SQLColumnDescriptor const *descriptor, int sourceColumnId,
                     Table const *baseTable, char const *baseColumnName, SQLVTNullSpec nullSpec,
                     RefPtr<SQLVTClearUnrefKey> key, SQLVTSCCompnrSet const *compnrSet)
      : SQLVTExposedColumn(exposedName, descriptor, sourceColumnId, nullptr, baseColumnName, nullSpec,
                           key, compnrSet) {
    if (baseTable) {
      baseTable_ = SQLVTAsTable(baseTable);
      baseTableName_ = baseTable->GetName();
    }
  }

  char const *GetExposedName() const { return exposedName_; }
  SQLColumnDescriptor const *GetDescriptor() const { return descriptor_; }
  int GetSourceColumnId() const { return sourceColumnId_; }
  SQLVTTable const *GetBaseTable() const { return baseTable_; }
  char const *GetBaseTableName() const { return baseTableName_; }
  char const *GetBaseColumnName() const { return baseColumnName_; }
  SQLVTNullSpec GetNullSpec() const { return nullSpec_; }
  RefPtr<SQLVTClearUnrefKey> GetClearUnrefKey() const { return key_; }
  SQLVTSCCompnrSet const *GetCompnrSet() const { return compnrSet_; }

 private:
  char const *exposedName_;  // qualifying correlation name; "" when none
  SQLColumnDescriptor const *descriptor_;
  int sourceColumnId_;  // -1 for a computed item; not read by the scope
  SQLVTTable const *baseTable_ = nullptr;
  char const *baseTableName_ = nullptr;
  char const *baseColumnName_;
  SQLVTNullSpec nullSpec_;
  RefPtr<SQLVTClearUnrefKey> key_;
  SQLVTSCCompnrSet const *compnrSet_;
};
