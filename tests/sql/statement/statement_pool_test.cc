// The per-session statement pool and soft close.
#include <gtest/gtest.h>

#include "dbc/session/dbc_settings.h"
#include "fake_statement_tree.h"
#include "platform/shm.h"
#include "sql/common/value_store.h"
#include "sql/statement/statement.h"
#include "statement_test_util.h"

namespace {

using faketree::Counts;
using faketree::FailAt;
using faketree::Param;
using faketree::Statements;

class StatementPool : public StatementFixture {
 protected:
  // Prepares "q" (one INTEGER parameter "p") for a session and binds p.
  void PrepareBound(SQLStatement &s, unsigned long session, long p = 2) {
    ASSERT_EQ(s.Prepare("q", session, 4), 0) << Diag(s);
    ASSERT_EQ(s.BindInteger(0, p), 0);
  }
  void SetUp() override {
    StatementFixture::SetUp();
    faketree::Statement q = Query();
    q.params = {Param{"p", SQL_INTEGER}};
    Statements()["q"] = q;
  }
  void ExecAndBreak(SQLStatement &s) {
    ASSERT_EQ(s.Exec(1, nullptr), 0) << Diag(s);
    ASSERT_EQ(s.Fetch(), 0);
    ASSERT_EQ(s.Break(), 0);
  }
};

TEST_F(StatementPool, EndingASessionClosesOnlyItsStatements) {
  SQLStatement a, b, c;
  PrepareBound(a, 1);
  PrepareBound(b, 1);
  PrepareBound(c, 2);
  ASSERT_EQ(a.Exec(1, nullptr), 0);  // an open cursor is broken by the close
  EXPECT_TRUE(SQLStatement::SessionHasStatements(1));
  SQLStatement::CloseSessionStatements(1);
  EXPECT_FALSE(SQLStatement::SessionHasStatements(1));
  EXPECT_TRUE(SQLStatement::SessionHasStatements(2));
  EXPECT_FALSE(SQLStatement::SessionHasStatements(3));
  for (SQLStatement *s : {&a, &b}) {
    EXPECT_EQ(s->GetState(), SQLStatement::kNew);
    EXPECT_EQ(s->GetText(), nullptr);
    EXPECT_EQ(s->Exec(1, nullptr), -1);
    EXPECT_EQ(Diag(*s), "HY010 0 Function sequence error - Exec called out of sequence");
  }
  EXPECT_EQ(Counts().breaks, 1);
  EXPECT_EQ(c.GetState(), SQLStatement::kPrepared);
  SQLStatement::CloseSessionStatements(3);  // unknown session: nothing
}

TEST_F(StatementPool, SessionCloseEndsEvenWhenABreakFails) {
  faketree::Statement q = Query();
  q.failAt = FailAt::Break;
  Statements()["fails"] = q;
  SQLStatement a, b;
  ASSERT_EQ(a.Prepare("fails", 4, 4), 0);
  ASSERT_EQ(b.Prepare("fails", 4, 4), 0);
  ASSERT_EQ(a.Exec(1, nullptr), 0);
  ASSERT_EQ(b.Exec(1, nullptr), 0);
  SQLStatement::CloseSessionStatements(4);
  EXPECT_FALSE(SQLStatement::SessionHasStatements(4));
  EXPECT_EQ(a.GetState(), SQLStatement::kNew);
  EXPECT_EQ(b.GetState(), SQLStatement::kNew);
  EXPECT_EQ(Counts().breaks, 2);
  EXPECT_EQ(Counts().destroyed, 2);  // unfit to run again, not parked
}

TEST_F(StatementPool, ReprepareAndDestructionLeaveThePool) {
  {
    SQLStatement s;
    PrepareBound(s, 5);
    EXPECT_TRUE(SQLStatement::SessionHasStatements(5));
    PrepareBound(s, 6);
    EXPECT_FALSE(SQLStatement::SessionHasStatements(5));
    EXPECT_TRUE(SQLStatement::SessionHasStatements(6));
  }
  EXPECT_FALSE(SQLStatement::SessionHasStatements(6));
}

TEST_F(StatementPool, WithoutSoftCloseABrokenStatementKeepsItsTree) {
  SQLStatement s;
  PrepareBound(s, 1);
  ExecAndBreak(s);
  EXPECT_EQ(s.GetState(), SQLStatement::kPrepared);
  ExecAndBreak(s);
  EXPECT_EQ(Counts().creates, 1);
  EXPECT_EQ(Counts().attaches, 1);
}

class SoftCloseAtOnce : public StatementPool, public testing::WithParamInterface<int> {};

TEST_P(SoftCloseAtOnce, EveryBreakSoftClosesAndExecPreparesAgain) {
  dbc_settings().qelt_sql_soft_close_delay = GetParam();
  SQLStatement s;
  PrepareBound(s, 3, 7);
  ExecAndBreak(s);
  EXPECT_EQ(s.GetState(), SQLStatement::kSoftClosed);
  EXPECT_STREQ(s.GetText(), "q");
  EXPECT_EQ(s.GetOriginalId(), 0UL);  // the data is in the statement cache
  EXPECT_TRUE(SQLStatement::SessionHasStatements(3));
  ASSERT_EQ(s.BindInteger(0, 8), 0);  // binds are accepted while soft-closed
  ASSERT_EQ(s.Exec(1, nullptr), 0) << Diag(s);
  EXPECT_EQ(s.GetState(), SQLStatement::kExecuted);
  EXPECT_EQ(Counts().parses, 1);   // from the statement cache
  EXPECT_EQ(Counts().creates, 1);  // the parked tree came back with the data
  EXPECT_EQ(s.Fetch(), 0);
  ASSERT_EQ(s.Break(), 0);
  EXPECT_EQ(s.GetState(), SQLStatement::kSoftClosed);
}

INSTANTIATE_TEST_SUITE_P(Delays, SoftCloseAtOnce, testing::Values(0, -5));

TEST_F(StatementPool, SoftClosedStatementKeepsItsBindings) {
  dbc_settings().qelt_sql_soft_close_delay = 0;
  dbc_settings().qelt_sql_stmt_cache_size = 0;  // the soft prepare parses again
  SQLStatement s;
  PrepareBound(s, 3, 7);
  ExecAndBreak(s);
  ASSERT_EQ(s.GetState(), SQLStatement::kSoftClosed);
  ASSERT_EQ(s.Exec(1, nullptr), 0) << Diag(s);  // p is still bound
  EXPECT_EQ(Counts().parses, 2);
  char const *name = nullptr;
  ASSERT_EQ(s.GetParameterDesc(0, &name, nullptr), 0);
  EXPECT_STREQ(name, "p");
}

TEST_F(StatementPool, ExecAfterAFailedSoftPrepareIsOutOfSequence) {
  dbc_settings().qelt_sql_soft_close_delay = 0;
  dbc_settings().qelt_sql_stmt_cache_size = 0;
  SQLStatement s;
  PrepareBound(s, 3);
  ExecAndBreak(s);
  ASSERT_EQ(s.GetState(), SQLStatement::kSoftClosed);
  Statements()["q"].failAt = FailAt::Parse;
  EXPECT_EQ(s.Exec(1, nullptr), -1);
  EXPECT_EQ(Diag(s), "42000 302 Syntax error");
  EXPECT_EQ(s.GetState(), SQLStatement::kSoftClosed);
  EXPECT_EQ(s.GetText(), nullptr);
  EXPECT_FALSE(SQLStatement::SessionHasStatements(3));
  EXPECT_EQ(s.Exec(1, nullptr), -1);
  EXPECT_EQ(Diag(s), "HY010 0 Function sequence error - Exec called out of sequence");
  EXPECT_EQ(Counts().parses, 2);  // the second Exec did not prepare
  Statements()["q"].failAt = FailAt::Nothing;
  ASSERT_EQ(s.Prepare("q", 3, 4), 0);  // a full prepare makes it usable again
}

TEST_F(StatementPool, IdleStatementsTimeOutAtTheNextExecOfAnyStatement) {
  ASSERT_EQ(link_shm(), 0);
  ASSERT_EQ(shm_set_fixed_time(1000000), 0);
  dbc_settings().qelt_sql_soft_close_delay = 60;
  SQLStatement s, other;
  PrepareBound(s, 1);
  PrepareBound(other, 1);
  ExecAndBreak(s);  // the first break after a full prepare soft-closes
  EXPECT_EQ(s.GetState(), SQLStatement::kSoftClosed);
  ExecAndBreak(s);
  EXPECT_EQ(s.GetState(), SQLStatement::kPrepared);
  ASSERT_EQ(shm_set_fixed_time(1000060), 0);
  ExecAndBreak(other);  // 60 seconds are not more than the delay
  EXPECT_EQ(s.GetState(), SQLStatement::kPrepared);
  ASSERT_EQ(shm_set_fixed_time(1000061), 0);
  ASSERT_EQ(other.Exec(1, nullptr), 0);
  EXPECT_EQ(s.GetState(), SQLStatement::kSoftClosed);
  EXPECT_EQ(SQLStatement::_minBreakTime, -1);
  ASSERT_EQ(s.Exec(1, nullptr), 0) << Diag(s);  // soft-closed statements run again
}

TEST_F(StatementPool, ExecutedStatementsAreNeverSweptAway) {
  ASSERT_EQ(link_shm(), 0);
  ASSERT_EQ(shm_set_fixed_time(2000000), 0);
  dbc_settings().qelt_sql_soft_close_delay = 10;
  SQLStatement s, other;
  PrepareBound(s, 1);
  PrepareBound(other, 1);
  ExecAndBreak(s);
  ExecAndBreak(s);
  ASSERT_EQ(s.Exec(1, nullptr), 0);  // cursor open again
  ASSERT_EQ(shm_set_fixed_time(2000100), 0);
  ASSERT_EQ(other.Exec(1, nullptr), 0);
  EXPECT_EQ(s.GetState(), SQLStatement::kExecuted);
  EXPECT_EQ(s.Fetch(), 0);
}

}  // namespace
