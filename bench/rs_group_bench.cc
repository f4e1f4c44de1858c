// Rows grouped per second by SQLRSGroup: an integer key with range(1)
// distinct values and an integer argument, with COUNT(*), SUM and AVG per
// group. range(2) 1 lets the buffers hold every group in memory; 0 keeps
// the default cache of 71 rows, so that many groups spill to files.
#include <benchmark/benchmark.h>

#include "dbc/dbc_settings.h"
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
  for (auto _ : state) {
    group.Exec();
    while (group.Fetch()) {
    }
    group.Break();
  }
  state.SetItemsProcessed(state.iterations() * n);
  dbc_settings().qelt_sql_cacherows = -1;
}
BENCHMARK(BM_GroupRows)
    ->Args({100000, 10, 1})
    ->Args({100000, 1000, 1})
    ->Args({100000, 1000, 0})
    ->Args({100000, 50000, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
