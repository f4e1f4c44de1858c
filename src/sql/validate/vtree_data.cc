#include "sql/validate/vtree_data.h"

#include <cstring>
#include <string>

#include "sql/common/sql_logger.h"

void SQLSelectTargetArray::Append(char *name, bool derived) {
  std::unique_ptr<char[]> owned(name);  // freed when the append fails
  targets_.push_back(Target{std::move(owned), derived});
}

void SQLSelectTargetArray::Get(int i, char const **name, bool *derived) const {
  Target const &t = targets_.at(static_cast<size_t>(i));
  *name = t.name.get();
  *derived = t.derived;
}

SQLVTreeData::SQLVTreeData() : compnrParameters_(10) {}

SQLVTreeData::~SQLVTreeData() {
  if (namedParameters_) {
    for (bool more = namedParameters_->First(); more; more = namedParameters_->Next())
      delete namedParameters_->GetCurrent();
  }
}

void SQLVTreeData::AttachRetryStorage(SQLRetrySpec *spec) {
  retryParameters_.push_back(std::make_unique<SQLParameter>());
  retryStores_.push_back(std::make_unique<SQLValueStore>());
  spec->parameter = retryParameters_.back().get();
  spec->saved = retryStores_.back().get();
}

SQLParameter *SQLVTreeData::GetOrCreateDefaultCompnrParameter() {
  if (!defaultCompnr_) {
    defaultCompnr_ = std::make_unique<SQLParameter>();
    defaultCompnr_->SetType(SQL_INTEGER, 0, 1);
  }
  ++defaultCompnrUsers_;
  return defaultCompnr_.get();
}

void SQLVTreeData::ReleaseDefaultCompnrParameter() {
  if (defaultCompnrUsers_ > 0) --defaultCompnrUsers_;
}

SQLParameter *SQLVTreeData::GetDefaultCompnrParameter() const {
  return defaultCompnrUsers_ > 0 ? defaultCompnr_.get() : nullptr;
}

void SQLVTreeData::AddCompnrParameter(SQLParameter *parameter) {
  for (int i = 0; i < compnrParameters_.NrElements(); ++i)
    if (compnrParameters_.Get(i)->GetId() == parameter->GetId()) return;
  compnrParameters_.Insert(parameter);
}

namespace {

std::unique_ptr<SQLParameter> TypedParameter(SQLType type) {
  auto p = std::make_unique<SQLParameter>();
  p->SetType(type, 0, 1);
  return p;
}

}  // namespace

SQLParameter *SQLVTreeData::GetOrCreateCurrentDateParameter() {
  if (!currentDate_) currentDate_ = TypedParameter(SQL_DATE);
  return currentDate_.get();
}

SQLParameter *SQLVTreeData::GetOrCreateCurrentTimestampParameter() {
  if (!currentTimestamp_) currentTimestamp_ = TypedParameter(SQL_TIMESTAMP);
  return currentTimestamp_.get();
}

SQLParameter *SQLVTreeData::GetImplementationParameter(char *name) {
  std::unique_ptr<char[]> owned(name);
  if (!namedParameters_) namedParameters_ = std::make_unique<pSQLNamedParameterList>();
  for (bool more = namedParameters_->First(); more; more = namedParameters_->Next()) {
    SQLNamedParameter *named = namedParameters_->GetCurrent();
    if (std::strcmp(named->GetName(), owned.get()) == 0) return named->GetParameter();
  }
  // The name is handed over only once the parameter's memory is had.
  auto parameter = std::make_unique<SQLParameter>();
  std::unique_ptr<SQLNamedParameter> named(new SQLNamedParameter(owned.release(), std::move(parameter)));
  namedParameters_->Append(named.get());
  return named.release()->GetParameter();
}

void SQLVTreeData::SetMaxRows(int constant) {
  auto rows = std::make_unique<SQLSetSize>();
  rows->kind = SQLSetSize::Constant;
  rows->constant = constant;
  maxRows_ = std::move(rows);
}

void SQLVTreeData::SetMaxRows(SQLParameter *parameter) {
  auto rows = std::make_unique<SQLSetSize>();
  rows->kind = SQLSetSize::Parameter;
  rows->parameter = parameter;
  maxRows_ = std::move(rows);
}

void SQLVTreeData::RemoveLastTable() {
  // The list's cursor only walks forward: step to the last element.
  int n = tables_.NrElements();
  if (!tables_.First()) return;
  for (int i = 1; i < n; ++i) tables_.Next();
  tables_.DeleteCurrent();
}

void SQLVTreeData::CreateSelectTargetList() {
  selectTargets_ = RefPtr<SQLSelectTargetArray>(new SQLSelectTargetArray());
}

void SQLVTreeData::AddSelectTarget(char *name, bool derived) {
  std::unique_ptr<char[]> owned(name);
  if (!selectTargets_) CreateSelectTargetList();
  selectTargets_->Append(owned.release(), derived);
}

void SQLVTreeData::GetSelectTarget(int i, char const **name, bool *derived) const {
  selectTargets_->Get(i, name, derived);
}

std::string SQLVTreeData::SelectTargetLine(int i) const {
  char const *name;
  bool derived;
  GetSelectTarget(i, &name, &derived);
  std::string line = "[";
  line += std::to_string(i);
  line += "] ";
  line += name ? name : "<NULL>";
  if (derived) line += " (derived)";
  return line;
}

void SQLVTreeData::LogSelectTargets() const {
  if (!selectTargets_) return;
  SQLLogger &log = *SQLLogger::Instance();
  for (int i = 0; i < selectTargets_->NrElements(); ++i) log << SelectTargetLine(i).c_str() << endl;
}

void SQLVTreeData::CreateSelectStarTableList() {
  selectStarTables_ = RefPtr<SQLSelectStarTableList>(new SQLSelectStarTableList());
}

void SQLVTreeData::AddSelectStarTable(int number, char const *name, bool forUpdate) {
  if (!selectStarTables_) CreateSelectStarTableList();
  selectStarTables_->Append(SQLSelectStarTable(number, name, forUpdate));
}

bool SQLVTreeData::TableInSelectStarTableList(int number) const {
  if (!selectStarTables_) return false;
  // Walk a copy: the list's cursor is shared with the statement.
  SQLSelectStarTableList tables(*selectStarTables_);
  for (bool more = tables.First(); more; more = tables.Next())
    if (tables.GetCurrent().GetNumber() == number) return true;
  return false;
}

SQLVTOwner<SQLVTreeData> SQLVTOwnTreeData(SQLVTreeData *treeData) {
  return SQLVTOwner<SQLVTreeData>(treeData, [](SQLVTreeData *data) { delete data; });
}
