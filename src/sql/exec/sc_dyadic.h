// SQLRSSCDyadic: what the two-operand expressions share: they own both
// operands, evaluate them left then right (a NULL one makes the result NULL
// and the other is not evaluated) and leave the result in their own store.
//
// A chain of arithmetic or concatenation, a + b - c ... of any length, nests
// down its left operands. Every operation walks the chain below a node in a
// loop over its left spine (Spine), bottom-up where the operands come
// first, and recurses only into the right operands and the chain's first
// term, so that a chain costs no stack however long it is. Indexing takes
// no part in a chain: its left operand is an array column.
#pragma once

#include <vector>

#include "sql/agent/nw_token.h"
#include "sql/exec/sc_value_expr.h"

class SQLRSSCDyadic : public SQLRSSCValueExpr {
 public:
  // Takes ownership of both operands.
  SQLRSSCDyadic(SQLRSSCValueExpr *left, SQLRSSCValueExpr *right);
  // Deletes the chain below without recursing down it.
  ~SQLRSSCDyadic() override;

  SQLRSSCValueExpr const *GetLeft() const { return left_.get(); }
  SQLRSSCValueExpr const *GetRight() const { return right_.get(); }

  // The operands' pairs added, plus the operator's own ordinary work.
  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLColumnDescriptor GetColumnDescriptor() const override;
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void Optimize() override;
  SQLValueStore const *Prepare(SQLRSPrepareContext *context) override;
  void Evaluate() override;
  void Reset() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override;

 protected:
  // The result from the two non-NULL operand stores.
  virtual void Operate(SQLValueStore const *left, SQLValueStore const *right) = 0;
  // The result's descriptor from the operands' descriptors.
  virtual SQLColumnDescriptor Describe(SQLColumnDescriptor const &left, SQLColumnDescriptor const &right) const = 0;
  // A node of this one's class over the operands given (both taken).
  virtual SQLRSSCDyadic *NewLike(SQLRSSCValueExprPtr &&left, SQLRSSCValueExprPtr &&right) const = 0;
  virtual void VisitSelf(SQLVisitor &visitor) = 0;
  virtual SQLNWToken Token() const = 0;
  virtual char const *LogWord() const = 0;
  virtual double OwnCost() const { return 1; }
  // Whether the right operand is evaluated and tested before Operate.
  virtual bool TestsRight() const { return true; }
  // Both operands the same, in the same places; other is of this class.
  bool SameOperands(SQLRSSCDyadic const *other) const;

  SQLRSSCValueExprPtr left_;
  SQLRSSCValueExprPtr right_;
  SQLValueStore const *leftStore_ = nullptr;
  SQLValueStore const *rightStore_ = nullptr;
  SQLValueStore store_;

 private:
  // e when it is a node that continues a chain, else null.
  static SQLRSSCDyadic *Link(SQLRSSCValueExpr *e);
  // This node and the nodes down its left spine, this one first; the last
  // one's left operand is the chain's first term.
  std::vector<SQLRSSCDyadic *> Spine() const;

  std::vector<SQLRSSCDyadic *> prepared_;  // the spine, kept by Prepare for Evaluate
};
