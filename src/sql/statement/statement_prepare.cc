// SQLStatement: prepare.
//
// A prepare first looks its text up in the statement cache: data prepared
// earlier for an equal text and mode still holds its validated tree, its
// column descriptors and its parked execution trees, and is taken as it is.
// Otherwise the parser builds the tree into new data, names are resolved,
// the company-number sets simplified and the tree validated. Either way the
// statement then takes what it needs from the tree data, builds its
// parameter array and joins the pool of its session.
//
// A soft prepare re-prepares a soft-closed statement from its kept text:
// the statement keeps its parameter array with the bindings, its select
// targets and select-star tables (which the classic API's handle points
// into), and hands them to the data it takes.
#include <cstring>
#include <new>
#include <utility>

#include "sql/common/sql_exception.h"
#include "sql/common/sql_state.h"
#include "sql/front/sql_parse.h"
#include "sql/statement/statement.h"
#include "sql/statement/statement_cache.h"
#include "sql/statement/statement_data.h"
#include "sql/statement/statement_trace.h"
#include "sql/statement/statement_tree_passes.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_scope.h"

namespace {

SQLStatement::ParseFunction g_parse = &SQLParse;

std::unique_ptr<char[]> CopyText(char const *text) {
  std::size_t n = std::strlen(text) + 1;
  std::unique_ptr<char[]> copy(new char[n]);
  std::memcpy(copy.get(), text, n);
  return copy;
}

// The option word of name resolution for a prepare mode.
int NameResolutionOptions(int mode) {
  int options = (mode & 0x20) != 0 ? 5 : 1;
  if ((mode & 0x10) != 0) options |= 0x10;
  if ((mode & 0x40) != 0) options |= 8;
  return options;
}

void LogTree(char const *title, SQLVTNode const *root) {
  SQLLogger *log = SQLLogger::Instance();
  if (!log->LogFlagIsSet(SQLLogger::Tree::Vt)) return;
  *log << title << endl;
  root->Log();
  *log << endl;
}

void LogTargets(SQLVTreeData *treeData) {
  SQLLogger *log = SQLLogger::Instance();
  if (!log->LogFlagIsSet(SQLLogger::Tree::Vt)) return;
  *log << "SQL Select targets:" << endl;
  RefPtr<SQLSelectTargetArray> targets = treeData->GetSelectTargetArray();
  for (int i = 0; targets && i < targets->NrElements(); ++i) {
    *log << treeData->SelectTargetLine(i).c_str() << endl;
  }
  *log << "SQL Select star tables:" << endl;
  RefPtr<SQLSelectStarTableList> stars = treeData->GetSelectStarTableList();
  if (!stars) return;
  for (bool more = stars->First(); more; more = stars->Next()) {
    SQLSelectStarTable const &t = stars->GetCurrent();
    *log << " Name: " << t.GetName() << " ForUpdate: " << t.IsForUpdate() << endl;
  }
}

}  // namespace

void SQLStatement::SetParseFunction(ParseFunction parse) {
  g_parse = parse != nullptr ? parse : &SQLParse;
}

int SQLStatement::Prepare(char const *text, unsigned long sessionId, int mode) {
  if (_softCloseEnabled == -1) InitStatics();
  return CommonPrepare(text, sessionId, mode, true);
}

int SQLStatement::SoftPrepare(char const *text, unsigned long sessionId, int mode) {
  return CommonPrepare(text, sessionId, mode, false);
}

int SQLStatement::CommonPrepare(char const *text, unsigned long sessionId, int mode, bool full) {
  char const *operation = full ? "Prepare" : "SoftPrepare";
  diag_.Empty();
  if (StatementTraceOn(SQLLogger::Interface)) {
    SQLLogger &log = *SQLLogger::Instance();
    log << "[" << id_ << "] SQLStatement::" << operation << "( SessionId=" << sessionId
        << " Mode=" << mode << " )" << endl;
    log << "StatementText:" << endl << (text ? text : "<NULL>") << endl;
  }
  if (cursorOpen_) {
    AddRecord(sqlstate::kInvalidCursorState, SQLString(stmtstate::kCursorOpen));
    StatementTraceReturn(id_, SQLLogger::Interface, operation, -1);
    return -1;
  }
  int result = 0;
  try {
    if (text == nullptr) throw SQLException(stmtstate::kNullPointer, 0,
                                            SQLString("Invalid use of null pointer"));
    doPrepare(text, sessionId, mode, full);
  } catch (...) {
    result = RecordCaughtException(true);
    // A failed prepare leaves nothing to describe or execute: a full prepare
    // leaves a new statement, a soft prepare a soft-closed one without text.
    if (full) {
      reset(false);
    } else {
      data_.reset();
      text_.reset();
    }
  }
  StatementTraceReturn(id_, SQLLogger::Interface, operation, result);
  return result;
}

void SQLStatement::doPrepare(char const *callerText, unsigned long sessionId, int mode,
                             bool full) {
  // The caller's text may be the statement's own, which the reset frees.
  std::unique_ptr<char[]> text = CopyText(callerText);
  if (state_ == kSoftClosed && !full) {
    RemoveFromStatementPool(this);
  } else if (state_ != kNew) {
    reset(false);
  }
  bool reparse = false;
  if (data_ == nullptr) TakeCachedData(text.get(), mode, full);
  if (data_ != nullptr && data_->GetRoot() == nullptr) reparse = true;
  if (data_ == nullptr || reparse) {
    if (data_ == nullptr) {
      data_ = std::make_unique<SQLStatementData>(id_, mode);
      data_->SetTreeData(SQLVTOwnTreeData(new SQLVTreeData()));
    }
    try {
      ParseAndValidate(text.get(), mode, full, reparse);
    } catch (...) {
      data_.reset();
      throw;
    }
  }
  text_ = std::move(text);
  TakeTreeData();
  createParameterArray();
  sessionId_ = sessionId;
  try {
    AddToStatementPool(this);
  } catch (...) {
    sessionId_ = 0;
    throw;
  }
  mode_ = mode;
  state_ = kPrepared;
  if (full) lastBreakTime_ = -2;
}

bool SQLStatement::TakeCachedData(char const *text, int mode, bool full) {
  data_ = SQLStatementCache::Lookup(text, mode);
  if (data_ == nullptr) return false;
  SQLVTreeData *treeData = data_->GetTreeData();
  if (full) {
    selectTargets_ = treeData->GetSelectTargetArray();
    selectStarTables_ = treeData->GetSelectStarTableList();
  } else if (selectTargets_) {
    treeData->SetSelectTargetArray(selectTargets_);
  }
  return true;
}

void SQLStatement::ParseAndValidate(char const *text, int mode, bool full, bool reparse) {
  SQLVTreeData *treeData = data_->GetTreeData();
  SQLVTOwner<SQLVTNode> root = SQLVTOwnNode(g_parse(text, mode, treeData));
  if (root == nullptr) {
    throw SQLExSyntaxError("42I00", SQLString("The statement text holds no statement"), 0);
  }
  LogTree("SQL validated tree after parse:", root.get());

  SQLVTScope scope;
  SQLVTNode *mapped = root->MapColumnNamesToIds(&scope, treeData, NameResolutionOptions(mode),
                                                nullptr,
                                                whereUsed_.GetCallback() ? &whereUsed_ : nullptr);
  if (mapped != root.get()) {
    root.release();  // the replacing node took the old root over
    root = SQLVTOwnNode(mapped);
  }

  SQLStatementCompnrPasses(treeData, (mode & 0x10) != 0);

  if ((!full || reparse) && selectTargets_) {
    treeData->SetSelectTargetArray(selectTargets_);
  } else {
    selectTargets_ = treeData->GetSelectTargetArray();
    selectStarTables_ = treeData->GetSelectStarTableList();
  }
  LogTree("SQL validated tree after resolving column names:", root.get());
  LogTargets(treeData);

  root->Validate();
  if (treeData->GetStmtType() == SQL_STMT_SELECT && !reparse) {
    auto descriptors = std::make_unique<DynamicArray<SQLColumnDescriptor>>(10);
    int n = root->GetNumCols();
    for (int i = 0; i < n; ++i) descriptors->Insert(*root->GetColumnDescriptor(i));
    treeData->SetColumnDescriptors(std::move(descriptors));
  }
  data_->SetRoot(std::move(root));
}

void SQLStatement::TakeTreeData() {
  SQLVTreeData *treeData = data_->GetTreeData();
  defaultCompnr_ = treeData->GetDefaultCompnrParameter();
  compnrParameters_ = &treeData->GetCompnrParameters();
  resultColumns_ = 0;
  if (treeData->GetStmtType() == SQL_STMT_SELECT && treeData->GetColumnDescriptors() != nullptr) {
    resultColumns_ = treeData->GetColumnDescriptors()->NrElements();
  }
  retryFilter_ = treeData->GetRetryFilter();
  retrySpecs_ = treeData->GetRetrySpecs();
  retryClauseType_ = treeData->GetRetryClauseType();
}

void SQLStatement::createParameterArray() {
  pSQLNamedParameterList *list = data_->GetTreeData()->GetNamedParameters();
  if (list == nullptr || list->NrElements() == 0) {
    parameters_.reset();
    parameterCount_ = 0;
    return;
  }
  // An array kept through a soft close belongs to the same text and keeps
  // its bindings; any other is built anew.
  if (parameters_ == nullptr || parameterCount_ != list->NrElements()) {
    parameters_ = std::make_unique<Parameter[]>(static_cast<std::size_t>(list->NrElements()));
    parameterCount_ = list->NrElements();
  }
  int i = 0;
  for (bool more = list->First(); more; more = list->Next(), ++i) {
    SQLNamedParameter *named = list->GetCurrent();
    Parameter &p = parameters_[i];
    p.treeParameter = named->GetParameter();
    if (p.name == nullptr || std::strcmp(p.name.get(), named->GetName()) != 0) {
      p.name = CopyText(named->GetName());
    }
    p.cell.SetType(p.treeParameter->GetType(), 0, 1);
    p.cell.SetNumericTypeOpen(p.treeParameter->GetNumericTypeOpen());
  }
}
