#include "sql/validate/vt_clear_unref.h"

#include "platform/user.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtsc_support.h"

using ClearUnrefOp = SQLRSClearUnref::SQLRSClearUnrefOp;

ClearUnrefOp *SQLVTClearUnrefColumns::CreateOp(ClearUnrefOp::SQLRSClearUnrefMode mode,
                                               List<SQLRSSCValueExpr *> *foreignKey) const {
  std::unique_ptr<List<SQLRSSCValueExpr *>> key(foreignKey);
  auto columns = std::make_unique<List<int>>();
  for (int c : columns_) columns->Append(c);
  auto *op = new ClearUnrefOp(columns.get(), mode, key.get());
  static_cast<void>(columns.release());
  static_cast<void>(key.release());
  return op;
}

void SQLVTClearUnrefColumns::LogColumns() const {
  SQLLogger &log = *SQLLogger::Instance();
  log << "ColumnIds:";
  for (size_t i = 0; i < columns_.size(); ++i) log << (i == 0 ? " " : ", ") << columns_[i];
}

ClearUnrefOp *SQLVTClearSpec::CreateRSClearUnrefOp() const { return CreateOp(ClearUnrefOp::Clear, nullptr); }

void SQLVTClearSpec::Log() const {
  if (!SQLVTTracing()) return;
  *SQLLogger::Instance() << "ClearSpec(";
  LogColumns();
  *SQLLogger::Instance() << ")";
}

ClearUnrefOp *SQLVTUnrefSpec::CreateRSClearUnrefOp() const { return CreateOp(ClearUnrefOp::Unref, nullptr); }

void SQLVTUnrefSpec::Log() const {
  if (!SQLVTTracing()) return;
  *SQLLogger::Instance() << "UnrefSpec(";
  LogColumns();
  *SQLLogger::Instance() << ")";
}

ClearUnrefOp *SQLVTClearUnrefSpec::CreateRSClearUnrefOp() const {
  return CreateOp(ClearUnrefOp::ClearUnref, key_->CreateRS());
}

void SQLVTClearUnrefSpec::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "ClearUnrefSpec(";
  LogColumns();
  log << ", Key: ";
  key_->Log();
  log << ")";
}

SQLVTClearUnref::~SQLVTClearUnref() = default;

SQLVTRetryFilter *SQLVTClearUnref::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTClearUnref::BuildRetryFilter() called");
}

SQLVTNode *SQLVTClearUnref::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                List<char const *> *restrictedQualifiers,
                                                SQLVTWhereUsedMgr *whereUsed) {
  ReplaceChild(GetChild()->MapColumnNamesToIds(scope, treeData, flags | 2, restrictedQualifiers, whereUsed));
  numCols_ = scope->GetNumCols();
  for (int i = 0; i < numCols_; ++i) {
    SQLVTNullSpec spec = SQL_NULLSPEC_NONE;
    RefPtr<SQLVTClearUnrefKey> key;
    scope->GetColumnNullSpec(i, &spec, &key);
    switch (spec) {
      case SQL_NULLSPEC_CLEAR:
        if (!clear_) clear_ = std::make_unique<SQLVTClearSpec>();
        clear_->Append(i);
        break;
      case SQL_NULLSPEC_SET_UNREF:
        if (!unref_) unref_ = std::make_unique<SQLVTUnrefSpec>();
        unref_->Append(i);
        break;
      case SQL_NULLSPEC_CLEAR_UNREF: {
        if (!key) break;  // no foreign key to tell an empty key from a missing row
        SQLVTClearUnrefSpec *match = nullptr;
        for (auto const &s : clearUnref_) {
          if (s->GetKey()->GetId() == key->GetId()) match = s.get();
        }
        if (match == nullptr) {
          clearUnref_.push_back(std::make_unique<SQLVTClearUnrefSpec>(key));
          match = clearUnref_.back().get();
        }
        match->Append(i);
        break;
      }
      default:
        break;
    }
  }
  return this;
}

SQLRowSource *SQLVTClearUnref::DoCreateRS() {
  std::unique_ptr<SQLRowSource> child(GetChild()->CreateRS());
  auto ops = std::make_unique<List<ClearUnrefOp *>>();
  try {
    if (unref_) ops->Append(unref_->CreateRSClearUnrefOp());
    if (clear_) ops->Append(clear_->CreateRSClearUnrefOp());
    for (auto const &s : clearUnref_) ops->Append(s->CreateRSClearUnrefOp());
  } catch (...) {
    for (bool more = ops->First(); more; more = ops->Next()) delete ops->GetCurrent();
    throw;
  }
  char noReference = user_info.noref_ch != 0 ? user_info.noref_ch : '*';
  // The row source owns both once it is allocated, also when its
  // constructor throws; a failed allocation leaves them here.
  try {
    return new SQLRSClearUnref(child.release(), ops.release(), noReference);
  } catch (...) {
    if (ops != nullptr)
      for (bool more = ops->First(); more; more = ops->Next()) delete ops->GetCurrent();
    throw;
  }
}

void SQLVTClearUnref::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTClearUnref(" << endl << incind;
  if (clear_) {
    clear_->Log();
    if (tracing) log << endl;
  }
  if (unref_) {
    unref_->Log();
    if (tracing) log << endl;
  }
  for (auto const &s : clearUnref_) {
    s->Log();
    if (tracing) log << endl;
  }
  LogHintsAndChild("Child:");
  if (tracing) log << decind << ")" << endl;
}
