// The statement layer meets the database client: a transaction's default
// query time-out, and the end of a transaction closing its statements.
#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>

#include <gtest/gtest.h>

#include <string>


#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "fake_statement_tree.h"
#include "platform/clock.h"
#include "sql/statement/sql_api_internal.h"
#include "statement_test_util.h"
#include "support/test_env.h"

namespace {

using faketree::Counts;
using faketree::Statements;
using molvane::test::ScratchDir;

class SqlSession : public StatementFixture {
 protected:
  void SetUp() override {
    root_.WriteFile("lib/defaults/db_resource", "qelt_sql_soft_close_delay: -1\n");
    set_zuv(root_.path().c_str());
    ASSERT_EQ(zdb_init_api("test_sql", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
    StatementFixture::SetUp();
    Statements()["q"] = Query();
  }
  void TearDown() override {
    zdb_logoff();
    StatementFixture::TearDown();
  }
  ScratchDir root_;
};

TEST_F(SqlSession, TransactionDefaultTimeOutAppliesWithoutAStatementTimeOut) {
  int id = zdb_start_session("t1");
  ASSERT_GT(id, 0);
  ASSERT_EQ(zdb_set_default_query_timeout(id, 20), 0);
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", static_cast<unsigned long>(id), 4), 0);
  // The deadline is a millisecond of the steady clock.
  long before = static_cast<long>(al_steady_ms());
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_GE(Counts().lastDeadline, before + 20000);
  EXPECT_LE(Counts().lastDeadline, static_cast<long>(al_steady_ms()) + 20000);
  ASSERT_EQ(s.Break(), 0);
  ASSERT_EQ(s.SetTimeOut(0), 0);  // the statement's own wins, 0 for none
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_EQ(Counts().lastDeadline, 0);
}

TEST_F(SqlSession, StoppingATransactionClosesItsStatements) {
  int id = zdb_start_session("t1");
  int other = zdb_start_session("t2");
  ASSERT_GT(id, 0);
  QPCStatement *h = sql_parse("q", static_cast<unsigned long>(id), 0);
  QPCStatement *kept = sql_parse("q", static_cast<unsigned long>(other), 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(qpc_session_used(static_cast<unsigned long>(id)), 1);
  ASSERT_EQ(zdb_stop_session(id), 0);
  EXPECT_EQ(qpc_session_used(static_cast<unsigned long>(id)), 0);
  EXPECT_EQ(qpc_session_used(static_cast<unsigned long>(other)), 1);
  EXPECT_EQ(sql_exec(h, 1), -1);
  EXPECT_EQ(zdb_errno, SQL_ERR_STATEMENT);
  EXPECT_EQ(sql_close(h), 0);
  EXPECT_EQ(sql_close(kept), 0);
}

// sql_parse asks the database client whether the session can run a
// statement at all, and refuses it at once with the client's words.
TEST_F(SqlSession, ParseRefusesATransactionIdNotInUse) {
  QPCSetSessionCheck(nullptr);
  int id = zdb_start_session("t1");
  ASSERT_GT(id, 0);
  QPCStatement *h = sql_parse("q", static_cast<unsigned long>(id), SQL_PARSE_NO_ERROR_CALLBACK);
  ASSERT_NE(h, nullptr) << zdb_errno;
  EXPECT_EQ(sql_close(h), 0);
  struct Case {
    int session;
    bool stop;  // the transaction is stopped first
  } cases[] = {{0, false}, {9, false}, {id, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.session);
    if (c.stop) {
      ASSERT_EQ(zdb_stop_session(c.session), 0);
    }
    // Another call's message before it: the refusal's text is its own.
    set_zdb_msg_logged(nullptr, 0, "an earlier message");
    EXPECT_EQ(sql_parse("q", static_cast<unsigned long>(c.session), SQL_PARSE_NO_ERROR_CALLBACK), nullptr);
    EXPECT_EQ(zdb_errno, ZE_INVALID_SESSION);
    EXPECT_EQ(get_zdb_msg(), "SQLState QP999: Invalid transaction id " + std::to_string(c.session) +
                                 " specified: it is not in use (never started, or stopped already); "
                                 "use an id that zdb_start_session returned (518)");
  }
  EXPECT_EQ(Counts().parses, 1);  // the refused ones never reached the parser
}

}  // namespace
