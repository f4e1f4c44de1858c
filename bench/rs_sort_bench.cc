// Rows sorted per second by SQLRSSort: an integer key and a text payload,
// with the row buffers large enough to hold every row in memory, and with
// the default cache of 71 rows, so that the rows spill to temporary files.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "dbc/dbc_settings.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_sort.h"
#include "sql/exec/visitor.h"

namespace {

// Produces n rows {random key, 24-byte text} from a fixed seed.
class GeneratedRows : public SQLRowSource {
 public:
  explicit GeneratedRows(int n)
      : n_(n), descriptors_{SQLColumnDescriptor("k", SQL_INTEGER, 4, 1), SQLColumnDescriptor("t", SQL_STRING, 24, 1)} {}

  void GetColumnRefs(int, SQLRSSCColumnRefType, pSQLRSSCColumnRefList *) override {}
  bool RejectsAllOnNullifiedCols(int, List<Interval<int>> *) override { return false; }
  void CRefs2ParameterRefs(int, intList *, pSQLParameterList *) override {}
  SQLRowSource *OptimizeTree(SQLHints *, List<SQLRSSCSearchCond const *> *) override { return this; }
  void OptimizeNode() override {}
  void PushHints(SQLHints *) override {}
  SQLRowSource *PushFilter(SQLRSSCSearchCond *, SQLRSSCSearchCond **) override { Stop(); }
  SQLRowSource *PullFilter(SQLRSSCSearchCond **) override { Stop(); }
  SQLRowSource *PullNullify(intList **, SQLRSSCSearchCond **) override { Stop(); }
  bool PushSort(SQLSortSpecList *) override { return false; }
  SQLRowSource *PushGroup(intList *, List<SQLRSGroupSpec> *, bool *) override { Stop(); }
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *) override { Stop(); }
  bool RowSetIsPrepared() override { return false; }
  SQLRowSource *CombineJoin(SQLDatabaseInstance **, int *, List<SQLRSSCSearchCond const *> *, bool *) override {
    Stop();
  }
  void createTokenString(SQLTokenString *, int, SQLRSNetFetchParams *) override { Stop(); }
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) override { Stop(); }

 protected:
  void DoPrepare(SQLRSPrepareContext *) override {}
  int DoGetNumCols() override { return 2; }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int i) override { return &descriptors_[i]; }
  SQLValueStore const *DoGetValueStoreAddr(int i) override { return &cells_[i]; }
  void DoSetMaxRows(int) override {}
  void DoExec() override {
    produced_ = 0;
    random_.seed(42);
  }
  int DoFetch() override {
    if (produced_ >= n_) return 0;
    ++produced_;
    cells_[0].SetInteger(static_cast<int>(random_() % 1000000));
    std::string text = "payload-" + std::to_string(random_() % 100000000);
    text.resize(24, ' ');
    cells_[1].SetString(text.c_str());
    return 1;
  }
  int DoSkipRows(int) override { return -1; }
  void DoBreak() override {}
  void DoLog() override {}
  void DoAcceptVisit(SQLVisitor &visitor) override { visitor.Scope()->PushRowSource(this); }

 private:
  [[noreturn]] static void Stop() { SQLAbort(__FILE__, __LINE__, "Unexpected message GeneratedRows"); }

  int n_;
  int produced_ = 0;
  std::mt19937 random_;
  SQLColumnDescriptor descriptors_[2];
  SQLValueStore cells_[2];
};

// range(0) rows; range(1) 1 keeps every row in memory, 0 spills.
void BM_SortRows(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  dbc_settings().qelt_sql_cacherows = state.range(1) ? n + 1 : -1;
  auto *specs = new SQLSortSpecList;
  specs->Append(SQLSortSpec(0, SQLSortSpec::kAscending));
  SQLRSSort sort(new GeneratedRows(n), specs);
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
