#include "sql/validate/vtsc_row_value.h"

#include <memory>

#include "sql/common/sql_logger.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_support.h"

SQLVTSCRowValueConstr::~SQLVTSCRowValueConstr() {
  for (bool more = elements_->First(); more; more = elements_->Next()) delete elements_->GetCurrent();
  delete elements_;
}

void SQLVTSCRowValueConstr::Truncate(int n) {
  if (elements_->NrElements() <= n) return;
  int position = 0;
  for (bool more = elements_->First(); more; more = elements_->Next()) {
    if (position++ < n) continue;
    delete elements_->GetCurrent();
    elements_->DeleteCurrent();
  }
}

void SQLVTSCRowValueConstr::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  for (bool more = elements_->First(); more; more = elements_->Next()) {
    elements_->GetCurrent()->MapColumnIds(level, mappings);
  }
}

pSQLRSSCValueExprList *SQLVTSCRowValueConstr::CreateRSValueExprList() {
  auto list = std::make_unique<pSQLRSSCValueExprList>();
  try {
    for (bool more = elements_->First(); more; more = elements_->Next()) {
      list->Append(elements_->GetCurrent()->CreateRS());
    }
  } catch (...) {
    for (bool more = list->First(); more; more = list->Next()) delete list->GetCurrent();
    throw;
  }
  return list.release();
}

SQLVTSCIdentifier *SQLVTSCRowValueConstr::AsIdentifier() {
  return elements_->First() ? elements_->GetCurrent()->AsIdentifier() : nullptr;
}

void SQLVTSCRowValueConstr::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "( ";
  bool first = true;
  for (bool more = elements_->First(); more; more = elements_->Next()) {
    if (!first && tracing) log << ", ";
    first = false;
    elements_->GetCurrent()->Log();
  }
  if (tracing) log << " )";
}

void SQLVTSCRowValueConstr::ResolveElements(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                            SQLVTWhereUsedMgr *whereUsed) {
  for (bool more = elements_->First(); more; more = elements_->Next()) {
    std::unique_ptr<SQLVTSCValueExpr> element(elements_->GetCurrent());
    try {
      SQLVTResolveOperand(&element, scope, treeData, flags, whereUsed, false);
    } catch (...) {
      element.release();  // still in the list
      throw;
    }
    elements_->SetCurrent(element.release());
    SQLVTSCValueExpr *resolved = elements_->GetCurrent();
    if (resolved->IsPseudoColumnRef()) {
      SQLVTThrow("42I11",
                 std::string("Combined column '") + static_cast<SQLVTSCPseudoColumnRef *>(resolved)->GetName() +
                     "' used in combined",
                 GetLineNumber());
    }
  }
}

bool SQLVTSCRowValueConstr::CopyElementsTo(SQLVTSCRowValueConstr *row) {
  for (bool more = elements_->First(); more; more = elements_->Next()) {
    std::unique_ptr<SQLVTSCValueExpr> copy(elements_->GetCurrent()->Copy());
    if (copy == nullptr) return false;
    row->elements_->Append(copy.get());
    static_cast<void>(copy.release());
  }
  return true;
}

SQLVTSCRowValueConstr *SQLVTSCGenericRowValueConstr::Copy() {
  auto row = std::make_unique<SQLVTSCGenericRowValueConstr>();
  return CopyElementsTo(row.get()) ? row.release() : nullptr;
}

SQLVTSCRowValueConstr *SQLVTSCGenericRowValueConstr::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData,
                                                                         int flags, SQLVTWhereUsedMgr *whereUsed) {
  ResolveElements(scope, treeData, flags, whereUsed);
  return this;
}

SQLVTSCImplicitRowValueConstr::SQLVTSCImplicitRowValueConstr(std::unique_ptr<SQLVTSCValueExpr> element) {
  Elements()->Append(element.get());
  static_cast<void>(element.release());
}

void SQLVTSCImplicitRowValueConstr::Append(SQLVTSCValueExpr *element) { Elements()->Append(element); }

SQLVTSCRowValueConstr *SQLVTSCImplicitRowValueConstr::Copy() {
  if (!First()) return nullptr;
  std::unique_ptr<SQLVTSCValueExpr> copy(GetCurrent()->Copy());
  if (copy == nullptr) return nullptr;
  return new SQLVTSCImplicitRowValueConstr(std::move(copy));
}

SQLVTSCRowValueConstr *SQLVTSCImplicitRowValueConstr::MapColumnNamesToIds(SQLVTScope *scope,
                                                                          SQLVTreeData *treeData, int flags,
                                                                          SQLVTWhereUsedMgr *whereUsed) {
  if (!First()) return this;
  std::unique_ptr<SQLVTSCValueExpr> element(GetCurrent());
  try {
    SQLVTResolveOperand(&element, scope, treeData, flags, whereUsed, false);
  } catch (...) {
    element.release();  // still in the list
    throw;
  }
  if (!element->IsPseudoColumnRef()) {
    SetCurrent(element.release());
    return this;
  }
  DeleteCurrent();  // the combined column leaves the list
  auto *pseudo = static_cast<SQLVTSCPseudoColumnRef *>(element.release());
  SQLVTSCRowValueConstr *row = pseudo->ConvertToRowValueConstr();
  row->SetLineNumber(GetLineNumber());
  delete this;
  return row;
}

SQLVTSCRowValueConstr *SQLVTSCPseudoColRowValueConstr::Copy() {
  auto row = std::make_unique<SQLVTSCPseudoColRowValueConstr>(name_.c_str(), nullptr);
  return CopyElementsTo(row.get()) ? row.release() : nullptr;
}

SQLVTSCRowValueConstr *SQLVTSCPseudoColRowValueConstr::MapColumnNamesToIds(SQLVTScope *scope,
                                                                           SQLVTreeData *treeData, int flags,
                                                                           SQLVTWhereUsedMgr *whereUsed) {
  ResolveElements(scope, treeData, flags, whereUsed);
  return this;
}

// The pseudo-column reference's conversion lives here, beside the
// constructor it builds.
SQLVTSCRowValueConstr *SQLVTSCPseudoColumnRef::ConvertToRowValueConstr() {
  std::unique_ptr<SQLVTSCPseudoColumnRef> self(this);
  // The constructor's memory is had before it takes the members over.
  return new SQLVTSCPseudoColRowValueConstr(name_.c_str(), ReleaseMembers());
}
