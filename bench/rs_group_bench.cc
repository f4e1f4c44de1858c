// Rows grouped per second by SQLRSGroup: an integer key with range(1)
// distinct values and an integer argument, with COUNT(*), SUM and AVG per
// group. range(2) 1 lets every group stay in memory; 0 keeps the default
// cache of 71 groups, so that the rows of the other groups spill to
// partition files. The anchor reads the same child into a hash aggregate
// (std::unordered_map of count and sum per key) and hands the groups out
// in key order; `ratio` is the grouping's time over the anchor's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <vector>

#include "dbc/session/dbc_settings.h"
#include "generated_rows.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/value_store.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/sc_column_ref.h"

namespace {

// Rows {random key below groups, random value}.
class GroupRows : public GeneratedRows {
 public:
  GroupRows(int n, int groups)
      : GeneratedRows(n, SQLColumnDescriptor("k", SQL_INTEGER, 4, 1), SQLColumnDescriptor("v", SQL_INTEGER, 4, 1)),
        groups_(groups) {}

 protected:
  void Produce(std::mt19937 &random) override {
    cells()[0].SetInteger(static_cast<int>(random() % static_cast<unsigned>(groups_)));
    cells()[1].SetInteger(static_cast<int>(random() % 1000));
  }

 private:
  int groups_;
};

// COUNT(*), SUM and AVG per key by hand: seconds.
double AnchorGroup(SQLRowSource *rows) {
  auto start = std::chrono::steady_clock::now();
  struct Acc {
    long count = 0;
    long sum = 0;
  };
  std::unordered_map<int, Acc> groups;
  rows->Exec();
  SQLValueStore const *k = rows->GetValueStoreAddr(0);
  SQLValueStore const *v = rows->GetValueStoreAddr(1);
  while (rows->Fetch() == 1) {
    Acc &a = groups[k->GetInteger()];
    ++a.count;
    a.sum += v->GetInteger();
  }
  rows->Break();
  std::vector<std::pair<int, Acc>> ordered(groups.begin(), groups.end());
  std::sort(ordered.begin(), ordered.end(), [](auto const &a, auto const &b) { return a.first < b.first; });
  double total = 0;
  for (auto const &[key, a] : ordered) total += static_cast<double>(a.sum) / static_cast<double>(a.count) + key;
  benchmark::DoNotOptimize(total);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// range(0) rows, range(1) distinct keys, range(2) 1 in memory, 0 spilling.
void BM_GroupRows(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  int groups = static_cast<int>(state.range(1));
  dbc_settings().qelt_sql_cacherows = state.range(2) ? groups + 1 : -1;
  SQLColumnDescriptor const value("v", SQL_INTEGER, 4, 1);
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::Column(0));
  specs->Append(SQLRSGroupSpec::CountStar());
  for (int f : {SQLRSGroupSpec::kSum, SQLRSGroupSpec::kAvg})
    specs->Append(SQLRSGroupSpec::SetFunction(f, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 1, &value))));
  auto *columns = new intList;
  columns->Append(0);
  SQLRSGroup group(new GroupRows(n, groups), columns, specs);
  SQLRSPrepareContext context;
  group.Prepare(&context);
  GroupRows anchorRows(n, groups);
  anchorRows.Prepare(&context);
  double own = 0, anchor = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    group.Exec();
    while (group.Fetch()) {
    }
    group.Break();
    own += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    anchor += AnchorGroup(&anchorRows);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["anchor_ms"] = 1000 * anchor / static_cast<double>(state.iterations());
  state.counters["ratio"] = own / anchor;
  dbc_settings().qelt_sql_cacherows = -1;
}
BENCHMARK(BM_GroupRows)
    ->Args({10000, 1000, 1})
    ->Args({100000, 1000, 1})
    ->Args({1000000, 1000, 1})
    ->Args({1000000, 10, 1})
    ->Args({10000, 1000, 0})
    ->Args({100000, 1000, 0})
    ->Args({1000000, 1000, 0})
    ->Args({1000000, 50000, 0})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
