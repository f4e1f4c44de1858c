#include "sql/exec/rs_sort.h"

#include <algorithm>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/visitor.h"

namespace {

[[noreturn]] void Unexpected(char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSSort::%s", operation);
}

}  // namespace

SQLRSSort::SQLRSSort(SQLRowSource *child, SQLSortSpecList *specifications)
    : child_(child), specifications_(specifications) {
  std::vector<int> seen;
  for (bool more = specifications_->First(); more; more = specifications_->Next()) {
    int column = specifications_->GetCurrent().GetColumnId();
    if (std::find(seen.begin(), seen.end(), column) != seen.end())
      specifications_->DeleteCurrent();
    else
      seen.push_back(column);
  }
}

SQLRSSort::~SQLRSSort() = default;

// ---- messages forwarded to the child ----

void SQLRSSort::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  child_->GetColumnRefs(level, type, refs);
}

bool SQLRSSort::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  return child_->RejectsAllOnNullifiedCols(level, columns);
}

void SQLRSSort::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  child_->CRefs2ParameterRefs(level, columns, parameters);
}

SQLRowSource *SQLRSSort::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  child_.reset(child_.release()->OptimizeTree(hints, filters));
  if (!child_->PushSort(specifications_.get())) return this;
  specifications_.release();  // the child owns the list now
  SQLRowSource *child = child_.release();
  delete this;
  return child;
}

void SQLRSSort::OptimizeNode() { child_->OptimizeNode(); }

void SQLRSSort::PushHints(SQLHints *hints) { child_->PushHints(hints); }

// ---- messages a sort never receives ----

SQLRowSource *SQLRSSort::PushFilter(SQLRSSCSearchCond *, SQLRSSCSearchCond **) { Unexpected("PushFilter"); }
SQLRowSource *SQLRSSort::PullFilter(SQLRSSCSearchCond **) { Unexpected("PullFilter"); }
SQLRowSource *SQLRSSort::PullNullify(intList **, SQLRSSCSearchCond **) { Unexpected("PullNullify"); }
bool SQLRSSort::PushSort(SQLSortSpecList *) { Unexpected("PushSort"); }
SQLRowSource *SQLRSSort::PushGroup(intList *, List<SQLRSGroupSpec> *, bool *) { Unexpected("PushGroup"); }
SQLRowSource *SQLRSSort::PushProject(SQLRSSCValueExprRefPtrList *) { Unexpected("PushProject"); }
SQLRowSource *SQLRSSort::CombineJoin(SQLDatabaseInstance **, int *, List<SQLRSSCSearchCond const *> *,
                                     bool *) {
  Unexpected("CombineJoin");
}
void SQLRSSort::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("createQPsubquery");
}

void SQLRSSort::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSSort);
  ts->AppendBs2(static_cast<std::int16_t>(specifications_->NrElements()));
  for (bool more = specifications_->First(); more; more = specifications_->Next()) {
    SQLSortSpec const &spec = specifications_->GetCurrent();
    ts->AppendBs2(static_cast<std::int16_t>(spec.GetColumnId()));
    ts->AppendToken(spec.IsDescending() ? SQLNWTDescending : SQLNWTAscending);
  }
  child_->createTokenString(ts, level, params);
}

// ---- execution ----

void SQLRSSort::DoPrepare(SQLRSPrepareContext *context) {
  child_->Prepare(context);
  numCols_ = child_->GetNumCols();
  output_ = std::vector<SQLValueStore>(static_cast<size_t>(numCols_));

  std::vector<bool> isKey(static_cast<size_t>(numCols_), false);
  keyIds_.clear();
  keyAddrs_.clear();
  keyDescriptors_.clear();
  context_.descending.clear();
  for (bool more = specifications_->First(); more; more = specifications_->Next()) {
    SQLSortSpec const &spec = specifications_->GetCurrent();
    int column = spec.GetColumnId();
    if (column < 0 || column >= numCols_)
      SQLAbort(__FILE__, __LINE__, "Sort key column %d outside the %d columns of the input", column, numCols_);
    isKey[static_cast<size_t>(column)] = true;
    keyIds_.push_back(column);
    keyAddrs_.push_back(child_->GetValueStoreAddr(column));
    keyDescriptors_.push_back(child_->GetColumnDescriptor(column));
    context_.descending.push_back(spec.IsDescending());
  }
  keyBuffer_ = std::make_unique<SQLVSBuffer>(static_cast<int>(keyIds_.size()), keyDescriptors_.data(), -1);

  otherIds_.clear();
  otherAddrs_.clear();
  otherDescriptors_.clear();
  for (int column = 0; column < numCols_; ++column) {
    if (isKey[static_cast<size_t>(column)]) continue;
    otherIds_.push_back(column);
    otherAddrs_.push_back(child_->GetValueStoreAddr(column));
    otherDescriptors_.push_back(child_->GetColumnDescriptor(column));
  }
  restBuffer_.reset();
  if (!otherIds_.empty())
    restBuffer_ = std::make_unique<SQLVSBuffer>(static_cast<int>(otherIds_.size()), otherDescriptors_.data(), -1);

  context_.keys = keyBuffer_.get();
  index_ = std::make_unique<SQLVSBufferIdKeySQLVSBufferIdArray>(SortKeyCompare, &context_);
  index_->SetAllowDuplicates();
  stepper_ = std::make_unique<SQLVSBufferIdKeySQLVSBufferIdArraystepper>(index_.get());
}

void SQLRSSort::ResetRun() {
  if (index_) index_->Empty();
  if (keyBuffer_) keyBuffer_->Empty();
  if (restBuffer_) restBuffer_->Empty();
}

void SQLRSSort::DoExec() {
  // Rows of an execution that was not broken off must not reappear.
  ResetRun();
  sortNeeded_ = true;
  child_->Exec();
}

int SQLRSSort::SortKeyCompare(SQLVSBufferId const &a, SQLVSBufferId const &b, void *context) {
  KeyContext *keys = static_cast<KeyContext *>(context);
  // Two rows at a time fit the key buffer's cache (at least 2 rows).
  SQLValueStore const *ra = keys->keys->GetForRead(a);
  SQLValueStore const *rb = keys->keys->GetForRead(b);
  int n = static_cast<int>(keys->descending.size());
  for (int i = 0; i < n; ++i) {
    SQLValueStore const *va = &ra[i];
    SQLValueStore const *vb = &rb[i];
    int c = SQLValueStore::OrderCompare(va, vb);  // NULLs after every value
    if (keys->descending[static_cast<size_t>(i)]) c = -c;
    if (c != 0) return c;
  }
  return 0;
}

void SQLRSSort::SortRows() {
  while (child_->Fetch() == 1) {
    SQLVSBufferId key = keyBuffer_->Write(keyAddrs_.data());
    SQLVSBufferId rest = restBuffer_ ? restBuffer_->Write(otherAddrs_.data()) : SQLVSBufferId(nullptr);
    index_->Append(key, rest);
  }
  // One ordering of all rows instead of an insertion per row: O(n log n)
  // comparisons and moves, equal keys in the child's order.
  index_->Sort();
  sortNeeded_ = false;
}

int SQLRSSort::DoFetch() {
  bool positioned;
  if (sortNeeded_) {
    SortRows();
    positioned = stepper_->First();
  } else {
    positioned = stepper_->Next();
  }
  if (!positioned) return 0;
  SQLValueStore const *keys = keyBuffer_->GetForRead(stepper_->GetCurrentKey());
  for (size_t i = 0; i < keyIds_.size(); ++i) output_[static_cast<size_t>(keyIds_[i])].Copy(&keys[i]);
  keyBuffer_->Release(stepper_->GetCurrentKey());
  if (restBuffer_) {
    SQLValueStore const *rest = restBuffer_->GetForRead(stepper_->GetCurrentValue());
    for (size_t j = 0; j < otherIds_.size(); ++j) output_[static_cast<size_t>(otherIds_[j])].Copy(&rest[j]);
    restBuffer_->Release(stepper_->GetCurrentValue());
  }
  return 1;
}

void SQLRSSort::DoBreak() {
  ResetRun();
  sortNeeded_ = false;
  child_->Break();
}

void SQLRSSort::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSSort(" << endl << incind;
  for (bool more = specifications_->First(); more; more = specifications_->Next()) {
    SQLSortSpec const &spec = specifications_->GetCurrent();
    log << "SortSpec(" << spec.GetColumnId() << "," << (spec.IsDescending() ? "DESCENDING" : "ASCENDING")
        << ")" << endl;
  }
  log << "Child: ";
  child_->Log();
  log << decind << ")" << endl;
}

void SQLRSSort::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  visitor.VisitSQLRSSort(this);
  SQLRSEndUnaryVisit(visitor, this);
}
