#include "sql/validate/vt_table.h"

#include <string>

#include "dbc/dd.h"
#include "molvane/dd.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/table_compnr_passes.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtree_data.h"
#include "sql/validate/vtsc_support.h"

int SQLVTTable::_tableCounter = 0;

SQLVTTable::SQLVTTable(char *name, char *alias, bool forUpdate)
    : name_(name), alias_(alias), schema_(SQLSchemaMgr::GetSchema(name)), forUpdate_(forUpdate),
      tableNumber_(_tableCounter++) {}

SQLVTTable::~SQLVTTable() = default;

void SQLVTTable::InitializeCompnr(SQLVTreeData *treeData) {
  compnrParameter_ = treeData->GetOrCreateDefaultCompnrParameter();
}

void SQLVTTable::SimplifyCompnrSet() {
  if (!compnrSet_.Simplify()) throw SQLVTCompnrConflict(GetCorrelationName(), GetLineNumber());
}

int SQLVTTable::GetLogicalCompnr() const { SQLVTNotYetResolving("SQLVTTable::GetLogicalCompnr"); }

int SQLVTTable::GetPhysicalCompnr() const { SQLVTNotYetResolving("SQLVTTable::GetPhysicalCompnr"); }

void SQLVTTable::SetIndexHints(SQLIndexHints *hints) {
  std::unique_ptr<SQLIndexHints> owned(hints);
  std::string const table = GetCorrelationName();
  if (indexHints_) SQLVTThrow("42I45", "Multiple index hints specified on table '" + table + "'", 0);
  DD_TABLE *dd = ddtable(name_.get());
  int const indexes = dd != nullptr ? dd->key_count : 0;
  for (int i = 0; i < owned->count; ++i) {
    int const number = owned->indexNumbers[i];
    if (number < 1 || number > indexes) {
      SQLVTThrow("42I44", "Invalid index number " + std::to_string(number) + " for table '" + table + "'", 0);
    }
  }
  indexHints_ = std::move(owned);
}

SQLVTRetryFilter *SQLVTTable::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTTable::BuildRetryFilter() called");
}

SQLRowSource *SQLVTTable::DoCreateRS() { SQLVTNotYetResolving("SQLVTTable::DoCreateRS"); }

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

SQLVTNode *SQLVTTable::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                           SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTTable::MapColumnNamesToIds");
}

void SQLVTTable::SetIndexHintsOnTables(List<SQLVTIndexHint> *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTTable::SetIndexHintsOnTables() called");
}
