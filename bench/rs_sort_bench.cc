// Rows sorted per second by SQLRSSort: an integer key and a 24-byte text
// payload (28 bytes a row), with the cache large enough to hold every row
// in memory, and with the default cache of 71 rows, so that the rows spill
// to temporary files and are merged. The anchor reads the same child into
// plain 28-byte structs and orders them with std::stable_sort by the same
// key; `ratio` is the sort's time over the anchor's, `mem_ratio` the
// sorter's peak bytes over the rows' 28 bytes each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "dbc/session/dbc_settings.h"
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

struct PlainRow {
  int key;
  char text[24];
};

// Reads the child into structs, sorts them and walks them: seconds.
double AnchorSort(SQLRowSource *rows) {
  auto start = std::chrono::steady_clock::now();
  std::vector<PlainRow> plain;
  rows->Exec();
  SQLValueStore const *k = rows->GetValueStoreAddr(0);
  SQLValueStore const *t = rows->GetValueStoreAddr(1);
  while (rows->Fetch() == 1) {
    PlainRow r;
    r.key = k->GetInteger();
    std::memcpy(r.text, t->GetString(), sizeof r.text);
    plain.push_back(r);
  }
  rows->Break();
  std::stable_sort(plain.begin(), plain.end(), [](PlainRow const &a, PlainRow const &b) { return a.key < b.key; });
  long sum = 0;
  for (PlainRow const &r : plain) sum += r.text[0];
  benchmark::DoNotOptimize(sum);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// range(0) rows; range(1) 1 keeps every row in memory, 0 spills.
void BM_SortRows(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  dbc_settings().qelt_sql_cacherows = state.range(1) ? n + 1 : -1;
  auto *specs = new SQLSortSpecList;
  specs->Append(SQLSortSpec(0, SQLSortSpec::kAscending));
  SQLRSSort sort(new SortRows(n), specs);
  SQLRSPrepareContext context;
  sort.Prepare(&context);
  SortRows anchorRows(n);
  anchorRows.Prepare(&context);
  double own = 0, anchor = 0;
  std::size_t peak = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    sort.Exec();
    while (sort.Fetch()) {
    }
    peak = std::max(peak, sort.GetSorter()->GetPeakBytes());
    sort.Break();
    own += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    anchor += AnchorSort(&anchorRows);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["anchor_ms"] = 1000 * anchor / static_cast<double>(state.iterations());
  state.counters["ratio"] = own / anchor;
  state.counters["mem_ratio"] = static_cast<double>(peak) / (28.0 * n);
  dbc_settings().qelt_sql_cacherows = -1;
}
BENCHMARK(BM_SortRows)
    ->Args({10000, 1})->Args({100000, 1})->Args({1000000, 1})
    ->Args({10000, 0})->Args({100000, 0})->Args({1000000, 0})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
