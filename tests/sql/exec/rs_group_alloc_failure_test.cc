// Memory that runs out at each allocation while a grouping executes: held
// wholly in memory, and spilled to partitions that stay in memory or move
// to files, with text accumulators in the table's stores. The failing
// execution must throw std::bad_alloc without a crash, and the next
// execution must give the groups of a clean one; at the end nothing leaks.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "alloc_failure.h"
#include "dbc/session/dbc_settings.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/sc_column_ref.h"
#include "test_row_source.h"

namespace molvane::test {
namespace {

SQLColumnDescriptor const kText("t", SQL_STRING, 0, 1);
SQLColumnDescriptor const kNumber("x", SQL_INTEGER, 4, 1);

// Rows {key below groups, a text of `width` bytes, a number or NULL}.
std::vector<Row> Input(int rows, int groups, int width) {
  std::vector<Row> out;
  for (int i = 0; i < rows; ++i) {
    int key = (i * 7919) % groups;
    std::string text = std::to_string(i % 97) + std::string(static_cast<std::size_t>(width), 'a' + i % 26);
    out.push_back({Cell::Int(key), Cell::Text(text), i % 11 == 0 ? Cell::Null() : Cell::Int(i % 1000)});
  }
  return out;
}

// The key, COUNT(*), MIN and MAX of the text, SUM and AVG of the number.
SQLRSGroup *Grouping(std::vector<Row> rows) {
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::Column(0));
  specs->Append(SQLRSGroupSpec::CountStar());
  for (int f : {SQLRSGroupSpec::kMin, SQLRSGroupSpec::kMax})
    specs->Append(SQLRSGroupSpec::SetFunction(f, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 1, &kText))));
  for (int f : {SQLRSGroupSpec::kSum, SQLRSGroupSpec::kAvg})
    specs->Append(SQLRSGroupSpec::SetFunction(f, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 2, &kNumber))));
  auto *columns = new intList;
  columns->Append(0);
  return new SQLRSGroup(new VectorRowSource({SQL_INTEGER, SQL_STRING, SQL_INTEGER}, std::move(rows)), columns,
                        specs);
}

// Each group as numbers: key, count, each text's first byte and length,
// sum, average (NaN for NULL). Reading them allocates nothing after the
// reserve, so that the sweep tries the grouping's allocations.
using Group = std::array<double, 8>;
std::vector<Group> Groups(SQLRowSource *rs) {
  std::vector<Group> out;
  out.reserve(200);
  rs->Exec();
  while (rs->Fetch()) {
    Group g{};
    std::size_t at = 0;
    for (int c = 0; c < rs->GetNumCols(); ++c) {
      SQLValueStore const *v = rs->GetValueStoreAddr(c);
      if (v->IsNull()) {
        g[at++] = std::nan("");
      } else if (v->GetType() == SQL_STRING) {
        g[at++] = v->GetString()[0];
        g[at++] = static_cast<double>(v->GetLength());
      } else {
        g[at++] = v->GetType() == SQL_REAL ? v->GetReal() : v->GetInteger();
      }
    }
    out.push_back(g);
  }
  return out;
}

// Equal, NaN equal to NaN.
bool Same(std::vector<Group> const &a, std::vector<Group> const &b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < a[i].size(); ++j)
      if (!(a[i][j] == b[i][j] || (std::isnan(a[i][j]) && std::isnan(b[i][j])))) return false;
  return true;
}

struct SweepCase {
  char const *name;
  int cacheRows;  // groups held in memory
  int rows;
  int width;      // bytes of each text
};

class GroupAllocationFailure : public testing::TestWithParam<SweepCase> {};

TEST_P(GroupAllocationFailure, EachAllocationOfAnExecutionFailsCleanly) {
  SweepCase const &c = GetParam();
  ASSERT_EQ(LeakCheck(), 0) << "a leak before the first try";
  dbc_settings().qelt_sql_cacherows = c.cacheRows;
  {
    std::unique_ptr<SQLRSGroup> group(Grouping(Input(c.rows, 150, c.width)));
    SQLRSPrepareContext context;
    group->Prepare(&context);
    std::vector<Group> const expected = Groups(group.get());
    ASSERT_EQ(expected.size(), 150u);
    int failed = 0;
    for (int skip = 0;; ++skip) {
      int const before = FailedAllocations();
      std::vector<Group> got;
      bool threw = false;
      {
        ScopedAllocationFailure fail(skip, 1);
        try {
          got = Groups(group.get());
        } catch (std::bad_alloc const &) {
          threw = true;
        }
      }
      bool const reached = FailedAllocations() != before;
      failed += reached;
      if (!threw) {
        EXPECT_TRUE(Same(got, expected)) << "allocation " << skip;
      }
      if (!reached) break;  // the whole execution went through
      ASSERT_TRUE(Same(Groups(group.get()), expected)) << "after allocation " << skip;
      ASSERT_LT(skip, 100000);
    }
    EXPECT_GT(failed, 0);
  }
  dbc_settings().qelt_sql_cacherows = -1;
  EXPECT_EQ(LeakCheck(), 0);
}

INSTANTIATE_TEST_SUITE_P(Executions, GroupAllocationFailure,
                         testing::Values(SweepCase{"InMemory", 1000, 600, 8},
                                         SweepCase{"PartitionsInMemory", 7, 600, 8},
                                         SweepCase{"PartitionsInFiles", 7, 800, 400}),
                         [](testing::TestParamInfo<SweepCase> const &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace molvane::test
