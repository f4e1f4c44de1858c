#include "sql/validate/vtsc_column_ref.h"

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/validate/vtsc_support.h"

SQLVTSCValueExpr *SQLVTSCColumnRef::Cast(SQLType type, bool) {
  SQLType own = descriptor_->GetType();
  if (type == own || (type == SQL_REAL && own == SQL_INTEGER)) return this;
  SQLVTThrowTypeConflict("42T12",
                         std::string("Type conflict on column '") + descriptor_->GetName() + "'", type,
                         GetLineNumber());
}

SQLRSSCValueExpr *SQLVTSCColumnRef::CreateRS() { return new SQLRSSCColumnRef(level_, columnId_, descriptor_); }

void SQLVTSCColumnRef::GetPossibleTypes(SQLTypeSet *types) { types->Insert(descriptor_->GetType()); }

int SQLVTSCColumnRef::GetDepth() const { return descriptor_->GetDepth(); }

void SQLVTSCColumnRef::Log() const {
  if (SQLVTTracing()) *SQLLogger::Instance() << "ColumnRef(" << level_ << "," << columnId_ << ")";
}

void SQLVTSCColumnRef::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  if (level != level_ || mappings == nullptr) return;
  for (bool more = mappings->First(); more; more = mappings->Next()) {
    SQLColumnIdMapping const &m = mappings->GetCurrent();
    if (columnId_ >= m.GetFirst() && columnId_ <= m.GetLast()) {
      columnId_ += m.GetOffset();
      return;
    }
  }
}

SQLVTSCPseudoColumnRef::SQLVTSCPseudoColumnRef(char const *name, pSQLVTSCValueExprList *members)
    : members_(members) {
  // The members are owned from the start: a failing allocation of the name
  // or the list deletes them.
  try {
    name_ = name ? name : "";
    if (members_ == nullptr) members_ = new pSQLVTSCValueExprList();
  } catch (...) {
    DeleteMembers();
    throw;
  }
}

SQLVTSCPseudoColumnRef::~SQLVTSCPseudoColumnRef() { DeleteMembers(); }

void SQLVTSCPseudoColumnRef::DeleteMembers() {
  if (members_ == nullptr) return;
  for (bool more = members_->First(); more; more = members_->Next()) delete members_->GetCurrent();
  delete members_;
  members_ = nullptr;
}

void SQLVTSCPseudoColumnRef::AppendMember(SQLVTSCValueExpr *member) {
  std::unique_ptr<SQLVTSCValueExpr> owned(member);
  members_->Append(member);
  static_cast<void>(owned.release());
}

SQLVTSCValueExpr *SQLVTSCPseudoColumnRef::ConvertToValueExpr() {
  SQLVTSCValueExpr *first = nullptr;
  if (members_ && members_->First()) {
    first = members_->GetCurrent();
    members_->DeleteCurrent();
  }
  delete this;
  return first;
}

pSQLVTSCValueExprList *SQLVTSCPseudoColumnRef::ReleaseMembers() {
  pSQLVTSCValueExprList *members = members_;
  members_ = nullptr;
  return members;
}
