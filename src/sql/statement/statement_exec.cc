// SQLStatement: execution, fetch, skip, break and retry points.
//
// An execution binds the host's parameter values and the company numbers
// into the validated tree's parameters, then runs an execution tree built
// from that tree. Trees are keyed by an exec-tree id (the execution form and
// the company numbers of the execution, ShortArray): a statement executed
// again with equal company numbers reuses the tree it holds; a tree for
// other numbers is parked in the statement data's exec-tree cache and comes
// back when its id is seen again. The statement drives a new tree in the
// order Optimize, Prepare, Attach, then SetMaxRows and SetBufferSize for a
// query, SetTimeOut and Exec.
//
// A retry point is the value of each RETRY column at the last row the host
// saw (SaveRetryValues). Retry re-executes the query in the retry form, with
// the tree's retry filter switched on and the saved values bound, so that it
// continues just after that row.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>

#include "dbc/session/zdb_trans.h"
#include "platform/clock.h"
#include "platform/dates.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_state.h"
#include "sql/common/sql_util.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/exec_tree.h"
#include "sql/statement/short_array.h"
#include "sql/statement/statement.h"
#include "sql/statement/statement_data.h"
#include "sql/statement/statement_trace.h"
#include "sql/statement/statement_tree_passes.h"
#include "sql/validate/vt_node.h"

namespace {

constexpr int kExecStates = (1 << SQLStatement::kPrepared) | (1 << SQLStatement::kExecuted) |
                            (1 << SQLStatement::kSoftClosed);
constexpr int kCursorStates = 1 << SQLStatement::kExecuted;
constexpr int kAllStates = 0xFF;

SQLString Number(long n) { return SQLString(long_to_ascii(n)); }

int Traced(unsigned long id, char const *operation, int result) {
  StatementTraceReturn(id, SQLLogger::Interface, operation, result);
  return result;
}

// DELETE_VTREE "1": drop the validated tree after every execution tree
// built from it; read once.
bool DeleteValidatedTree() {
  static int const on = [] {
    char const *value = std::getenv("DELETE_VTREE");
    return value != nullptr && std::strcmp(value, "1") == 0 ? 1 : 0;
  }();
  return on != 0;
}

void LogExecTree(char const *title, SQLExecTree *tree) {
  SQLLogger *log = SQLLogger::Instance();
  if (!log->LogFlagIsSet(SQLLogger::Tree::Rs)) return;
  *log << title << endl;
  tree->Log();
  *log << endl;
}

}  // namespace

int SQLStatement::Exec(long compnr, int *rowCount) {
  StatementTraceCall(id_, SQLLogger::Interface, "Exec()");
  Sweep();
  diag_.Empty();
  int rows = 0;
  int result = -1;
  try {
    result = [&]() -> int {
      if (state_ == kSoftClosed) {
        // A soft-closed statement whose re-prepare failed has neither text
        // nor data: it cannot run until prepared again.
        if (text_ == nullptr) {
          CheckState("Exec", 0);
          return -1;
        }
        std::unique_ptr<char[]> text = std::move(text_);
        int prepared = SoftPrepare(text.get(), sessionId_, mode_);
        if (prepared != 0) return prepared;
      } else if (!CheckState("Exec", kExecStates)) {
        return -1;
      }
      if (cursorOpen_) {
        AddRecord(sqlstate::kInvalidCursorState, SQLString(stmtstate::kCursorOpen));
        return -1;
      }
      bool unbound = false;
      for (int i = 0; i < parameterCount_; ++i) {
        if (parameters_[i].bound) continue;
        AddRecord(stmtstate::kNotBound, SQLString("Parameter '") +
                                            SQLString(parameters_[i].name.get()) +
                                            SQLString("' not bound before exec"));
        unbound = true;
      }
      if (unbound) return -1;
      SQLLogger &log = *SQLLogger::Instance();
      for (int i = 0; i < parameterCount_; ++i) {
        Parameter &p = parameters_[i];
        p.treeParameter->BindVS(p.cell.GetValueStore());
        if (log.LogFlagIsSet(SQLLogger::InterfaceDetailed)) {
          log << "   Parameter[" << i << "]: ";
          p.cell.GetValueStore()->Log();
          log << endl;
        }
      }
      bool valid = compnr >= 0 && compnr <= 999;
      long invalid = compnr;
      for (int i = 0; valid && compnrParameters_ != nullptr && i < compnrParameters_->NrElements();
           ++i) {
        invalid = compnrParameters_->Get(i)->GetInteger();
        valid = invalid >= 0 && invalid <= 999;
      }
      if (!valid) {
        AddRecord(stmtstate::kInvalidCompnr, SQLString("Invalid company number ") + Number(invalid));
        return -1;
      }
      SQLVTreeData *treeData = data_->GetTreeData();
      if (defaultCompnr_ != nullptr) defaultCompnr_->BindInteger(compnr);
      if (SQLParameter *date = treeData->GetCurrentDateParameter()) date->BindDate(date_num());
      if (SQLParameter *stamp = treeData->GetCurrentTimestampParameter()) {
        stamp->BindTimestamp(static_cast<std::int64_t>(std::time(nullptr)));
      }
      fetchStatus_ = kNothingFetched;
      retryStatus_ = kNoRetryPoint;
      return ExecOrRetry(kPlainForm, &rows);
    }();
  } catch (...) {
    result = RecordCaughtException(false);
  }
  if (rowCount != nullptr) *rowCount = rows;
  if (StatementTraceOn(SQLLogger::Interface)) {
    *SQLLogger::Instance() << "[" << id_ << "] SQLStatement::Exec() returns " << result
                           << " nrows " << rows << endl;
  }
  return result;
}

std::unique_ptr<ShortArray> SQLStatement::createExecTreeId(ExecForm form) const {
  int compnrs = compnrParameters_ != nullptr ? compnrParameters_->NrElements() : 0;
  auto id = std::make_unique<ShortArray>(compnrs + 2);
  id->Set(0, form == kRetryForm ? 1 : 0);
  id->Set(1, defaultCompnr_ != nullptr ? defaultCompnr_->GetInteger() : 0);
  for (int i = 0; i < compnrs; ++i) id->Set(i + 2, compnrParameters_->Get(i)->GetInteger());
  return id;
}

// Builds the execution tree of the form from the validated tree, optimised
// and prepared, into execTree_. 0, or the result of a failed re-prepare of a
// statement whose validated tree was dropped.
int SQLStatement::BuildExecTree(ExecForm form) {
  if (data_->GetRoot() == nullptr) {
    state_ = kSoftClosed;
    std::unique_ptr<char[]> text = std::move(text_);
    int prepared = SoftPrepare(text.get(), sessionId_, mode_);
    if (prepared != 0) return prepared;
  }
  if (retryClauseType_ != SQL_RETRY_NONE) {
    SQLStatementActivateRetryFilter(retryFilter_, form == kRetryForm);
  }
  std::unique_ptr<SQLExecTree> tree(data_->GetRoot()->CreateET());
  if (DeleteValidatedTree()) data_->DropRoot();
  LogExecTree("SQL execution tree before optimization:", tree.get());
  // Optimize takes the tree over and frees it when it throws.
  tree.reset(tree.release()->Optimize());
  SQLRSPrepareContext context;
  tree->Prepare(&context);
  LogExecTree("SQL execution tree after optimization:", tree.get());
  execTree_ = std::move(tree);
  return 0;
}

void SQLStatement::SetDeadline() {
  int seconds = -1;
  if (timeOut_ >= 0) {
    seconds = timeOut_;
  } else {
    int fallback = 0;
    if (zdb_get_default_query_timeout(static_cast<int>(sessionId_), &fallback) >= 0 &&
        fallback > 0) {
      seconds = fallback;
    }
  }
  if (seconds < 0) return;
  // On the steady clock, to the millisecond: the library's own check stops
  // the statement when its whole time-out has passed, not at the turn of a
  // later wall-clock second.
  const long deadline = seconds != 0 ? static_cast<long>(al_steady_ms()) + seconds * 1000L : 0;
  execTree_->SetTimeOut(deadline);
}

int SQLStatement::ExecOrRetry(ExecForm form, int *rowCount) {
  std::unique_ptr<ShortArray> id = createExecTreeId(form);
  if (execTree_ != nullptr && (execTreeId_ == nullptr || !execTreeId_->Equal(*id))) {
    if (attached_) {
      attached_ = false;
      execTree_->Close();
    }
    data_->RecycleExecTree(std::move(execTreeId_), std::move(execTree_));
    execTree_.reset();
    execTreeId_.reset();
  }
  if (execTree_ == nullptr) {
    execTree_ = data_->GetExecTree(*id);
    attached_ = false;
    if (execTree_ == nullptr) {
      int built = BuildExecTree(form);
      if (built != 0) return built;
    }
    execTreeId_ = std::move(id);
  }
  if (!attached_) {
    execTree_->Attach(sessionId_);
    attached_ = true;
  }
  SQLVTreeData *treeData = data_->GetTreeData();
  bool select = treeData->GetStmtType() == SQL_STMT_SELECT;
  if (select) {
    if (SQLSetSize const *maxRows = treeData->GetMaxRows()) {
      long limit = 0;
      if (maxRows->kind == SQLSetSize::Constant) {
        limit = maxRows->constant;
      } else if (maxRows->kind == SQLSetSize::Parameter) {
        limit = maxRows->parameter->GetInteger();
      } else {
        SQLAbort(__FILE__, __LINE__, "Unexpected set size type: %d", static_cast<int>(maxRows->kind));
      }
      if (limit < 1) {
        AddRecord(stmtstate::kInvalidMaxRows, SQLString("Invalid maximum rows value ") + Number(limit));
        if (retryStatus_ != kRetryAfterLastRow) fetchStatus_ = kNothingFetched;
        return -1;
      }
      execTree_->SetMaxRows(static_cast<int>(limit));
    }
    if (bufferSize_ >= 0) execTree_->SetBufferSize(bufferSize_);
  }
  SetDeadline();
  int rows = execTree_->Exec();
  if (rowCount != nullptr) *rowCount = rows;
  int result = 0;
  if (select) {
    cursorOpen_ = true;
    if (retryClauseType_ != SQL_RETRY_NONE && retrySpecs_ != nullptr) {
      for (bool more = retrySpecs_->First(); more; more = retrySpecs_->Next()) {
        SQLRetrySpec &spec = retrySpecs_->GetCurrent();
        spec.current = execTree_->GetValueStoreAddr(spec.position);
      }
    }
  } else if (rows == 0) {
    result = 100;
  }
  state_ = kExecuted;
  if (retryStatus_ != kRetryAfterLastRow) fetchStatus_ = kNothingFetched;
  return result;
}

int SQLStatement::Fetch() {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::Interface, "Fetch()");
  if (!CheckState("Fetch", kCursorStates) || !CheckOpenCursor()) return Traced(id_, "Fetch", -1);
  if (fetchStatus_ == kEndOfData) return Traced(id_, "Fetch", 100);
  try {
    if (execTree_->Fetch() == 0) {
      fetchStatus_ = kEndOfData;
      return Traced(id_, "Fetch", 100);
    }
    fetchStatus_ = kRowCurrent;
    SQLLogger &log = *SQLLogger::Instance();
    if (log.LogFlagIsSet(SQLLogger::Interface)) {
      int n = execTree_->GetNumCols();
      for (int i = 0; i < n; ++i) {
        log << "[" << i << "] ";
        execTree_->GetValueStoreAddr(i)->Log();
        log << endl;
      }
    }
    return Traced(id_, "Fetch", 0);
  } catch (...) {
    return Traced(id_, "Fetch", RecordCaughtException(false));
  }
}

int SQLStatement::SkipRows(int n, int *skipped) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::Interface, "SkipRows()");
  if (!CheckState("SkipRows", kCursorStates) || !CheckOpenCursor()) {
    return Traced(id_, "SkipRows", -1);
  }
  if (fetchStatus_ == kEndOfData) return Traced(id_, "SkipRows", 100);
  try {
    int done = execTree_->SkipRows(n);
    if (skipped != nullptr) *skipped = done;
    if (StatementTraceOn(SQLLogger::Interface)) {
      *SQLLogger::Instance() << "Skipped " << done << " rows" << endl;
    }
    if (done < n) {
      fetchStatus_ = kEndOfData;
      return Traced(id_, "SkipRows", 100);
    }
    fetchStatus_ = kRowCurrent;
    return Traced(id_, "SkipRows", 0);
  } catch (...) {
    return Traced(id_, "SkipRows", RecordCaughtException(false));
  }
}

int SQLStatement::GetValueStoreAddr(int column, SQLValueStore const **store) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::InterfaceDetailed, "GetValueStoreAddr()");
  int result = -1;
  if (!CheckState("GetValueStoreAddr", kCursorStates)) {
  } else if (!IsSelect()) {
    AddRecord(stmtstate::kNotCursorSpec,
              SQLString("Prepared statement is not a cursor specification - invalid call to "
                        "GetValueStoreAddr"));
  } else if (column < 0 || column >= resultColumns_ || execTree_ == nullptr) {
    AddRecord(stmtstate::kInvalidColumn, SQLString("Invalid column numnber ") + Number(column));
  } else {
    if (store != nullptr) *store = execTree_->GetValueStoreAddr(column);
    result = 0;
  }
  StatementTraceReturn(id_, SQLLogger::InterfaceDetailed, "GetValueStoreAddr", result);
  return result;
}

int SQLStatement::Break() {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::Interface, "Break()");
  if (!CheckState("Break", kCursorStates) || !CheckOpenCursor()) return Traced(id_, "Break", -1);
  cursorOpen_ = false;
  state_ = kPrepared;
  try {
    execTree_->Break();
  } catch (...) {
    return Traced(id_, "Break", RecordCaughtException(false));
  }
  ApplySoftCloseRule();
  return Traced(id_, "Break", 0);
}

int SQLStatement::SetBufferSize(int rows) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::Interface, "SetBufferSize()");
  if (!CheckState("SetBufferSize", 1 << kPrepared)) return Traced(id_, "SetBufferSize", -1);
  if (!IsSelect()) {
    AddRecord(stmtstate::kNotCursorSpec,
              SQLString("Prepared statement is not a cursor specification - invalid call to "
                        "SetBufferSize"));
    return Traced(id_, "SetBufferSize", -1);
  }
  if (rows < 0) {
    AddRecord(stmtstate::kInvalidValue, SQLString("Invalid buffer size ") + Number(rows));
    return Traced(id_, "SetBufferSize", -1);
  }
  bufferSize_ = rows;
  return Traced(id_, "SetBufferSize", 0);
}

int SQLStatement::SetTimeOut(int seconds) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::Interface, "SetTimeOut()");
  if (!CheckState("SetTimeOut", kAllStates)) return Traced(id_, "SetTimeOut", -1);
  if (seconds < 0) {
    AddRecord(stmtstate::kInvalidValue, SQLString("Invalid time out value ") + Number(seconds));
    return Traced(id_, "SetTimeOut", -1);
  }
  timeOut_ = seconds;
  return Traced(id_, "SetTimeOut", 0);
}

int SQLStatement::SaveRetryValues() {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::Interface, "SaveRetryValues()");
  if (!CheckState("SaveRetryValues", kCursorStates) || !CheckOpenCursor()) {
    return Traced(id_, "SaveRetryValues", -1);
  }
  if (retryClauseType_ == SQL_RETRY_NONE) {
    AddRecord(stmtstate::kNoRetryClause,
              SQLString("sql_save_rpoint called on a statement without retry clause"));
    return Traced(id_, "SaveRetryValues", -1);
  }
  try {
    SaveRetryPoint();
  } catch (...) {
    return Traced(id_, "SaveRetryValues", RecordCaughtException(false));
  }
  return Traced(id_, "SaveRetryValues", 0);
}

// Copies the retry columns of the current row (they may grow their stores)
// or notes where the retry point is.
void SQLStatement::SaveRetryPoint() {
  SQLLogger &log = *SQLLogger::Instance();
  bool trace = log.LogFlagIsSet(SQLLogger::Interface);
  if (fetchStatus_ == kRowCurrent) {
    for (bool more = retrySpecs_ != nullptr && retrySpecs_->First(); more;
         more = retrySpecs_->Next()) {
      SQLRetrySpec &spec = retrySpecs_->GetCurrent();
      if (spec.saved == nullptr || spec.current == nullptr) continue;
      spec.saved->Copy(spec.current);
      if (trace) {
        log << "Parameter " << (spec.parameter ? spec.parameter->GetId() : 0UL) << " = ";
        spec.saved->Log();
        log << endl;
      }
    }
    retryStatus_ = kRetryValuesSaved;
  } else if (fetchStatus_ == kEndOfData) {
    retryStatus_ = kRetryAfterLastRow;
    if (trace) log << "RetryPoint set after last row" << endl;
  } else if (trace) {
    log << (retryStatus_ == kRetryValuesSaved ? "Retry values unchanged since last SaveRetryValues"
                                              : "RetryPoint set before first row")
        << endl;
  }
}

int SQLStatement::Retry() {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::Interface, "Retry()");
  if (retryClauseType_ == SQL_RETRY_NONE) {
    AddRecord(stmtstate::kNoRetryClause,
              SQLString("sql_retry called on a statement without retry clause"));
    return Traced(id_, "Retry", -1);
  }
  if (!CheckState("Retry", kCursorStates)) return Traced(id_, "Retry", -1);
  if (fetchStatus_ == kNothingFetched) return Traced(id_, "Retry", 0);
  try {
    if (cursorOpen_) {
      cursorOpen_ = false;
      state_ = kPrepared;
      execTree_->Break();
    }
    state_ = kPrepared;
    ExecForm form = kPlainForm;
    if (retryStatus_ == kRetryValuesSaved) {
      for (bool more = retrySpecs_ != nullptr && retrySpecs_->First(); more;
           more = retrySpecs_->Next()) {
        SQLRetrySpec &spec = retrySpecs_->GetCurrent();
        if (spec.parameter != nullptr && spec.saved != nullptr) spec.parameter->BindVS(spec.saved);
      }
      form = kRetryForm;
    }
    int rows = 0;
    return Traced(id_, "Retry", ExecOrRetry(form, &rows));
  } catch (...) {
    return Traced(id_, "Retry", RecordCaughtException(false));
  }
}
