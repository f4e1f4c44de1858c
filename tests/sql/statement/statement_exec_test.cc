// SQLStatement over made-up validated trees: execution, tree reuse, fetch,
// skip, break, time-outs, maximum rows and retry points.
#include <gtest/gtest.h>

#include <cstdlib>

#include "fake_statement_tree.h"
#include "platform/clock.h"
#include "platform/shm.h"
#include "sql/common/sql_logger.h"
#include "sql/common/value_store.h"
#include "sql/statement/statement.h"
#include "statement_test_util.h"

namespace {

using faketree::Counts;
using faketree::FailAt;
using faketree::Param;
using faketree::Statements;

class StatementExec : public StatementFixture {};

// Fetches every row and returns the values of column 0.
std::vector<int> FetchAll(SQLStatement &s) {
  std::vector<int> keys;
  while (s.Fetch() == 0) {
    SQLValueStore const *vs = nullptr;
    EXPECT_EQ(s.GetValueStoreAddr(0, &vs), 0);
    keys.push_back(vs->GetInteger());
  }
  return keys;
}

TEST_F(StatementExec, CompanyNumbersOutsideTheRangeAreRefused) {
  faketree::Statement q = Query();
  q.params = {Param{"c", SQL_INTEGER, true}};
  Statements()["q"] = q;
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  ASSERT_EQ(s.BindInteger(0, 5), 0);
  for (long compnr : {1000L, -1L}) {
    EXPECT_EQ(s.Exec(compnr, nullptr), -1);
    EXPECT_EQ(Diag(s), "HYS00 0 Invalid company number " + std::to_string(compnr));
  }
  for (long compnr : {0L, 999L}) {
    ASSERT_EQ(s.Exec(compnr, nullptr), 0) << Diag(s);
    EXPECT_EQ(Counts().lastCompnr, compnr);
    ASSERT_EQ(s.Break(), 0);
  }
  ASSERT_EQ(s.BindInteger(0, 1000), 0);
  EXPECT_EQ(s.Exec(1, nullptr), -1);
  EXPECT_EQ(Diag(s), "HYS00 0 Invalid company number 1000");
}

TEST_F(StatementExec, TreesAreReusedPerCompanyNumber) {
  Statements()["q"] = Query();
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 9, 4), 0);
  auto run = [&](long compnr) {
    ASSERT_EQ(s.Exec(compnr, nullptr), 0) << Diag(s);
    ASSERT_EQ(s.Break(), 0);
  };
  run(1);
  run(1);
  EXPECT_EQ(Counts().creates, 1);
  EXPECT_EQ(Counts().attaches, 1);
  EXPECT_EQ(Counts().lastSession, 9UL);
  run(2);
  EXPECT_EQ(Counts().creates, 2);
  EXPECT_EQ(Counts().closes, 1);  // company 1's tree was detached and parked
  run(1);
  EXPECT_EQ(Counts().creates, 2);  // back from the exec-tree cache
  EXPECT_EQ(Counts().lastCompnr, 1);
  EXPECT_EQ(Counts().optimizes, 2);
  EXPECT_EQ(Counts().prepares, 2);
}

TEST_F(StatementExec, UpdateReportsItsRowCountAndNoRowsAsNoData) {
  Statements()["none"] = Update(0);
  Statements()["three"] = Update(3);
  SQLStatement s;
  int rows = -1;
  ASSERT_EQ(s.Prepare("none", 1, 4), 0);
  EXPECT_EQ(s.Exec(1, &rows), 100);
  EXPECT_EQ(rows, 0);
  ASSERT_EQ(s.Prepare("three", 1, 4), 0);
  EXPECT_EQ(s.Exec(1, &rows), 0);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(s.GetState(), SQLStatement::kExecuted);
  EXPECT_EQ(s.Fetch(), -1);
  EXPECT_EQ(Diag(s), "24000 0 There is no open cursor associated with the current statement");
  EXPECT_EQ(s.Exec(1, &rows), 0);  // no cursor: executes again
}

TEST_F(StatementExec, FetchAfterTheEndDoesNotAskTheTree) {
  Statements()["q"] = Query(2);
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_EQ(FetchAll(s), (std::vector<int>{1, 2}));
  int asked = Counts().fetches;
  EXPECT_EQ(s.Fetch(), 100);
  EXPECT_EQ(Counts().fetches, asked);
  EXPECT_EQ(s.Exec(1, nullptr), -1);
  EXPECT_EQ(Diag(s), "24000 0 An open cursor is associated with the current statement");
}

TEST_F(StatementExec, SkipPastTheEndReportsTheRowsSkipped) {
  Statements()["q"] = Query(5);
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  ASSERT_EQ(s.Fetch(), 0);
  int skipped = -1;
  EXPECT_EQ(s.SkipRows(10, &skipped), 100);
  EXPECT_EQ(skipped, 4);
  skipped = -1;
  EXPECT_EQ(s.SkipRows(1, &skipped), 100);
  EXPECT_EQ(skipped, -1);  // untouched after the end
}

TEST_F(StatementExec, ValueStoresOnlyForQueryColumns) {
  Statements()["q"] = Query();
  Statements()["u"] = Update(1);
  SQLStatement s;
  SQLValueStore const *vs = nullptr;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_EQ(s.GetValueStoreAddr(1, &vs), -1);
  EXPECT_EQ(Diag(s), "HYS01 0 Invalid column numnber 1");
  ASSERT_EQ(s.Break(), 0);
  ASSERT_EQ(s.Prepare("u", 1, 4), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_EQ(s.GetValueStoreAddr(0, &vs), -1);
  EXPECT_EQ(Diag(s), "07005 0 Prepared statement is not a cursor specification - invalid call to "
                     "GetValueStoreAddr");
}

TEST_F(StatementExec, BufferSizeAndTimeOutChecks) {
  Statements()["q"] = Query();
  Statements()["d"] = Update(1);
  Statements()["d"].type = SQL_STMT_DELETE;
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  EXPECT_EQ(s.SetBufferSize(-1), -1);
  EXPECT_EQ(Diag(s), "HYS04 0 Invalid buffer size -1");
  EXPECT_EQ(s.SetTimeOut(-1), -1);
  EXPECT_EQ(Diag(s), "HYS04 0 Invalid time out value -1");
  ASSERT_EQ(s.SetBufferSize(50), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_EQ(Counts().lastBufferSize, 50);
  EXPECT_EQ(Counts().lastDeadline, -1);  // no time-out anywhere: none set
  EXPECT_EQ(s.SetBufferSize(5), -1);
  EXPECT_EQ(Diag(s), "HY010 0 Function sequence error - SetBufferSize called out of sequence");
  ASSERT_EQ(s.Break(), 0);
  ASSERT_EQ(s.Prepare("d", 1, 4), 0);
  EXPECT_EQ(s.SetBufferSize(5), -1);
  EXPECT_EQ(Diag(s), "07005 0 Prepared statement is not a cursor specification - invalid call to "
                     "SetBufferSize");
}

TEST_F(StatementExec, TimeOutBecomesAnAbsoluteDeadline) {
  Statements()["q"] = Query();
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  ASSERT_EQ(s.SetTimeOut(30), 0);
  // A millisecond of the steady clock, the time-out's whole length ahead.
  long before = static_cast<long>(al_steady_ms());
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_GE(Counts().lastDeadline, before + 30000);
  EXPECT_LE(Counts().lastDeadline, static_cast<long>(al_steady_ms()) + 30000);
  ASSERT_EQ(s.Break(), 0);
  ASSERT_EQ(s.SetTimeOut(0), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_EQ(Counts().lastDeadline, 0);
}

TEST_F(StatementExec, MaximumRowsFromAConstantOrAParameter) {
  faketree::Statement q = Query();
  q.maxRows = 5;
  Statements()["c"] = q;
  q = Query();
  q.params = {Param{"n", SQL_INTEGER}};
  q.maxRowsParam = "n";
  Statements()["p"] = q;
  SQLStatement s;
  ASSERT_EQ(s.Prepare("c", 1, 4), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_EQ(Counts().lastMaxRows, 5);
  ASSERT_EQ(s.Break(), 0);
  ASSERT_EQ(s.Prepare("p", 1, 4), 0);
  ASSERT_EQ(s.BindInteger(0, 0), 0);
  EXPECT_EQ(s.Exec(1, nullptr), -1);
  EXPECT_EQ(Diag(s), "QP050 0 Invalid maximum rows value 0");
  ASSERT_EQ(s.BindInteger(0, 2), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0) << Diag(s);
  EXPECT_EQ(Counts().lastMaxRows, 2);
}

TEST_F(StatementExec, ErrorsOfTheTreeBecomeRecords) {
  for (FailAt at : {FailAt::Exec, FailAt::Fetch}) {
    faketree::Statement q = Query();
    q.failAt = at;
    std::string text = at == FailAt::Exec ? "exec" : "fetch";
    Statements()[text] = q;
    SQLStatement s;
    ASSERT_EQ(s.Prepare(text.c_str(), 1, 4), 0);
    int rc = s.Exec(1, nullptr);
    if (at == FailAt::Fetch) {
      ASSERT_EQ(rc, 0);
      rc = s.Fetch();
    }
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(Diag(s), "QP999 304 made-up failure");
  }
}

TEST_F(StatementExec, DeleteVtreeReparsesForANewTree) {
  setenv("DELETE_VTREE", "1", 1);
  Statements()["q"] = Query();
  SQLStatement s;
  ASSERT_EQ(s.Prepare("q", 1, 4), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  ASSERT_EQ(s.Break(), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);  // the held tree needs no validated tree
  ASSERT_EQ(s.Break(), 0);
  EXPECT_EQ(Counts().parses, 1);
  ASSERT_EQ(s.Exec(2, nullptr), 0) << Diag(s);
  EXPECT_EQ(Counts().parses, 2);
  EXPECT_EQ(Counts().creates, 2);
  EXPECT_EQ(FetchAll(s), (std::vector<int>{1, 2, 3}));
}

// --- Retry points ---------------------------------------------------------

class RetryPoints : public StatementFixture {
 protected:
  void SetUp() override {
    StatementFixture::SetUp();
    faketree::Statement q = Query(5);
    q.retry = SQL_RETRY_STRICT;
    Statements()["q"] = q;
    ASSERT_EQ(s_.Prepare("q", 1, 4), 0);
    ASSERT_EQ(s_.Exec(1, nullptr), 0);
  }
  SQLStatement s_;
};

TEST_F(RetryPoints, RetryBeforeTheFirstFetchChangesNothing) {
  EXPECT_EQ(s_.Retry(), 0);
  EXPECT_EQ(Counts().breaks, 0);
  EXPECT_EQ(FetchAll(s_), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(RetryPoints, RetryResumesAfterTheSavedRow) {
  ASSERT_EQ(s_.Fetch(), 0);
  ASSERT_EQ(s_.Fetch(), 0);
  ASSERT_EQ(s_.SaveRetryValues(), 0);
  ASSERT_EQ(s_.Fetch(), 0);
  ASSERT_EQ(s_.Retry(), 0) << Diag(s_);
  EXPECT_EQ(Counts().creates, 2);  // the retry form has a tree of its own
  EXPECT_EQ(FetchAll(s_), (std::vector<int>{3, 4, 5}));
}

TEST_F(RetryPoints, RetryPointAfterTheLastRowStaysAtTheEnd) {
  EXPECT_EQ(FetchAll(s_).size(), 5U);
  ASSERT_EQ(s_.SaveRetryValues(), 0);
  ASSERT_EQ(s_.Retry(), 0);
  EXPECT_EQ(s_.Fetch(), 100);
}

TEST_F(RetryPoints, WithoutARetryClauseTheCallsAreRefused) {
  Statements()["plain"] = Query();
  SQLStatement s;
  ASSERT_EQ(s.Prepare("plain", 1, 4), 0);
  EXPECT_EQ(s.Retry(), -1);  // refused before the state
  EXPECT_EQ(Diag(s), "HYS03 0 sql_retry called on a statement without retry clause");
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  EXPECT_EQ(s.SaveRetryValues(), -1);
  EXPECT_EQ(Diag(s), "HYS03 0 sql_save_rpoint called on a statement without retry clause");
  EXPECT_EQ(s.RetryClauseType(), SQL_RETRY_NONE);
  EXPECT_EQ(s_.RetryClauseType(), SQL_RETRY_STRICT);
}

}  // namespace

namespace {

TEST_F(StatementExec, InterfaceTraceNamesEachCallAndItsResult) {
  Statements()["q"] = Query(1);
  SQLStatement s;
  SQLLogger::Instance()->SetLogFlags(SQLLogger::Interface);
  testing::internal::CaptureStderr();
  ASSERT_EQ(s.Prepare("q", 3, 4), 0);
  ASSERT_EQ(s.Exec(1, nullptr), 0);
  ASSERT_EQ(s.Fetch(), 0);
  ASSERT_EQ(s.Break(), 0);
  std::string trace = testing::internal::GetCapturedStderr();
  SQLLogger::Instance()->SetLogFlags(0);
  std::string id = "[" + std::to_string(s.GetId()) + "] SQLStatement::";
  for (std::string line : {id + "Prepare( SessionId=3 Mode=4 )\nStatementText:\nq\n",
                           id + "Prepare() returns 0\n", id + "Exec() returns 0 nrows 0\n",
                           std::string("[0] "), id + "Fetch() returns 0\n",
                           id + "Break() returns 0\n"}) {
    EXPECT_NE(trace.find(line), std::string::npos) << line << "\nin:\n" << trace;
  }
}

}  // namespace
