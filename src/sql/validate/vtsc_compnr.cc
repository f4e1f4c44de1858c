#include "sql/validate/vtsc_compnr.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_parameter.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtsc_support.h"

// ---- SQLVTSCCompnrSpec ----

SQLVTSCCompnrSpec::SQLVTSCCompnrSpec(SQLVTSCIdentifier *column, SQLParameter const *parameter)
    : column_(column), parameter_(parameter) {}

SQLVTSCCompnrSpec::SQLVTSCCompnrSpec(SQLVTSCIdentifier *column, int number) : column_(column), integer_(number) {}

SQLVTSCCompnrSpec::SQLVTSCCompnrSpec(SQLVTSCIdentifier *column, SQLVTSCIdentifier *otherColumn)
    : column_(column), otherColumn_(otherColumn) {}

SQLVTSCCompnrSpec::SQLVTSCCompnrSpec(SQLVTSCIdentifier *column, List<int> *list) : column_(column), list_(list) {}

SQLVTSCCompnrSpec::~SQLVTSCCompnrSpec() = default;

bool SQLVTSCCompnrSpec::GetInteger(int *number) const {
  if (integer_ < 0) return false;
  *number = integer_;
  return true;
}

bool SQLVTSCCompnrSpec::GetParam(SQLParameter const **parameter) const {
  if (parameter_ == nullptr) return false;
  *parameter = parameter_;
  return true;
}

bool SQLVTSCCompnrSpec::GetIdentifier(SQLVTSCIdentifier const **otherColumn) const {
  if (!otherColumn_) return false;
  *otherColumn = otherColumn_.get();
  return true;
}

SQLParameter *SQLVTSCCompnrSpec::CompnrSetToParameter(List<int> **list) {
  if (!list_) return nullptr;
  auto *parameter = new SQLParameter();
  parameter->SetType(SQL_INTEGER, 0, 1);
  parameter_ = parameter;
  *list = list_.release();
  return parameter;
}

void SQLVTSCCompnrSpec::SetCompnr(SQLVTTable *table) const {
  if (parameter_ != nullptr) {
    table->RestrictToCompnrParam(parameter_);
  } else {
    table->RestrictToCompnr(integer_);
  }
}

void SQLVTSCCompnrSpec::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "CompnrSpec(CompnrName: " << column_->GetText();
  if (parameter_ != nullptr) log << ", ParameterId: " << parameter_->GetId();
  if (otherColumn_) log << ", CompnrName: " << otherColumn_->GetText();
  if (integer_ >= 0) log << ", Compnr: " << integer_;
  if (list_) {
    log << ", CompnrList: ";
    bool first = true;
    for (bool more = list_->First(); more; more = list_->Next()) {
      if (!first) log << ", ";
      first = false;
      log << list_->GetCurrent();
    }
  }
  log << ")";
}

void SQLVTSCCompnrSpec::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCCompnrSpec::MapColumnIds() called");
}

void SQLVTSCCompnrSpec::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, SQLVTWhereUsedMgr *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCCompnrSpec::MapColumnNamesToIds() called");
}

SQLVTSCSearchCond *SQLVTSCCompnrSpec::PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) {
  specs->Insert(this);
  return nullptr;
}

// ---- values ----

SQLVTSCCompnrValue::~SQLVTSCCompnrValue() = default;

bool SQLVTSCCompnrInteger::Simplify(SQLVTSCCompnrValue const **simplest) const {
  *simplest = this;
  return true;
}

void SQLVTSCCompnrInteger::Log() const {
  if (SQLVTTracing()) *SQLLogger::Instance() << "Integer: " << number_;
}

int SQLVTSCCompnrParameter::Evaluate() const { return parameter_->GetInteger(); }

bool SQLVTSCCompnrParameter::Simplify(SQLVTSCCompnrValue const **simplest) const {
  *simplest = this;
  return true;
}

void SQLVTSCCompnrParameter::Log() const {
  if (!SQLVTTracing()) return;
  *SQLLogger::Instance() << "Parameter: ";
  parameter_->Log();
}

int SQLVTSCCompnrSetRef::Evaluate() const { return set_->Evaluate(); }

bool SQLVTSCCompnrSetRef::Simplify(SQLVTSCCompnrValue const **simplest) const { return set_->Simplify(simplest); }

void SQLVTSCCompnrSetRef::Log() const {
  if (SQLVTTracing()) *SQLLogger::Instance() << "Ref: " << set_->GetId();
}

// ---- the set ----

std::atomic<int> SQLVTSCCompnrSet::_idCounter{0};

SQLVTSCCompnrSet::SQLVTSCCompnrSet() : id_(_idCounter.fetch_add(1, std::memory_order_relaxed) + 1) {}

SQLVTSCCompnrSet::~SQLVTSCCompnrSet() { Clear(); }

void SQLVTSCCompnrSet::Clear() {
  for (bool more = values_.First(); more; more = values_.Next()) {
    delete values_.GetCurrent();
    values_.DeleteCurrent();
  }
}

void SQLVTSCCompnrSet::IntersectWith(int number) {
  std::unique_ptr<SQLVTSCCompnrValue> value(new SQLVTSCCompnrInteger(number));
  values_.Append(value.get());
  value.release();
}

void SQLVTSCCompnrSet::IntersectWith(SQLParameter const *parameter) {
  std::unique_ptr<SQLVTSCCompnrValue> value(new SQLVTSCCompnrParameter(parameter));
  values_.Append(value.get());
  value.release();
}

void SQLVTSCCompnrSet::IntersectWith(SQLVTSCCompnrSet const *other) {
  std::unique_ptr<SQLVTSCCompnrValue> value(new SQLVTSCCompnrSetRef(other));
  values_.Append(value.get());
  value.release();
}

bool SQLVTSCCompnrSet::Simplify(SQLVTSCCompnrValue const **simplest) const {
  *simplest = nullptr;
  if (busy_) return true;
  busy_ = true;
  bool result = true;
  for (bool more = values_.First(); more && result; more = values_.Next()) {
    SQLVTSCCompnrValue const *v = nullptr;
    if (!values_.GetCurrent()->Simplify(&v)) {
      result = false;
    } else if (*simplest == nullptr) {
      *simplest = v;
    } else if (v != nullptr && v->ConflictsWith(*simplest)) {
      result = false;
    }
  }
  busy_ = false;
  return result;
}

bool SQLVTSCCompnrSet::Simplify() {
  SQLVTSCCompnrValue const *simplest = nullptr;
  if (!Simplify(&simplest)) return false;
  std::unique_ptr<SQLVTSCCompnrValue> copy(simplest ? simplest->Copy() : nullptr);
  Clear();
  if (copy) {
    values_.Append(copy.get());
    copy.release();
  }
  return true;
}

int SQLVTSCCompnrSet::Evaluate() const {
  if (busy_) return -1;
  busy_ = true;
  int result = -1;
  for (bool more = values_.First(); more && result != -2; more = values_.Next()) {
    int e = values_.GetCurrent()->Evaluate();
    if (e == -1) continue;
    if (e == -2 || (result != -1 && result != e)) {
      result = -2;
    } else {
      result = e;
    }
  }
  busy_ = false;
  return result;
}

void SQLVTSCCompnrSet::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Id: " << id_ << " Restrictions: [";
  bool first = true;
  for (bool more = values_.First(); more; more = values_.Next()) {
    if (!first) log << ", ";
    first = false;
    values_.GetCurrent()->Log();
  }
  log << "]";
}

void SQLVTLogCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> const *specs) {
  if (specs == nullptr || specs->NrElements() == 0 || !SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "CompnrSpecs:" << endl << incind;
  for (int i = 0; i < specs->NrElements(); ++i) {
    specs->Get(i)->Log();
    log << endl;
  }
  log << decind;
}
