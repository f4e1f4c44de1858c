// What a subquery condition or value keeps of its subquery's answers.
//
// A subquery that reads no row around it and no parameter gives one
// answer per execution of the statement. SQLRSHeldAnswer keeps that answer
// for the whole execution (the execution count of the tree tells when it
// ends), whatever breaks and resets of the row sources around it.
//
// A correlated subquery gives one answer per value of the outer columns it
// reads, and one that reads parameters one per value of them (a parameter
// of a join's inner side changes with every outer row).
// SQLRSAnswersByOuterValues keeps the answers of one execution by those
// values, so that a repeated value costs no new run of the subquery (for a
// table of a driver, no exchange with it): at most kMaxEntries answers
// weighing kMaxWeight together, forgotten oldest first, and all forgotten
// when the execution count moves on.
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

class SQLRowSource;
class SQLRSExecutions;
class SQLRSPrepareContext;
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

class SQLRSHeldAnswer {
 public:
  // At the condition's Prepare, after its subquery was prepared; `keyed`:
  // its answers are kept by the values it reads (SQLRSOuterKey).
  void Prepare(SQLRSPrepareContext *context, SQLRowSource *subquery, bool keyed);
  // The subquery's answer may be held at all (it reads no outer row, and
  // its parameters are not a key of its answers).
  bool Holdable() const { return holdable_; }
  // TRUE while an answer taken with Take holds.
  bool Held() const;
  void Take();
  // The condition's Reset: an answer held for the execution stays.
  void Reset();

 private:
  SQLRSExecutions const *executions_ = nullptr;  // set: held for the execution
  unsigned long takenAt_ = 0;                     // the execution of Take
  bool holdable_ = false;
  bool held_ = false;
};

// The key of the outer values and the execution the answers belong to;
// the answers themselves are kept by SQLRSAnswersByOuterValues.
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
class SQLRSAnswersByOuterValues {
 public:
  static constexpr size_t kMaxEntries = 4096;
  static constexpr size_t kMaxWeight = size_t{1} << 20;

  // See SQLRSOuterKey::Prepare; answers are kept only when it holds.
  void Prepare(SQLRSPrepareContext *context, SQLRowSource *subquery) {
    Clear();
    enabled_ = key_.Prepare(context, subquery);
  }
  bool Enabled() const { return enabled_; }
  // Stops keeping answers (one weighed too much).
  void Disable() {
    Clear();
    enabled_ = false;
  }
  // The answer kept for the current outer values, or null.
  // REQUIRES: Enabled().
  Answer const *Find() {
    if (key_.NewExecution()) Clear();
    auto found = answers_.find(key_.Current());
    return found == answers_.end() ? nullptr : &found->second.first;
  }
  // Keeps the answer for the outer values of the last Find; `weight`
  // counts what it holds (values), at least 1.
  void Keep(Answer answer, size_t weight) {
    if (weight > kMaxWeight) return;
    while (!order_.empty() && (answers_.size() >= kMaxEntries || weight_ + weight > kMaxWeight)) {
      auto oldest = answers_.find(order_.front());
      weight_ -= oldest->second.second;
      answers_.erase(oldest);
      order_.pop_front();
    }
    std::string const &key = key_.Last();
    answers_.emplace(key, std::make_pair(std::move(answer), weight));
    order_.push_back(key);
    weight_ += weight;
  }

 private:
  void Clear() {
    answers_.clear();
    order_.clear();
    weight_ = 0;
  }

  SQLRSOuterKey key_;
  bool enabled_ = false;
  std::unordered_map<std::string, std::pair<Answer, size_t>> answers_;  // answer and weight by key
  std::deque<std::string> order_;  // the keys, oldest first
  size_t weight_ = 0;
};
