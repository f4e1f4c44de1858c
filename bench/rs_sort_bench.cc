// Rows sorted per second by SQLRSSort: an integer key and a text payload,
// with the row buffers large enough to hold every row in memory, and with
// the default cache of 71 rows, so that the rows spill to temporary files.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "dbc/dbc_settings.h"
#include "generated_rows.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/value_store.h"
#include "sql/exec/rs_sort.h"

namespace {

// Rows {random key, 24-byte text}.
class SortRows : public GeneratedRows {
 public:
  explicit SortRows(int n)
      : GeneratedRows(n, SQLColumnDescriptor("k", SQL_INTEGER, 4, 1), SQLColumnDescriptor("t", SQL_STRING, 24, 1)) {}

 protected:
  void Produce(std::mt19937 &random) override {
    cells()[0].SetInteger(static_cast<int>(random() % 1000000));
    std::string text = "payload-" + std::to_string(random() % 100000000);
    text.resize(24, ' ');
    cells()[1].SetString(text.c_str());
  }
};

// range(0) rows; range(1) 1 keeps every row in memory, 0 spills.
void BM_SortRows(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  dbc_settings().qelt_sql_cacherows = state.range(1) ? n + 1 : -1;
  auto *specs = new SQLSortSpecList;
  specs->Append(SQLSortSpec(0, SQLSortSpec::kAscending));
  SQLRSSort sort(new SortRows(n), specs);
  SQLRSPrepareContext context;
  sort.Prepare(&context);
  for (auto _ : state) {
    sort.Exec();
    while (sort.Fetch()) {
    }
    sort.Break();
  }
  state.SetItemsProcessed(state.iterations() * n);
  dbc_settings().qelt_sql_cacherows = -1;
}
BENCHMARK(BM_SortRows)->Args({1000, 1})->Args({100000, 1})->Args({1000, 0})->Args({100000, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
