// Running out of memory at any allocation of a statement's life: every
// failure is reported ("QP501", or 501 through the classic API), nothing
// leaks, and the statement is left in a state it can be used from again.
#include <molvane/sql.h>
#include <molvane/zdb.h>

#include <gtest/gtest.h>

#include "alloc_failure.h"
#include "fake_statement_tree.h"
#include "platform/log.h"
#include "sql/statement/statement.h"
#include "statement_test_util.h"

namespace {

using faketree::Param;
using faketree::Statements;

class StatementMemory : public StatementFixture {
 protected:
  void SetUp() override {
    StatementFixture::SetUp();
    faketree::Statement q = Query(2);
    q.params = {Param{"p", SQL_INTEGER}};
    Statements()["q"] = q;
    // The out-of-memory handler logs; keep the log quiet and allocation-free.
    testing::internal::CaptureStderr();
  }
  void TearDown() override {
    testing::internal::GetCapturedStderr();
    StatementFixture::TearDown();
  }
};

// Runs prepare, bind, exec, fetch and break with the allocation number
// `failAt` failing. TRUE once the whole round needed fewer allocations.
bool RoundWithFailure(int failAt) {
  SQLStatement s;
  int rc;
  {
    ScopedAllocationFailure fail(failAt, 1);
    rc = s.Prepare("q", 1, 4);
    if (rc == 0) rc = s.BindInteger(0, 1);
    if (rc == 0) rc = s.Exec(1, nullptr);
    if (rc == 0) rc = s.Fetch();
    if (rc == 0) rc = s.Break();
  }
  if (rc != 0) {
    char state[6] = {};
    long native = 0;
    EXPECT_EQ(s.GetDiagRec(1, state, &native, nullptr, 1, nullptr, nullptr), 0) << failAt;
    EXPECT_STREQ(state, "QP501") << failAt;
    EXPECT_EQ(native, 501) << failAt;
  }
  // Whatever failed, the statement can be prepared and run again.
  EXPECT_EQ(s.Prepare("q", 1, 4), 0) << failAt << " " << Diag(s);
  EXPECT_EQ(s.BindInteger(0, 1), 0) << failAt;
  EXPECT_EQ(s.Exec(1, nullptr), 0) << failAt << " " << Diag(s);
  EXPECT_EQ(s.Fetch(), 0) << failAt;
  return rc == 0;
}

TEST_F(StatementMemory, EveryAllocationOfARoundMayFail) {
  int failAt = 0;
  while (!RoundWithFailure(failAt) && failAt < 500) ++failAt;
  EXPECT_GT(failAt, 3);
  EXPECT_LT(failAt, 500);
}

TEST_F(StatementMemory, ParseWithoutMemoryReturnsNullWith501) {
  QPCStatement *h;
  {
    ScopedAllocationFailure fail(0, 1);
    h = sql_parse("q", 1, SQL_PARSE_NO_ERROR_CALLBACK);
  }
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(zdb_errno, 501);
  for (int failAt = 1; failAt < 400; ++failAt) {
    {
      ScopedAllocationFailure fail(failAt, 1);
      h = sql_parse("q", 1, SQL_PARSE_NO_ERROR_CALLBACK);
    }
    if (h == nullptr) {
      EXPECT_EQ(zdb_errno, 501) << failAt;
      continue;
    }
    sql_close(h);
    break;
  }
}

char *AnyVariable(char *, unsigned char *, char **, int *const, unsigned long) {
  static char variable[] = "v";
  return variable;
}

void IgnorePut(char *, unsigned char *, unsigned char, int, int *) {}

TEST_F(StatementMemory, ApiRoundsFailWithANumberAndNeverThrow) {
  sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(&AnyVariable));
  sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(&IgnorePut));
  std::int32_t one = 1;
  int failAt = 0;
  for (; failAt < 600; ++failAt) {
    int rc = -1;
    QPCStatement *h = nullptr;
    {
      ScopedAllocationFailure fail(failAt, 1);
      h = sql_parse("q", 1, SQL_PARSE_NO_ERROR_CALLBACK);
      if (h != nullptr) {
        rc = sql_bind_input(h, "p", SQL_TYPE_INTEGER, 4, &one);
        if (rc == 0) rc = sql_exec(h, 1);
        if (rc == 0) rc = sql_fetch(h);
      }
    }
    if (rc != 0) {
      EXPECT_NE(zdb_errno, 0) << failAt;
    }
    if (h != nullptr) {
      EXPECT_EQ(sql_close(h), 0);
    }
    if (rc == 0) break;
  }
  EXPECT_LT(failAt, 600);

  // The calls after a fetch, each of their allocations failing in turn:
  // every one returns, with an error number when it fails.
  for (int at = 0; at < 40; ++at) {
    QPCStatement *h = sql_parse("q", 1, SQL_PARSE_NO_ERROR_CALLBACK);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(sql_bind_input(h, "p", SQL_TYPE_INTEGER, 4, &one), 0);
    ASSERT_EQ(sql_exec(h, 1), 0);
    ASSERT_EQ(sql_fetch(h), 0);
    {
      ScopedAllocationFailure fail(at, 1);
      for (auto call : {+[](QPCStatement *s) { return sql_save_rpoint(s); },
                        +[](QPCStatement *s) { return sql_set_rds_full(s, 5); },
                        +[](QPCStatement *s) { return sql_set_timeout(s, 9); },
                        +[](QPCStatement *s) { return sql_retry(s); },
                        +[](QPCStatement *s) { return sql_fetch(s); },
                        +[](QPCStatement *s) { return sql_break(s); }}) {
        zdb_errno = 0;
        if (call(h) != 0) {
          EXPECT_NE(zdb_errno, 0) << at;
        }
      }
    }
    EXPECT_EQ(sql_close(h), 0);
  }
}

}  // namespace
