// Turns a query description (or a DELETE/UPDATE request) into one SQLite
// statement over the tables that the record protocol stores, typing every
// row source on the way so that the result columns have the type, length
// and depth that the client declares for them.
//
// Row sources become nested SELECTs whose result columns are named c0, c1,
// ... (an array column gives one SQLite column per element, c3_1, c3_2,
// ...). Expressions other than plain column references and constants
// become scalar islands (sql_island.h) evaluated by the library's own
// expression classes, except in a comparison of integer or date
// arithmetic, which SQLite computes as the library does; scalar
// comparisons, BETWEEN, IN lists and IS NULL are SQLite's own; strings
// that SQLite itself orders, groups or merges carry the collation of the
// driver's TSS mode (mvtss1 or mvtss2, sqlite_functions.h);
// orderings put NULLs last ascending and first descending; set functions
// are the agent's aggregates (sqlite_functions.h). Operand types are
// checked before any library object is built, so a description the
// library would never send is refused with an error, never a stop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "store/driver_dd.h"
#include "sql/query_desc.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_parameter.h"
#include "sqlite/sql_island.h"
#include "sqlite/sqlite_functions.h"

namespace molvane::driver {

// A translated description. Owns its islands (registered with the host
// while it lives) and the statement parameters its expressions read.
struct Translation {
  Translation() = default;
  Translation(const Translation &) = delete;
  Translation &operator=(const Translation &) = delete;
  ~Translation();

  std::string sql;
  // A DELETE or UPDATE: the query of the rowids of the rows it would
  // change now, with the same variables.
  std::string rows;
  std::vector<SQLColumnDescriptor> columns;  // result columns (queries)
  // Statement parameters by id, typed as the description declares them.
  std::map<std::int32_t, std::unique_ptr<SQLParameter>> params;
  // The parameters that SQLite reads itself, bound to ?1, ?2, ... at each
  // execution.
  std::vector<SQLParameter *> binds;
  std::vector<std::unique_ptr<SqlIsland>> islands;
  std::vector<int> island_ids;
  SqlFunctionHost *host = nullptr;
};

// Finds the dictionary of a table in a physical company; null when the
// connection holds none.
using TableLookup = std::function<const DdTableDesc *(const std::string &table, int compnr)>;

// The SQL columns of a table as the client's schema sees them: stored
// columns in row-offset order less the index and combined columns, the
// reference counters and the system columns "_compnr" and "_dlock".
std::vector<const DdColumnDesc *> OrdinaryColumns(const DdTableDesc &desc);

// Translates; throws SQLException (of the library) for a description that
// is typed wrongly or names a column that is not there.
std::unique_ptr<Translation> TranslateDesc(const QueryDesc &desc, const TableLookup &tables,
                                           SqlFunctionHost *host);

}  // namespace molvane::driver
