#include "sql/exec/held_rows.h"

#include "sql/exec/column_ref_scope.h"

namespace {

// What a value weighs in memory.
size_t Weight(SQLValueStore const *v) {
  size_t weight = sizeof(SQLValueStore);
  if (v->GetType() == SQL_ARRAY) {
    for (int i = 0; i < v->GetDimension(); ++i) weight += Weight(v->GetElement(i));
    return weight;
  }
  if (!v->IsNull() && (v->GetType() == SQL_STRING || v->GetType() == SQL_RAW)) weight += v->GetLength();
  return weight;
}

}  // namespace

void SQLRSHeldRows::Prepare(SQLRSExecutions const *executions, std::vector<SQLValueStore *> const &stores) {
  executions_ = executions;
  stores_ = stores;
  rows_.clear();
  weight_ = 0;
  next_ = 0;
  heldAt_ = 0;
  overflowedAt_ = 0;
}

bool SQLRSHeldRows::Held() const { return executions_ != nullptr && heldAt_ == executions_->Current(); }

bool SQLRSHeldRows::Overflowed() const {
  return executions_ != nullptr && overflowedAt_ == executions_->Current();
}

void SQLRSHeldRows::Begin() {
  rows_.clear();
  weight_ = 0;
  heldAt_ = 0;
}

bool SQLRSHeldRows::Add() {
  size_t const n = stores_.size();
  if (n == 0 || rows_.size() / n >= kMaxRows) {
    Overflow();
    return false;
  }
  for (SQLValueStore const *v : stores_) {
    weight_ += Weight(v);
    rows_.emplace_back();
    rows_.back().Copy(v);
  }
  if (weight_ > kMaxWeight) {
    Overflow();
    return false;
  }
  return true;
}

void SQLRSHeldRows::Overflow() {
  overflowedAt_ = executions_->Current();
  std::vector<SQLValueStore>().swap(rows_);
  weight_ = 0;
  heldAt_ = 0;
}

void SQLRSHeldRows::Finish() { heldAt_ = executions_->Current(); }

bool SQLRSHeldRows::Next() {
  size_t const n = stores_.size();
  if (next_ + n > rows_.size()) return false;
  for (size_t i = 0; i < n; ++i) stores_[i]->Copy(&rows_[next_ + i]);
  next_ += n;
  return true;
}
