// The writes this process makes to each table, counted, so that what a
// query keeps of a table's rows for one execution (a subquery's kept
// answers, a table leaf's held rows, a join's buffered side, the short
// list of an IN's values that a table leaf sent its driver) can tell that
// its own transaction changed the table since it read it, and read again.
//
// A table is named by its dictionary name (at most 8 bytes; trailing
// blanks and NULs do not count). The counts only grow. A write counts when
// it reaches the driver: every buffered row action at the flush that sends
// it (with the tables the driver's reference work reaches), every SQL
// DELETE or UPDATE, and every table action that changes rows (create,
// clear, drop, alter, clear of counters). An abort counts one for every
// table (NoteAll). Counting more than was written costs a reader one
// needless read, never a wrong row.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

class SQLTableWrites {
 public:
  // The count of the table's writes; the address stays valid for the
  // process.
  static std::atomic<unsigned long> const *Counter(char const *table, size_t length);
  static void Note(char const *table, size_t length);
  // A write to every table: what the transaction wrote was undone.
  static void NoteAll();
  // The count of every write of any table: while it stands, no table was
  // written. Loaded with acquire ordering: a reader that sees a new epoch
  // also sees the table counts that Note and NoteAll raised before it.
  static unsigned long Epoch() { return epoch_.load(std::memory_order_acquire); }
  // The count of NoteAll, which every watch adds to its tables' counts.
  static std::atomic<unsigned long> const *AllCounter() { return &all_; }

 private:
  static std::atomic<unsigned long> epoch_;
  static std::atomic<unsigned long> all_;
};

// The write counts of a set of tables. Written costs one compare while the
// process writes no table at all, so that a read-only cursor pays no more
// per row it keeps.
class SQLTableWriteWatch {
 public:
  void Clear() {
    counters_.clear();
    Mark();
  }
  void Add(char const *table, size_t length);
  // TRUE when a table of the set was written since the last Mark.
  bool Written() const {
    unsigned long const epoch = SQLTableWrites::Epoch();
    if (epoch == epoch_) return false;
    if (Sum() != seen_) return true;
    epoch_ = epoch;  // only other tables were written
    return false;
  }
  // From now on: the rows read now are those of the tables as they stand.
  void Mark() {
    epoch_ = SQLTableWrites::Epoch();
    seen_ = Sum();
  }
  bool Empty() const { return counters_.empty(); }

 private:
  unsigned long Sum() const;

  std::vector<std::atomic<unsigned long> const *> counters_;
  unsigned long seen_ = 0;
  mutable unsigned long epoch_ = 0;  // the epoch at which seen_ was last found current
};
