// The query description that the SQL agent receives, read into a tree: row
// sources (table, filter, projection, sort, group, joins, union, prepare,
// hints), search conditions and value expressions, each node keeping the
// protocol token it was read from. DELETE and UPDATE requests read into a
// QdDml. The reader (query_desc_reader.h) builds the tree; the translator
// (sqlite_translate.h) types it and turns it into SQLite SQL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/value_store.h"

namespace molvane::driver {

struct QdRowSource;

struct QdExpr {
  int token = 0;                              // SQLNWTVE*
  std::vector<std::unique_ptr<QdExpr>> args;  // operands in wire order; null: an absent operand
  int level = 0;                              // column reference: relative scope level
  int column = 0;                             // column reference: column id
  std::int32_t param_id = 0;                  // parameter reference
  SQLType type = SQL_UNDEFINED;               // parameter reference, cast target
  std::int32_t length = 0;                    // parameter reference
  std::int32_t depth = 1;                     // parameter reference
  int trim = 0;                               // trim: 0 leading, 1 trailing, 2 both
  std::int32_t compnr = 0;                    // text content
  SQLValueStore constant;                     // constants
  std::unique_ptr<QdRowSource> subquery;      // scalar subquery
};

struct QdCond {
  int token = 0;                               // SQLNWTSC*
  std::vector<std::unique_ptr<QdCond>> conds;  // AND, OR, NOT operands
  std::vector<std::unique_ptr<QdExpr>> exprs;  // operands in wire order (see the reader)
  int n = 0;                                   // elements of a row value (comparison, BETWEEN)
  std::unique_ptr<QdRowSource> subquery;       // EXISTS, IN (subquery)
};

struct QdSortSpec {
  int column = 0;
  bool descending = false;
};

struct QdGroupSpec {
  int token = 0;                // SQLNWTColumnId, SQLNWTCountStar or a set function token
  int column = 0;               // SQLNWTColumnId
  std::unique_ptr<QdExpr> arg;  // set functions
};

struct QdRowSource {
  int token = 0;                                     // SQLNWTRS*
  std::vector<std::unique_ptr<QdRowSource>> inputs;  // one, or two for joins and unions
  std::string table;                                 // table: name as sent
  int compnr = 0;                                    // table: company number
  std::unique_ptr<QdCond> cond;                      // filter, join (may be null), constant outer join
  std::vector<std::unique_ptr<QdExpr>> exprs;        // projection
  std::vector<QdSortSpec> sort;
  std::vector<int> group_columns;
  std::vector<QdGroupSpec> group_specs;
  int join_type = 0;  // SQLJoinType
  bool union_all = false;
};

// One SET item of an UPDATE.
struct QdSetItem {
  int column = 0;
  std::unique_ptr<QdExpr> value;
};

struct QdDml {
  int token = 0;  // SQLNWTETDelete or SQLNWTETUpdate
  std::string table;
  int compnr = 0;
  std::vector<QdSetItem> sets;
  std::unique_ptr<QdCond> cond;  // null: every row
};

// A table that a description reads, as it names it.
struct QdTableRef {
  std::string name;
  int compnr = 0;
  bool operator==(const QdTableRef &o) const { return name == o.name && compnr == o.compnr; }
};

// A whole description: a query or a DELETE/UPDATE, and every table it names
// (each once, in order of appearance).
struct QueryDesc {
  std::unique_ptr<QdRowSource> query;
  std::unique_ptr<QdDml> dml;
  std::vector<QdTableRef> tables;
};

}  // namespace molvane::driver
