// SQLRSSCIndexing: the element of an array at a position counted from 1.
// A position outside the array raises SQLExZDBError 308.
#pragma once

#include "sql/exec/sc_dyadic.h"

class SQLRSSCIndexing : public SQLRSSCDyadic {
 public:
  // Takes ownership of both: left is the array, right the index.
  using SQLRSSCDyadic::SQLRSSCDyadic;

  // The index's answer when it is TRUE; else TRUE only for an array column
  // of the examined level that lies in the intervals.
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  // The index first, then the array.
  void Evaluate() override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameIndexing(SQLRSSCIndexing const *other) const override;
  bool IsIndexing() const override { return true; }

 protected:
  void Operate(SQLValueStore const *, SQLValueStore const *) override {}
  // The array's element type and length, depth 1.
  SQLColumnDescriptor Describe(SQLColumnDescriptor const &array, SQLColumnDescriptor const &) const override;
  SQLRSSCDyadic *NewLike(SQLRSSCValueExprPtr &&array, SQLRSSCValueExprPtr &&index) const override;
  void VisitSelf(SQLVisitor &visitor) override;
  SQLNWToken Token() const override { return SQLNWTVEIndexing; }
  char const *LogWord() const override { return "Indexing("; }
  char const *ClassName() const override { return "SQLRSSCIndexing"; }
  double OwnCost() const override { return 10; }
};
