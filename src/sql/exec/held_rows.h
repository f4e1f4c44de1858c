// The rows of a table leaf kept for one execution of its tree.
//
// A leaf that reads nothing from outside (no outer value, no parameter)
// gives the same rows at every Exec within one execution of the tree. A
// leaf of a subquery that answers here (local_subquery.h) runs once per
// outer row: SQLRSHeldRows keeps its rows at the first Exec of an
// execution, at most kMaxRows rows within the bound the statement's kept
// answers and held rows share (SQLRSExecutions::kMaxKept), so that the
// further Execs of that execution cost no exchange with the driver. Rows
// beyond the bounds are not kept: the leaf then reads the driver at every
// Exec of that execution, and Overflowed says so. A write of this process
// to a table the leaf reads drops the rows: the next Exec reads them anew.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "sql/common/table_writes.h"
#include "sql/common/value_store.h"

class SQLRSExecutions;

class SQLRSHeldRows {
 public:
  static constexpr size_t kMaxRows = 4096;

  // At the leaf's Prepare: the tree's count of executions (null: nothing is
  // kept) and the leaf's output stores, which Next fills.
  void Prepare(SQLRSExecutions *executions, std::vector<SQLValueStore *> const &stores);
  // The tables the rows come from (see SQLTableWriteWatch).
  SQLTableWriteWatch *Watch() { return &watch_; }
  bool Enabled() const { return executions_ != nullptr; }
  // The rows of the current execution are kept (and no write dropped them).
  bool Held();
  // The rows of the current execution were found beyond the bounds.
  bool Overflowed() const;
  // Starts keeping the rows of the current execution.
  void Begin();
  // Keeps the stores' current row; FALSE when it goes beyond the bounds:
  // the rows are then forgotten and the execution is marked overflowed.
  bool Add();
  // The rows of the current execution are complete.
  void Finish();
  // Starts handing out the kept rows.
  void Rewind() { next_ = 0; }
  // Copies the next kept row into the stores; FALSE after the last.
  bool Next();

 private:
  // Forgets the rows (and their memory) and marks the execution.
  void Overflow();
  // Forgets the rows and gives their memory back.
  void Drop();

  SQLRSExecutions *executions_ = nullptr;
  SQLTableWriteWatch watch_;
  std::vector<SQLValueStore *> stores_;
  std::vector<SQLValueStore> rows_;  // row after row, a value per store
  size_t weight_ = 0;
  size_t next_ = 0;                  // the next row Next hands out
  unsigned long heldAt_ = 0;         // the execution whose rows are kept, 0: none
  unsigned long overflowedAt_ = 0;   // the execution found beyond the bounds
};
