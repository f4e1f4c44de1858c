#include "sql/exec/subquery_answers.h"

#include <cstdint>
#include <cstring>

#include "sql/common/sql_parameter.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/row_source.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/visitor.h"
#include "sql/exec/visitors.h"

namespace {

// Collects the stores of the outer rows a subquery reads (see
// SQLRSOuterValueStores).
class OuterStoresVisitor : public SQLVisitor {
 public:
  explicit OuterStoresVisitor(std::vector<SQLValueStore const *> *stores) : stores_(stores) {}

  void VisitSQLRSSCColumnRef(SQLRSSCColumnRef *ref) override {
    if (ref->GetRelScopeLevel() + GetLevel() >= 1) return;
    if (ref->GetValueStore() == nullptr) complete_ = false;
    else stores_->push_back(ref->GetValueStore());
  }
  void VisitSQLRSSCParameterRef(SQLRSSCParameterRef *ref) override {
    stores_->push_back(ref->GetParameter()->GetValueStore());
  }
  void VisitSQLRSFetch(SQLRSFetch *leaf) override {
    if (!leaf->OuterValueStores(GetLevel(), stores_)) complete_ = false;
  }
  bool Complete() const { return complete_; }

 private:
  std::vector<SQLValueStore const *> *stores_;
  bool complete_ = true;
};

template <class T>
void AppendWord(T word, std::string *key) {
  char bytes[sizeof word];
  std::memcpy(bytes, &word, sizeof word);
  key->append(bytes, sizeof word);
}

}  // namespace

SQLRSSubqueryReads SQLRSWhatSubqueryReads(SQLRowSource *subquery) {
  SQLIsVariableVisitor variable;
  SQLRSVisitSubquery(subquery, variable);
  if (variable.GetResult()) return SQLRSSubqueryReads::kOuterRows;
  SQLIsConstantVisitor constant;
  SQLRSVisitSubquery(subquery, constant);
  return constant.GetResult() ? SQLRSSubqueryReads::kNothing : SQLRSSubqueryReads::kParameters;
}

bool SQLRSOuterValueStores(SQLRowSource *subquery, std::vector<SQLValueStore const *> *stores) {
  OuterStoresVisitor visitor(stores);
  SQLRSVisitSubquery(subquery, visitor);
  return visitor.Complete();
}

void SQLRSAppendKeyImage(SQLValueStore const *value, std::string *key) {
  SQLType const type = value->GetType();
  AppendWord(static_cast<std::int32_t>(type), key);
  if (type == SQL_ARRAY) {
    AppendWord(static_cast<std::int32_t>(value->GetDimension()), key);
    for (int i = 0; i < value->GetDimension(); ++i) SQLRSAppendKeyImage(value->GetElement(i), key);
    return;
  }
  if (value->IsNull()) {
    key->push_back('N');
    return;
  }
  key->push_back('V');
  switch (type) {
    case SQL_STRING:
    case SQL_RAW:
      AppendWord(static_cast<std::uint64_t>(value->GetLength()), key);
      key->append(reinterpret_cast<char const *>(value->GetBytes()), value->GetLength());
      break;
    case SQL_REAL: AppendWord(value->GetReal(), key); break;
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS: AppendWord(value->GetTimestamp(), key); break;
    default: AppendWord(value->GetInteger(), key); break;
  }
}

size_t SQLRSValueWeight(SQLValueStore const *value) {
  size_t weight = sizeof(SQLValueStore);
  if (value->GetType() == SQL_ARRAY) {
    for (int i = 0; i < value->GetDimension(); ++i) weight += SQLRSValueWeight(value->GetElement(i));
    return weight;
  }
  if (!value->IsNull() && (value->GetType() == SQL_STRING || value->GetType() == SQL_RAW)) weight += value->GetLength();
  return weight;
}

namespace {

class WriteWatcher : public SQLVisitor {
 public:
  explicit WriteWatcher(SQLTableWriteWatch *watch) : watch_(watch) {}
  void VisitSQLRSFetch(SQLRSFetch *leaf) override { leaf->WatchWrites(watch_); }

 private:
  SQLTableWriteWatch *watch_;
};

}  // namespace

void SQLRSWatchSubqueryWrites(SQLRowSource *subquery, SQLTableWriteWatch *watch) {
  WriteWatcher watcher(watch);
  SQLRSVisitSubquery(subquery, watcher);
}

// ---- SQLRSOuterKey ----

bool SQLRSOuterKey::Prepare(SQLRSPrepareContext *context, SQLRowSource *subquery) {
  stores_.clear();
  executions_ = context->Executions();
  execution_ = 0;
  if (executions_ == nullptr || SQLRSWhatSubqueryReads(subquery) == SQLRSSubqueryReads::kNothing) return false;
  return SQLRSOuterValueStores(subquery, &stores_) && !stores_.empty();
}

std::string const &SQLRSOuterKey::Current() {
  key_.clear();
  for (SQLValueStore const *v : stores_) SQLRSAppendKeyImage(v, &key_);
  return key_;
}

bool SQLRSOuterKey::NewExecution() {
  if (execution_ == executions_->Current()) return false;
  execution_ = executions_->Current();
  return true;
}
