#include "sql/validate/vt_table.h"

#include <string>

#include "dbc/compnr/compnr.h"
#include "dbc/dict/dd.h"
#include "molvane/dd.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_parameter.h"
#include "sql/common/sql_state.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/roles/roles_mgr.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_state.h"
#include "sql/validate/vt_table_scope.h"
#include "sql/validate/resolve_flags.h"
#include "sql/validate/table_compnr_passes.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtree_data.h"
#include "sql/validate/vtsc_support.h"

std::atomic<int> SQLVTTable::_tableCounter{0};

SQLVTTable::SQLVTTable(char *name, char *alias, bool forUpdate)
    : name_(name), alias_(alias), schema_(SQLSchemaMgr::GetSchema(name)), forUpdate_(forUpdate),
      tableNumber_(_tableCounter.fetch_add(1, std::memory_order_relaxed)) {}

SQLVTTable::~SQLVTTable() = default;

void SQLVTTable::InitializeCompnr(SQLVTreeData *treeData) {
  compnrParameter_ = treeData->GetOrCreateDefaultCompnrParameter();
}

void SQLVTTable::SimplifyCompnrSet() {
  if (!compnrSet_.Simplify()) throw SQLVTCompnrConflict(GetCorrelationName(), GetLineNumber());
}

int SQLVTTable::GetLogicalCompnr() const {
  int const evaluated = compnrSet_.Evaluate();
  if (evaluated == -2) {
    // Restrictions that could only be compared at run time (a parameter
    // against a joined table's company) disagree: there is no company to
    // read, and reading "company -2" would be wrong.
    throw SQLException(vtstate::kCompnrRestriction, 302,
                       SQLString("Conflicting company numbers in compnr restrictions on table '") +
                           SQLString(GetCorrelationName()) + SQLString("'"));
  }
  if (evaluated != -1) return evaluated;
  if (compnrParameter_ == nullptr) {
    throw SQLException(sqlstate::kGeneral, 304,
                       SQLString("No company number for table '") + SQLString(GetCorrelationName()) +
                           SQLString("'"));
  }
  return compnrParameter_->GetInteger();
}

int SQLVTTable::GetPhysicalCompnr() const {
  int const logical = GetLogicalCompnr();
  return static_cast<std::int16_t>(compnrLogicToPhysic(compnrGetCompnrData(name_.get()), logical));
}

void SQLVTTable::SetIndexHints(SQLIndexHints *hints) {
  std::unique_ptr<SQLIndexHints> owned(hints);
  std::string const table = GetCorrelationName();
  if (indexHints_) SQLVTThrow(vtstate::kMultipleIndexHints, "Multiple index hints specified on table '" + table + "'", 0);
  DD_TABLE *dd = dd_table_or_throw(name_.get());
  if (dd == nullptr) SQLVTThrow(vtstate::kUnknownTable, "Unknown table '" + std::string(name_.get()) + "'", 0);
  int const indexes = dd->key_count;
  for (int i = 0; i < owned->count; ++i) {
    int const number = owned->indexNumbers[i];
    if (number < 1 || number > indexes) {
      SQLVTThrow(vtstate::kInvalidIndexNumber, "Invalid index number " + std::to_string(number) + " for table '" + table + "'", 0);
    }
  }
  indexHints_ = std::move(owned);
}

SQLVTRetryFilter *SQLVTTable::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTTable::BuildRetryFilter() called");
}

SQLRowSource *SQLVTTable::DoCreateRS() {
  std::unique_ptr<SQLRowSource> fetch(SQLRSFetch::CreateRSFetch(name_.get(), GetPhysicalCompnr(), indexHints_.get()));
  std::unique_ptr<SQLRSSCSearchCond> condition(SQLRolesMgr::GetCondition(name_.get(), GetLogicalCompnr()));
  if (!condition) return fetch.release();
  return new SQLRSFilter(fetch.release(), condition.release());
}

SQLColumnDescriptor const *SQLVTTable::GetColumnDescriptor(int column) const {
  return schema_->GetColumnDescriptor(column);
}

int SQLVTTable::GetNumCols() const { return schema_->GetNumCols(); }

void SQLVTTable::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "VTTable(" << endl << incind;
  log << "Id: " << tableNumber_ << endl;
  log << "TableName: " << name_.get() << endl;
  log << "Alias: " << (alias_ ? alias_.get() : "NULL") << endl;
  log << "ForUpdate: " << forUpdate_ << endl;
  log << "Compnr restrictions: ";
  compnrSet_.Log();
  log << endl;
  if (indexHints_) {
    log << "IndexHints:";
    for (int i = 0; i < indexHints_->count; ++i) log << " " << static_cast<int>(indexHints_->indexNumbers[i]);
    log << " Mode: " << static_cast<int>(indexHints_->mode) << endl;
  }
  if (GetHints() != nullptr) GetHints()->Log();
  log << "Schema: ";
  schema_->Log();
  log << decind << ")" << endl;
}

SQLVTNode *SQLVTTable::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *, int flags, List<char const *> *,
                                           SQLVTWhereUsedMgr *) {
  auto level = std::make_unique<SQLVTTableScopeLevel>((flags & vtflags::kAnsi) == 0);
  level->AppendExposedTable(SQLVTExposedTable(this, 0, SQL_NULLSPEC_NONE, RefPtr<SQLVTClearUnrefKey>()));
  scope->Push(level.release());
  return this;
}

void SQLVTTable::SetIndexHintsOnTables(List<SQLVTIndexHint> *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTTable::SetIndexHintsOnTables() called");
}
