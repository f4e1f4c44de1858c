#include "sql/exec/held_rows.h"

#include "sql/exec/column_ref_scope.h"
#include "sql/exec/subquery_answers.h"

void SQLRSHeldRows::Prepare(SQLRSExecutions *executions, std::vector<SQLValueStore *> const &stores) {
  executions_ = executions;
  stores_ = stores;
  rows_.clear();
  weight_ = 0;
  next_ = 0;
  heldAt_ = 0;
  overflowedAt_ = 0;
  watch_.Clear();
}

bool SQLRSHeldRows::Held() {
  if (executions_ == nullptr || heldAt_ != executions_->Current()) return false;
  if (!watch_.Written()) return true;
  Drop();  // the transaction changed the table since the rows were read
  return false;
}

bool SQLRSHeldRows::Overflowed() const {
  return executions_ != nullptr && overflowedAt_ == executions_->Current();
}

void SQLRSHeldRows::Begin() {
  Drop();
  watch_.Mark();
}

bool SQLRSHeldRows::Add() {
  size_t const n = stores_.size();
  if (n == 0 || rows_.size() / n >= kMaxRows) {
    Overflow();
    return false;
  }
  size_t weight = 0;
  for (SQLValueStore const *v : stores_) weight += SQLRSValueWeight(v);
  if (!executions_->Reserve(weight)) {
    Overflow();
    return false;
  }
  weight_ += weight;
  for (SQLValueStore const *v : stores_) {
    rows_.emplace_back();
    rows_.back().Copy(v);
  }
  return true;
}

void SQLRSHeldRows::Drop() {
  executions_->Release(weight_);
  std::vector<SQLValueStore>().swap(rows_);
  weight_ = 0;
  heldAt_ = 0;
}

void SQLRSHeldRows::Overflow() {
  overflowedAt_ = executions_->Current();
  Drop();
}

void SQLRSHeldRows::Finish() { heldAt_ = executions_->Current(); }

bool SQLRSHeldRows::Next() {
  size_t const n = stores_.size();
  if (next_ + n > rows_.size()) return false;
  for (size_t i = 0; i < n; ++i) stores_[i]->Copy(&rows_[next_ + i]);
  next_ += n;
  return true;
}
