// The writes this process makes to each table, counted, so that what a
// query keeps of a table's rows within one execution (a subquery's kept
// answers, a table leaf's held rows) can tell that its own transaction
// changed the table since, and ask the driver again.
//
// A table is named by its dictionary name (at most 8 bytes; trailing
// blanks and NULs do not count). The counts only grow; every write of the
// record protocol and every SQL DELETE or UPDATE counts one.
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
};

// The write counts of a set of tables.
class SQLTableWriteWatch {
 public:
  void Clear() {
    counters_.clear();
    seen_ = 0;
  }
  void Add(char const *table, size_t length);
  // TRUE when a table of the set was written since the last Mark.
  bool Written() const { return Sum() != seen_; }
  void Mark() { seen_ = Sum(); }

 private:
  unsigned long Sum() const;

  std::vector<std::atomic<unsigned long> const *> counters_;
  unsigned long seen_ = 0;
};
