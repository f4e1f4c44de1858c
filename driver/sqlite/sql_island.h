// A scalar island: a subtree of a description's value expression, or a leaf
// search condition, that runs inside SQLite as one call of an agent
// function but is evaluated by the library's own executable expression
// classes (sql/exec), so that arithmetic, comparison, casts, SUBSTR, TRIM,
// LIKE, indexing and CASE give exactly what local execution gives.
//
// What an island reads of the row (column values, results of subqueries)
// reaches it as the function's arguments: each such leaf is a parameter
// reference to a parameter of the island, typed like the value it stands
// for, which the island binds from the arguments before each evaluation.
// Statement parameters are referenced directly (the statement owns them).
#pragma once

#include <sqlite3.h>

#include <memory>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_parameter.h"
#include "sql/common/truth_value.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/sc_value_expr.h"

namespace molvane::driver {

class SqlIsland {
 public:
  SqlIsland() = default;
  SqlIsland(const SqlIsland &) = delete;
  SqlIsland &operator=(const SqlIsland &) = delete;

  // A new leaf typed after `d`; it takes d.GetDepth() arguments (one per
  // element). The parameter lives as long as the island.
  SQLParameter *AddLeaf(const SQLColumnDescriptor &d);
  // Takes the expression (or condition) over; prepares it.
  void SetValue(SQLRSSCValueExpr *expr);
  void SetCond(SQLRSSCSearchCond *cond);

  bool is_cond() const { return cond_ != nullptr; }
  int arg_count() const { return args_; }
  // The expression's type, length and depth (value islands).
  SQLColumnDescriptor descriptor() const { return value_->GetColumnDescriptor(); }

  // Binds the leaves from argv (arg_count() values) and evaluates. Both
  // raise the library's SQLException on a data error.
  const SQLValueStore *EvaluateValue(sqlite3_value **argv);
  SQLTruthValue EvaluateCond(sqlite3_value **argv);

 private:
  struct Leaf {
    std::unique_ptr<SQLParameter> param;
    SQLType type;  // element type
    int depth;
  };
  void Bind(sqlite3_value **argv);

  std::vector<Leaf> leaves_;
  int args_ = 0;
  std::unique_ptr<SQLRSSCValueExpr> value_;
  std::unique_ptr<SQLRSSCSearchCond> cond_;
  const SQLValueStore *result_ = nullptr;
  SQLValueStore scratch_;
};

// Sets a value store from a SQLite value read as `type` (NULL for SQL NULL).
void SetStoreFromSqlite(SQLValueStore *vs, SQLType type, sqlite3_value *v);

}  // namespace molvane::driver
