#include "parse_test_env.h"

#include <cstdlib>

#include "dbc/dict/dd.h"
#include "sql/common/sql_logger.h"
#include "sql/front/sql_parse.h"
#include "support/test_env.h"

namespace molvane::test {

void ParseTest::SetUp() {
  static ScratchDir zuv;
  setenv("ZUV", zuv.path().c_str(), 1);
  setenv("F_ZRDD", FixturePath("zuv/dict").c_str(), 1);
  setenv("TZ", "UTC", 1);
  init_local_dd();
  treeData_ = std::make_unique<SQLVTreeData>();
}

void ParseTest::TearDown() { SQLLogger::Instance()->SetLogFlags(0); }

std::unique_ptr<SQLVTNode> ParseTest::Parse(std::string const &text, int mode) {
  return std::unique_ptr<SQLVTNode>(SQLParse(text.c_str(), mode, treeData_.get()));
}

std::string ParseTest::Trace(std::string const &text, int mode) {
  auto tree = Parse(text, mode);
  return TraceOf(tree.get());
}

void ParseTest::ExpectError(std::string const &text, int mode, char const *state, std::string const &message,
                            int line) {
  try {
    auto tree = Parse(text, mode);
    ADD_FAILURE() << "no error for: " << text;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), state) << text;
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message) << text;
    EXPECT_EQ(e.GetLineNumber(), line) << text;
  }
}

}  // namespace molvane::test
