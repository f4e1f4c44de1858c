// SQLRSFetch: the abstract table leaf of an execution tree.
//
// A leaf reads the rows of one table (and whatever the optimiser pushed
// into it) from a driver's SQL agent. It handles the buffer size itself,
// bypassing the base class's visitor walk, and is attached to and detached
// from database sessions by the attach and detach visitors.
#pragma once

#include <vector>

#include "sql/exec/row_source.h"

struct SQLIndexHints;
class SQLRSSCInSubquery;
class SQLTableWriteWatch;

class SQLRSFetch : public SQLRowSource {
 public:
  // The leaf of a table in a company: a new SQLRSNetFetch. Throws when the
  // table has no driver or no dictionary.
  static SQLRSFetch *CreateRSFetch(char const *tableName, int companyNumber, SQLIndexHints const *indexHints);

  void SetBufferSize(int rows) override = 0;
  // The deadline of the leaf's cursor at the driver (0: none).
  virtual void SetCursorTimeOut(long deadline) = 0;
  virtual bool OperatesOnThisDBInstance(SQLDatabaseInstance *instance) = 0;
  virtual SQLDatabaseInstance const *GetDBInstance() = 0;
  virtual void AttachToSession(unsigned long sessionId) = 0;
  virtual void DetachFromSession() = 0;
  // Whether the leaf refers to a row of the query at `level` or inside it
  // (IsVariable), or to no row at all (IsConstant).
  virtual bool IsVariable(int level) = 0;
  virtual bool IsConstant(int level) = 0;
  // After Prepare: appends the stores of the values from outside `level`
  // that the leaf reads (rows around it, parameters); FALSE when it cannot
  // tell them. By default only a leaf that reads nothing from outside
  // answers TRUE.
  virtual bool OuterValueStores(int level, std::vector<SQLValueStore const *> *stores) {
    (void)stores;
    return IsConstant(level);
  }
  // Before Prepare: the leaf keeps the rows it reads in an execution of its
  // tree and gives them again at every further Exec of that execution
  // (held_rows.h). FALSE, and nothing changes, when it reads outer values
  // or parameters, which may change between its Execs.
  virtual bool HoldRows() { return false; }
  // Adds the tables the leaf reads to the watch (subquery_answers.h).
  virtual void WatchWrites(SQLTableWriteWatch *watch) { (void)watch; }
  // Its rows of the current execution were too many to keep.
  virtual bool HeldRowsOverflowed() const { return false; }
  // Before Prepare: the filter right above applies `in` (a value of the
  // leaf's row IN a subquery) to the leaf's rows. A leaf that can asks its
  // driver, when the subquery is uncorrelated and its values few, for only
  // the rows whose value is among them; the filter still applies `in`.
  virtual void TakeListOf(SQLRSSCInSubquery *in) { (void)in; }
  // Before Prepare: readies the leaf for a join here that asks it for the
  // rows on which `term` (a column of the leaf's row, or an expression over
  // it, its columns numbered from `offset`: the join's numbering) holds one
  // of given values (key lists of up to kKeyListLength values, typed as
  // `type`, the join's term they come from). FALSE, and nothing changes,
  // when the leaf cannot take them.
  static constexpr size_t kKeyListLength = 256;
  virtual bool TakeKeyList(SQLRSSCValueExpr *term, int offset, SQLColumnDescriptor const *type) {
    (void)term, (void)offset, (void)type;
    return false;
  }
  // After TakeKeyList: the next Execs read only the rows whose term holds
  // one of `values` (1 to kKeyListLength stores, none NULL, which must live
  // as long as the list is set); an empty list: every row again.
  virtual void SetKeyList(std::vector<SQLValueStore const *> values) { (void)values; }
};
