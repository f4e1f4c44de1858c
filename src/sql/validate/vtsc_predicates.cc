#include "sql/validate/vtsc_predicates.h"

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/row_source.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_like.h"
#include "sql/exec/sc_subquery_cond.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/validate/type_set.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_scope_level.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_support.h"

namespace {

constexpr char kDepthMessage[] =
    "Cannot compare array values with non-array values or array values of different depth";

// A pseudo-column operand of one column becomes that column; one of several
// is refused with the predicate's error.
void SingleColumnOperand(std::unique_ptr<SQLVTSCValueExpr> *operand, char const *state, char const *message,
                         int line) {
  if (!(*operand)->IsPseudoColumnRef()) return;
  auto *pseudo = static_cast<SQLVTSCPseudoColumnRef *>(operand->get());
  if (pseudo->NrElements() != 1) SQLVTThrow(state, message, line);
  operand->release();
  operand->reset(pseudo->ConvertToValueExpr());  // deletes the pseudo-column
}

// The subquery of EXISTS and IN: resolved with only the array-element and
// ANSI bits of the flags; the scope level it pushed is dropped afterwards.
void ResolveSubquery(std::unique_ptr<SQLVTNode> *subquery, SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                     SQLVTWhereUsedMgr *whereUsed) {
  SQLVTNode *old = subquery->get();
  SQLVTNode *mapped = old->MapColumnNamesToIds(scope, treeData, flags & (8 | 16), nullptr, whereUsed);
  if (mapped != nullptr && mapped != old) {
    subquery->release();  // taken over by the replacement
    subquery->reset(mapped);
  }
  delete scope->Pop();
}

void LogLabel(char const *label) {
  if (SQLVTTracing()) *SQLLogger::Instance() << label;
}

}  // namespace

// ---- IN (list) ----

SQLRSSCSearchCond *SQLVTSCInSet::CreateRS() {
  std::unique_ptr<SQLRSSCValueExpr> operand(operand_->CreateRS());
  pSQLRSSCValueExprList *set = set_->CreateRSValueExprList();
  return new SQLRSSCInSet(operand.release(), set);
}

void SQLVTSCInSet::Log() const {
  LogLabel("InSet(expr: ");
  operand_->Log();
  LogLabel(", set: ");
  set_->Log();
  LogLabel(")");
}

void SQLVTSCInSet::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCInSet::MapColumnIds called");
}

void SQLVTSCInSet::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                       SQLVTWhereUsedMgr *whereUsed) {
  SQLVTResolveOperand(&operand_, scope, treeData, flags, whereUsed, false);
  for (bool ok = set_->First(); ok; ok = set_->Next()) {
    std::unique_ptr<SQLVTSCValueExpr> element(set_->GetCurrent());
    try {
      SQLVTResolveOperand(&element, scope, treeData, flags, whereUsed, true);
    } catch (...) {
      element.release();  // still owned by the list
      throw;
    }
    set_->SetCurrent(element.release());
  }
  SingleColumnOperand(&operand_, "42I26", "Combined expression in IN predicate", GetLineNumber());
}

void SQLVTSCInSet::ValidateTypes() const {
  operand_->ValidateTypes();
  for (bool ok = set_->First(); ok; ok = set_->Next()) set_->GetCurrent()->ValidateTypes();
  SQLTypeSet operandTypes = operand_->GetPossibleTypeSet();
  SQLTypeSet common;
  common.InsertAllTypes();
  for (bool ok = set_->First(); ok; ok = set_->Next()) {
    SQLTypeSet element = set_->GetCurrent()->GetPossibleTypeSet();
    common.IntersectComparable(&element);
    element.IntersectComparable(&operandTypes);
    if (element.IsEmpty()) SQLVTThrow("42T03", "Incompatible types for IN operator", GetLineNumber());
  }
  SQLType type = SQL_UNDEFINED;
  if (!operandTypes.SQLGetCastTypeForComparison(&common, &type)) {
    SQLVTThrow("42T03", "Incompatible types for IN operator", GetLineNumber());
  }
  auto *self = const_cast<SQLVTSCInSet *>(this);  // the operands are rewritten in place
  SQLVTCastOperand(&self->operand_, type, true);
  for (bool ok = set_->First(); ok; ok = set_->Next()) {
    SQLVTSCValueExpr *old = set_->GetCurrent();
    SQLVTSCValueExpr *cast = old->Cast(type, true);
    if (cast != nullptr && cast != old) set_->SetCurrent(cast);
  }
}

void SQLVTSCInSet::ValidateArrayUsage() const {
  operand_->ValidateArrayUsage();
  int depth = operand_->GetDepth();
  for (bool ok = set_->First(); ok; ok = set_->Next()) {
    set_->GetCurrent()->ValidateArrayUsage();
    if (set_->GetCurrent()->GetDepth() != depth) SQLVTThrow("42I48", kDepthMessage, GetLineNumber());
  }
}

// ---- LIKE ----

SQLRSSCSearchCond *SQLVTSCLike::CreateRS() {
  std::unique_ptr<SQLRSSCValueExpr> string(string_->CreateRS());
  std::unique_ptr<SQLRSSCValueExpr> pattern(pattern_->CreateRS());
  std::unique_ptr<SQLRSSCValueExpr> escape(escape_ ? escape_->CreateRS() : nullptr);
  SQLRSSCValueExpr *s = string.release();
  SQLRSSCValueExpr *p = pattern.release();
  return new SQLRSSCLike(s, p, escape.release(), ansi_);
}

void SQLVTSCLike::Log() const {
  LogLabel("Like(mode: ");
  LogLabel(ansi_ ? "ansi " : "regexp ");
  LogLabel(", string: ");
  string_->Log();
  LogLabel(", pattern: ");
  pattern_->Log();
  LogLabel(", escape: ");
  if (escape_) escape_->Log();
  LogLabel(")");
}

void SQLVTSCLike::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCLike::MapColumnIds() called");
}

void SQLVTSCLike::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                      SQLVTWhereUsedMgr *whereUsed) {
  SQLVTResolveOperand(&string_, scope, treeData, flags, whereUsed, false);
  SQLVTResolveOperand(&pattern_, scope, treeData, flags, whereUsed, false);
  if (escape_) SQLVTResolveOperand(&escape_, scope, treeData, flags, whereUsed, false);
  SingleColumnOperand(&string_, "42I08", "Combined expression in LIKE predicate", GetLineNumber());
}

void SQLVTSCLike::ValidateTypes() const {
  auto *self = const_cast<SQLVTSCLike *>(this);  // the operands are rewritten in place
  string_->ValidateTypes();
  pattern_->ValidateTypes();
  if (!string_->GetPossibleTypeSet().Contains(SQL_STRING)) {
    SQLVTThrow("42T05", "Invalid type for left operand of LIKE operator. Type STRING expected", GetLineNumber());
  }
  if (!pattern_->GetPossibleTypeSet().Contains(SQL_STRING)) {
    SQLVTThrow("42T05", "Invalid type for right operand of LIKE operator. Type STRING expected", GetLineNumber());
  }
  SQLVTCastOperand(&self->string_, SQL_STRING, true);
  SQLVTCastOperand(&self->pattern_, SQL_STRING, true);
  if (!escape_) return;
  escape_->ValidateTypes();
  if (!escape_->GetPossibleTypeSet().Contains(SQL_STRING)) {
    SQLVTThrow("42T05", "Invalid type for escape character of LIKE operator. Type STRING expected",
               GetLineNumber());
  }
  SQLVTCastOperand(&self->escape_, SQL_STRING, true);
}

void SQLVTSCLike::ValidateArrayUsage() const {
  // An array is refused in every operand: the string, the pattern and the
  // escape character.
  for (SQLVTSCValueExpr const *operand : {string_.get(), pattern_.get(), escape_.get()}) {
    if (operand == nullptr) continue;
    operand->ValidateArrayUsage();
    if (operand->GetDepth() > 1) SQLVTThrow("42I48", kDepthMessage, GetLineNumber());
  }
}

// ---- EXISTS ----

// The second tree of the subquery answers here when the first, shipped
// with its outer values, would cost an exchange per value (see
// SQLRSLocalSubquery).
SQLRSSCSearchCond *SQLVTSCExists::CreateRS() {
  std::unique_ptr<SQLRowSource> rows(subquery_->CreateRS());
  std::unique_ptr<SQLRowSource> local(SQLVTCreateLocalRS(subquery_.get()));
  return new SQLRSSCExists(rows.release(), local.release());
}

void SQLVTSCExists::Log() const {
  LogLabel("Exists(subquery: ");
  subquery_->Log();
  LogLabel(")");
}

void SQLVTSCExists::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCExists::MapColumnIds() called");
}

void SQLVTSCExists::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed) {
  if (flags & 32) SQLVTThrow("42I90", "Subquery used in set function specification", GetLineNumber());
  ResolveSubquery(&subquery_, scope, treeData, flags, whereUsed);
}

// ---- IN (subquery) ----

SQLRSSCSearchCond *SQLVTSCInSubquery::CreateRS() {
  std::unique_ptr<SQLRSSCValueExpr> operand(operand_->CreateRS());
  std::unique_ptr<SQLRowSource> rows(subquery_->CreateRS());
  std::unique_ptr<SQLRowSource> local(SQLVTCreateLocalRS(subquery_.get()));
  return new SQLRSSCInSubquery(operand.release(), rows.release(), local.release());
}

void SQLVTSCInSubquery::Log() const {
  LogLabel("InSubquery(expr: ");
  operand_->Log();
  LogLabel(", subquery: ");
  subquery_->Log();
  LogLabel(")");
}

void SQLVTSCInSubquery::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCInSubquery::MapColumnIds() called");
}

void SQLVTSCInSubquery::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                            SQLVTWhereUsedMgr *whereUsed) {
  if (flags & 32) SQLVTThrow("42I90", "Subquery used in set function specification", subquery_->GetLineNumber());
  SQLVTResolveOperand(&operand_, scope, treeData, flags, whereUsed, false);
  ResolveSubquery(&subquery_, scope, treeData, flags, whereUsed);
  SingleColumnOperand(&operand_, "42I26", "Combined expression in IN predicate", GetLineNumber());
  if (subquery_->GetNumCols() != 1) {
    SQLVTThrow("42I25", "Select clause of subquery in IN predicate contains more than 1 item", GetLineNumber());
  }
}

void SQLVTSCInSubquery::ValidateTypes() const {
  operand_->ValidateTypes();
  subquery_->ValidateTypes();
  SQLTypeSet operandTypes = operand_->GetPossibleTypeSet();
  SQLTypeSet column;
  column.Insert(subquery_->GetColumnDescriptor(0)->GetType());
  SQLType type = SQL_UNDEFINED;
  if (!operandTypes.SQLGetCastTypeForComparison(&column, &type)) {
    SQLVTThrow("42T04", "Incompatible types for IN operator", GetLineNumber());
  }
  SQLVTCastOperand(&const_cast<SQLVTSCInSubquery *>(this)->operand_, type, true);
}

void SQLVTSCInSubquery::ValidateArrayUsage() const {
  operand_->ValidateArrayUsage();
  subquery_->ValidateArrayUsage();
  if (operand_->GetDepth() != subquery_->GetColumnDescriptor(0)->GetDepth()) {
    SQLVTThrow("42I48", kDepthMessage, GetLineNumber());
  }
}

// ---- IS NULL ----

SQLRSSCSearchCond *SQLVTSCIsNull::CreateRS() { return new SQLRSSCIsNull(operand_->CreateRS()); }

void SQLVTSCIsNull::Log() const {
  LogLabel("IsNull(");
  operand_->Log();
  LogLabel(")");
}

void SQLVTSCIsNull::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCIsNull::MapColumnIds() called");
}

void SQLVTSCIsNull::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed) {
  SQLVTResolveOperand(&operand_, scope, treeData, flags, whereUsed, false);
  SingleColumnOperand(&operand_, "42I81", "Row value constructor in IS NULL predicate", GetLineNumber());
}

void SQLVTSCIsNull::ValidateTypes() const {
  operand_->ValidateTypes();
  SQLTypeSet types = operand_->GetPossibleTypeSet();
  types.EliminateDowncastableTypes();
  SQLType type = SQL_UNDEFINED;
  if (!types.GetSuperType(&type)) {
    SQLVTThrow("42T26", "Value expression in IS NULL predicate has ambiguous type", operand_->GetLineNumber());
  }
  SQLVTCastOperand(&const_cast<SQLVTSCIsNull *>(this)->operand_, type, true);
}
