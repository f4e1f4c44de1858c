// Golden traces of parsed statements: every grammar rule family in the
// classic and the ANSI parse mode, and the texts of the set reads. The
// corpus (tests/fixtures/sql_parse/corpus.golden) holds, per case, a line
// "=== <name> <mode>", the statement, a line "---" and the expected trace.
// With MOLVANE_UPDATE_GOLDENS=1 the test writes the traces it gets instead.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "parse_test_env.h"
#include "support/test_env.h"

namespace molvane::test {
namespace {

struct Case {
  std::string name;
  int mode = 0;
  std::string statement;
  std::string trace;
};

std::string CorpusPath() { return FixturePath("sql_parse/corpus.golden"); }

std::vector<Case> ReadCorpus() {
  std::ifstream in(CorpusPath());
  std::vector<Case> cases;
  std::string line;
  bool inTrace = false;
  while (std::getline(in, line)) {
    if (line.rfind("=== ", 0) == 0) {
      Case c;
      std::istringstream header(line.substr(4));
      header >> c.name >> c.mode;
      cases.push_back(c);
      inTrace = false;
    } else if (line == "---" && !cases.empty() && !inTrace) {
      inTrace = true;
    } else if (!cases.empty()) {
      (inTrace ? cases.back().trace : cases.back().statement) += line + "\n";
    }
  }
  return cases;
}

class GoldenTrees : public ParseTest {};

TEST_F(GoldenTrees, CorpusMatches) {
  std::vector<Case> cases = ReadCorpus();
  ASSERT_GE(cases.size(), 40u);
  bool const update = std::getenv("MOLVANE_UPDATE_GOLDENS") != nullptr;
  std::ostringstream rewritten;
  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string statement = c.statement.substr(0, c.statement.size() - 1);  // without the last line end
    treeData_ = std::make_unique<SQLVTreeData>();
    std::string trace;
    try {
      trace = Trace(statement, c.mode);
    } catch (SQLException const &e) {
      trace = std::string("error ") + e.GetSQLState() + ": " + e.GetMessageText()->GetString() + "\n";
    }
    EXPECT_EQ(trace, c.trace);
    rewritten << "=== " << c.name << " " << c.mode << "\n" << c.statement << "---\n" << trace;
  }
  if (update) std::ofstream(CorpusPath()) << rewritten.str();
}

}  // namespace
}  // namespace molvane::test
