// SQLStatement over made-up validated trees: prepare, the statement cache,
// binding, describe, reset and close.
#include "sql/statement/statement.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "alloc_failure.h"
#include "dbc/session/dbc_settings.h"
#include "fake_statement_tree.h"
#include "sql/common/column_descriptor.h"
#include "statement_test_util.h"

namespace {

using faketree::Column;
using faketree::Counts;
using faketree::FailAt;
using faketree::Param;
using faketree::Statements;

class StatementTest : public StatementFixture {};

TEST_F(StatementTest, IdsStartAtOneAndAreNeverReused) {
  unsigned long first;
  {
    SQLStatement a;
    first = a.GetId();
  }
  SQLStatement b;
  EXPECT_EQ(first, 1UL);
  EXPECT_EQ(b.GetId(), 2UL);
}

TEST_F(StatementTest, PrepareDescribesTheStatement) {
  faketree::Statement q = Query();
  q.columns.push_back(Column{"", SQL_REAL, 8, true});
  q.params = {Param{"p1", SQL_INTEGER}, Param{"p2", SQL_STRING}};
  Statements()["q"] = q;
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 7, 0x04), 0) << Diag(s);
  EXPECT_EQ(s.GetState(), SQLStatement::kPrepared);
  EXPECT_STREQ(s.GetText(), "q");
  EXPECT_EQ(s.GetSessionId(), 7UL);
  EXPECT_EQ(s.GetOriginalId(), s.GetId());

  int n = -1;
  ASSERT_EQ(s.NumParameters(&n), 0);
  EXPECT_EQ(n, 2);
  ASSERT_EQ(s.NumResultCols(&n), 0);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(s.NumParameters(nullptr), 0);
  SQLStmtType type = SQL_STMT_DELETE;
  ASSERT_EQ(s.GetStatementType(&type), 0);
  EXPECT_EQ(type, SQL_STMT_SELECT);

  char const *name = nullptr;
  SQLType ptype = SQL_UNDEFINED;
  ASSERT_EQ(s.GetParameterDesc(1, &name, &ptype), 0);
  EXPECT_STREQ(name, "p2");
  EXPECT_EQ(ptype, SQL_STRING);

  SQLColumnDescriptor const *d = nullptr;
  ASSERT_EQ(s.GetColumnDescriptor(1, &d), 0);
  EXPECT_EQ(d->GetType(), SQL_REAL);
  bool derived = false;
  ASSERT_EQ(s.GetSelectTarget(0, &name, &derived), 0);
  EXPECT_STREQ(name, "k");
  EXPECT_FALSE(derived);
  ASSERT_EQ(s.GetSelectTarget(1, &name, &derived), 0);
  EXPECT_EQ(name, nullptr);
  EXPECT_TRUE(derived);

  EXPECT_EQ(s.GetColumnDescriptor(2, &d), -1);
  EXPECT_EQ(Diag(s), "HYS01 0 Invalid column numnber 2");
  EXPECT_EQ(s.GetSelectTarget(-1, &name, &derived), -1);
  EXPECT_EQ(Diag(s), "HYS01 0 Invalid column number -1");
  EXPECT_EQ(s.GetParameterDesc(2, &name, &ptype), -1);
  EXPECT_EQ(Diag(s), "HYS02 0 Invalid parameter number 2");
}

TEST_F(StatementTest, DescribeOfAnUpdateIsNotACursorSpecification) {
  Statements()["u"] = Update(2);
  SQLStatement s;
  ASSERT_EQ(s.Prepare("u", 1, 4), 0);
  SQLColumnDescriptor const *d = nullptr;
  EXPECT_EQ(s.GetColumnDescriptor(0, &d), -1);
  EXPECT_EQ(Diag(s), "07005 0 Prepared statement is not a cursor specification - invalid call to "
                     "GetColumnDescriptor");
  EXPECT_EQ(s.GetSelectTarget(0, nullptr, nullptr), -1);
  EXPECT_EQ(Diag(s), "07005 0 Prepared statement is not a cursor specification - invalid call to "
                     "DescribeResultCol");
  int n = -1;
  ASSERT_EQ(s.NumResultCols(&n), 0);
  EXPECT_EQ(n, 0);
}

TEST_F(StatementTest, OperationsOutOfSequenceNameThemselves) {
  SQLStatement s;
  struct Case {
    int result;
    char const *word;
  } cases[] = {
      {s.BindInteger(0, 1), "BindInteger"},
      {s.GetParameterDesc(0, nullptr, nullptr), "GetParameterName"},
      {s.NumParameters(nullptr), "NumParameters"},
      {s.GetSelectTarget(0, nullptr, nullptr), "GetResultColParameterName"},
      {s.GetSelectStarTables(nullptr), "GetSelectStarTables "},
      {s.Exec(1, nullptr), "Exec"},
      {s.Fetch(), "Fetch"},
      {s.Break(), "Break"},
      {s.SetBufferSize(5), "SetBufferSize"},
      {s.SaveRetryValues(), "SaveRetryValues"},
  };
  // The records of all but the last call are gone; check each call anew.
  for (auto const &c : cases) EXPECT_EQ(c.result, -1) << c.word;
  EXPECT_EQ(s.SaveRetryValues(), -1);
  EXPECT_EQ(Diag(s), "HY010 0 Function sequence error - SaveRetryValues called out of sequence");
  EXPECT_EQ(s.GetSelectStarTables(nullptr), -1);
  EXPECT_EQ(Diag(s),
            "HY010 0 Function sequence error - GetSelectStarTables  called out of sequence");
  EXPECT_EQ(s.GetParameterDesc(0, nullptr, nullptr), -1);
  EXPECT_EQ(Diag(s), "HY010 0 Function sequence error - GetParameterName called out of sequence");
  EXPECT_EQ(s.SetTimeOut(5), 0);  // accepted in every state
}

struct OptionsCase {
  int mode;
  int options;
};

class NameResolutionOptions : public StatementFixture,
                              public testing::WithParamInterface<OptionsCase> {};

TEST_P(NameResolutionOptions, FollowTheModeBits) {
  Statements()["q"] = Query();
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, GetParam().mode), 0);
  EXPECT_EQ(Counts().lastMode, GetParam().mode);
  EXPECT_EQ(Counts().lastOptions, GetParam().options);
}

INSTANTIATE_TEST_SUITE_P(Modes, NameResolutionOptions,
                         testing::Values(OptionsCase{0x04, 1}, OptionsCase{0x24, 5},
                                         OptionsCase{0x14, 0x11}, OptionsCase{0x44, 9},
                                         OptionsCase{0x77, 0x1D}));

TEST_F(StatementTest, SyntaxErrorLeavesANewStatementAndKeepsItsLine) {
  faketree::Statement q = Query();
  q.failAt = FailAt::Parse;
  q.failLine = 7;
  Statements()["bad"] = q;
  Statements()["q"] = Query();
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  ASSERT_EQ(s.Prepare("bad", 1, 4), -1);
  char state[6];
  long native = 0;
  char message[64];
  int line = 0;
  ASSERT_EQ(s.GetDiagRec(1, state, &native, message, sizeof message, nullptr, &line), 0);
  EXPECT_STREQ(state, "42000");
  EXPECT_EQ(native, 302);
  EXPECT_EQ(line, 7);
  EXPECT_EQ(s.GetState(), SQLStatement::kNew);
  EXPECT_EQ(s.GetOriginalId(), 0UL);
  EXPECT_EQ(s.GetText(), nullptr);
  EXPECT_EQ(s.Exec(1, nullptr), -1);
  EXPECT_EQ(Diag(s), "HY010 0 Function sequence error - Exec called out of sequence");
}

TEST_F(StatementTest, FailuresAfterTheParseDestroyTheData) {
  for (FailAt at : {FailAt::Map, FailAt::Validate}) {
    faketree::Statement q = Query();
    q.failAt = at;
    Statements()["bad"] = q;
    SQLStatement s;
    EXPECT_EQ(s.Prepare("bad", 1, 4), -1);
    EXPECT_EQ(Diag(s), "QP999 304 made-up failure");
    EXPECT_EQ(s.GetState(), SQLStatement::kNew);
    EXPECT_EQ(s.GetOriginalId(), 0UL);
  }
}

TEST_F(StatementTest, TheRealParserReportsASyntaxErrorAsTheDiagnostic) {
  SQLStatement::SetParseFunction(nullptr);
  SQLStatement s;
  EXPECT_EQ(s.Prepare("SELECT FROM", 1, 4), -1);
  EXPECT_EQ(Diag(s), "42I00 302 Unexpected token 'FROM'");
  EXPECT_EQ(s.Prepare(nullptr, 1, 4), -1);
  EXPECT_EQ(Diag(s), "HY009 0 Invalid use of null pointer");
}

TEST_F(StatementTest, PrepareWithAnOpenCursorLeavesTheStatementAsItWas) {
  Statements()["q"] = Query();
  Statements()["r"] = Query();
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_EQ(s.Prepare("r", 1, 4), -1);
  EXPECT_EQ(Diag(s), "24000 0 An open cursor is associated with the current statement");
  EXPECT_STREQ(s.GetText(), "q");
  EXPECT_EQ(s.Fetch(), 0);
}

TEST_F(StatementTest, StatementCacheSkipsTheParserForAnEqualTextAndMode) {
  Statements()["q"] = Query();
  unsigned long firstId;
  {
    SQLStatement a;
    ASSERT_EQ(a.Prepare("q", 1, 4), 0);
    firstId = a.GetId();
  }  // the destructor parks the data
  SQLStatement b;
  ASSERT_EQ(b.Prepare("q", 2, 4), 0);
  EXPECT_EQ(Counts().parses, 1);
  EXPECT_EQ(b.GetOriginalId(), firstId);
  int n = 0;
  ASSERT_EQ(b.NumResultCols(&n), 0);
  EXPECT_EQ(n, 1);
  // Another mode destroys the cached data and parses.
  ASSERT_EQ(b.Prepare("q", 2, 0x14), 0);  // re-prepare parks "q"/4 first
  EXPECT_EQ(Counts().parses, 2);
  ASSERT_EQ(b.Prepare("q", 2, 4), 0);  // "q"/0x14 parked, "q"/4 taken... gone with the mode
  EXPECT_EQ(Counts().parses, 3);
}

TEST_F(StatementTest, CacheOfCapacityOneEvictsTheOlderText) {
  dbc_settings().qelt_sql_stmt_cache_size = 1;
  Statements()["a"] = Query();
  Statements()["b"] = Query();
  {
    SQLStatement s;
    ASSERT_EQ(s.Prepare("a", 1, 4), 0);
  }
  {
    SQLStatement t;
    ASSERT_EQ(t.Prepare("a", 1, 4), 0);  // hit
    EXPECT_EQ(Counts().parses, 1);
    ASSERT_EQ(t.Prepare("b", 1, 4), 0);  // parks a
  }  // parks b, which evicts a
  EXPECT_EQ(Counts().parses, 2);
  SQLStatement u;
  ASSERT_EQ(u.Prepare("a", 1, 4), 0);
  EXPECT_EQ(Counts().parses, 3);
}

TEST_F(StatementTest, CacheSizeZeroParsesEveryTime) {
  dbc_settings().qelt_sql_stmt_cache_size = 0;
  Statements()["q"] = Query();
  SQLStatement s;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  EXPECT_EQ(Counts().parses, 3);
}

TEST_F(StatementTest, PrepareOfItsOwnTextWorks) {
  Statements()["q"] = Query();
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  ASSERT_EQ(s.Prepare(s.GetText(), 1, 4), 0);
  EXPECT_STREQ(s.GetText(), "q");
}

// --- Binding -------------------------------------------------------------

class BindTest : public StatementFixture {
 protected:
  void SetUp() override {
    StatementFixture::SetUp();
    faketree::Statement q = Query();
    q.params = {Param{"i", SQL_INTEGER}, Param{"s", SQL_STRING}, Param{"r", SQL_RAW},
                Param{"t", SQL_TIMESTAMP}, Param{"u", SQL_UNDEFINED}, Param{"d", SQL_DATE}};
    Statements()["q"] = q;
    ASSERT_EQ(s_.Prepare("q", 1, 4), 0);
  }
  SQLStatement s_;
};

TEST_F(BindTest, RefusedValuesAreErrorsOfTheBind) {
  unsigned char const bytes[] = "ab";
  struct Case {
    char const *what;
    int result;
    std::string diag;
  };
  std::vector<Case> cases;
  auto add = [&](char const *what, int result) { cases.push_back({what, result, Diag(s_)}); };
  add("int as string", s_.BindString(0, bytes, 2));
  add("string as int", s_.BindInteger(1, 5));
  add("untyped", s_.BindInteger(4, 5));
  add("zero-length raw", s_.BindRaw(2, bytes, 0));
  add("negative timestamp", s_.BindTimestamp(3, -1));
  add("int beyond 32 bits", s_.BindInteger(0, 1L << 40));
  add("date beyond 32 bits", s_.BindDate(5, -(1L << 40)));
  add("number past the count", s_.BindInteger(6, 1));
  add("negative number", s_.BindReal(-1, 1.0));
  std::vector<std::pair<char const *, std::string>> expected = {
      {"int as string", "QP010 312 Parameter 'i' should be of type INTEGER instead of type STRING"},
      {"string as int", "QP010 312 Parameter 's' should be of type STRING instead of type INTEGER"},
      {"untyped", "QP010 312 No appropriate type could be derived for parameter 'u'"},
      {"zero-length raw", "QP011 316 Parameter 'r' of type RAW cannot take a value of length 0"},
      {"negative timestamp", "22501 0 Timestamp -1 is out of range. It should be at least 0"},
      {"int beyond 32 bits", "22003 205 "},
      {"date beyond 32 bits", "22003 205 "},
      {"number past the count", "HYS02 0 Invalid parameter number 6"},
      {"negative number", "HYS02 0 Invalid parameter number -1"},
  };
  ASSERT_EQ(cases.size(), expected.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].result, -1) << cases[i].what;
    EXPECT_EQ(cases[i].diag, expected[i].second) << cases[i].what;
  }
  // None of them bound anything.
  EXPECT_EQ(s_.Exec(1, nullptr), -1);
  EXPECT_EQ(RecordCount(s_), 6);
  EXPECT_EQ(Diag(s_, 6), "HYS05 0 Parameter 'i' not bound before exec");
  EXPECT_EQ(Diag(s_, 1), "HYS05 0 Parameter 'd' not bound before exec");
}

TEST_F(BindTest, AcceptedValuesReachTheTreeAtExec) {
  unsigned char const bytes[] = "xyz";
  EXPECT_EQ(s_.BindInteger(0, 42), 0);
  EXPECT_EQ(s_.BindString(1, bytes, 3), 0);
  EXPECT_EQ(s_.BindRaw(2, bytes, 2), 0);
  EXPECT_EQ(s_.BindTimestamp(3, 0), 0);
  EXPECT_EQ(s_.BindDate(5, 738000), 0);
  EXPECT_EQ(s_.Exec(1, nullptr), -1);  // "u" still unbound
  EXPECT_EQ(RecordCount(s_), 1);
  EXPECT_EQ(Diag(s_), "HYS05 0 Parameter 'u' not bound before exec");
}

}  // namespace
