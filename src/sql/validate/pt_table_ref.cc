#include "sql/validate/pt_table_ref.h"

#include <cstring>

#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"
#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtsc_support.h"

// ---- SQLPTTableReference ----

bool SQLPTTableReference::ExposedTableExists(char const *name) {
  bool found = false;
  for (IterStart(true); !IterAtEnd(); IterToNext()) {
    if (std::strcmp(IterGetTableName(), name) == 0) found = true;
  }
  return found;
}

SQLPTTable *SQLPTTableReference::FindFirstExposedTableAlsoIn(SQLPTTableReference *other) {
  SQLPTTable *found = nullptr;
  for (IterStart(true); !IterAtEnd(); IterToNext()) {
    if (found == nullptr && other->ExposedTableExists(IterGetTableName())) found = IterGetTable();
  }
  return found;
}

SQLPTTable *SQLPTTableReference::FindFirstExposedTableAlsoIn(SQLVTMultiJoin *other) {
  SQLPTTable *found = nullptr;
  for (IterStart(true); !IterAtEnd(); IterToNext()) {
    if (found == nullptr && other->ExposedTableExists(IterGetTableName())) found = IterGetTable();
  }
  return found;
}

void SQLPTTableReference::SetForUpdate(bool) {
  for (IterStart(false); !IterAtEnd(); IterToNext()) IterGetTable()->SetForUpdate(true);
}

// ---- SQLPTTable ----

SQLPTTable::SQLPTTable(SQLVTTable *table, bool hidden)
    : hidden_(hidden), isTableName_(true), node_(table), table_(table) {}

SQLPTTable::SQLPTTable(SQLVTNode *query, char *correlationName)
    : hidden_(false), isTableName_(false), node_(query), correlationName_(correlationName) {}

SQLPTTable::~SQLPTTable() {
  if (ownsNode_) delete node_;
}

char const *SQLPTTable::GetCorrelationName() const {
  if (correlationName_) return correlationName_.get();
  return table_ != nullptr ? table_->GetCorrelationName() : "";
}

char const *SQLPTTable::GetBaseName() const { return table_ != nullptr ? table_->GetName() : nullptr; }

SQLVTNode *SQLPTTable::ExtractVTTable() {
  ownsNode_ = false;
  return node_;
}

void SQLPTTable::SetForUpdate(bool forUpdate) {
  if (table_ != nullptr) table_->SetForUpdate(forUpdate);
}

bool SQLPTTable::IsForUpdate() { return table_ != nullptr && table_->IsForUpdate(); }

int SQLPTTable::SetColumnIdOffset(int offset) {
  columnIdOffset_ = offset;
  return offset + node_->GetNumCols();
}

void SQLPTTable::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "PTTable(" << endl << incind;
  if (isTableName_) log << "IsHidden: " << hidden_ << endl;
  log << "Correlation name: " << GetCorrelationName() << endl;
  if (ownsNode_) node_->Log();
  log << decind << ")" << endl;
}

SQLVTNode *SQLPTTable::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                           SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLPTTable::MapColumnNamesToIds");
}

// ---- SQLPTJoin ----

SQLPTJoin::SQLPTJoin(SQLJoinType type, SQLPTTableReference *left, SQLPTTableReference *right,
                     SQLVTSCSearchCond *condition)
    : type_(type), left_(left), right_(right), condition_(condition) {
  SetLineNumber(left_->GetLineNumber());
  firstDuplicate_ = left_->GetFirstDuplicateTable();
  if (firstDuplicate_ == nullptr) firstDuplicate_ = right_->GetFirstDuplicateTable();
  if (firstDuplicate_ == nullptr) firstDuplicate_ = right_->FindFirstExposedTableAlsoIn(left_.get());
}

SQLPTJoin::~SQLPTJoin() = default;

void SQLPTJoin::IterStart(bool exposedOnly) {
  exposedOnly_ = exposedOnly;
  side_ = Side::Left;
  left_->IterStart(exposedOnly);
  if (left_->IterAtEnd()) NextSide();
}

void SQLPTJoin::NextSide() {
  if (side_ == Side::Left) {
    side_ = Side::Right;
    right_->IterStart(exposedOnly_);
    if (right_->IterAtEnd()) side_ = Side::None;
  } else {
    side_ = Side::None;
  }
}

void SQLPTJoin::IterToNext() {
  if (side_ == Side::None) return;
  Current()->IterToNext();
  if (Current()->IterAtEnd()) NextSide();
}

SQLPTTable *SQLPTJoin::IterGetTable() { return side_ == Side::None ? nullptr : Current()->IterGetTable(); }

char const *SQLPTJoin::IterGetTableName() {
  return side_ == Side::None ? nullptr : Current()->IterGetTableName();
}

int SQLPTJoin::SetColumnIdOffset(int offset) { return right_->SetColumnIdOffset(left_->SetColumnIdOffset(offset)); }

void SQLPTJoin::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "PTJoin(JoinType: " << SQLGetJoinTypeName(type_) << endl << incind;
  left_->Log();
  right_->Log();
  if (condition_) {
    if (tracing) log << "On condition:" << endl << incind;
    condition_->Log();
    if (tracing) log << endl << decind;
  }
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLPTJoin::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                          SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLPTJoin::MapColumnNamesToIds");
}
