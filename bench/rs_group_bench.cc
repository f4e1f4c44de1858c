// Rows grouped per second by SQLRSGroup: an integer key with range(1)
// distinct values and an integer argument, with COUNT(*), SUM and AVG per
// group. range(2) 1 lets the buffers hold every group in memory; 0 keeps
// the default cache of 71 rows, so that many groups spill to files.
#include <benchmark/benchmark.h>

#include <random>

#include "dbc/dbc_settings.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/visitor.h"

namespace {

// Produces n rows {random key below groups, random value} from a fixed seed.
class GeneratedRows : public SQLRowSource {
 public:
  GeneratedRows(int n, int groups)
      : n_(n), groups_(groups),
        descriptors_{SQLColumnDescriptor("k", SQL_INTEGER, 4, 1), SQLColumnDescriptor("v", SQL_INTEGER, 4, 1)} {}

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
    cells_[0].SetInteger(static_cast<int>(random_() % static_cast<unsigned>(groups_)));
    cells_[1].SetInteger(static_cast<int>(random_() % 1000));
    return 1;
  }
  int DoSkipRows(int) override { return -1; }
  void DoBreak() override {}
  void DoLog() override {}
  void DoAcceptVisit(SQLVisitor &visitor) override { visitor.Scope()->PushRowSource(this); }

 private:
  [[noreturn]] static void Stop() { SQLAbort(__FILE__, __LINE__, "Unexpected message GeneratedRows"); }

  int n_;
  int groups_;
  int produced_ = 0;
  std::mt19937 random_;
  SQLColumnDescriptor descriptors_[2];
  SQLValueStore cells_[2];
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
  SQLRSGroup group(new GeneratedRows(n, groups), columns, specs);
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
