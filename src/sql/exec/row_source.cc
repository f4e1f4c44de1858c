#include "sql/exec/row_source.h"

#include <atomic>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/visitors.h"

namespace {

// Labels row sources in trace lines. Trees of different statements are
// built on different threads, so the counter is atomic.
std::atomic<int> g_rowSourceCounter{0};

constexpr int kQueryTimeOutError = 313;  // "Query time out error"

SQLLogger &Trace() { return *SQLLogger::Instance(); }

}  // namespace

SQLRowSource::SQLRowSource()
    : state_(kConstructed), maxRows_(-1), deadline_(0), rowsFetched_(0), id_(g_rowSourceCounter.fetch_add(1, std::memory_order_relaxed) + 1) {
  // A subclass takes its arguments over in its member initialisers, after
  // this constructor: a trace line that cannot be written must not leave
  // them unowned, so it is dropped.
  try {
    if (TraceStart()) Trace() << "SQLRowSource constructor" << endl;
  } catch (...) {
  }
}

SQLRowSource::~SQLRowSource() {
  if (TraceStart()) Trace() << "SQLRowSource destructor" << endl;
}

bool SQLRowSource::TraceStart() const {
  SQLLogger &log = Trace();
  if (!log.LogFlagIsSet(SQLLogger::Eval::Rs)) return false;
  log << "[" << id_ << "] ";
  return true;
}

SQLExecTree *SQLRowSource::Optimize() { return OptimizeRS(); }

SQLRowSource *SQLRowSource::OptimizeRS() {
  std::unique_ptr<SQLRowSource> result(OptimizeTree(nullptr, nullptr));
  result->OptimizeNode();
  return result.release();
}

void SQLRowSource::Prepare(SQLRSPrepareContext *context) {
  if (TraceStart()) Trace() << "SQLRowSource::Prepare()" << endl;
  // The root hands its count down for the time of its Prepare only: an
  // expression prepared with the same context outside this tree must not
  // take this tree's executions for its own.
  struct RootExecutions {
    SQLRSPrepareContext *context = nullptr;
    ~RootExecutions() {
      if (context) context->SetExecutions(nullptr);
    }
  } root;
  if (context->Executions() == nullptr) {
    if (executions_ == nullptr) executions_ = std::make_unique<SQLRSExecutions>();
    context->SetExecutions(executions_.get());
    root.context = context;
  }
  try {
    DoPrepare(context);
  } catch (...) {
    if (TraceStart()) Trace() << "SQLRowSource::Prepare() failed" << endl;
    throw;
  }
  state_ = kPrepared;
}

void SQLRowSource::Attach(unsigned long sessionId) {
  if (TraceStart()) Trace() << "SQLRowSource::Attach(SessionId = " << sessionId << ")" << endl;
  SQLAttachVisitor attach(sessionId);
  try {
    AcceptVisit(attach);
  } catch (...) {
    // Leaves attached before the failure are released again; a failure of
    // that cleanup must not hide the one that caused it.
    SQLDetachVisitor detach;
    try {
      AcceptVisit(detach);
    } catch (...) {
    }
    throw;
  }
}

void SQLRowSource::SetMaxRows(int limit) {
  if (TraceStart()) Trace() << "SQLRowSource::SetMaxRows(" << limit << ")" << endl;
  maxRows_ = limit;
  DoSetMaxRows(limit);
}

void SQLRowSource::SetTimeOut(long deadline) {
  if (TraceStart()) Trace() << "SQLRowSource::SetTimeOut(" << deadline << ")" << endl;
  SQLSetTimeOutVisitor visitor(deadline);
  AcceptVisit(visitor);
}

void SQLRowSource::SetBufferSize(int rows) {
  if (TraceStart()) Trace() << "SQLRowSource::SetBufferSize(" << rows << ")" << endl;
  SQLRSSetBufferSizeVisitor visitor(rows);
  AcceptVisit(visitor);
}

int SQLRowSource::Exec() {
  if (TraceStart()) Trace() << "SQLRowSource::Exec()" << endl;
  if (executions_) executions_->Next();
  try {
    DoExec();
  } catch (...) {
    if (TraceStart()) Trace() << "SQLRowSource::Exec() failed" << endl;
    throw;
  }
  rowsFetched_ = 0;
  state_ = kExecuted;
  if (TraceStart()) Trace() << "SQLRowSource::Exec() succeeded" << endl;
  return 0;
}

void SQLRowSource::CheckDeadline() {
  if (deadline_ == 0) return;
  if (al_steady_ms() <= deadline_) return;
  if (TraceStart()) Trace() << "Reached TimeOut value" << ": no row" << endl;
  throw SQLExZDBError(kQueryTimeOutError);
}

int SQLRowSource::Fetch() {
  if (TraceStart()) Trace() << "SQLRowSource::Fetch()" << endl;
  CheckDeadline();
  if (maxRows_ >= 0 && rowsFetched_ >= maxRows_) {
    if (TraceStart()) Trace() << "Reached MaxRows value " << maxRows_ << ": no row" << endl;
    return 0;
  }
  int r;
  try {
    r = DoFetch();
  } catch (...) {
    if (TraceStart()) Trace() << "SQLRowSource::Fetch() failed" << endl;
    throw;
  }
  if (r == 0) {
    if (TraceStart()) Trace() << "No rows" << endl;
  } else if (TraceStart()) {
    SQLLogger &log = Trace();
    log << "Row: " << endl << incind;
    int n = DoGetNumCols();
    for (int i = 0; i < n; ++i) {
      log << i << ":";
      DoGetValueStoreAddr(i)->Log();
      log << endl;
    }
    log << decind;
  }
  ++rowsFetched_;
  return r;
}

int SQLRowSource::SkipRows(int n) {
  if (TraceStart()) Trace() << "SQLRowSource::SkipRows(" << n << ")" << endl;
  CheckDeadline();
  int r = 0;
  if (n > 0) {
    try {
      r = DoSkipRows(n);
      if (r < 0) {
        r = 0;
        while (r < n && Fetch() != 0) ++r;
      }
    } catch (...) {
      if (TraceStart()) Trace() << "SQLRowSource::SkipRows() failed" << endl;
      throw;
    }
  }
  if (TraceStart()) Trace() << "Skipped: " << r << endl;
  return r;
}

void SQLRowSource::Break() {
  if (TraceStart()) Trace() << "SQLRowSource::Break()" << endl;
  DoBreak();
  state_ = kAttached;
}

void SQLRowSource::Close() {
  if (TraceStart()) Trace() << "SQLRowSource::Close()" << endl;
  SQLDetachVisitor detach;
  bool failed = false;
  try {
    AcceptVisit(detach);
  } catch (...) {
    failed = true;
  }
  if (failed || detach.Failure()) {
    if (TraceStart()) Trace() << "SQLRowSource::Close() failed" << endl;
  }
  state_ = kPrepared;
}

void SQLRowSource::Log() {
  SQLLogger &log = Trace();
  if (!log.LogFlagIsSet(SQLLogger::Always)) return;
  log << "[" << id_ << "]";
  DoLog();
}

void SQLRowSource::AcceptVisit(SQLVisitor &visitor) {
  visitor.VisitSQLRowSource(this);
  DoAcceptVisit(visitor);
}

SQLRSFetch *SQLRowSource::CreateJoin(SQLJoinType, SQLRSFetch *, SQLRSSCSearchCond *) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message CreateLeftOuterJoin(SQLRSFetch*)");
}

SQLRSFetch *SQLRowSource::CreateJoin(SQLJoinType, SQLRowSource *, SQLRSSCSearchCond *) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message CreateLeftOuterJoin(SQLRowSource*)");
}

SQLRSFetch *SQLRowSource::CreateConstLeftOuterJoin(SQLRSSCSearchCond *) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message CreateConstLeftOuterJoin()");
}

SQLRowSource *SQLRowSource::CreateUnion(SQLRSFetch *, bool) { return nullptr; }

SQLRowSource *SQLRowSource::CreateUnion(SQLRowSource *, bool) { return nullptr; }

void SQLRSEndUnaryVisit(SQLVisitor &visitor, SQLRowSource *node) {
  visitor.Scope()->PopRowSource();
  visitor.Scope()->PushRowSource(node);
}

void SQLRSOfferColumnsOnly(SQLRSSCValueExprRefPtrList *expressions, SQLRowSource *child) {
  int const n = child->GetNumCols();
  std::vector<int> columns;
  std::vector<bool> offered(static_cast<size_t>(n), false);
  auto offer = [&](int c) {
    if (c >= 0 && c < n && !offered[static_cast<size_t>(c)]) {
      offered[static_cast<size_t>(c)] = true;
      columns.push_back(c);
    }
  };
  bool computed = false;
  for (bool more = expressions->First(); more; more = expressions->Next()) {
    SQLRSSCValueExpr *e = expressions->GetCurrent().Get();
    pSQLRSSCColumnRefList refs;
    e->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    for (bool ref = refs.First(); ref; ref = refs.Next()) offer(refs.GetCurrent()->GetColumnId());
    computed = computed || !e->IsColumnRef();
  }
  if (!computed) return;
  *expressions = SQLRSSCValueExprRefPtrList();
  for (int c : columns) expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, c, child->GetColumnDescriptor(c))));
}
