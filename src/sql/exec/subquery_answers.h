// What a subquery condition or value keeps of its subquery's answers: the
// one policy of EXISTS, IN and scalar subqueries (SQLRSSubqueryAnswers).
//
// A subquery that reads no row around it and no parameter gives one
// answer per execution of the statement: it is held for the whole
// execution (the execution count of the tree tells when it ends), whatever
// breaks and resets of the row sources around it. One that reads
// parameters but no outer row holds its answer until the condition's
// Reset.
//
// A correlated subquery gives one answer per value of the outer columns it
// reads, and one that reads parameters one per value of them (a parameter
// of a join's inner side changes with every outer row). Its answers of one
// execution are kept by those values, so that a repeated value costs no
// new run of the subquery (for a table of a driver, no exchange with it):
// at most kMaxEntries answers, forgotten oldest first, and all forgotten
// when the execution count moves on. With many distinct values the
// subquery is answered here from a second tree (local_subquery.h).
//
// Every kept answer weighs against the one bound of the statement
// (SQLRSExecutions::kMaxKept), which the held rows of the second trees'
// leaves share: an answer that finds no room is not kept, and one found
// too large while it is read gives the keeping up for the execution.
//
// A write of this process (its transaction) to a table the subquery reads
// drops what is kept: the next answer is asked of the driver again, so
// that the rows of an open cursor do not depend on when a write fell
// between its fetches.
//
// Without an execution count (a condition prepared outside a tree), an
// answer that reads no outer row is held until the condition's Reset, and
// nothing is kept by values.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sql/common/table_writes.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/local_subquery.h"

class SQLRowSource;
class SQLValueStore;

// What a subquery reads of the world around it.
enum class SQLRSSubqueryReads {
  kNothing,     // neither outer rows nor parameters: one answer per execution
  kParameters,  // parameters but no outer row: one answer until Reset
  kOuterRows,   // outer rows: an answer per row
};

// REQUIRES: the subquery's tree is optimised. Its scope level is one below
// the condition that holds it.
SQLRSSubqueryReads SQLRSWhatSubqueryReads(SQLRowSource *subquery);

// The stores of the values from outside that a prepared subquery reads, in
// a fixed order: its column references to enclosing rows, its parameters,
// and the outer values and parameters its table leaves send. FALSE when it
// reads something whose value cannot be found here.
bool SQLRSOuterValueStores(SQLRowSource *subquery, std::vector<SQLValueStore const *> *stores);

// Appends an exact image of the value (its type, NULL flag and bytes) to a
// key: equal images give equal answers, also where collation-equal values
// (padded strings, 1 and 1.0) would not.
void SQLRSAppendKeyImage(SQLValueStore const *value, std::string *key);

// What a value weighs in memory, its own store counted.
size_t SQLRSValueWeight(SQLValueStore const *value);

// Adds the tables that the subquery's leaves read to the watch.
void SQLRSWatchSubqueryWrites(SQLRowSource *subquery, SQLTableWriteWatch *watch);

// The key of the outer values and the execution the answers belong to;
// the answers themselves are kept by SQLRSSubqueryAnswers.
class SQLRSOuterKey {
 public:
  // At the condition's Prepare, after its subquery was prepared: FALSE
  // when answers cannot be kept by outer values.
  bool Prepare(SQLRSPrepareContext *context, SQLRowSource *subquery);
  // Makes the key of the current outer values, and returns it.
  std::string const &Current();
  // The key that Current made last.
  std::string const &Last() const { return key_; }
  // TRUE when the execution moved on since the last call (every kept
  // answer belongs to an earlier one).
  bool NewExecution();

 private:
  std::vector<SQLValueStore const *> stores_;
  SQLRSExecutions const *executions_ = nullptr;
  unsigned long execution_ = 0;
  std::string key_;
};

template <class Answer>
class SQLRSSubqueryAnswers {
 public:
  static constexpr size_t kMaxEntries = 4096;

  // Takes the second tree over (null: none).
  explicit SQLRSSubqueryAnswers(SQLRowSource *local) : local_(local) {}

  SQLRSLocalSubquery &Local() { return local_; }
  // At the condition's Prepare, after its subquery was prepared (the
  // second tree is prepared here).
  void Prepare(SQLRSPrepareContext *context, SQLRowSource *subquery) {
    local_.Prepare(context);
    executions_ = context->Executions();
    held_ = false;  // what an earlier preparation kept weighs on its own tree
    heldAnswer_ = Answer();
    heldBytes_ = 0;
    answers_.clear();
    order_.clear();
    weight_ = 0;
    keyed_ = key_.Prepare(context, subquery);
    SQLRSSubqueryReads const reads = SQLRSWhatSubqueryReads(subquery);
    holdable_ = reads == SQLRSSubqueryReads::kNothing || (reads == SQLRSSubqueryReads::kParameters && !keyed_);
    heldPerExecution_ = reads == SQLRSSubqueryReads::kNothing && executions_ != nullptr;
    gaveUp_ = false;
    gaveUpAt_ = 0;
    watch_.Clear();
    SQLRSWatchSubqueryWrites(subquery, &watch_);
  }
  // The condition's Reset: an answer held for the execution stays.
  void Reset() {
    if (!heldPerExecution_) {
      DropHeld();
      gaveUp_ = false;
    }
  }
  // The answer is one for the execution (or until Reset), not one per
  // outer value.
  bool Holdable() const { return holdable_; }
  // Answers are kept by the outer values they are given for.
  bool Keyed() const { return keyed_; }
  // The answer kept for the current outer values, or null.
  Answer const *Find() {
    if (watch_.Written()) {  // the transaction changed what was kept
      watch_.Mark();
      DropHeld();
      Clear();
      local_.Restart();
    }
    if (GaveUp()) return nullptr;
    if (holdable_) {
      if (held_ && heldPerExecution_ && takenAt_ != executions_->Current()) DropHeld();
      return held_ ? &heldAnswer_ : nullptr;
    }
    if (!keyed_) return nullptr;
    if (key_.NewExecution()) Clear();
    auto found = answers_.find(key_.Current());
    return found == answers_.end() ? nullptr : &found->second.first;
  }
  // The held answer of the current execution, or null (without asking
  // whether a write dropped it: for the table leaf below an uncorrelated
  // IN within one Exec).
  Answer const *Held() const {
    bool const current = held_ && (!heldPerExecution_ || takenAt_ == executions_->Current());
    return holdable_ && current && !GaveUp() ? &heldAnswer_ : nullptr;
  }
  // The tree that finds an answer Find did not have.
  SQLRowSource *Pick(SQLRowSource *shipped) { return holdable_ ? shipped : local_.Pick(shipped); }
  // The bytes an answer may weigh to be kept.
  size_t Room() const {
    size_t const free = executions_ != nullptr ? executions_->Free() : SQLRSExecutions::kMaxKept;
    return free + (holdable_ ? heldBytes_ : weight_);
  }
  // Keeps the answer that the tree Pick gave found, weighing `bytes`, when
  // the bound has room for it.
  void Keep(SQLRowSource const *ran, Answer answer, size_t bytes) {
    local_.Ran(ran);
    if (GaveUp()) return;
    if (holdable_) {
      DropHeld();
      if (!Reserve(bytes)) return;
      heldAnswer_ = std::move(answer);
      heldBytes_ = bytes;
      held_ = true;
      takenAt_ = executions_ != nullptr ? executions_->Current() : 0;
      return;
    }
    if (!keyed_) return;
    // Room is made by forgetting the oldest answers.
    while (answers_.size() >= kMaxEntries || !Reserve(bytes)) {
      if (order_.empty()) return;
      auto oldest = answers_.find(order_.front());
      Release(oldest->second.second);
      weight_ -= oldest->second.second;
      answers_.erase(oldest);
      order_.pop_front();
    }
    std::string const &key = key_.Last();
    answers_.emplace(key, std::make_pair(std::move(answer), bytes));
    order_.push_back(key);
    weight_ += bytes;
  }
  // An answer was found too large to keep: nothing is kept for the rest of
  // the execution (until Reset without an execution count).
  void GiveUp() {
    DropHeld();
    Clear();
    gaveUp_ = true;
    gaveUpAt_ = executions_ != nullptr ? executions_->Current() : 0;
  }
  bool GaveUp() const {
    return gaveUp_ && (executions_ == nullptr || gaveUpAt_ == executions_->Current());
  }

 private:
  bool Reserve(size_t bytes) {
    if (executions_ != nullptr) return executions_->Reserve(bytes);
    return bytes <= SQLRSExecutions::kMaxKept;
  }
  void Release(size_t bytes) {
    if (executions_ != nullptr) executions_->Release(bytes);
  }
  void DropHeld() {
    if (!held_) return;
    Release(heldBytes_);
    heldAnswer_ = Answer();
    heldBytes_ = 0;
    held_ = false;
  }
  void Clear() {
    Release(weight_);
    answers_.clear();
    order_.clear();
    weight_ = 0;
  }

  SQLRSLocalSubquery local_;
  SQLRSExecutions *executions_ = nullptr;
  SQLTableWriteWatch watch_;  // the tables the subquery reads
  bool holdable_ = false;
  bool heldPerExecution_ = false;  // held for the execution, not until Reset
  bool gaveUp_ = false;
  unsigned long gaveUpAt_ = 0;
  // ---- the held answer ----
  bool held_ = false;
  Answer heldAnswer_{};
  size_t heldBytes_ = 0;
  unsigned long takenAt_ = 0;  // the execution of the held answer
  // ---- the answers kept by outer values ----
  bool keyed_ = false;
  SQLRSOuterKey key_;
  std::unordered_map<std::string, std::pair<Answer, size_t>> answers_;  // answer and weight by key
  std::deque<std::string> order_;                                       // the keys, oldest first
  size_t weight_ = 0;
};
