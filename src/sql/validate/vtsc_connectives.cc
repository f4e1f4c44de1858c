#include "sql/validate/vtsc_connectives.h"

#include <memory>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/validate/vtsc_support.h"

pSQLRSSCSearchCondList *SQLVTCreateRSSearchCondList(pSQLVTSCSearchCondList *list) {
  auto *result = new pSQLRSSCSearchCondList();
  try {
    for (bool ok = list->First(); ok; ok = list->Next()) {
      std::unique_ptr<SQLRSSCSearchCond> cond(list->GetCurrent()->CreateRS());
      result->Append(cond.get());
      static_cast<void>(cond.release());
    }
  } catch (...) {
    SQLVTDeleteRSSearchCondList(result);
    throw;
  }
  return result;
}

void SQLVTLogSearchCondList(pSQLVTSCSearchCondList const *list) {
  // The cursor is part of the list, not of its contents.
  auto *walk = const_cast<pSQLVTSCSearchCondList *>(list);
  bool tracing = SQLVTTracing();
  bool first = true;
  for (bool ok = walk->First(); ok; ok = walk->Next()) {
    if (!first && tracing) *SQLLogger::Instance() << ", ";
    first = false;
    walk->GetCurrent()->Log();
  }
}

void SQLVTDeleteSearchCondList(pSQLVTSCSearchCondList *list) {
  if (list == nullptr) return;
  for (bool ok = list->First(); ok; ok = list->Next()) delete list->GetCurrent();
  delete list;
}

void SQLVTDeleteRSSearchCondList(pSQLRSSCSearchCondList *list) {
  if (list == nullptr) return;
  for (bool ok = list->First(); ok; ok = list->Next()) delete list->GetCurrent();
  delete list;
}

void SQLVTDeleteRSValueExprList(pSQLRSSCValueExprList *list) {
  if (list == nullptr) return;
  for (bool ok = list->First(); ok; ok = list->Next()) delete list->GetCurrent();
  delete list;
}

// ---- AND and OR ----

SQLVTSCLogical::~SQLVTSCLogical() { SQLVTDeleteSearchCondList(terms_); }

void SQLVTSCLogical::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                         SQLVTWhereUsedMgr *whereUsed) {
  for (bool ok = terms_->First(); ok; ok = terms_->Next()) {
    terms_->GetCurrent()->MapColumnNamesToIds(scope, treeData, flags, whereUsed);
  }
}

void SQLVTSCLogical::ValidateArrayUsage() const {
  for (bool ok = terms_->First(); ok; ok = terms_->Next()) terms_->GetCurrent()->ValidateArrayUsage();
}

void SQLVTSCLogical::ValidateTypes() const {
  for (bool ok = terms_->First(); ok; ok = terms_->Next()) terms_->GetCurrent()->ValidateTypes();
}

template <typename Prune, typename Check>
SQLVTSCSearchCond *SQLVTSCLogical::PruneTerms(Prune prune, Check check) {
  for (bool ok = terms_->First(); ok; ok = terms_->Next()) {
    SQLVTSCSearchCond *pruned = prune(terms_->GetCurrent());
    // The old term may be gone (lifted, or deleted by its own pruning):
    // store the result before a refusal can leave the list.
    if (pruned == nullptr) {
      terms_->DeleteCurrent();
    } else {
      terms_->SetCurrent(pruned);
    }
    check();
  }
  if (terms_->NrElements() == 0) {
    delete this;
    return nullptr;
  }
  if (terms_->NrElements() == 1) {
    terms_->First();
    SQLVTSCSearchCond *only = terms_->GetCurrent();
    terms_->DeleteCurrent();
    delete this;
    return only;
  }
  return this;
}

void SQLVTSCLogical::SpliceTermsInto(pSQLVTSCSearchCondList *list) {
  // The terms' list is linked onto the end of *list as a whole, so that a
  // chain of n connectives is built in time linear in n; nothing allocates.
  list->Merge(terms_);
  terms_ = nullptr;
  delete this;
}

void SQLVTSCLogical::LogTerms(char const *word) const {
  bool tracing = SQLVTTracing();
  if (tracing) *SQLLogger::Instance() << word;
  SQLVTLogSearchCondList(terms_);
  if (tracing) *SQLLogger::Instance() << ")";
}

SQLVTSCAnd::SQLVTSCAnd(std::unique_ptr<SQLVTSCSearchCond> a, std::unique_ptr<SQLVTSCSearchCond> b) {
  a.release()->CollapseAnd(terms_);
  b.release()->CollapseAnd(terms_);
}

SQLVTSCAnd::SQLVTSCAnd(pSQLVTSCSearchCondList *list) {
  std::unique_ptr<pSQLVTSCSearchCondList, void (*)(pSQLVTSCSearchCondList *)> owned(list, SQLVTDeleteSearchCondList);
  // Each condition leaves the list before it is collapsed, which takes it
  // over even when it throws.
  while (list->First()) {
    SQLVTSCSearchCond *cond = list->GetCurrent();
    list->DeleteCurrent();
    cond->CollapseAnd(terms_);
  }
}

SQLRSSCSearchCond *SQLVTSCAnd::CreateRS() { return new SQLRSSCAnd(SQLVTCreateRSSearchCondList(terms_)); }

void SQLVTSCAnd::Log() const { LogTerms("And("); }

void SQLVTSCAnd::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  for (bool ok = terms_->First(); ok; ok = terms_->Next()) terms_->GetCurrent()->MapColumnIds(level, mappings);
}

SQLVTSCSearchCond *SQLVTSCAnd::PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) {
  return PruneTerms([specs](SQLVTSCSearchCond *c) { return c->PruneCompnrSpecs(specs); }, [] {});
}

SQLVTSCSearchCond *SQLVTSCAnd::PruneRefers(DynamicArray<SQLVTSCRefers *> *refers) {
  return PruneTerms([refers](SQLVTSCSearchCond *c) { return c->PruneRefers(refers); }, [] {});
}

void SQLVTSCAnd::CollapseAnd(pSQLVTSCSearchCondList *list) { SpliceTermsInto(list); }

SQLVTSCOr::SQLVTSCOr(std::unique_ptr<SQLVTSCSearchCond> a, std::unique_ptr<SQLVTSCSearchCond> b) {
  a.release()->CollapseOr(terms_);
  b.release()->CollapseOr(terms_);
}

SQLVTSCOr::SQLVTSCOr(pSQLVTSCSearchCondList *list) {
  std::unique_ptr<pSQLVTSCSearchCondList, void (*)(pSQLVTSCSearchCondList *)> owned(list, SQLVTDeleteSearchCondList);
  // Each condition leaves the list before it is collapsed, which takes it
  // over even when it throws.
  while (list->First()) {
    SQLVTSCSearchCond *cond = list->GetCurrent();
    list->DeleteCurrent();
    cond->CollapseOr(terms_);
  }
}

SQLRSSCSearchCond *SQLVTSCOr::CreateRS() { return new SQLRSSCOr(SQLVTCreateRSSearchCondList(terms_)); }

void SQLVTSCOr::Log() const { LogTerms("Or("); }

void SQLVTSCOr::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCOr::MapColumnIds() called");
}

SQLVTSCSearchCond *SQLVTSCOr::PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) {
  int line = GetLineNumber();
  int before = specs->NrElements();
  return PruneTerms([specs](SQLVTSCSearchCond *c) { return c->PruneCompnrSpecs(specs); },
                    [specs, before, line] {
                      if (specs->NrElements() != before) {
                        SQLVTThrow("42I30", "Compnr specification in OR condition", line);
                      }
                    });
}

SQLVTSCSearchCond *SQLVTSCOr::PruneRefers(DynamicArray<SQLVTSCRefers *> *refers) {
  int line = GetLineNumber();
  int before = refers->NrElements();
  return PruneTerms([refers](SQLVTSCSearchCond *c) { return c->PruneRefers(refers); },
                    [refers, before, line] {
                      if (refers->NrElements() != before) {
                        SQLVTThrow("42I15", "REFERS TO predicate in OR condition", line);
                      }
                    });
}

void SQLVTSCOr::CollapseOr(pSQLVTSCSearchCondList *list) { SpliceTermsInto(list); }

// ---- NOT ----

SQLVTSCNot::SQLVTSCNot(SQLVTSCSearchCond *operand) : operand_(operand) {}

SQLVTSCNot::~SQLVTSCNot() { delete operand_; }

SQLRSSCSearchCond *SQLVTSCNot::CreateRS() { return new SQLRSSCNot(operand_->CreateRS()); }

void SQLVTSCNot::Log() const {
  bool tracing = SQLVTTracing();
  if (tracing) *SQLLogger::Instance() << "Not(";
  operand_->Log();
  if (tracing) *SQLLogger::Instance() << ")";
}

void SQLVTSCNot::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCNot::MapColumnIds() called");
}

void SQLVTSCNot::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                     SQLVTWhereUsedMgr *whereUsed) {
  operand_->MapColumnNamesToIds(scope, treeData, flags, whereUsed);
}

SQLVTSCSearchCond *SQLVTSCNot::PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) {
  int before = specs->NrElements();
  SQLVTSCSearchCond *pruned = operand_->PruneCompnrSpecs(specs);
  // The operand may have gone into the array; keep the tree consistent
  // before refusing.
  operand_ = pruned;
  if (specs->NrElements() != before) SQLVTThrow("42I29", "Compnr specification in NOT condition", GetLineNumber());
  return this;
}

SQLVTSCSearchCond *SQLVTSCNot::PruneRefers(DynamicArray<SQLVTSCRefers *> *refers) {
  int before = refers->NrElements();
  operand_ = operand_->PruneRefers(refers);
  if (refers->NrElements() != before) SQLVTThrow("42I16", "REFERS TO predicate in NOT condition", GetLineNumber());
  return this;
}

void SQLVTSCNot::ValidateArrayUsage() const { operand_->ValidateArrayUsage(); }

void SQLVTSCNot::ValidateTypes() const { operand_->ValidateTypes(); }
