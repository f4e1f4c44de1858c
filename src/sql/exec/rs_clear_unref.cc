#include "sql/exec/rs_clear_unref.h"

#include <algorithm>
#include <climits>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/visitor.h"

namespace {

[[noreturn]] void Unexpected(char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSClearUnref::%s", operation);
}

// One value of a named column: a NULL becomes the empty value of the
// column's type (strings of the fill character); anything else is copied.
void Rewrite(SQLValueStore const *in, SQLValueStore *out, SQLColumnDescriptor const &d, char fill) {
  if (!in->IsNull()) {
    out->Copy(in);
    return;
  }
  int length = static_cast<int>(std::min<unsigned long>(d.GetLength(), INT_MAX));
  switch (d.GetType()) {
    case SQL_INTEGER: out->SetInteger(0); break;
    case SQL_STRING: out->FillString(fill, length); break;
    case SQL_REAL: out->SetReal(0.0); break;
    case SQL_DATE: out->SetDate(0); break;
    case SQL_TIMESTAMP: out->SetTimestamp(0); break;
    case SQL_RAW: out->FillRaw(0, length); break;
    // Zero is the empty interval, as it is the empty number.
    case SQL_INTERVAL_DAYS: out->SetIntervalDays(0); break;
    case SQL_INTERVAL_SECONDS: out->SetIntervalSeconds(0); break;
    default: out->SetNull(); break;  // no empty value: the NULL stays
  }
}

}  // namespace

// ---- SQLRSClearUnrefOp ----

SQLRSClearUnref::SQLRSClearUnrefOp::SQLRSClearUnrefOp(List<int> *columns, SQLRSClearUnrefMode mode,
                                                       List<SQLRSSCValueExpr *> *foreignKey)
    : mode_(mode) {
  std::unique_ptr<List<int>> ownedColumns(columns);
  std::unique_ptr<List<SQLRSSCValueExpr *>> ownedKey(foreignKey);
  if (ownedKey)
    for (bool more = ownedKey->First(); more; more = ownedKey->Next()) foreignKey_.emplace_back(ownedKey->GetCurrent());
  if (ownedColumns)
    for (bool more = ownedColumns->First(); more; more = ownedColumns->Next()) columns_.push_back(ownedColumns->GetCurrent());
}

SQLRSClearUnref::SQLRSClearUnrefOp::~SQLRSClearUnrefOp() = default;

void SQLRSClearUnref::SQLRSClearUnrefOp::Prepare(SQLRSPrepareContext *context) {
  keyValues_.clear();
  for (auto &e : foreignKey_) keyValues_.push_back(e->Prepare(context));
}

void SQLRSClearUnref::SQLRSClearUnrefOp::Eval(std::vector<SQLValueStore const *> const &input,
                                              std::vector<SQLValueStore> *own,
                                              std::vector<SQLColumnDescriptor> const &descriptors,
                                              char noReference) {
  char fill = mode_ == Clear ? ' ' : noReference;
  if (mode_ == ClearUnref) {
    // An empty foreign key made no reference: its referred columns are
    // cleared; a key whose row is missing marks them unreferenced.
    for (size_t i = 0; i < foreignKey_.size(); ++i) {
      foreignKey_[i]->Evaluate();
      if (keyValues_[i]->IsEmpty()) {
        fill = ' ';
        break;
      }
    }
  }
  for (int c : columns_) {
    SQLValueStore const *in = input[static_cast<size_t>(c)];
    SQLValueStore *out = &(*own)[static_cast<size_t>(c)];
    SQLColumnDescriptor const &d = descriptors[static_cast<size_t>(c)];
    int depth = d.GetDepth();
    if (depth > 1 && in->GetType() == SQL_ARRAY) {
      if (out->GetType() != SQL_ARRAY || out->GetDimension() != depth) out->SetDimension(depth);
      int n = std::min(depth, in->GetDimension());
      for (int k = 0; k < n; ++k) Rewrite(in->GetElement(k), out->GetElement(k), d, fill);
    } else {
      Rewrite(in, out, d, fill);
    }
  }
}

void SQLRSClearUnref::SQLRSClearUnrefOp::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  static char const *const kModes[] = {"Clear", "Unref", "ClearUnref"};
  log << "SQLRSClearUnrefOp(" << endl << incind << "ColIds:";
  for (int c : columns_) log << " " << c;
  log << endl << "Mode: " << (mode_ >= Clear && mode_ <= ClearUnref ? kModes[mode_] : "?") << endl;
  log << "Foreign Key:";
  for (auto &e : foreignKey_) {
    log << " ";
    e->Log();
  }
  log << endl << decind << ")" << endl;
}

// ---- SQLRSClearUnref ----

SQLRSClearUnref::SQLRSClearUnref(SQLRowSource *child, List<SQLRSClearUnrefOp *> *operations, char noReference)
    : child_(child), noReference_(noReference) {
  std::unique_ptr<List<SQLRSClearUnrefOp *>> owned(operations);
  if (owned) {
    try {
      operations_.reserve(static_cast<size_t>(owned->NrElements()));
    } catch (...) {
      for (bool more = owned->First(); more; more = owned->Next()) delete owned->GetCurrent();
      throw;
    }
    for (bool more = owned->First(); more; more = owned->Next()) operations_.emplace_back(owned->GetCurrent());
  }
  int n = child_->GetNumCols();
  descriptors_.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) descriptors_.push_back(*child_->GetColumnDescriptor(i));
}

SQLRSClearUnref::~SQLRSClearUnref() = default;

SQLRowSource *SQLRSClearUnref::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  std::unique_ptr<SQLRSClearUnref> self(this);
  child_.reset(child_.release()->OptimizeTree(hints, filters));
  return self.release();
}

// ---- messages a CLEAR/UNREF row source never receives ----

void SQLRSClearUnref::GetColumnRefs(int, SQLRSSCColumnRefType, pSQLRSSCColumnRefList *) {
  Unexpected("GetColumnRefs");
}
bool SQLRSClearUnref::RejectsAllOnNullifiedCols(int, List<Interval<int>> *) {
  Unexpected("RejectsAllOnNullifiedCols");
}
void SQLRSClearUnref::CRefs2ParameterRefs(int, intList *, pSQLParameterList *) {
  Unexpected("CRefs2ParameterRefs");
}
SQLRowSource *SQLRSClearUnref::PushFilter(SQLRSSCSearchCond *, SQLRSSCSearchCond **) { Unexpected("PushFilter"); }
SQLRowSource *SQLRSClearUnref::PullFilter(SQLRSSCSearchCond **) { Unexpected("PullFilter"); }
SQLRowSource *SQLRSClearUnref::PullNullify(intList **, SQLRSSCSearchCond **) { Unexpected("PullNullify"); }
bool SQLRSClearUnref::PushSort(SQLSortSpecList *) { Unexpected("PushSort"); }
SQLRowSource *SQLRSClearUnref::PushGroup(intList *, List<SQLRSGroupSpec> *, bool *) { Unexpected("PushGroup"); }
SQLRowSource *SQLRSClearUnref::PushProject(SQLRSSCValueExprRefPtrList *) { Unexpected("PushProject"); }
bool SQLRSClearUnref::RowSetIsPrepared() { Unexpected("RowSetIsPrepared"); }
SQLRowSource *SQLRSClearUnref::CombineJoin(SQLDatabaseInstance **, int *, List<SQLRSSCSearchCond const *> *,
                                           bool *) {
  Unexpected("CombineJoin");
}
void SQLRSClearUnref::createTokenString(SQLTokenString *, int, SQLRSNetFetchParams *) {
  Unexpected("createTokenString");
}
void SQLRSClearUnref::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("createQPsubquery");
}

// ---- execution ----

void SQLRSClearUnref::DoPrepare(SQLRSPrepareContext *context) {
  child_->Prepare(context);
  size_t n = descriptors_.size();
  if (child_->GetNumCols() != static_cast<int>(n))
    SQLAbort(__FILE__, __LINE__, "SQLRSClearUnref: the input has %d columns, not %d", child_->GetNumCols(),
             static_cast<int>(n));
  std::vector<bool> named(n, false);
  for (auto &op : operations_) {
    for (int c : op->GetColumns()) {
      if (c < 0 || static_cast<size_t>(c) >= n)
        SQLAbort(__FILE__, __LINE__, "SQLRSClearUnref: column %d outside the %d columns of the input", c,
                 static_cast<int>(n));
      named[static_cast<size_t>(c)] = true;
    }
  }
  own_ = std::vector<SQLValueStore>(n);
  input_.clear();
  output_.clear();
  for (size_t i = 0; i < n; ++i) {
    input_.push_back(child_->GetValueStoreAddr(static_cast<int>(i)));
    output_.push_back(named[i] ? &own_[i] : input_[i]);
    if (descriptors_[i].GetDepth() > 1) own_[i].SetDimension(descriptors_[i].GetDepth());
  }
  SQLRSScopedRow row(context->Scope(), child_.get());
  for (auto &op : operations_) op->Prepare(context);
}

SQLValueStore const *SQLRSClearUnref::DoGetValueStoreAddr(int column) {
  if (output_.empty()) return child_->GetValueStoreAddr(column);  // before Prepare
  return output_[static_cast<size_t>(column)];
}

int SQLRSClearUnref::DoFetch() {
  int n = child_->Fetch();
  if (n < 1) return n;
  for (auto &op : operations_) op->Eval(input_, &own_, descriptors_, noReference_);
  return n;
}

void SQLRSClearUnref::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSClearUnref(" << endl << incind;
  for (auto &op : operations_) op->Log();
  log << "Child:";
  child_->Log();
  log << decind << ")" << endl;
}

void SQLRSClearUnref::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  visitor.VisitSQLRSClearUnref(this);
  SQLRSEndUnaryVisit(visitor, this);
}
