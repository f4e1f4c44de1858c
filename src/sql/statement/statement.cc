// SQLStatement: construction, the common checks of every operation,
// binding, describe, reset and close.
#include "sql/statement/statement.h"

#include <cstring>
#include <new>
#include <utility>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_state.h"
#include "sql/common/sql_util.h"
#include "sql/exec/exec_tree.h"
#include "sql/statement/short_array.h"
#include "sql/statement/sql_processor.h"
#include "sql/statement/statement_cache.h"
#include "sql/statement/statement_data.h"
#include "sql/statement/statement_trace.h"

unsigned long SQLStatement::_idCounter = 1;

void StatementTraceCall(unsigned long id, long flag, char const *call) {
  SQLLogger *log = SQLLogger::Instance();
  if (!log->LogFlagIsSet(flag)) return;
  *log << "[" << id << "] SQLStatement::" << call << endl;
}

void StatementTraceReturn(unsigned long id, long flag, char const *operation, int result) {
  SQLLogger *log = SQLLogger::Instance();
  if (!log->LogFlagIsSet(flag)) return;
  *log << "[" << id << "] SQLStatement::" << operation << "() returns " << result << endl;
}

namespace {

SQLString Number(long n) { return SQLString(long_to_ascii(n)); }

// Traces the exit of an operation with its result and hands the result on.
int Traced(unsigned long id, long flag, char const *operation, int result) {
  StatementTraceReturn(id, flag, operation, result);
  return result;
}

}  // namespace

SQLStatement::SQLStatement() : id_(_idCounter++) {
  // The trace logger is made now, when a failure fails only the
  // construction, so that no later trace line of the statement allocates.
  if (StatementTraceOn(SQLLogger::Interface)) {
    *SQLLogger::Instance() << "[" << id_ << "] SQLStatement::Constructor" << endl;
  }
}

SQLStatement::~SQLStatement() {
  if (StatementTraceOn(SQLLogger::Interface)) {
    *SQLLogger::Instance() << "[" << id_ << "] SQLStatement::Destructor" << endl;
  }
  reset(false);
}

// ---------------------------------------------------------------------------
// Common parts.

void SQLStatement::AddRecord(char const *sqlState, SQLString const &message, long nativeError,
                             int line) {
  diag_.CreateDiagRec(sqlState, nativeError, message, line);
}

bool SQLStatement::CheckState(char const *operation, int acceptedMask, char const *word) {
  if ((acceptedMask & (1 << state_)) != 0) return true;
  AddRecord(stmtstate::kSequenceError,
            SQLString("Function sequence error - ") + SQLString(word ? word : operation) +
                SQLString(" called out of sequence"));
  return false;
}

bool SQLStatement::CheckParameterNumber(int n) {
  if (n >= 0 && n < parameterCount_) return true;
  AddRecord(stmtstate::kInvalidParameter, SQLString("Invalid parameter number ") + Number(n));
  return false;
}

bool SQLStatement::CheckOpenCursor() {
  if (cursorOpen_) return true;
  AddRecord(sqlstate::kInvalidCursorState, SQLString(stmtstate::kNoCursor));
  return false;
}

int SQLStatement::RecordCaughtException(bool withLine) {
  try {
    throw;
  } catch (SQLExSyntaxError const &e) {
    AddRecord(e.GetSQLState(), *e.GetMessageText(), e.GetZDBError(),
              withLine ? e.GetLineNumber() : 0);
  } catch (SQLException const &e) {
    AddRecord(e.GetSQLState(), *e.GetMessageText(), e.GetZDBError());
  } catch (std::bad_alloc const &) {
    AddRecord(sqlstate::kOutOfMemory, SQLProcessor::NoMoreMemory(), sqlerr::kOutOfMemory);
  } catch (...) {
    // Nothing of ours: no record, only the failure.
  }
  return -1;
}

bool SQLStatement::IsSelect() const {
  return data_ != nullptr && data_->GetTreeData() != nullptr &&
         data_->GetTreeData()->GetStmtType() == SQL_STMT_SELECT;
}

short SQLStatement::GetDiagRec(short n, char *sqlState, long *nativeError, char *message,
                               short bufferLength, short *textLength, int *lineNumber) const {
  try {
    return diag_.GetDiagRec(n, sqlState, nativeError, message, bufferLength, textLength,
                            lineNumber);
  } catch (...) {
    return -1;
  }
}

unsigned long SQLStatement::GetOriginalId() const { return data_ ? data_->GetId() : 0; }

// ---------------------------------------------------------------------------
// Binding.

namespace {
constexpr int kBindStates = (1 << SQLStatement::kPrepared) | (1 << SQLStatement::kExecuted) |
                            (1 << SQLStatement::kSoftClosed);
constexpr int kDescribeStates = (1 << SQLStatement::kPrepared) | (1 << SQLStatement::kExecuted);
}  // namespace

// The record carries the refusal's own number (312), as the raw value of
// length 0 carries 316: a host that reads only the number still learns why.
void SQLStatement::createInvalidParameterTypeError(int n, SQLType boundType) {
  Parameter const &p = parameters_[n];
  SQLString name(p.name ? p.name.get() : "");
  SQLType cellType = p.cell.GetType();
  if (cellType == SQL_UNDEFINED) {
    AddRecord(sqlstate::kInvalidParameterType,
              SQLString("No appropriate type could be derived for parameter '") + name +
                  SQLString("'"),
              sqlerr::kInvalidParameterType);
    return;
  }
  AddRecord(sqlstate::kInvalidParameterType,
            SQLString("Parameter '") + name + SQLString("'") + SQLString(" should be of type ") +
                SQLString(SQLGetTypeName(cellType)) + SQLString(" instead of type ") +
                SQLString(SQLGetTypeName(boundType)),
            sqlerr::kInvalidParameterType);
}

// Every bind: the state and number checks, then the cell's own bind. A value
// the cell refuses, whatever the reason (a type mismatch, a number out of
// the parameter's range, a zero-length raw value), is an error of this bind
// and leaves the cell and its bound flag as they were.
template <class Body>
int SQLStatement::Bind(char const *operation, int n, SQLType boundType, Body body) {
  diag_.Empty();
  if (StatementTraceOn(SQLLogger::Interface)) {
    *SQLLogger::Instance() << "[" << id_ << "] SQLStatement::" << operation << "( ParamNr=" << n
                           << " )" << endl;
  }
  if (!CheckState(operation, kBindStates) || !CheckParameterNumber(n)) {
    return Traced(id_, SQLLogger::Interface, operation, -1);
  }
  try {
    body(parameters_[n].cell);
    parameters_[n].bound = true;
    return Traced(id_, SQLLogger::Interface, operation, 0);
  } catch (SQLExInvalidParameterType const &) {
    createInvalidParameterTypeError(n, boundType);
  } catch (SQLExZeroLengthRawBound const &e) {
    char const *name = parameters_[n].name ? parameters_[n].name.get() : "";
    AddRecord(e.GetSQLState(),
              SQLString("Parameter '") + SQLString(name) +
                  SQLString("' of type RAW cannot take a value of length 0"),
              e.GetZDBError());
  } catch (...) {
    RecordCaughtException(false);
  }
  return Traced(id_, SQLLogger::Interface, operation, -1);
}

int SQLStatement::BindInteger(int n, long value) {
  return Bind("BindInteger", n, SQL_INTEGER, [value](SQLParameter &p) { p.BindInteger(value); });
}

int SQLStatement::BindReal(int n, double value) {
  return Bind("BindReal", n, SQL_REAL, [value](SQLParameter &p) { p.BindReal(value); });
}

int SQLStatement::BindString(int n, unsigned char const *bytes, unsigned long length) {
  return Bind("BindString", n, SQL_STRING,
              [bytes, length](SQLParameter &p) { p.BindString(bytes, length); });
}

int SQLStatement::BindRaw(int n, unsigned char const *bytes, unsigned long length) {
  return Bind("BindRaw", n, SQL_RAW, [bytes, length](SQLParameter &p) { p.BindRaw(bytes, length); });
}

int SQLStatement::BindDate(int n, long dayNumber) {
  return Bind("BindDate", n, SQL_DATE, [dayNumber](SQLParameter &p) { p.BindDate(dayNumber); });
}

int SQLStatement::BindTimestamp(int n, std::int64_t seconds) {
  return Bind("BindTimestamp", n, SQL_TIMESTAMP, [seconds](SQLParameter &p) {
    if (seconds < 0) {
      throw SQLException(stmtstate::kTimestampRange, 0,
                         SQLString("Timestamp ") + SQLString(bs8_to_ascii(seconds)) +
                             SQLString(" is out of range. It should be at least 0"));
    }
    p.BindTimestamp(seconds);
  });
}

// ---------------------------------------------------------------------------
// Describe.

int SQLStatement::GetParameterDesc(int n, char const **name, SQLType *type) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::InterfaceDetailed, "GetParameterDesc()");
  if (!CheckState("GetParameterDesc", kBindStates, "GetParameterName") ||
      !CheckParameterNumber(n)) {
    return Traced(id_, SQLLogger::InterfaceDetailed, "GetParameterDesc", -1);
  }
  if (name != nullptr) *name = parameters_[n].name.get();
  if (type != nullptr) *type = parameters_[n].cell.GetType();
  return Traced(id_, SQLLogger::InterfaceDetailed, "GetParameterDesc", 0);
}

int SQLStatement::NumParameters(int *count) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::InterfaceDetailed, "NumParameters()");
  if (!CheckState("NumParameters", kDescribeStates)) {
    return Traced(id_, SQLLogger::InterfaceDetailed, "NumParameters", -1);
  }
  if (count != nullptr) *count = parameterCount_;
  return Traced(id_, SQLLogger::InterfaceDetailed, "NumParameters", 0);
}

int SQLStatement::NumResultCols(int *count) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::InterfaceDetailed, "NumResultCols()");
  if (!CheckState("NumResultCols", kDescribeStates)) {
    return Traced(id_, SQLLogger::InterfaceDetailed, "NumResultCols", -1);
  }
  if (count != nullptr) *count = resultColumns_;
  return Traced(id_, SQLLogger::InterfaceDetailed, "NumResultCols", 0);
}

int SQLStatement::GetStatementType(SQLStmtType *type) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::InterfaceDetailed, "GetStatementType()");
  if (!CheckState("GetStatementType", kDescribeStates)) {
    return Traced(id_, SQLLogger::InterfaceDetailed, "GetStatementType", -1);
  }
  SQLStmtType t = data_->GetTreeData()->GetStmtType();
  if (StatementTraceOn(SQLLogger::InterfaceDetailed)) {
    char const *name = t == SQL_STMT_SELECT   ? "Select"
                       : t == SQL_STMT_UPDATE ? "Update"
                       : t == SQL_STMT_DELETE ? "Delete"
                                              : nullptr;
    if (name == nullptr) SQLAbort(__FILE__, __LINE__, "Unexpected statement type %d", t);
    *SQLLogger::Instance() << "   StatementType: " << name << endl;
  }
  if (type != nullptr) *type = t;
  return Traced(id_, SQLLogger::InterfaceDetailed, "GetStatementType", 0);
}

int SQLStatement::GetColumnDescriptor(int column, SQLColumnDescriptor const **descriptor) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::InterfaceDetailed, "GetColumnDescriptor()");
  if (!CheckState("GetColumnDescriptor", kDescribeStates)) {
    return Traced(id_, SQLLogger::InterfaceDetailed, "GetColumnDescriptor", -1);
  }
  if (!IsSelect()) {
    AddRecord(stmtstate::kNotCursorSpec,
              SQLString("Prepared statement is not a cursor specification - invalid call to "
                        "GetColumnDescriptor"));
    return Traced(id_, SQLLogger::InterfaceDetailed, "GetColumnDescriptor", -1);
  }
  DynamicArray<SQLColumnDescriptor> *descriptors = data_->GetTreeData()->GetColumnDescriptors();
  if (column < 0 || column >= resultColumns_ || descriptors == nullptr ||
      column >= descriptors->NrElements()) {
    AddRecord(stmtstate::kInvalidColumn, SQLString("Invalid column numnber ") + Number(column));
    return Traced(id_, SQLLogger::InterfaceDetailed, "GetColumnDescriptor", -1);
  }
  if (descriptor != nullptr) *descriptor = &descriptors->Get(column);
  return Traced(id_, SQLLogger::InterfaceDetailed, "GetColumnDescriptor", 0);
}

int SQLStatement::GetSelectTarget(int column, char const **name, bool *derived) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::InterfaceDetailed, "GetSelectTarget()");
  if (!CheckState("GetSelectTarget", kDescribeStates, "GetResultColParameterName")) {
    return Traced(id_, SQLLogger::InterfaceDetailed, "GetSelectTarget", -1);
  }
  if (!IsSelect()) {
    AddRecord(stmtstate::kNotCursorSpec,
              SQLString("Prepared statement is not a cursor specification - invalid call to "
                        "DescribeResultCol"));
    return Traced(id_, SQLLogger::InterfaceDetailed, "GetSelectTarget", -1);
  }
  if (column < 0 || column >= resultColumns_ || selectTargets_.IsNull() ||
      column >= selectTargets_->NrElements()) {
    AddRecord(stmtstate::kInvalidColumn, SQLString("Invalid column number ") + Number(column));
    return Traced(id_, SQLLogger::InterfaceDetailed, "GetSelectTarget", -1);
  }
  char const *targetName = nullptr;
  bool targetDerived = false;
  selectTargets_->Get(column, &targetName, &targetDerived);
  if (name != nullptr) *name = targetName;
  if (derived != nullptr) *derived = targetDerived;
  return Traced(id_, SQLLogger::InterfaceDetailed, "GetSelectTarget", 0);
}

int SQLStatement::GetSelectStarTables(List<SQLSelectStarTable> const **tables) {
  diag_.Empty();
  StatementTraceCall(id_, SQLLogger::InterfaceDetailed, "GetSelectStarTables()");
  if (!CheckState("GetSelectStarTables", kDescribeStates, "GetSelectStarTables ")) {
    return Traced(id_, SQLLogger::InterfaceDetailed, "GetSelectStarTables", -1);
  }
  if (tables != nullptr) *tables = selectStarTables_.Get();
  return Traced(id_, SQLLogger::InterfaceDetailed, "GetSelectStarTables", 0);
}

// ---------------------------------------------------------------------------
// Reset and close.

void SQLStatement::ParkExecTree() {
  if (execTree_ == nullptr) return;
  try {
    if (state_ == kExecuted && cursorOpen_) {
      cursorOpen_ = false;
      state_ = kPrepared;
      execTree_->Break();
    }
    if (attached_) {
      attached_ = false;
      execTree_->Close();
    }
  } catch (...) {
    // A tree that cannot be broken is not fit to run again: it is destroyed
    // instead of parked.
    execTree_.reset();
    execTreeId_.reset();
    return;
  }
  if (data_ != nullptr && execTreeId_ != nullptr) {
    data_->RecycleExecTree(std::move(execTreeId_), std::move(execTree_));
  }
  execTree_.reset();
  execTreeId_.reset();
}

bool SQLStatement::reset(bool soft) {
  std::unique_ptr<char[]> kept;
  if (soft && text_ != nullptr) {
    try {
      std::size_t n = std::strlen(text_.get()) + 1;
      kept.reset(new char[n]);
      std::memcpy(kept.get(), text_.get(), n);
    } catch (std::bad_alloc const &) {
      return false;  // the statement stays prepared
    }
  }
  if (!soft) RemoveFromStatementPool(this);
  if (data_ != nullptr) {
    ParkExecTree();
    SQLStatementCache::Park(std::move(text_), std::move(data_));
    text_ = std::move(kept);
  }
  execTree_.reset();
  execTreeId_.reset();
  defaultCompnr_ = nullptr;
  compnrParameters_ = nullptr;
  retrySpecs_ = nullptr;
  retryFilter_ = nullptr;
  if (!soft) {
    text_.reset();
    parameters_.reset();
    parameterCount_ = 0;
    selectTargets_ = RefPtr<SQLSelectTargetArray>();
    selectStarTables_ = RefPtr<SQLSelectStarTableList>();
    bufferSize_ = -1;
    resultColumns_ = 0;
  }
  cursorOpen_ = false;
  attached_ = false;
  state_ = kNew;
  return true;
}

int SQLStatement::Close() {
  if (state_ == kExecuted) {
    if (cursorOpen_ && execTree_ != nullptr) {
      cursorOpen_ = false;
      try {
        execTree_->Break();
      } catch (...) {
        // The tree is destroyed by the reset below rather than parked.
        execTree_.reset();
        execTreeId_.reset();
      }
    }
    cursorOpen_ = false;
    state_ = kPrepared;
  }
  if (state_ != kPrepared && state_ != kSoftClosed) {
    AddRecord(stmtstate::kSequenceError,
              SQLString("Function sequence error - Close called out of sequence"));
    return -1;
  }
  reset(false);
  return 0;
}
