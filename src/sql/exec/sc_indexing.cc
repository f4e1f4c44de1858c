#include "sql/exec/sc_indexing.h"

#include "sql/common/sql_exception.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/visitor.h"

namespace {

constexpr int kIndexOutsideArray = 308;  // "SQL: Index outside dimensions of array"

}  // namespace

SQLColumnDescriptor SQLRSSCIndexing::Describe(SQLColumnDescriptor const &array, SQLColumnDescriptor const &) const {
  return SQLColumnDescriptor("", array.GetType(), array.GetLength(), 1);
}

SQLTruthValue SQLRSSCIndexing::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (right_->NullValueOnNullifiedCols(level, intervals) == TV_TRUE) return TV_TRUE;
  if (!left_->IsColumnRef()) return TV_UNKNOWN;
  auto const *array = static_cast<SQLRSSCColumnRef const *>(left_.get());
  if (array->GetRelScopeLevel() + level != 0) return TV_UNKNOWN;
  for (bool more = intervals->First(); more; more = intervals->Next())
    if (intervals->GetCurrent().Contains(array->GetColumnId())) return TV_TRUE;
  return TV_UNKNOWN;
}

void SQLRSSCIndexing::Evaluate() {
  right_->Evaluate();
  if (rightStore_->IsNull()) return store_.SetNull();
  int index = rightStore_->GetInteger();
  if (index < 1) throw SQLExZDBError(kIndexOutsideArray);
  left_->Evaluate();
  if (leftStore_->IsNull()) return store_.SetNull();
  int dimension = leftStore_->GetType() == SQL_ARRAY ? leftStore_->GetDimension() : 0;
  if (index > dimension) throw SQLExZDBError(kIndexOutsideArray);
  store_.Copy(leftStore_->GetElement(index - 1));
}

bool SQLRSSCIndexing::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameIndexing(this);
}

bool SQLRSSCIndexing::IsSameIndexing(SQLRSSCIndexing const *other) const { return SameOperands(other); }

void SQLRSSCIndexing::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCIndexing(this); }

SQLRSSCDyadic *SQLRSSCIndexing::NewLike(SQLRSSCValueExprPtr &&array, SQLRSSCValueExprPtr &&index) const {
  return new SQLRSSCIndexing(array.release(), index.release());
}
