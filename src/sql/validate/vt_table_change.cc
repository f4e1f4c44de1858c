#include "sql/validate/vt_table_change.h"

#include <cstdint>
#include <string>

#include "dbc/dict/dd.h"
#include "dbc/refs/refs.h"
#include "sql/exec/et_net_dml.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/roles/roles_mgr.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_state.h"
#include "sql/validate/vt_table_scope.h"
#include "sql/validate/where_used.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vtsc_support.h"

SQLVTTableChange::SQLVTTableChange(char const *className, SQLVTTable *table, SQLVTSCSearchCond *condition)
    : className_(className), table_(table), condition_(condition) {}

SQLVTTableChange::~SQLVTTableChange() = default;

SQLVTRetryFilter *SQLVTTableChange::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "%s::BuildRetryFilter() called", className_);
}

SQLRowSource *SQLVTTableChange::DoCreateRS() {
  SQLAbort(__FILE__, __LINE__, "Unexpected method %s::DoCreateRS", className_);
}

SQLColumnDescriptor const *SQLVTTableChange::GetColumnDescriptor(int) const {
  SQLAbort(__FILE__, __LINE__, "%s::GetColumnDescriptor() called", className_);
}

int SQLVTTableChange::GetNumCols() const { SQLAbort(__FILE__, __LINE__, "%s::GetNumCols() called", className_); }

bool SQLVTTableChange::IsForUpdate() { SQLAbort(__FILE__, __LINE__, "%s::IsForUpdate() called", className_); }

void SQLVTTableChange::ValidateTypes() const {
  if (condition_) condition_->ValidateTypes();
}

void SQLVTTableChange::ValidateArrayUsage() const {
  if (condition_) condition_->ValidateArrayUsage();
}

void SQLVTTableChange::ApplyCompnrSpecs() {
  if (!compnrSpecs_) return;
  SQLVTTable *table = table_.get();
  std::string const name = table->GetCorrelationName();
  bool restricted = false;
  for (int i = 0; i < compnrSpecs_->NrElements(); ++i) {
    SQLVTSCCompnrSpec *spec = compnrSpecs_->Get(i);
    char const *qualifier = spec->GetColumn()->GetQualifier();
    if (qualifier != nullptr && name != qualifier) {
      SQLVTThrow("42I04", std::string("Unknown table '") + qualifier + "'", spec->GetColumn()->GetLineNumber());
    }
    if (restricted) SQLVTThrow("42I31", "Multiple compnr specifications on table '" + name + "'", spec->GetLineNumber());
    // A list or a join would reach the table as "unrestricted" and change
    // the rows of the execution's company instead of the named ones.
    int number = 0;
    SQLParameter const *parameter = nullptr;
    bool single = spec->GetList() == nullptr && (spec->GetInteger(&number) || spec->GetParam(&parameter));
    if (!single) {
      SQLVTThrow(vtstate::kCompnrRestriction,
                 "Company-number restriction on table '" + name + "' must be one company number or host variable",
                 spec->GetLineNumber());
    }
    spec->SetCompnr(table);
    restricted = true;
  }
}

void SQLVTTableChange::PushTableLevel(SQLVTScope *scope, int flags) {
  auto level = std::make_unique<SQLVTTableScopeLevel>((flags & 16) == 0);
  level->AppendExposedTable(SQLVTExposedTable(table_.get(), 0, SQL_NULLSPEC_NONE, {}));
  scope->Push(level.release());
}

void SQLVTTableChange::RegisterWhereUsed(SQLVTWhereUsedMgr *whereUsed) const {
  if (whereUsed == nullptr) return;
  whereUsed->RegisterTable(table_->GetName());
  if (compnrSpecs_ && compnrSpecs_->NrElements() > 0) whereUsed->RegisterColumn(table_->GetName(), "_compnr");
}

SQLRSSCSearchCond *SQLVTTableChange::CreateConditionET(bool allowed, int logical) {
  if (!allowed) {
    throw SQLException("QP060", 0,
                       SQLString("Insufficient privileges or data permissions defined on table '") +
                           SQLString(table_->GetName()) + SQLString("'"));
  }
  std::unique_ptr<SQLRSSCSearchCond> condition(condition_ ? condition_->CreateRS() : nullptr);
  SQLRSSCSearchCond *role = SQLRolesMgr::GetCondition(table_->GetName(), logical);
  if (role == nullptr) return condition.release();
  if (!condition) return role;
  std::unique_ptr<SQLRSSCSearchCond> ownedRole(role);
  // The conjunction takes both over once it is allocated, also when it throws.
  return new SQLRSSCAnd(condition.release(), ownedRole.release());
}

void SQLVTTableChange::LogParts(SQLVTSetClauseList const *setClauses) const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  SQLVTLogChild("Table: ", table_.get());
  if (setClauses != nullptr) {
    log << "SetClauseList:" << endl << incind;
    setClauses->Log();
    log << endl << decind;
  }
  log << "SearchCond: ";
  if (condition_) {
    condition_->Log();
  } else {
    log << "NULL";
  }
  log << endl;
  SQLVTLogCompnrSpecs(compnrSpecs_.get());
}

void SQLVTDelete::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "VTDelete(" << endl << incind;
  LogParts(nullptr);
  log << decind << ")" << endl;
}

SQLVTNode *SQLVTDelete::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                            List<char const *> *, SQLVTWhereUsedMgr *whereUsed) {
  ApplyCompnrSpecs();
  if (GetCondition() != nullptr) {
    PushTableLevel(scope, flags);
    GetCondition()->MapColumnNamesToIds(scope, treeData, flags, whereUsed);
  }
  RegisterWhereUsed(whereUsed);
  return this;
}

namespace {

// The dictionary record of a table the statement names; the node's table
// was found in the dictionary when it was built.
DD_TABLE *Dictionary(SQLVTTable const *table) {
  DD_TABLE *dd = dd_table_or_throw(table->GetName());
  if (dd == nullptr) {
    SQLVTThrow("42I04", std::string("Unknown table '") + table->GetName() + "'", table->GetLineNumber());
  }
  return dd;
}

bool Restricting(std::uint16_t mode) { return (mode & 0x3) < 3 && (mode & DD_REFMODE_CONDITIONAL) == 0; }

}  // namespace

void SQLVTDelete::DoValidate() {
  if (dbc_references_disabled()) return;
  SQLVTTable *table = GetTable();
  DD_TABLE *dd = Dictionary(table);
  std::string const name = table->GetName();
  for (int i = 0; i < dd->refby_count; ++i) {
    std::uint16_t mode = dd->refby[i].mode;
    if (Restricting(mode) && (mode & 0xE0) != 0xA0) {
      SQLVTThrow("42I65", "Table '" + name + "' has child tables", table->GetLineNumber());
    }
  }
  for (int i = 0; i < dd->ref_count; ++i) {
    std::uint16_t mode = dd->refs[i].mode;
    if (Restricting(mode) && (mode & 0xE0) == 0x20) {
      SQLVTThrow("42I66", "Table '" + name + "' has a parent table that needs to be updated on delete",
                 table->GetLineNumber());
    }
  }
}

SQLExecTree *SQLVTDelete::CreateET() {
  SQLVTTable *table = GetTable();
  int logical = table->GetLogicalCompnr();
  int physical = table->GetPhysicalCompnr();
  bool allowed = SQLRolesMgr::ReadSetEqualsDeleteSet(table->GetName(), logical, physical);
  std::unique_ptr<SQLRSSCSearchCond> condition(CreateConditionET(allowed, logical));
  // Released only once the request's memory is had (the allocation comes
  // before its arguments): a failed allocation deletes the condition here.
  return new SQLETNetDelete(table->GetName(), physical, std::move(condition));
}

void SQLVTUpdate::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "VTUpdate(" << endl << incind;
  LogParts(setClauses_.get());
  log << decind << ")" << endl;
}

SQLVTNode *SQLVTUpdate::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                            List<char const *> *, SQLVTWhereUsedMgr *whereUsed) {
  PushTableLevel(scope, flags);
  ApplyCompnrSpecs();
  setClauses_->MapColumnNamesToIds(scope, treeData, flags);
  if (GetCondition() != nullptr) GetCondition()->MapColumnNamesToIds(scope, treeData, flags, whereUsed);
  RegisterWhereUsed(whereUsed);
  if (whereUsed != nullptr) {
    for (bool more = setClauses_->First(); more; more = setClauses_->Next()) {
      whereUsed->RegisterColumn(GetTable()->GetName(), setClauses_->GetCurrent()->GetColumnName());
    }
  }
  return this;
}

void SQLVTUpdate::ValidateTypes() const {
  for (bool more = setClauses_->First(); more; more = setClauses_->Next()) {
    SQLVTSetClause *clause = setClauses_->GetCurrent();
    clause->CastValue(GetTable()->GetColumnDescriptor(clause->GetColumnId())->GetType());
  }
  if (GetCondition() != nullptr) GetCondition()->ValidateTypes();
}

void SQLVTUpdate::ValidateArrayUsage() const {
  for (bool more = setClauses_->First(); more; more = setClauses_->Next()) {
    SQLVTSetClause *clause = setClauses_->GetCurrent();
    if (GetTable()->GetColumnDescriptor(clause->GetColumnId())->GetDepth() != 1) {
      SQLVTThrow("42I64", std::string("Array column '") + clause->GetColumnName() + "' used in SET clause",
                 clause->GetLineNumber());
    }
  }
  if (GetCondition() != nullptr) GetCondition()->ValidateArrayUsage();
}

namespace {

// TRUE when the reference's column is column, or a combined column that
// has column among its members.
bool ReferenceUses(DD_REF const &reference, DD_COLUMN const *column) {
  if (reference.column == column) return true;
  if (reference.column == nullptr || reference.column->type != DDT_COMBINED) return false;
  for (DD_COLUMN **m = reference.column->members; m != nullptr && *m != nullptr; ++m) {
    if (*m == column) return true;
  }
  return false;
}

}  // namespace

void SQLVTUpdate::DoValidate() {
  SQLVTTable *table = GetTable();
  DD_TABLE *dd = Dictionary(table);
  DD_KEY *primary = key_desc(dd, 1);
  bool references = !dbc_references_disabled();
  for (bool more = setClauses_->First(); more; more = setClauses_->Next()) {
    SQLVTSetClause *clause = setClauses_->GetCurrent();
    std::string const name = clause->GetColumnName();
    DD_COLUMN *column = ddcolumn_by_ddtable(dd, name.c_str());
    if (column == nullptr) continue;
    if (primary != nullptr && is_key_part(primary->parts, column)) {
      SQLVTThrow("42I67", "Update on primary key column '" + name + "'", clause->GetLineNumber());
    }
    if (!references) continue;
    bool foreign = (column->flags & DDF_REFERS) != 0 ||
                   ((column->flags & DDF_MEMBER) != 0 && (column->flags & DDF_MEMBER_REFERS) != 0);
    if (!foreign) continue;
    for (int i = 0; i < dd->ref_count; ++i) {
      if (Restricting(dd->refs[i].mode) && ReferenceUses(dd->refs[i], column)) {
        SQLVTThrow("42I68", "Update on foreign key column '" + name + "'", clause->GetLineNumber());
      }
    }
  }
}

SQLExecTree *SQLVTUpdate::CreateET() {
  SQLVTTable *table = GetTable();
  int logical = table->GetLogicalCompnr();
  int physical = table->GetPhysicalCompnr();
  bool allowed = SQLRolesMgr::ReadSetEqualsUpdateSet(table->GetName(), logical, physical);
  auto columns = std::make_unique<intList>();
  // The list holds the SET expressions as plain pointers: they are freed
  // with it until the request has taken them over.
  SQLETNetUpdate::ValueListPtr values(new pSQLRSSCValueExprList);
  for (bool more = setClauses_->First(); more; more = setClauses_->Next()) {
    SQLVTSetClause *clause = setClauses_->GetCurrent();
    columns->Append(clause->GetColumnId());
    std::unique_ptr<SQLRSSCValueExpr> value(clause->GetValue()->CreateRS());
    values->Append(value.get());  // the list owns it once it holds it
    (void)value.release();
  }
  std::unique_ptr<SQLRSSCSearchCond> condition(CreateConditionET(allowed, logical));
  // The request takes the lists and the condition over; when it throws (a
  // condition the driver cannot evaluate) they are freed with it.
  return new SQLETNetUpdate(table->GetName(), physical, std::move(columns), std::move(values), std::move(condition));
}
