#include "sql/exec/visitors.h"

#include "sql/exec/rs_fetch.h"
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
