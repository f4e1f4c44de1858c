// The arithmetic operators +, -, *, / and MOD over numbers, dates,
// timestamps and intervals. The value layer does the arithmetic: integer
// results are exact or refused with SQLExDENumericValueOutOfRange ("22003"),
// never wrapped; "/" always gives a REAL; a divisor of 0 in "/" or MOD
// raises SQLExDEDivisionByZero ("22012").
#pragma once

#include "sql/exec/sc_dyadic.h"

class SQLRSSCAdd : public SQLRSSCDyadic {
 public:
  using SQLRSSCDyadic::SQLRSSCDyadic;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameAdd(SQLRSSCAdd const *other) const override;

 protected:
  void Operate(SQLValueStore const *left, SQLValueStore const *right) override;
  SQLColumnDescriptor Describe(SQLColumnDescriptor const &left, SQLColumnDescriptor const &right) const override;
  SQLRSSCDyadic *NewLike(SQLRSSCValueExprPtr &&left, SQLRSSCValueExprPtr &&right) const override;
  void VisitSelf(SQLVisitor &visitor) override;
  SQLNWToken Token() const override;
  char const *LogWord() const override { return "Add("; }
  char const *ClassName() const override { return "SQLRSSCAdd"; }
};

class SQLRSSCSubtract : public SQLRSSCDyadic {
 public:
  using SQLRSSCDyadic::SQLRSSCDyadic;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameSubtract(SQLRSSCSubtract const *other) const override;

 protected:
  void Operate(SQLValueStore const *left, SQLValueStore const *right) override;
  SQLColumnDescriptor Describe(SQLColumnDescriptor const &left, SQLColumnDescriptor const &right) const override;
  SQLRSSCDyadic *NewLike(SQLRSSCValueExprPtr &&left, SQLRSSCValueExprPtr &&right) const override;
  void VisitSelf(SQLVisitor &visitor) override;
  SQLNWToken Token() const override;
  char const *LogWord() const override { return "Subtract("; }
  char const *ClassName() const override { return "SQLRSSCSubtract"; }
};

class SQLRSSCMultiply : public SQLRSSCDyadic {
 public:
  using SQLRSSCDyadic::SQLRSSCDyadic;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameMultiply(SQLRSSCMultiply const *other) const override;

 protected:
  void Operate(SQLValueStore const *left, SQLValueStore const *right) override;
  SQLColumnDescriptor Describe(SQLColumnDescriptor const &left, SQLColumnDescriptor const &right) const override;
  SQLRSSCDyadic *NewLike(SQLRSSCValueExprPtr &&left, SQLRSSCValueExprPtr &&right) const override;
  void VisitSelf(SQLVisitor &visitor) override;
  SQLNWToken Token() const override;
  char const *LogWord() const override { return "Multiply("; }
  char const *ClassName() const override { return "SQLRSSCMultiply"; }
};

class SQLRSSCDivide : public SQLRSSCDyadic {
 public:
  using SQLRSSCDyadic::SQLRSSCDyadic;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameDivide(SQLRSSCDivide const *other) const override;

 protected:
  void Operate(SQLValueStore const *left, SQLValueStore const *right) override;
  SQLColumnDescriptor Describe(SQLColumnDescriptor const &left, SQLColumnDescriptor const &right) const override;
  SQLRSSCDyadic *NewLike(SQLRSSCValueExprPtr &&left, SQLRSSCValueExprPtr &&right) const override;
  void VisitSelf(SQLVisitor &visitor) override;
  SQLNWToken Token() const override;
  char const *LogWord() const override { return "Divide("; }
  char const *ClassName() const override { return "SQLRSSCDivide"; }
};

class SQLRSSCModulo : public SQLRSSCDyadic {
 public:
  using SQLRSSCDyadic::SQLRSSCDyadic;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameModulo(SQLRSSCModulo const *other) const override;

 protected:
  void Operate(SQLValueStore const *left, SQLValueStore const *right) override;
  SQLColumnDescriptor Describe(SQLColumnDescriptor const &left, SQLColumnDescriptor const &right) const override;
  SQLRSSCDyadic *NewLike(SQLRSSCValueExprPtr &&left, SQLRSSCValueExprPtr &&right) const override;
  void VisitSelf(SQLVisitor &visitor) override;
  SQLNWToken Token() const override;
  char const *LogWord() const override { return "Modulo("; }
  char const *ClassName() const override { return "SQLRSSCModulo"; }
};

// The result type of a + b and a - b for the operand types that validation
// admits (an INTEGER left operand gives the right operand's type).
SQLType SQLRSSCAddResultType(SQLType left, SQLType right);
SQLType SQLRSSCSubtractResultType(SQLType left, SQLType right);
