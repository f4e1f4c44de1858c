#include "sql/exec/rs_materialize.h"

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitor.h"

namespace {

[[noreturn]] void Unexpected(char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSPrepare::%s", operation);
}

}  // namespace

SQLRSPrepare::SQLRSPrepare(SQLRowSource *child) : child_(child) {}

SQLRSPrepare::~SQLRSPrepare() = default;

// ---- messages forwarded to the child ----

void SQLRSPrepare::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  child_->GetColumnRefs(level, type, refs);
}

bool SQLRSPrepare::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  return child_->RejectsAllOnNullifiedCols(level, columns);
}

void SQLRSPrepare::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  child_->CRefs2ParameterRefs(level, columns, parameters);
}

SQLRowSource *SQLRSPrepare::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  std::unique_ptr<SQLRSPrepare> self(this);
  child_.reset(child_.release()->OptimizeTree(hints, filters));
  if (!child_->RowSetIsPrepared()) return self.release();
  return child_.release();  // the materialisation leaves the tree
}

void SQLRSPrepare::OptimizeNode() { child_->OptimizeNode(); }

void SQLRSPrepare::PushHints(SQLHints *hints) { child_->PushHints(hints); }

// ---- messages a materialisation never receives ----

SQLRowSource *SQLRSPrepare::PushFilter(SQLRSSCSearchCond *, SQLRSSCSearchCond **) { Unexpected("PushFilter"); }
SQLRowSource *SQLRSPrepare::PullFilter(SQLRSSCSearchCond **) { Unexpected("PullFilter"); }
SQLRowSource *SQLRSPrepare::PullNullify(intList **, SQLRSSCSearchCond **) { Unexpected("PullNullify"); }
bool SQLRSPrepare::PushSort(SQLSortSpecList *) { Unexpected("PushSort"); }
SQLRowSource *SQLRSPrepare::PushGroup(intList *, List<SQLRSGroupSpec> *, bool *) { Unexpected("PushGroup"); }
SQLRowSource *SQLRSPrepare::PushProject(SQLRSSCValueExprRefPtrList *) { Unexpected("PushProject"); }
bool SQLRSPrepare::RowSetIsPrepared() { Unexpected("RowSetIsPrepared"); }
SQLRowSource *SQLRSPrepare::CombineJoin(SQLDatabaseInstance **, int *, List<SQLRSSCSearchCond const *> *,
                                        bool *) {
  Unexpected("CombineJoin");
}
void SQLRSPrepare::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("createQPsubquery");
}

void SQLRSPrepare::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSPrepare);
  child_->createTokenString(ts, level, params);
}

// ---- execution ----

void SQLRSPrepare::DoPrepare(SQLRSPrepareContext *context) {
  child_->Prepare(context);
  numCols_ = child_->GetNumCols();
  output_ = std::vector<SQLValueStore>(static_cast<size_t>(numCols_));
  childAddrs_.clear();
  descriptors_.clear();
  for (int i = 0; i < numCols_; ++i) {
    childAddrs_.push_back(child_->GetValueStoreAddr(i));
    descriptors_.push_back(child_->GetColumnDescriptor(i));
  }
  buffer_ = std::make_unique<SQLVSBuffer>(numCols_, descriptors_.data(), -1);
}

void SQLRSPrepare::ResetRun() {
  for (bool more = rowIds_.First(); more; more = rowIds_.Next()) rowIds_.DeleteCurrent();
  if (buffer_) buffer_->Empty();
}

void SQLRSPrepare::DoExec() {
  // Rows of an execution that was not broken off must not reappear.
  ResetRun();
  atStart_ = true;
  buffered_ = false;
  child_->Exec();
}

void SQLRSPrepare::BufferRows() {
  while (child_->Fetch() == 1) rowIds_.Append(buffer_->Write(childAddrs_.data()));
  buffered_ = true;
}

bool SQLRSPrepare::NextId() {
  if (atStart_) {
    atStart_ = false;
    return rowIds_.First();
  }
  return rowIds_.Next();
}

int SQLRSPrepare::DoFetch() {
  if (!buffered_) BufferRows();
  if (!NextId()) return 0;
  SQLVSBufferId id = rowIds_.GetCurrent();
  SQLValueStore const *row = buffer_->GetForRead(id);
  for (int i = 0; i < numCols_; ++i) output_[static_cast<size_t>(i)].Copy(&row[i]);
  buffer_->Release(id);
  return 1;
}

int SQLRSPrepare::DoSkipRows(int n) {
  if (!buffered_) {
    int skipped = child_->SkipRows(n);
    if (skipped == n)
      BufferRows();
    else
      buffered_ = true;  // the child has no rows left
    return skipped;
  }
  int count = 0;
  bool on = NextId();
  while (on) {
    rowIds_.DeleteCurrent();
    if (++count == n) break;
    on = rowIds_.Next();
  }
  return count;
}

void SQLRSPrepare::DoBreak() {
  ResetRun();
  child_->Break();
}

void SQLRSPrepare::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSPrepare(" << endl << incind << "Child: ";
  child_->Log();
  log << decind << ")" << endl;
}

void SQLRSPrepare::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  visitor.VisitSQLRSPrepare(this);
  SQLRSEndUnaryVisit(visitor, this);
}
