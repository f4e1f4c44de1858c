#include "sql/validate/vtsc_case.h"

#include <cstdint>
#include <vector>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/sc_simple_case.h"
#include "sql/validate/vtsc_support.h"

namespace {

bool SameOptional(SQLVTSCValueExpr const *a, SQLVTSCValueExpr const *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return SQLVTSameOperand(a, b);
}

}  // namespace

SQLVTSCSimpleWhenClauseList::~SQLVTSCSimpleWhenClauseList() {
  for (bool more = First(); more; more = Next()) delete GetCurrent();
}

SQLVTSCSimpleCase::SQLVTSCSimpleCase(SQLVTSCValueExpr *operand, SQLVTSCSimpleWhenClauseList *clauses,
                                     SQLVTSCValueExpr *elseResult)
    : operand_(operand), clauses_(clauses), else_(elseResult) {
  // Every operand is owned before the empty list is allocated.
  if (!clauses_) clauses_ = std::make_unique<SQLVTSCSimpleWhenClauseList>();
}

SQLVTSCSimpleCase::~SQLVTSCSimpleCase() = default;

SQLVTSCValueExpr *SQLVTSCSimpleCase::Cast(SQLType type, bool tolerant) {
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    SQLVTSCSimpleWhenClause *clause = clauses_->GetCurrent();
    if (clause->then_) SQLVTCastOperand(&clause->then_, type, tolerant);
  }
  if (else_) SQLVTCastOperand(&else_, type, tolerant);
  return this;
}

// Copying must not share a node between two owners: every part is copied,
// and the copy fails as a whole when one part cannot be.
SQLVTSCValueExpr *SQLVTSCSimpleCase::Copy() {
  std::unique_ptr<SQLVTSCValueExpr> operand(operand_->Copy());
  if (!operand) return nullptr;
  std::unique_ptr<SQLVTSCValueExpr> elseResult;
  if (else_) {
    elseResult.reset(else_->Copy());
    if (!elseResult) return nullptr;
  }
  auto clauses = std::make_unique<SQLVTSCSimpleWhenClauseList>();
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    SQLVTSCSimpleWhenClause const *clause = clauses_->GetCurrent();
    std::unique_ptr<SQLVTSCValueExpr> when(clause->when_->Copy());
    std::unique_ptr<SQLVTSCValueExpr> then;
    if (clause->then_) then.reset(clause->then_->Copy());
    if (!when || (clause->then_ && !then)) return nullptr;
    std::unique_ptr<SQLVTSCSimpleWhenClause> copy(new SQLVTSCSimpleWhenClause(when.release(), then.release()));
    copy->SetLineNumber(clause->GetLineNumber());
    clauses->Append(copy.get());
    static_cast<void>(copy.release());
  }
  auto *result = new SQLVTSCSimpleCase(operand.release(), clauses.release(), elseResult.release());
  result->SetLineNumber(GetLineNumber());
  return result;
}

SQLRSSCValueExpr *SQLVTSCSimpleCase::CreateRS() {
  std::unique_ptr<SQLRSSCValueExpr> operand(operand_->CreateRS());
  std::unique_ptr<SQLRSSCValueExpr> elseResult(else_ ? else_->CreateRS() : nullptr);
  auto clauses = std::make_unique<List<SQLRSSCSimpleCase::WhenClause *>>();
  try {
    for (bool more = clauses_->First(); more; more = clauses_->Next()) {
      SQLVTSCSimpleWhenClause *clause = clauses_->GetCurrent();
      std::unique_ptr<SQLRSSCValueExpr> when(clause->when_->CreateRS());
      std::unique_ptr<SQLRSSCValueExpr> then(clause->then_ ? clause->then_->CreateRS() : nullptr);
      std::unique_ptr<SQLRSSCSimpleCase::WhenClause> executable(
          new SQLRSSCSimpleCase::WhenClause(when.release(), then.release()));
      clauses->Append(executable.get());
      static_cast<void>(executable.release());
    }
  } catch (...) {
    for (bool more = clauses->First(); more; more = clauses->Next()) delete clauses->GetCurrent();
    throw;
  }
  return new SQLRSSCSimpleCase(operand.release(), clauses.release(), elseResult.release());
}

void SQLVTSCSimpleCase::GetPossibleTypes(SQLTypeSet *types) {
  SQLTypeSet result;
  bool first = true;
  auto add = [&](SQLVTSCValueExpr *e) {
    SQLTypeSet set = e->GetPossibleTypeSet();
    if (first) {
      result = set;
      first = false;
    } else {
      result.IntersectComparable(&set);
    }
  };
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    if (clauses_->GetCurrent()->then_) add(clauses_->GetCurrent()->then_.get());
  }
  if (else_) add(else_.get());
  if (result.IsEmpty()) {
    SQLVTThrow("42T27", "Type conflict on result expressions of CASE expression", GetLineNumber());
  }
  for (std::uint32_t bit = 1; bit != 0 && bit <= result.GetMask(); bit <<= 1) {
    if (result.GetMask() & bit) types->Insert(static_cast<SQLType>(bit));
  }
}

int SQLVTSCSimpleCase::GetDepth() const {
  if (else_) return else_->GetDepth();
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    if (clauses_->GetCurrent()->then_) return clauses_->GetCurrent()->then_->GetDepth();
  }
  return -1;
}

void SQLVTSCSimpleCase::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "SimpleCase(" << "CASE ";
  operand_->Log();
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    SQLVTSCSimpleWhenClause const *clause = clauses_->GetCurrent();
    log << " WHEN ";
    clause->when_->Log();
    log << " THEN ";
    if (clause->then_) {
      clause->then_->Log();
    } else {
      log << "NULL";
    }
  }
  log << " ELSE ";
  if (else_) {
    else_->Log();
  } else {
    log << "NULL";
  }
  log << ")";
}

void SQLVTSCSimpleCase::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCSimpleCase::MapColumnIds() called");
}

SQLVTSCValueExpr *SQLVTSCSimpleCase::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                         SQLVTWhereUsedMgr *whereUsed, bool) {
  SQLVTResolveOperand(&operand_, scope, treeData, flags, whereUsed, true);
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    SQLVTSCSimpleWhenClause *clause = clauses_->GetCurrent();
    SQLVTResolveOperand(&clause->when_, scope, treeData, flags, whereUsed, true);
    if (clause->then_) SQLVTResolveOperand(&clause->then_, scope, treeData, flags, whereUsed, true);
  }
  if (else_) SQLVTResolveOperand(&else_, scope, treeData, flags, whereUsed, true);
  return this;
}

void SQLVTSCSimpleCase::ValidateTypes() const {
  operand_->ValidateTypes();
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    SQLVTSCSimpleWhenClause const *clause = clauses_->GetCurrent();
    clause->when_->ValidateTypes();
    if (clause->then_) clause->then_->ValidateTypes();
  }
  if (else_) else_->ValidateTypes();
  // Type validation settles the operands' types by casting them in place.
  const_cast<SQLVTSCSimpleCase *>(this)->CastComparisonOperands();
}

void SQLVTSCSimpleCase::CastComparisonOperands() {
  SQLTypeSet caseTypes = operand_->GetPossibleTypeSet();
  SQLTypeSet all;
  all.InsertAllTypes();
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    SQLVTSCValueExpr *when = clauses_->GetCurrent()->when_.get();
    SQLTypeSet whenTypes = when->GetPossibleTypeSet();
    all.IntersectComparable(&whenTypes);
    whenTypes.IntersectComparable(&caseTypes);
    if (whenTypes.IsEmpty()) {
      SQLVTThrow("42T27", "When operand is not comparable with case operand in case expression",
                 when->GetLineNumber());
    }
  }
  SQLType type = SQL_UNDEFINED;
  if (!caseTypes.SQLGetCastTypeForComparison(&all, &type)) {
    SQLVTThrow("42T27", "Case operand is not comparable with each when operand in case expression",
               operand_->GetLineNumber());
  }
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    SQLVTCastOperand(&clauses_->GetCurrent()->when_, type, true);
  }
  SQLVTCastOperand(&operand_, type, true);
}

void SQLVTSCSimpleCase::ValidateArrayUsage() const {
  operand_->ValidateArrayUsage();
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    SQLVTSCSimpleWhenClause const *clause = clauses_->GetCurrent();
    clause->when_->ValidateArrayUsage();
    if (clause->then_) clause->then_->ValidateArrayUsage();
  }
  if (else_) else_->ValidateArrayUsage();

  int caseDepth = operand_->GetDepth();
  bool haveThen = false;
  int thenDepth = 0;
  for (bool more = clauses_->First(); more; more = clauses_->Next()) {
    SQLVTSCSimpleWhenClause const *clause = clauses_->GetCurrent();
    if (clause->when_->GetDepth() != caseDepth) {
      SQLVTThrow("42I48", "Cannot compare array values with non-array values or array values of different depth",
                 clause->GetLineNumber());
    }
    if (!clause->then_) continue;
    if (!haveThen) {
      haveThen = true;
      thenDepth = clause->then_->GetDepth();
    } else if (clause->then_->GetDepth() != thenDepth) {
      SQLVTThrow("42I48",
                 "All result operands of a CASE expression must be non-array values or array values of the same depth",
                 clause->GetLineNumber());
    }
  }
  if (else_ && haveThen && else_->GetDepth() != thenDepth) {
    SQLVTThrow("42I48",
               "All result operands of a CASE expression must be non-array values or array values of the same depth",
               else_->GetLineNumber());
  }
}

bool SQLVTSCSimpleCase::IsSameSimpleCase(SQLVTSCSimpleCase const *other) const {
  if (!SQLVTSameOperand(operand_.get(), other->operand_.get())) return false;
  if (clauses_->NrElements() != other->clauses_->NrElements()) return false;
  if (!SameOptional(else_.get(), other->else_.get())) return false;
  // Both lists are walked with their own cursors; the other may be this one.
  std::vector<SQLVTSCSimpleWhenClause const *> mine;
  for (bool more = clauses_->First(); more; more = clauses_->Next()) mine.push_back(clauses_->GetCurrent());
  size_t i = 0;
  for (bool more = other->clauses_->First(); more; more = other->clauses_->Next(), ++i) {
    SQLVTSCSimpleWhenClause const *theirs = other->clauses_->GetCurrent();
    if (!SQLVTSameOperand(mine[i]->when_.get(), theirs->when_.get())) return false;
    if (!SameOptional(mine[i]->then_.get(), theirs->then_.get())) return false;
  }
  return true;
}
