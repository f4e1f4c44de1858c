#include "from_clause_env.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "dbc/dict/dd.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/front/sql_parse.h"
#include "support/vt_from.h"

namespace molvane::test {

void FromClauseTest::SetUp() {
  std::filesystem::copy(FixturePath("zuv/dict"), root_.path() + "/dict", std::filesystem::copy_options::recursive);
  root_.WriteFile("lib/tabledef1", "*::msqlite(main.db)\n");
  setenv("ZUV", root_.path().c_str(), 1);
  unsetenv("ZUV_RELEASE");
  setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
  init_local_dd();
  treeData_ = std::make_unique<SQLVTreeData>();
}

void FromClauseTest::TearDown() {
  SQLLogger::Instance()->SetLogFlags(0);
  scope_.reset();
  statement_.reset();
}

std::unique_ptr<SQLVTNode> FromClauseTest::Resolve(std::string const &text, int mode, int flags,
                                                   SQLVTWhereUsedMgr *whereUsed) {
  statement_.reset(SQLParse(text.c_str(), mode, treeData_.get()));
  scope_ = std::make_unique<SQLVTScope>();
  return ResolveFromClause(statement_.get(), treeData_.get(), scope_.get(), flags, whereUsed);
}

std::string FromClauseTest::ErrorOf(std::string const &text, int mode, int flags) {
  try {
    Resolve(text, mode, flags);
  } catch (SQLException const &e) {
    return std::string(e.GetSQLState()) + " " + e.GetMessageText()->GetString();
  }
  return "none";
}

std::string Compact(SQLVTNode const *node) {
  std::istringstream in(TraceOf(node));
  std::string out, line;
  while (std::getline(in, line)) {
    std::string const text = line.substr(std::min(line.find_first_not_of(' '), line.size()));
    if (text.rfind("Id: ", 0) == 0 || text.rfind("ForUpdate: ", 0) == 0 || text.rfind("Schema: ", 0) == 0 ||
        text == "Compnr restrictions: Id: # Restrictions: []") {
      continue;
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace molvane::test
