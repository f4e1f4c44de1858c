// Comparisons and range predicates over row values: (a, b) < (1, 2),
// x BETWEEN l AND u, (a, b) INRANGE (l1, l2) AND (u1, u2).
//
// Both sides are typed element by element through the comparison rule of
// SQLTypeSet and cast to the chosen type; arrays may only be compared for
// (in)equality and at equal depth.
#pragma once

#include <memory>

#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vtsc_row_value.h"

enum SQLVTSCCompOperator : int {
  SQLVTSC_EQUAL = 0,               // "="
  SQLVTSC_NOT_EQUAL = 1,           // "<>"
  SQLVTSC_LESS = 2,                // "<", lexicographic over row values
  SQLVTSC_GREATER = 3,             // ">"
  SQLVTSC_LESS_EQUAL = 4,          // "<="
  SQLVTSC_GREATER_EQUAL = 5,       // ">="
  SQLVTSC_ALL_LESS = 6,            // "#<", every element less
  SQLVTSC_ALL_GREATER = 7,         // "#>"
  SQLVTSC_ALL_LESS_EQUAL = 8,      // "#<="
  SQLVTSC_ALL_GREATER_EQUAL = 9,   // "#>="
};

// The operator's symbol; "?" for a value outside the enumeration.
char const *GetCompOperatorSymbol(SQLVTSCCompOperator op);

class SQLVTSCComparison : public SQLVTSCSearchCond {
 public:
  // Both row values are taken over.
  SQLVTSCComparison(SQLVTSCRowValueConstr *left, SQLVTSCCompOperator op, SQLVTSCRowValueConstr *right);

  SQLVTSCCompOperator GetOperator() const { return op_; }
  SQLVTSCRowValueConstr *GetLeft() const { return left_.get(); }
  SQLVTSCRowValueConstr *GetRight() const { return right_.get(); }

  SQLRSSCSearchCond *CreateRS() override;
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  // Resolves both rows and cuts the longer one to the shorter's length.
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                           SQLVTWhereUsedMgr *whereUsed) override;
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *) override { return this; }
  SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *) override { return this; }
  void ValidateArrayUsage() const override;
  void ValidateTypes() const override;

 private:
  std::unique_ptr<SQLVTSCRowValueConstr> left_;
  std::unique_ptr<SQLVTSCRowValueConstr> right_;
  SQLVTSCCompOperator op_;
};

// expr BETWEEN lower AND upper, expr INRANGE lower AND upper.
class SQLVTSCRange : public SQLVTSCSearchCond {
 public:
  enum SQLVTSCRangeType : int { BETWEEN = 0, INRANGE = 1 };

  virtual SQLVTSCRangeType GetType() const = 0;
  SQLVTSCRowValueConstr *GetExpr() const { return expr_.get(); }
  SQLVTSCRowValueConstr *GetLower() const { return lower_.get(); }
  SQLVTSCRowValueConstr *GetUpper() const { return upper_.get(); }

  void Log() const override;
  [[noreturn]] void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                           SQLVTWhereUsedMgr *whereUsed) override;
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *) override { return this; }
  SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *) override { return this; }
  void ValidateArrayUsage() const override;
  void ValidateTypes() const override;

 protected:
  // The three rows are taken over.
  SQLVTSCRange(SQLVTSCRowValueConstr *expr, SQLVTSCRowValueConstr *lower, SQLVTSCRowValueConstr *upper)
      : expr_(expr), lower_(lower), upper_(upper) {}

  std::unique_ptr<SQLVTSCRowValueConstr> expr_;
  std::unique_ptr<SQLVTSCRowValueConstr> lower_;
  std::unique_ptr<SQLVTSCRowValueConstr> upper_;
};

// A lexicographic range: (a, b) BETWEEN (1, 2) AND (1, 5) is a = 1 AND
// b BETWEEN 2 AND 5.
class SQLVTSCBetween : public SQLVTSCRange {
 public:
  SQLVTSCBetween(SQLVTSCRowValueConstr *expr, SQLVTSCRowValueConstr *lower, SQLVTSCRowValueConstr *upper)
      : SQLVTSCRange(expr, lower, upper) {}
  SQLVTSCRangeType GetType() const override { return BETWEEN; }
  SQLRSSCSearchCond *CreateRS() override;
};

// A range per element: (a, b) INRANGE (1, 2) AND (3, 4) is a BETWEEN 1 AND 3
// AND b BETWEEN 2 AND 4.
class SQLVTSCInRange : public SQLVTSCRange {
 public:
  SQLVTSCInRange(SQLVTSCRowValueConstr *expr, SQLVTSCRowValueConstr *lower, SQLVTSCRowValueConstr *upper)
      : SQLVTSCRange(expr, lower, upper) {}
  SQLVTSCRangeType GetType() const override { return INRANGE; }
  SQLRSSCSearchCond *CreateRS() override;
};
