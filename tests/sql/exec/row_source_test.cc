#include "sql/exec/row_source.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "platform/clock.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/visitors.h"
#include "test_row_source.h"

namespace molvane::test {
namespace {

std::vector<Row> IntRows(int n) {
  std::vector<Row> rows;
  for (int i = 0; i < n; ++i) rows.push_back({Cell::Int(i)});
  return rows;
}

struct MaxRowsCase {
  int limit;
  int rows;
  int expectedRows;
  int expectedHookCalls;  // for expectedRows + 2 fetches
};

class RowSourceMaxRows : public testing::TestWithParam<MaxRowsCase> {};

TEST_P(RowSourceMaxRows, StopsAtTheLimitWithoutCallingTheHook) {
  MaxRowsCase c = GetParam();
  VectorRowSource rs({SQL_INTEGER}, IntRows(c.rows));
  rs.SetMaxRows(c.limit);
  EXPECT_EQ(rs.maxRowsSeen, c.limit);
  rs.Exec();
  int got = 0;
  for (int i = 0; i < c.expectedRows + 2; ++i) got += rs.Fetch() != 0;
  EXPECT_EQ(got, c.expectedRows);
  EXPECT_EQ(rs.fetchCalls, c.expectedHookCalls);
}

INSTANTIATE_TEST_SUITE_P(Limits, RowSourceMaxRows,
                         testing::Values(MaxRowsCase{0, 5, 0, 0}, MaxRowsCase{2, 5, 2, 2},
                                         // after the end the hook is still called and counted
                                         MaxRowsCase{-1, 1, 1, 3}, MaxRowsCase{3, 1, 1, 3}));

TEST(RowSource, ExecRestartsTheRowCountAndTheStatesFollowTheCalls) {
  VectorRowSource rs({SQL_INTEGER}, IntRows(3));
  EXPECT_EQ(rs.GetState(), SQLRowSource::kConstructed);
  SQLRSPrepareContext context;
  rs.Prepare(&context);
  EXPECT_EQ(rs.GetState(), SQLRowSource::kPrepared);
  rs.Attach(7);
  EXPECT_EQ(rs.GetState(), SQLRowSource::kAttached);
  rs.SetMaxRows(2);
  EXPECT_EQ(rs.Exec(), 0);
  EXPECT_EQ(rs.GetState(), SQLRowSource::kExecuted);
  EXPECT_EQ(rs.Fetch(), 1);
  EXPECT_EQ(rs.Fetch(), 1);
  EXPECT_EQ(rs.Fetch(), 0);
  rs.Break();
  EXPECT_EQ(rs.GetState(), SQLRowSource::kAttached);
  rs.Exec();
  EXPECT_EQ(rs.GetRowsFetched(), 0);
  EXPECT_EQ(rs.Fetch(), 1);
  EXPECT_EQ(rs.GetValueStoreAddr(0)->GetInteger(), 0);
  rs.Close();
  EXPECT_EQ(rs.GetState(), SQLRowSource::kPrepared);
}

// Row sources built on several threads at once still get distinct ids.
TEST(RowSource, IdsStayUniqueAcrossThreads) {
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::vector<int>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&ids, t] {
      for (int i = 0; i < kEach; ++i) {
        VectorRowSource rs({SQL_INTEGER}, {});
        ids[static_cast<size_t>(t)].push_back(rs.GetId());
      }
    });
  for (auto &th : threads) th.join();
  std::set<int> all;
  for (auto const &v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
}

TEST(RowSource, IdsCountUpFromOneAcrossTheProcess) {
  VectorRowSource a({SQL_INTEGER}, {});
  VectorRowSource b({SQL_INTEGER}, {});
  EXPECT_GE(a.GetId(), 1);
  EXPECT_EQ(b.GetId(), a.GetId() + 1);
}

TEST(RowSource, PassedDeadlineFailsFetchAndSkipWith313EvenWithRowsLeft) {
  const long now = static_cast<long>(al_steady_ms());
  VectorRowSource rs({SQL_INTEGER}, IntRows(5));
  rs.Exec();
  rs.SetTimeOut(now + 3600 * 1000);
  EXPECT_EQ(rs.Fetch(), 1);
  // A deadline that passed a millisecond ago counts as passed.
  rs.SetTimeOut(now - 1);
  for (int skip : {0, 1}) {
    try {
      if (skip) rs.SkipRows(1); else rs.Fetch();
      ADD_FAILURE() << "no time-out";
    } catch (SQLException const &e) {
      EXPECT_EQ(e.GetZDBError(), 313);
    }
  }
  EXPECT_EQ(rs.fetchCalls, 1);  // the hook is not reached after the deadline
  rs.SetTimeOut(0);
  EXPECT_EQ(rs.Fetch(), 1);
}

struct SkipCase {
  bool canSkip;
  int rows;
  int n;
  int expected;
  int nextValue;  // of the row fetched afterwards, -1 for none
};

class RowSourceSkip : public testing::TestWithParam<SkipCase> {};

TEST_P(RowSourceSkip, SkipsByHookOrByFetching) {
  SkipCase c = GetParam();
  VectorRowSource rs({SQL_INTEGER}, IntRows(c.rows));
  rs.canSkip = c.canSkip;
  rs.Exec();
  EXPECT_EQ(rs.SkipRows(c.n), c.expected);
  if (c.nextValue < 0) {
    EXPECT_EQ(rs.Fetch(), 0);
  } else {
    ASSERT_EQ(rs.Fetch(), 1);
    EXPECT_EQ(rs.GetValueStoreAddr(0)->GetInteger(), c.nextValue);
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, RowSourceSkip,
                         testing::Values(SkipCase{false, 5, 0, 0, 0}, SkipCase{false, 5, -3, 0, 0},
                                         SkipCase{false, 5, 3, 3, 3}, SkipCase{false, 2, 5, 2, -1},
                                         SkipCase{true, 5, 3, 3, 3}, SkipCase{true, 2, 5, 2, -1}));

TEST(RowSource, SkipByFetchingHonoursMaxRows) {
  VectorRowSource rs({SQL_INTEGER}, IntRows(10));
  rs.SetMaxRows(4);
  rs.Exec();
  EXPECT_EQ(rs.SkipRows(6), 4);
}

TEST(RowSource, FailingHookPassesItsExceptionOn) {
  VectorRowSource rs({SQL_INTEGER}, IntRows(3));
  rs.onFetch = [](int produced) {
    if (produced == 1) throw SQLExFileIOError();
  };
  rs.Exec();
  EXPECT_EQ(rs.Fetch(), 1);
  EXPECT_THROW(rs.Fetch(), SQLExFileIOError);
}

TEST(RowSourceVisitors, TimeOutAndBufferSizeReachEveryNodeAndLeaf) {
  auto *a = new FakeLeaf;
  auto *b = new FakeLeaf;
  PairRowSource root(a, b);
  root.SetTimeOut(12345);
  root.SetBufferSize(40);
  for (FakeLeaf *leaf : {a, b}) {
    EXPECT_EQ(leaf->GetDeadline(), 12345);
    EXPECT_EQ(leaf->cursorDeadline, 12345);
    EXPECT_EQ(leaf->bufferSize, 40);
  }
  EXPECT_EQ(root.GetDeadline(), 12345);
}

TEST(RowSourceVisitors, AttachFailureDetachesTheLeavesAttachedBefore) {
  auto *a = new FakeLeaf;
  auto *b = new FakeLeaf;
  b->failAttach = true;
  PairRowSource root(a, b);
  EXPECT_THROW(root.Attach(3), SQLExZDBError);
  EXPECT_FALSE(a->session.has_value());
  EXPECT_EQ(a->detachCalls, 1);
  EXPECT_EQ(root.GetState(), SQLRowSource::kPrepared);
}

TEST(RowSourceVisitors, CloseDetachesEveryLeafEvenWhenOneFails) {
  auto *a = new FakeLeaf;
  auto *b = new FakeLeaf;
  a->failDetach = true;
  PairRowSource root(a, b);
  root.Attach(9);
  ASSERT_EQ(b->session, 9u);
  EXPECT_EQ(a->GetState(), SQLRowSource::kAttached);
  root.Close();  // does not throw
  EXPECT_FALSE(b->session.has_value());
  for (SQLRowSource *rs : {static_cast<SQLRowSource *>(&root), static_cast<SQLRowSource *>(a),
                           static_cast<SQLRowSource *>(b)})
    EXPECT_EQ(rs->GetState(), SQLRowSource::kPrepared);
}

TEST(RowSourceVisitors, DatabaseInstanceOnlyForExactlyOneLeaf) {
  auto *instance = reinterpret_cast<SQLDatabaseInstance *>(0x10);
  struct Case {
    int leaves;
    bool expectInstance;
  };
  for (Case c : {Case{0, false}, Case{1, true}, Case{2, false}}) {
    std::unique_ptr<SQLRowSource> tree;
    if (c.leaves == 0) tree = std::make_unique<VectorRowSource>(std::vector<SQLType>{SQL_INTEGER},
                                                                 std::vector<Row>{});
    if (c.leaves == 1) tree = std::make_unique<FakeLeaf>(instance);
    if (c.leaves == 2) tree = std::make_unique<PairRowSource>(new FakeLeaf(instance), new FakeLeaf(instance));
    SQLGetDBInstanceVisitor get;
    tree->AcceptVisit(get);
    EXPECT_EQ(get.GetResult(), c.expectInstance ? instance : nullptr) << c.leaves;
    SQLOperatesOnThisDBInstanceVisitor same(instance);
    tree->AcceptVisit(same);
    EXPECT_TRUE(same.GetResult());
    SQLOperatesOnThisDBInstanceVisitor other(nullptr);
    tree->AcceptVisit(other);
    EXPECT_EQ(other.GetResult(), c.leaves == 0);
  }
}

TEST(RowSourceVisitors, VariableAndConstantFollowTheLeaves) {
  auto *a = new FakeLeaf;
  auto *b = new FakeLeaf;
  PairRowSource root(a, b);
  SQLIsVariableVisitor v1;
  SQLIsConstantVisitor c1;
  root.AcceptVisit(v1);
  root.AcceptVisit(c1);
  EXPECT_FALSE(v1.GetResult());
  EXPECT_TRUE(c1.GetResult());
  b->variable = true;
  b->constant = false;
  SQLIsVariableVisitor v2;
  SQLIsConstantVisitor c2;
  root.AcceptVisit(v2);
  root.AcceptVisit(c2);
  EXPECT_TRUE(v2.GetResult());
  EXPECT_FALSE(c2.GetResult());
}

TEST(RowSourceScopes, LevelsCountFromTheMostRecentPush) {
  VectorRowSource a({SQL_INTEGER}, {});
  VectorRowSource b({SQL_INTEGER}, {});
  SQLRowSourceScope scope;
  EXPECT_EQ(scope.PushRowSource(&a), 0);
  EXPECT_EQ(scope.PushRowSource(&b), 1);
  EXPECT_EQ(scope.GetRowSource(0), &b);
  EXPECT_EQ(scope.GetRowSource(-1), &a);
  scope.PopRowSource();
  EXPECT_EQ(scope.GetRowSource(0), &a);
}

TEST(RowSourceScopes, ScopedRowMapsTheChildsCellsAndNestsBeyondTen) {
  std::vector<std::unique_ptr<VectorRowSource>> sources;
  SQLRSColumnRefScope scope;
  std::vector<std::unique_ptr<SQLRSScopedRow>> rows;
  for (int i = 0; i < 12; ++i) {
    sources.push_back(std::make_unique<VectorRowSource>(std::vector<SQLType>{SQL_INTEGER, SQL_STRING},
                                                        std::vector<Row>{}));
    rows.push_back(std::make_unique<SQLRSScopedRow>(&scope, sources.back().get()));
  }
  EXPECT_EQ(scope.MapDepth(), 12);
  EXPECT_EQ(scope.GetRowSource(0), sources[11].get());
  EXPECT_EQ(scope.GetRowSource(-11), sources[0].get());
  EXPECT_EQ(scope.GetValueStoreAddr(-1, 1), sources[10]->GetValueStoreAddr(1));
  rows.clear();
  EXPECT_EQ(scope.MapDepth(), 0);
  EXPECT_EQ(scope.RowSourceDepth(), 0);
}

TEST(RowSourceDeathTest, UnexpectedMessagesStop) {
  VectorRowSource rs({SQL_INTEGER}, {});
  EXPECT_DEATH(rs.CreateJoin(SQL_JOIN_LEFT, static_cast<SQLRowSource *>(&rs), nullptr),
               "Unexpected message CreateLeftOuterJoin\\(SQLRowSource\\*\\)");
  EXPECT_DEATH(rs.CreateJoin(SQL_JOIN_LEFT, static_cast<SQLRSFetch *>(nullptr), nullptr),
               "Unexpected message CreateLeftOuterJoin\\(SQLRSFetch\\*\\)");
  EXPECT_DEATH(rs.CreateConstLeftOuterJoin(nullptr), "Unexpected message CreateConstLeftOuterJoin\\(\\)");
  EXPECT_EQ(rs.CreateUnion(static_cast<SQLRowSource *>(&rs), true), nullptr);
  SQLRSColumnRefScope scope;
  EXPECT_DEATH(scope.GetValueStoreAddr(0, 0), "no map at level 0");
}

TEST(RowSourceTrace, FetchTracesLimitRowsAndEnd) {
  SQLLogger::Instance()->SetLogFlags(SQLLogger::Eval::Rs);
  VectorRowSource rs({SQL_INTEGER}, IntRows(1));
  std::string id = "[" + std::to_string(rs.GetId()) + "] ";
  rs.Exec();
  testing::internal::CaptureStderr();
  rs.Fetch();
  rs.Fetch();
  rs.SetMaxRows(0);
  rs.Fetch();
  std::string out = testing::internal::GetCapturedStderr();
  SQLLogger::Instance()->SetLogFlags(0);
  EXPECT_NE(out.find(id + "SQLRowSource::Fetch()"), std::string::npos) << out;
  EXPECT_NE(out.find(id + "Row: "), std::string::npos) << out;
  EXPECT_NE(out.find("0:Int:0"), std::string::npos) << out;
  EXPECT_NE(out.find(id + "No rows"), std::string::npos) << out;
  EXPECT_NE(out.find(id + "Reached MaxRows value 0: no row"), std::string::npos) << out;
}

}  // namespace
}  // namespace molvane::test
