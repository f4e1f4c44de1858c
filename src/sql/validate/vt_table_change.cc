#include "sql/validate/vt_table_change.h"

#include <string>

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

SQLExecTree *SQLVTTableChange::CreateET() {
  SQLVTNotYetResolving((std::string(className_) + "::CreateET").c_str());
}

void SQLVTTableChange::DoValidate() { SQLVTNotYetResolving((std::string(className_) + "::DoValidate").c_str()); }

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

SQLVTNode *SQLVTDelete::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                            SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTDelete::MapColumnNamesToIds");
}

void SQLVTUpdate::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "VTUpdate(" << endl << incind;
  LogParts(setClauses_.get());
  log << decind << ")" << endl;
}

SQLVTNode *SQLVTUpdate::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                            SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTUpdate::MapColumnNamesToIds");
}

void SQLVTUpdate::ValidateTypes() const { SQLVTNotYetResolving("SQLVTUpdate::ValidateTypes"); }

void SQLVTUpdate::ValidateArrayUsage() const { SQLVTNotYetResolving("SQLVTUpdate::ValidateArrayUsage"); }
