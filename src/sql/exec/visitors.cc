#include "sql/exec/visitors.h"

#include "sql/agent/token_string.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/rs_project.h"
#include "sql/exec/rs_sort.h"
#include "sql/exec/sc_scalar_subquery.h"
#include "sql/exec/sc_string_ops.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_text_content.h"

void SQLAttachVisitor::VisitSQLRowSource(SQLRowSource *rs) { rs->SetState(SQLRowSource::kAttached); }

void SQLAttachVisitor::VisitSQLRSFetch(SQLRSFetch *leaf) { leaf->AttachToSession(sessionId_); }

void SQLDetachVisitor::VisitSQLRowSource(SQLRowSource *rs) { rs->SetState(SQLRowSource::kPrepared); }

void SQLDetachVisitor::VisitSQLRSFetch(SQLRSFetch *leaf) {
  try {
    leaf->DetachFromSession();
  } catch (...) {
    if (!failure_) failure_ = std::current_exception();
  }
}

void SQLSetTimeOutVisitor::VisitSQLRowSource(SQLRowSource *rs) { rs->SetDeadline(deadline_); }

void SQLSetTimeOutVisitor::VisitSQLRSFetch(SQLRSFetch *leaf) { leaf->SetCursorTimeOut(deadline_); }

void SQLRSSetBufferSizeVisitor::VisitSQLRSFetch(SQLRSFetch *leaf) { leaf->SetBufferSize(rows_); }

void SQLOperatesOnThisDBInstanceVisitor::VisitSQLRSFetch(SQLRSFetch *leaf) {
  if (!leaf->OperatesOnThisDBInstance(instance_)) result_ = false;
}

void SQLGetDBInstanceVisitor::VisitSQLRSFetch(SQLRSFetch *leaf) {
  if (++leaves_ == 1)
    result_ = leaf->GetDBInstance();
  else
    result_ = nullptr;
}

void SQLIsVariableVisitor::VisitSQLRSFetch(SQLRSFetch *leaf) {
  if (leaf->IsVariable(GetLevel())) result_ = true;
}

void SQLIsConstantVisitor::VisitSQLRSFetch(SQLRSFetch *leaf) {
  if (!leaf->IsConstant(GetLevel())) result_ = false;
}

void SQLIsVariableVisitor::VisitSQLRSSCColumnRef(SQLRSSCColumnRef *ref) {
  if (ref->GetRelScopeLevel() + GetLevel() < 1) result_ = true;
}

void SQLIsConstantVisitor::VisitSQLRSSCColumnRef(SQLRSSCColumnRef *ref) {
  if (ref->GetRelScopeLevel() + GetLevel() < 1) result_ = false;
}

void SQLGetParametersVisitor::VisitSQLRSSCParameterRef(SQLRSSCParameterRef *ref) {
  parameters_.Append(ref->GetParameter());
}

void SQLAttachVisitor::VisitSQLRSSCTextContent(SQLRSSCTextContent *e) { e->AttachToSession(sessionId_); }

void SQLDetachVisitor::VisitSQLRSSCTextContent(SQLRSSCTextContent *e) { e->DetachFromSession(); }

void SQLOperatesOnThisDBInstanceVisitor::VisitSQLRSSCTextContent(SQLRSSCTextContent *e) {
  if (!e->OperatesOnThisDBInstance(instance_)) result_ = false;
}

void SQLOperatesOnThisDBInstanceVisitor::Count(long long n) {
  if (n > SQLTokenString::kMaxListCount) {
    fits_ = false;
    result_ = false;
  }
}

void SQLOperatesOnThisDBInstanceVisitor::VisitSQLRSProject(SQLRSProject *rs) { Count(rs->GetNumCols()); }

void SQLOperatesOnThisDBInstanceVisitor::VisitSQLRSSort(SQLRSSort *rs) {
  Count(SQLRSSortItemsLargest(rs->GetSortSpecs()));
}

void SQLOperatesOnThisDBInstanceVisitor::VisitSQLRSGroup(SQLRSGroup *rs) {
  Count(SQLRSGroupItemsLargest(rs->GetGroupingColumns(), rs->GetSpecs()));
}

void SQLOperatesOnThisDBInstanceVisitor::VisitSQLRSSCComparison(SQLRSSCComparison *c) { Count(c->Degree()); }

void SQLOperatesOnThisDBInstanceVisitor::VisitSQLRSSCBetween(SQLRSSCBetween *c) { Count(c->Degree()); }

void SQLOperatesOnThisDBInstanceVisitor::VisitSQLRSSCColumnRef(SQLRSSCColumnRef *ref) {
  if (ref->KeptHere()) result_ = false;
  Count(ref->GetColumnId());
}

void SQLMayFailVisitor::VisitSQLRSSCTrim(SQLRSSCTrim *trim) {
  if (trim->HasCharacter()) result_ = true;
}

void SQLMayFailVisitor::VisitSQLRSSCScalarSubquery(SQLRSSCScalarSubquery *subquery) {
  // A set function without grouping gives one row, whatever it reads.
  SQLRowSource *rs = subquery->GetRowSource();
  for (;;) {  // a projection or HAVING over it keeps at most that row
    if (const auto *project = dynamic_cast<const SQLRSProject *>(rs))
      rs = project->GetChild();
    else if (const auto *filter = dynamic_cast<const SQLRSFilter *>(rs))
      rs = filter->GetChild();
    else
      break;
  }
  const auto *group = dynamic_cast<const SQLRSGroup *>(rs);
  if (group == nullptr || (group->GetGroupingColumns() != nullptr && group->GetGroupingColumns()->NrElements() > 0))
    result_ = true;
}
