#include "sql/exec/rs_sort.h"

#include <algorithm>
#include <unordered_set>

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

long long SQLRSSortItemsLargest(SQLSortSpecList const *specifications) {
  SQLSortSpecList specs = *specifications;  // a copy: the caller's cursor stays where it is
  long long largest = specs.NrElements();
  for (bool more = specs.First(); more; more = specs.Next())
    largest = std::max<long long>(largest, specs.GetCurrent().GetColumnId());
  return largest;
}

SQLRSSort::SQLRSSort(SQLRowSource *child, SQLSortSpecList *specifications)
    : child_(child), specifications_(specifications) {
  std::unordered_set<int> seen;
  for (bool more = specifications_->First(); more; more = specifications_->Next()) {
    if (!seen.insert(specifications_->GetCurrent().GetColumnId()).second) specifications_->DeleteCurrent();
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
  std::unique_ptr<SQLRSSort> self(this);
  child_.reset(child_.release()->OptimizeTree(hints, filters));
  if (!child_->PushSort(specifications_.get())) return self.release();
  static_cast<void>(specifications_.release());  // the child owns the list now
  return child_.release();  // the sort leaves the tree
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
  descending_.clear();
  for (bool more = specifications_->First(); more; more = specifications_->Next()) {
    SQLSortSpec const &spec = specifications_->GetCurrent();
    int column = spec.GetColumnId();
    if (column < 0 || column >= numCols_)
      SQLAbort(__FILE__, __LINE__, "Sort key column %d outside the %d columns of the input", column, numCols_);
    isKey[static_cast<size_t>(column)] = true;
    keyIds_.push_back(column);
    descending_.push_back(spec.IsDescending());
  }
  otherIds_.clear();
  for (int column = 0; column < numCols_; ++column)
    if (!isKey[static_cast<size_t>(column)]) otherIds_.push_back(column);

  addrs_.clear();
  outputOrder_.clear();
  for (std::vector<int> const *ids : {&keyIds_, &otherIds_}) {
    for (int column : *ids) {
      addrs_.push_back(child_->GetValueStoreAddr(column));
      outputOrder_.push_back(&output_[static_cast<size_t>(column)]);
    }
  }
  sorter_ = std::make_unique<SQLRowSorter>(static_cast<int>(keyIds_.size()), descending_, numCols_, -1);
}

void SQLRSSort::ResetRun() {
  if (sorter_) sorter_->Clear();
}

void SQLRSSort::DoExec() {
  // Rows of an execution that was not broken off must not reappear.
  ResetRun();
  sortNeeded_ = true;
  child_->Exec();
}

void SQLRSSort::SortRows() {
  while (child_->Fetch() == 1) sorter_->Add(addrs_.data());
  sorter_->Sort();
  sortNeeded_ = false;
}

int SQLRSSort::DoFetch() {
  if (sortNeeded_) SortRows();
  return sorter_->Next(outputOrder_.data()) ? 1 : 0;
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
