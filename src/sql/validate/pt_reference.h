// SQLPTReference: a REFERS TO predicate that the FROM clause resolved into a
// join between two of its tables: the referring and the referred table's
// positions in the clause, the join condition and the unref mode.
#pragma once

#include <memory>

#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vtsc_refers.h"

class SQLPTReference {
 public:
  // referring is -1 when the referring side is no FROM table (constants or
  // parameters). Takes ownership of condition.
  SQLPTReference(int referring, int referred, SQLVTSCSearchCond *condition, SQLUnrefMode unrefMode)
      : referring_(referring), referred_(referred), condition_(condition), unrefMode_(unrefMode) {}
  SQLPTReference(SQLPTReference const &) = delete;
  SQLPTReference &operator=(SQLPTReference const &) = delete;

  int GetReferring() const { return referring_; }
  int GetReferred() const { return referred_; }
  SQLUnrefMode GetUnrefMode() const { return unrefMode_; }
  SQLVTSCSearchCond *GetJoinCond() const { return condition_.get(); }
  // Hands the condition over; the reference then holds none.
  SQLVTSCSearchCond *ExtractJoinCond() { return condition_.release(); }
  // The outer join of a constant row with the referred table: the referring
  // side is no FROM table and the mode is not Skip.
  bool IsConstantOuterJoin() const { return referring_ == -1 && unrefMode_ != SQL_UNREF_SKIP; }

 private:
  int referring_;
  int referred_;
  std::unique_ptr<SQLVTSCSearchCond> condition_;  // null once extracted
  SQLUnrefMode unrefMode_;
};
