// A leaf row source for benchmarks: two columns whose values a subclass
// produces from a fixed random seed, n rows per execution. It answers no
// optimiser message that would move work into it.
#pragma once

#include <random>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/row_source.h"
#include "sql/exec/visitor.h"

class GeneratedRows : public SQLRowSource {
 public:
  GeneratedRows(int n, SQLColumnDescriptor first, SQLColumnDescriptor second)
      : n_(n), descriptors_{first, second} {}

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
  // Fills cells()[0] and cells()[1] with the next row's values.
  virtual void Produce(std::mt19937 &random) = 0;
  SQLValueStore *cells() { return cells_; }

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
    Produce(random_);
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
