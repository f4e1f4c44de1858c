// Validated trees made up for statement tests: a parse function that the
// statement uses in place of the parser, which builds the tree data and a
// root node from a described statement, and an execution tree that delivers
// the described rows and records how the statement drives it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sql/common/sql_type.h"
#include "sql/validate/retry_spec.h"
#include "sql/validate/vtree_data.h"

class SQLVTNode;
class SQLVTWhereUsedMgr;

namespace faketree {

// A cell of a row: null, an integer, a real or a text.
using Value = std::variant<std::monostate, std::int32_t, double, std::string>;

struct Column {
  std::string name;  // empty: the target has no name
  SQLType type = SQL_INTEGER;
  unsigned long length = 4;
  bool derived = false;
};

struct Param {
  std::string name;
  SQLType type = SQL_INTEGER;
  bool compnr = false;  // also a company-number parameter of the statement
};

// Where a made-up statement fails.
enum class FailAt { Nothing, Parse, Map, Validate, Exec, Fetch, Break };

struct Statement {
  SQLStmtType type = SQL_STMT_SELECT;
  std::vector<Column> columns;
  std::vector<Param> params;
  std::vector<std::vector<Value>> rows;
  int affected = 0;            // rows an UPDATE or DELETE touches
  bool defaultCompnr = true;   // the statement has a default company-number parameter
  std::optional<int> maxRows;  // constant row limit
  std::string maxRowsParam;    // name of a parameter that limits the rows
  SQLRetryClauseType retry = SQL_RETRY_NONE;  // RETRY on the first column
  std::vector<std::pair<std::string, bool>> starTables;  // name, FOR UPDATE
  std::vector<std::string> whereUsed;  // table names reported during resolution
  FailAt failAt = FailAt::Nothing;
  int failLine = 0;  // line of the syntax error at Parse
};

// What the statement did with the trees, since Reset.
struct Calls {
  int parses = 0;
  int lastMode = -1;
  int lastOptions = -1;
  int creates = 0;  // CreateET
  int optimizes = 0;
  int prepares = 0;
  int attaches = 0;
  unsigned long lastSession = 0;
  int closes = 0;
  int breaks = 0;
  int execs = 0;
  int fetches = 0;   // Fetch calls reaching a tree
  int destroyed = 0;  // execution trees deleted
  long lastDeadline = -1;
  int lastMaxRows = -1;
  int lastBufferSize = -1;
  int lastCompnr = -1;  // default company number at the last Exec
};

// The made-up statements by text; the parse function refuses other texts
// with "42000".
std::map<std::string, Statement> &Statements();
Calls &Counts();
// Forgets the statements and calls, and makes the statement layer parse
// with Parse.
void Reset();

// The parse function of the tests.
SQLVTNode *Parse(char const *text, int mode, SQLVTreeData *treeData);

}  // namespace faketree
