#include "sql/exec/sc_arith.h"

#include "sql/exec/visitor.h"

SQLType SQLRSSCAddResultType(SQLType left, SQLType right) {
  if (left == SQL_INTEGER) return right;
  if (left == SQL_REAL) return SQL_REAL;
  if (left == SQL_INTERVAL_DAYS && right == SQL_DATE) return SQL_DATE;
  if (left == SQL_INTERVAL_SECONDS && right == SQL_TIMESTAMP) return SQL_TIMESTAMP;
  return left;  // DATE + days, TIMESTAMP + seconds, interval + interval
}

SQLType SQLRSSCSubtractResultType(SQLType left, SQLType right) {
  if (left == SQL_INTEGER) return right;
  if (left == SQL_REAL) return SQL_REAL;
  if (left == SQL_DATE && right == SQL_DATE) return SQL_INTERVAL_DAYS;
  if (left == SQL_TIMESTAMP && right == SQL_TIMESTAMP) return SQL_INTERVAL_SECONDS;
  return left;
}

// ---- + ----

SQLColumnDescriptor SQLRSSCAdd::Describe(SQLColumnDescriptor const &l, SQLColumnDescriptor const &r) const {
  return SQLColumnDescriptor("", SQLRSSCAddResultType(l.GetType(), r.GetType()), 0, 1);
}
bool SQLRSSCAdd::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameAdd(this);
}
bool SQLRSSCAdd::IsSameAdd(SQLRSSCAdd const *other) const { return SameOperands(other); }
void SQLRSSCAdd::Operate(SQLValueStore const *l, SQLValueStore const *r) { store_.Add(l, r); }
void SQLRSSCAdd::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCAdd(this); }
SQLNWToken SQLRSSCAdd::Token() const { return SQLNWTVEAdd; }
SQLRSSCDyadic *SQLRSSCAdd::NewLike(SQLRSSCValueExprPtr &&l, SQLRSSCValueExprPtr &&r) const {
  return new SQLRSSCAdd(l.release(), r.release());
}

// ---- - ----

SQLColumnDescriptor SQLRSSCSubtract::Describe(SQLColumnDescriptor const &l, SQLColumnDescriptor const &r) const {
  return SQLColumnDescriptor("", SQLRSSCSubtractResultType(l.GetType(), r.GetType()), 0, 1);
}
bool SQLRSSCSubtract::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameSubtract(this);
}
bool SQLRSSCSubtract::IsSameSubtract(SQLRSSCSubtract const *other) const { return SameOperands(other); }
void SQLRSSCSubtract::Operate(SQLValueStore const *l, SQLValueStore const *r) { store_.Subtract(l, r); }
void SQLRSSCSubtract::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCSubtract(this); }
SQLNWToken SQLRSSCSubtract::Token() const { return SQLNWTVESubtract; }
SQLRSSCDyadic *SQLRSSCSubtract::NewLike(SQLRSSCValueExprPtr &&l, SQLRSSCValueExprPtr &&r) const {
  return new SQLRSSCSubtract(l.release(), r.release());
}

// ---- * ----

SQLColumnDescriptor SQLRSSCMultiply::Describe(SQLColumnDescriptor const &l, SQLColumnDescriptor const &r) const {
  return SQLColumnDescriptor("", l.GetType() == SQL_INTEGER ? r.GetType() : l.GetType(), 0, 1);
}
bool SQLRSSCMultiply::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameMultiply(this);
}
bool SQLRSSCMultiply::IsSameMultiply(SQLRSSCMultiply const *other) const { return SameOperands(other); }
void SQLRSSCMultiply::Operate(SQLValueStore const *l, SQLValueStore const *r) { store_.Multiply(l, r); }
void SQLRSSCMultiply::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCMultiply(this); }
SQLNWToken SQLRSSCMultiply::Token() const { return SQLNWTVEMultiply; }
SQLRSSCDyadic *SQLRSSCMultiply::NewLike(SQLRSSCValueExprPtr &&l, SQLRSSCValueExprPtr &&r) const {
  return new SQLRSSCMultiply(l.release(), r.release());
}

// ---- / ----

SQLColumnDescriptor SQLRSSCDivide::Describe(SQLColumnDescriptor const &, SQLColumnDescriptor const &) const {
  return SQLColumnDescriptor("", SQL_REAL, 0, 1);
}
bool SQLRSSCDivide::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameDivide(this);
}
bool SQLRSSCDivide::IsSameDivide(SQLRSSCDivide const *other) const { return SameOperands(other); }
void SQLRSSCDivide::Operate(SQLValueStore const *l, SQLValueStore const *r) { store_.Divide(l, r); }
void SQLRSSCDivide::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCDivide(this); }
SQLNWToken SQLRSSCDivide::Token() const { return SQLNWTVEDivide; }
SQLRSSCDyadic *SQLRSSCDivide::NewLike(SQLRSSCValueExprPtr &&l, SQLRSSCValueExprPtr &&r) const {
  return new SQLRSSCDivide(l.release(), r.release());
}

// ---- MOD ----

SQLColumnDescriptor SQLRSSCModulo::Describe(SQLColumnDescriptor const &, SQLColumnDescriptor const &) const {
  return SQLColumnDescriptor("", SQL_INTEGER, 0, 1);
}
bool SQLRSSCModulo::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameModulo(this);
}
bool SQLRSSCModulo::IsSameModulo(SQLRSSCModulo const *other) const { return SameOperands(other); }
void SQLRSSCModulo::Operate(SQLValueStore const *l, SQLValueStore const *r) { store_.Modulo(l, r); }
void SQLRSSCModulo::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCModulo(this); }
SQLNWToken SQLRSSCModulo::Token() const { return SQLNWTVEModulo; }
SQLRSSCDyadic *SQLRSSCModulo::NewLike(SQLRSSCValueExprPtr &&l, SQLRSSCValueExprPtr &&r) const {
  return new SQLRSSCModulo(l.release(), r.release());
}
