// The SQLite collation, functions and aggregates through which translated
// descriptions keep the library's semantics, and the progress handler that
// enforces a statement's time-out:
//
//   collations mvtss1, mvtss2  TSS order of mode 1 (classic) and 2 (UTF-T),
//                            the shorter string filled with blanks; texts
//                            equal in it only up to a NUL by their bytes
//   collation mvtss          the same in the process's mode, which indexes
//                            of older files were made in (until rebuilt)
//   mv_x(id, elem, args...)  value of scalar island id (element elem of an
//                            array result, -1 for a scalar)
//   mv_c(id, args...)        truth of condition island id: 1, 0 or NULL
//   mv_xd, mv_cd             the same for an island that cannot fail
//   mv_card(n)               NULL for n <= 1, else a cardinality violation
//
// The functions that can fail (mv_x, mv_c, mv_card) are not declared
// deterministic: SQLite then never takes a call for a constant that it may
// evaluate once before the loop that reads the rows (a call whose arguments
// are constants, or made so by a column that another conjunct sets equal to
// a constant), so a call raises only for a row that reaches it. The others
// are deterministic, so that SQLite evaluates a call that reads no table of
// its loop (outer columns in a correlated subquery) once, not per row.
//   mv_st(code, length, type, v)  v (of SQL type `type`) in the stored form
//                            of a column of dictionary type `code`
//   mv_min, mv_max, mv_avg (type, x), mv_sum (type, x, column)  the set
//                            functions of the library's group row source
//                            (column: the name a SUM overflow names, or '')
//   mv_text(line)            the lines of a text joined, the end stripped
//
// A function that meets a data error keeps the library's SQLException in
// the host and fails the SQLite statement; the caller takes the exception
// back with TakeError.
#pragma once

#include <string>

#include <sqlite3.h>

#include <memory>
#include <unordered_map>

#include <functional>

#include "sql/common/sql_exception.h"

namespace molvane::driver {

class SqlIsland;

// The TSS mode the driver collates in: the process's (which --tss-mode of the
// driver executable sets), the mode it reports to its clients.
int CollationMode();
// The collation of a mode: "mvtss1" or "mvtss2".
const char *CollationName(int mode);

// `sql` compared as text in the order of `mode`: the expression the key
// indexes are built on, so a condition written with it can use them.
std::string CollatedText(const std::string &sql, int mode);

// Registers the collations alone, both modes whatever the process's, so that
// every connection keeps every collated index of a file in order, whichever
// host wrote it. False when SQLite refuses.
bool InstallTssCollation(sqlite3 *db);

class SqlFunctionHost {
 public:
  // Registers the collation and functions on a connection. False when
  // SQLite refuses.
  bool Install(sqlite3 *db);

  // Islands are found by id; the caller keeps them alive while registered.
  int Register(SqlIsland *island);
  void Unregister(int id);
  SqlIsland *Find(int id) const;

  // The time-out of the statement being run: an absolute deadline on
  // DeadlineClock, 0 for none. Armed on the connection while it runs.
  void Arm(sqlite3 *db, long deadline);
  // Microseconds of a monotonic clock, the clock of the deadlines: a limit
  // counted on it is kept to the microsecond, never cut short by the wall
  // clock's second turning over or being set back.
  static long DeadlineClock();
  void Disarm(sqlite3 *db);
  // Called every hundred SQLite steps of an armed statement, deadline or
  // not (a driver server lets other threads go first in it); true stops
  // the statement (its host went away).
  void SetPulse(std::function<bool()> pulse) { pulse_ = std::move(pulse); }

  void SetError(const SQLException &e);
  // The error a function or the progress handler kept, if any (cleared).
  std::unique_ptr<SQLException> TakeError();

 private:
  static int Progress(void *host);

  std::unordered_map<int, SqlIsland *> islands_;
  int next_id_ = 1;
  long deadline_ = 0;
  std::function<bool()> pulse_;
  std::unique_ptr<SQLException> error_;
};

}  // namespace molvane::driver
