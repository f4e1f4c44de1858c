// Row sources for the execution tests: a source that produces given rows,
// and a table leaf that records what the visitors ask of it. Messages that
// the tests never send stop like any row source that does not expect them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/visitor.h"

namespace molvane::test {

// One cell of a test row: an integer, a text, or NULL.
struct Cell {
  enum Kind { kInt, kText, kNull } kind;
  int i = 0;
  std::string s;
  static Cell Int(int v) { return Cell{kInt, v, {}}; }
  static Cell Text(std::string v) { return Cell{kText, 0, std::move(v)}; }
  static Cell Null() { return Cell{kNull, 0, {}}; }
};
using Row = std::vector<Cell>;

// Base that stops on every optimiser message, so a test class overrides
// only what it uses.
template <class Base>
class StrictRowSource : public Base {
 public:
  void GetColumnRefs(int, SQLRSSCColumnRefType, pSQLRSSCColumnRefList *) override {}
  bool RejectsAllOnNullifiedCols(int, List<Interval<int>> *) override { return false; }
  void CRefs2ParameterRefs(int, intList *, pSQLParameterList *) override {}
  SQLRowSource *OptimizeTree(SQLHints *, List<SQLRSSCSearchCond const *> *) override { return this; }
  void OptimizeNode() override {}
  void PushHints(SQLHints *) override {}
  SQLRowSource *PushFilter(SQLRSSCSearchCond *, SQLRSSCSearchCond **) override { Stop("PushFilter"); }
  SQLRowSource *PullFilter(SQLRSSCSearchCond **) override { Stop("PullFilter"); }
  SQLRowSource *PullNullify(intList **, SQLRSSCSearchCond **) override { Stop("PullNullify"); }
  bool PushSort(SQLSortSpecList *) override { return false; }
  SQLRowSource *PushGroup(intList *, List<SQLRSGroupSpec> *, bool *) override { Stop("PushGroup"); }
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *) override { Stop("PushProject"); }
  bool RowSetIsPrepared() override { return false; }
  SQLRowSource *CombineJoin(SQLDatabaseInstance **, int *, List<SQLRSSCSearchCond const *> *,
                            bool *) override {
    Stop("CombineJoin");
  }
  void createTokenString(SQLTokenString *, int, SQLRSNetFetchParams *) override {
    Stop("createTokenString");
  }
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) override {
    Stop("createQPsubquery");
  }

 protected:
  [[noreturn]] static void Stop(char const *op) {
    SQLAbort(__FILE__, __LINE__, "Unexpected message TestRowSource::%s", op);
  }
  void DoPrepare(SQLRSPrepareContext *) override {}
  void DoSetMaxRows(int) override {}
  void DoBreak() override {}
  void DoLog() override {}
};

// Produces the given rows as INTEGER or STRING (length 0) columns, in order.
// DoSkipRows returns -1 (skip by fetching) unless canSkip is set.
class VectorRowSource : public StrictRowSource<SQLRowSource> {
 public:
  VectorRowSource(std::vector<SQLType> types, std::vector<Row> rows)
      : types_(std::move(types)), rows_(std::move(rows)), cells_(types_.size()) {
    for (size_t i = 0; i < types_.size(); ++i) {
      names_.push_back("c" + std::to_string(i));
      descriptors_.emplace_back(names_.back().c_str(), types_[i], types_[i] == SQL_STRING ? 0 : 4, 1);
    }
  }
  // Called once DoFetch has produced `after` rows: lets a test fail the source.
  std::function<void(int produced)> onFetch;
  bool canSkip = false;
  int fetchCalls = 0;
  int execCalls = 0;
  int breakCalls = 0;
  int maxRowsSeen = -2;

 protected:
  int DoGetNumCols() override { return static_cast<int>(types_.size()); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int i) override { return &descriptors_[i]; }
  SQLValueStore const *DoGetValueStoreAddr(int i) override { return &cells_[i]; }
  void DoSetMaxRows(int n) override { maxRowsSeen = n; }
  void DoExec() override {
    next_ = 0;
    ++execCalls;
  }
  void DoBreak() override { ++breakCalls; }
  int DoFetch() override {
    ++fetchCalls;
    if (onFetch) onFetch(static_cast<int>(next_));
    if (next_ >= rows_.size()) return 0;
    Row const &row = rows_[next_++];
    for (size_t i = 0; i < cells_.size(); ++i) {
      Cell const &c = row[i];
      if (types_[i] == SQL_STRING)
        cells_[i].SetString(c.s.c_str());
      else
        cells_[i].SetInteger(c.i);
      if (c.kind == Cell::kNull) cells_[i].SetNull();
    }
    return 1;
  }
  int DoSkipRows(int n) override {
    if (!canSkip) return -1;
    size_t before = next_;
    next_ = std::min(rows_.size(), next_ + static_cast<size_t>(n));
    return static_cast<int>(next_ - before);
  }
  void DoAcceptVisit(SQLVisitor &visitor) override { visitor.Scope()->PushRowSource(this); }

 private:
  std::vector<SQLType> types_;
  std::vector<Row> rows_;
  std::vector<std::string> names_;
  std::vector<SQLColumnDescriptor> descriptors_;
  std::vector<SQLValueStore> cells_;
  size_t next_ = 0;
};

// Produces rows of ready-made value stores (arrays included) under given
// descriptors, in order.
class StoreRowSource : public StrictRowSource<SQLRowSource> {
 public:
  StoreRowSource(std::vector<SQLColumnDescriptor> descriptors, std::vector<std::vector<SQLValueStore>> rows)
      : descriptors_(std::move(descriptors)), rows_(std::move(rows)), cells_(descriptors_.size()) {}

 protected:
  int DoGetNumCols() override { return static_cast<int>(descriptors_.size()); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int i) override { return &descriptors_[static_cast<size_t>(i)]; }
  SQLValueStore const *DoGetValueStoreAddr(int i) override { return &cells_[static_cast<size_t>(i)]; }
  void DoExec() override { next_ = 0; }
  int DoFetch() override {
    if (next_ >= rows_.size()) return 0;
    for (size_t i = 0; i < cells_.size(); ++i) cells_[i].Copy(&rows_[next_][i]);
    ++next_;
    return 1;
  }
  int DoSkipRows(int) override { return -1; }
  void DoAcceptVisit(SQLVisitor &visitor) override { visitor.Scope()->PushRowSource(this); }

 private:
  std::vector<SQLColumnDescriptor> descriptors_;
  std::vector<std::vector<SQLValueStore>> rows_;
  std::vector<SQLValueStore> cells_;
  size_t next_ = 0;
};

// An INTEGER array of the given elements (nullopt: a NULL element).
inline SQLValueStore IntArray(std::vector<std::optional<int>> const &elements) {
  SQLValueStore v;
  v.SetDimension(static_cast<int>(elements.size()));
  for (size_t i = 0; i < elements.size(); ++i) {
    v.GetElement(static_cast<int>(i))->SetInteger(elements[i].value_or(0));
    if (!elements[i]) v.GetElement(static_cast<int>(i))->SetNull();
  }
  return v;
}

// A table leaf without rows that records the visitors' calls.
class FakeLeaf : public StrictRowSource<SQLRSFetch> {
 public:
  explicit FakeLeaf(SQLDatabaseInstance *instance = nullptr) : instance_(instance) {}
  bool failAttach = false;
  bool failDetach = false;
  long cursorDeadline = -1;
  int bufferSize = -1;
  std::optional<unsigned long> session;
  int detachCalls = 0;
  bool variable = false;
  bool constant = true;

  void SetBufferSize(int rows) override { bufferSize = rows; }
  void SetCursorTimeOut(long deadline) override { cursorDeadline = deadline; }
  bool OperatesOnThisDBInstance(SQLDatabaseInstance *instance) override { return instance == instance_; }
  SQLDatabaseInstance const *GetDBInstance() override { return instance_; }
  void AttachToSession(unsigned long id) override {
    if (failAttach) throw SQLExZDBError(505);
    session = id;
  }
  void DetachFromSession() override {
    ++detachCalls;
    session.reset();
    if (failDetach) throw SQLExZDBError(510);
  }
  bool IsVariable(int) override { return variable; }
  bool IsConstant(int) override { return constant; }

 protected:
  int DoGetNumCols() override { return 0; }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int) override { return nullptr; }
  SQLValueStore const *DoGetValueStoreAddr(int) override { return nullptr; }
  void DoExec() override {}
  int DoFetch() override { return 0; }
  int DoSkipRows(int) override { return -1; }
  void DoAcceptVisit(SQLVisitor &visitor) override {
    visitor.VisitSQLRSFetch(this);
    visitor.Scope()->PushRowSource(this);
  }

 private:
  SQLDatabaseInstance *instance_;
};

// A node over two children (as a join is), to build trees for the visitors.
class PairRowSource : public StrictRowSource<SQLRowSource> {
 public:
  PairRowSource(SQLRowSource *left, SQLRowSource *right) : left_(left), right_(right) {}

 protected:
  int DoGetNumCols() override { return 0; }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int) override { return nullptr; }
  SQLValueStore const *DoGetValueStoreAddr(int) override { return nullptr; }
  void DoExec() override {}
  int DoFetch() override { return 0; }
  int DoSkipRows(int) override { return -1; }
  void DoAcceptVisit(SQLVisitor &visitor) override {
    left_->AcceptVisit(visitor);
    visitor.Scope()->PopRowSource();
    right_->AcceptVisit(visitor);
    visitor.Scope()->PopRowSource();
    visitor.Scope()->PushRowSource(this);
  }

 private:
  std::unique_ptr<SQLRowSource> left_;
  std::unique_ptr<SQLRowSource> right_;
};

// Column 0 of every row is its number in the input, so that the order of
// the output can be read off.
inline std::vector<int> RunAll(SQLRowSource *rs, int maxRows = -1) {
  SQLRSPrepareContext context;
  rs->Prepare(&context);
  if (maxRows >= 0) rs->SetMaxRows(maxRows);
  rs->Exec();
  std::vector<int> order;
  while (rs->Fetch()) order.push_back(rs->GetValueStoreAddr(0)->GetInteger());
  return order;
}

}  // namespace molvane::test
