#include "sql/exec/rs_union.h"

#include <algorithm>
#include <new>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/rs_project.h"
#include "sql/exec/rs_sort.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sort_key.h"
#include "sql/exec/visitor.h"
#include "sql/exec/visitors.h"

namespace {

[[noreturn]] void Unexpected(char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSUnion::%s", operation);
}

// A projection over the group that adds up the parts of a grouping: an
// AVG (averages[i] TRUE) is the group's sum column divided by the count
// column after it (a NULL sum, of no value, gives NULL); every other
// output is the group's next column. Takes the group over, also when it
// throws.
SQLRowSource *DivideAverages(std::unique_ptr<SQLRowSource> group, std::vector<bool> const &averages) {
  std::vector<SQLRSSCValueExprPtr> owned;
  owned.reserve(averages.size());
  auto column = [&group](int c) { return new SQLRSSCColumnRef(0, c, group->GetColumnDescriptor(c)); };
  int c = 0;
  for (bool average : averages) {
    if (!average) {
      owned.emplace_back(column(c++));
      continue;
    }
    SQLRSSCValueExprPtr sum(column(c++));
    SQLRSSCValueExprPtr count(column(c++));
    owned.emplace_back(new SQLRSSCDivide(sum.release(), count.release()));
  }
  // The list does not own its expressions: until the projection takes
  // them over, they are freed here when memory runs out.
  auto expressions = std::make_unique<pSQLRSSCValueExprList>();
  void *memory = nullptr;
  try {
    for (SQLRSSCValueExprPtr &e : owned) {
      expressions->Append(e.get());
      static_cast<void>(e.release());
    }
    memory = ::operator new(sizeof(SQLRSProject));
  } catch (...) {
    for (bool more = expressions->First(); more; more = expressions->Next()) delete expressions->GetCurrent();
    throw;
  }
  try {
    return new (memory) SQLRSProject(group.release(), expressions.release());
  } catch (...) {
    ::operator delete(memory);  // the projection freed what it took
    throw;
  }
}

}  // namespace

SQLRSUnion::SQLRSUnion(SQLRowSource *left, SQLRowSource *right, bool all)
    : left_(left), right_(right), all_(all) {}

SQLRSUnion::~SQLRSUnion() = default;

// ---- messages applied to both inputs ----

void SQLRSUnion::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  left_->GetColumnRefs(level, type, refs);
  right_->GetColumnRefs(level, type, refs);
}

bool SQLRSUnion::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  return left_->RejectsAllOnNullifiedCols(level, columns) && right_->RejectsAllOnNullifiedCols(level, columns);
}

void SQLRSUnion::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  left_->CRefs2ParameterRefs(level, columns, parameters);
  right_->CRefs2ParameterRefs(level, columns, parameters);
}

SQLRowSource *SQLRSUnion::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  std::unique_ptr<SQLRSUnion> self(this);
  left_.reset(left_.release()->OptimizeTree(hints, filters));
  right_.reset(right_.release()->OptimizeTree(hints, filters));
  SQLGetDBInstanceVisitor leftInstance, rightInstance;
  left_->AcceptVisit(leftInstance);
  right_->AcceptVisit(rightInstance);
  SQLDatabaseInstance const *l = leftInstance.GetResult();
  SQLDatabaseInstance const *r = rightInstance.GetResult();
  if (l == nullptr || r == nullptr || !l->IsCompatible(r)) return self.release();
  // The right input's table leaf takes the left one over and ships both;
  // when it refuses or throws, both inputs stay here.
  SQLRowSource *shipped = right_->CreateUnion(left_.get(), all_);
  if (shipped == nullptr) return self.release();
  static_cast<void>(left_.release());
  static_cast<void>(right_.release());
  return shipped;  // the union leaves the tree
}

void SQLRSUnion::OptimizeNode() {
  left_->OptimizeNode();
  right_->OptimizeNode();
}

void SQLRSUnion::PushHints(SQLHints *hints) {
  left_->PushHints(hints);
  right_->PushHints(hints);
}

bool SQLRSUnion::RowSetIsPrepared() {
  prepared_ = left_->RowSetIsPrepared() && right_->RowSetIsPrepared();
  return prepared_;
}

SQLRowSource *SQLRSUnion::CombineJoin(SQLDatabaseInstance **instance, int *, List<SQLRSSCSearchCond const *> *,
                                      bool *combinable) {
  *instance = nullptr;
  *combinable = false;
  return this;
}

// ---- messages a union never receives ----
// PullFilter goes only to a join's side that is a table leaf or a filter
// over one, and nothing sends PullNullify.

SQLRowSource *SQLRSUnion::PullFilter(SQLRSSCSearchCond **) { Unexpected("PullFilter"); }
SQLRowSource *SQLRSUnion::PullNullify(intList **, SQLRSSCSearchCond **) { Unexpected("PullNullify"); }
void SQLRSUnion::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("createQPsubquery");
}

// ---- rewrites ----

bool SQLRSUnion::InputsCanTake(SQLRSSCSearchCond const *conjunct) {
  if (!conjunct->CanCopy()) return false;
  pSQLRSSCColumnRefList refs;
  const_cast<SQLRSSCSearchCond *>(conjunct)->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
  return InputsDeliverAsTheUnion(&refs);
}

bool SQLRSUnion::InputsDeliverColumn(int c, bool anyLength) {
  if (c < 0 || c >= GetNumCols()) return false;
  SQLColumnDescriptor const *d = GetColumnDescriptor(c);
  bool const length = anyLength || d->GetType() == SQL_STRING || d->GetType() == SQL_RAW;
  for (SQLRowSource *input : {left_.get(), right_.get()}) {
    SQLColumnDescriptor const *i = input->GetColumnDescriptor(c);
    if (i->GetType() != d->GetType() || i->GetDepth() != d->GetDepth()) return false;
    if (length && i->GetLength() != d->GetLength()) return false;
  }
  return true;
}

bool SQLRSUnion::InputsDeliverAsTheUnion(pSQLRSSCColumnRefList *refs) {
  for (bool more = refs->First(); more; more = refs->Next())
    if (!InputsDeliverColumn(refs->GetCurrent()->GetColumnId(), false)) return false;
  return true;
}

SQLRowSource *SQLRSUnion::PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) {
  std::unique_ptr<SQLRSUnion> self(this);
  *residual = nullptr;
  std::vector<SQLRSSCSearchCondPtr> conjuncts = SQLRSSCTakeConjuncts(condition);
  std::vector<SQLRSSCSearchCondPtr> down, rest;
  for (SQLRSSCSearchCondPtr &c : conjuncts) (InputsCanTake(c.get()) ? down : rest).push_back(std::move(c));
  if (SQLRSSCSearchCondPtr forLeft = SQLRSSCConjunction(std::move(down))) {
    // Column i of the union is column i of each input: the copy for the
    // right input reads the same column numbers.
    SQLRSSCSearchCondPtr forRight(forLeft->Copy());
    SQLRSPushFilterInto(&left_, std::move(forLeft));
    SQLRSPushFilterInto(&right_, std::move(forRight));
  }
  *residual = SQLRSSCConjunction(std::move(rest)).release();
  return self.release();
}

void SQLRSUnion::OrderAllColumns(SQLSortSpecList *specifications) {
  int n = left_->GetNumCols();
  std::vector<bool> ordered(static_cast<size_t>(n), false);
  for (bool more = specifications->First(); more; more = specifications->Next()) {
    int c = specifications->GetCurrent().GetColumnId();
    if (c >= 0 && c < n) ordered[static_cast<size_t>(c)] = true;
  }
  for (int c = 0; c < n; ++c)
    if (!ordered[static_cast<size_t>(c)]) specifications->Append(SQLSortSpec(c, SQLSortSpec::kAscending));
}

bool SQLRSUnion::PushSort(SQLSortSpecList *specifications) {
  // Without ALL, equal rows must meet in the merge so that one of them is
  // dropped: every column takes part in the order, the asked keys first.
  if (!all_) OrderAllColumns(specifications);
  for (std::unique_ptr<SQLRowSource> *input : {&left_, &right_}) {
    auto copy = std::make_unique<SQLSortSpecList>(*specifications);
    if ((*input)->PushSort(copy.get())) {
      copy.release();  // the input owns it now
    } else {
      input->reset(new SQLRSSort(input->release(), copy.release()));
    }
  }
  mergeSort_.reset(specifications);
  merge_ = true;
  return true;
}

SQLRowSource *SQLRSUnion::PushProject(SQLRSSCValueExprRefPtrList *expressions) {
  std::unique_ptr<SQLRSUnion> self(this);
  if (descriptors_.empty()) CreateOutputColumnDescriptors();
  *expressions = SQLRSSCValueExprRefPtrList();
  for (size_t i = 0; i < descriptors_.size(); ++i)
    expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, static_cast<int>(i), &descriptors_[i])));
  return self.release();
}

void SQLRSUnion::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSUnion);
  ts->AppendBs2(all_ ? 1 : 0);
  left_->createTokenString(ts, level, params);
  right_->createTokenString(ts, level, params);
}

bool SQLRSUnion::InputsCanGroup(std::vector<int> const &grouping, List<SQLRSGroupSpec> *outputs) {
  if (!all_) return false;
  pSQLRSSCColumnRefList refs;
  for (bool more = outputs->First(); more; more = outputs->Next()) {
    SQLRSGroupSpec const &spec = outputs->GetCurrent();
    switch (spec.GetKind()) {
      case SQLRSGroupSpec::kGroupingColumn:
        if (std::find(grouping.begin(), grouping.end(), spec.GetColumn()) == grouping.end()) return false;
        break;
      case SQLRSGroupSpec::kSetFunction: {
        if (!spec.GetExpression()->CanCopy()) return false;
        // AVG of numbers only: its parts are a REAL sum and a count.
        SQLType type = spec.GetExpression()->GetColumnDescriptor().GetType();
        if (spec.GetFunction() == SQLRSGroupSpec::kAvg && type != SQL_INTEGER && type != SQL_REAL) return false;
        spec.GetExpression()->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
        break;
      }
      default: break;
    }
  }
  for (int c : grouping)
    if (!InputsDeliverColumn(c, true)) return false;
  return InputsDeliverAsTheUnion(&refs);
}

SQLRowSource *SQLRSUnion::PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) {
  std::unique_ptr<SQLRSUnion> self(this);
  *accepted = false;
  std::vector<int> grouping;
  for (bool more = groupingColumns->First(); more; more = groupingColumns->Next())
    grouping.push_back(groupingColumns->GetCurrent());
  if (!InputsCanGroup(grouping, outputs)) return self.release();
  // Each input groups its own rows by the grouping columns, all of them
  // first, then one part per set function (two for AVG: the SUM of its
  // argument as a REAL, so that it adds like AVG's own sum, and its COUNT);
  // a group above adds the parts up.
  auto partColumns = [&grouping] {
    auto columns = std::make_unique<intList>();
    for (int c : grouping) columns->Append(c);
    return columns;
  };
  auto partSpecs = [&grouping, outputs] {
    auto specs = std::make_unique<List<SQLRSGroupSpec>>();
    for (int c : grouping) specs->Append(SQLRSGroupSpec::Column(c));
    for (bool more = outputs->First(); more; more = outputs->Next()) {
      SQLRSGroupSpec const &spec = outputs->GetCurrent();
      if (spec.GetKind() == SQLRSGroupSpec::kCountStar) specs->Append(SQLRSGroupSpec::CountStar());
      if (spec.GetKind() != SQLRSGroupSpec::kSetFunction) continue;
      if (spec.GetFunction() != SQLRSGroupSpec::kAvg) {
        specs->Append(SQLRSGroupSpec::SetFunction(spec.GetFunction(),
                                                  RefPtr<SQLRSSCValueExpr>(spec.GetExpression()->Copy())));
        continue;
      }
      SQLRSSCValueExprPtr argument(spec.GetExpression()->Copy());
      SQLRSSCValueExprPtr one(new SQLRSSCRealConst(1.0));
      RefPtr<SQLRSSCValueExpr> real(new SQLRSSCMultiply(argument.release(), one.release()));
      specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, real));
      specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kCount,
                                                RefPtr<SQLRSSCValueExpr>(spec.GetExpression()->Copy())));
    }
    return specs;
  };
  for (std::unique_ptr<SQLRowSource> *input : {&left_, &right_}) {
    std::unique_ptr<intList> columns = partColumns();
    std::unique_ptr<List<SQLRSGroupSpec>> specs = partSpecs();
    bool taken = false;
    input->reset(input->release()->PushGroup(columns.get(), specs.get(), &taken));
    if (taken) {
      static_cast<void>(columns.release());  // the input owns both lists now
      static_cast<void>(specs.release());
    } else if (input == &left_) {
      // Nothing changed (a left input that groups nothing itself gains
      // nothing from parts): the grouping stays above.
      return self.release();
    } else {
      input->reset(new SQLRSGroup(input->release(), columns.release(), specs.release()));
    }
  }
  // The union of the parts takes this union's place under the final group.
  std::unique_ptr<SQLRSUnion> parts(new SQLRSUnion(left_.release(), right_.release(), true));
  self.reset();
  int const g = static_cast<int>(grouping.size());
  auto columns = std::make_unique<intList>();
  for (int i = 0; i < g; ++i) columns->Append(i);
  auto specs = std::make_unique<List<SQLRSGroupSpec>>();
  auto sumOf = [&specs, &parts](int function, int part) {
    specs->Append(SQLRSGroupSpec::SetFunction(
        function, RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, part, parts->GetColumnDescriptor(part)))));
  };
  std::vector<bool> averages;  // per output: an AVG, whose sum and count are divided above
  int part = g;
  for (bool more = outputs->First(); more; more = outputs->Next()) {
    SQLRSGroupSpec const &spec = outputs->GetCurrent();
    averages.push_back(false);
    if (spec.GetKind() == SQLRSGroupSpec::kGroupingColumn) {
      int i = static_cast<int>(std::find(grouping.begin(), grouping.end(), spec.GetColumn()) - grouping.begin());
      specs->Append(SQLRSGroupSpec::Column(i));
      continue;
    }
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction && spec.GetFunction() == SQLRSGroupSpec::kAvg) {
      averages.back() = true;
      sumOf(SQLRSGroupSpec::kSum, part++);
      sumOf(SQLRSGroupSpec::kSum, part++);
      continue;
    }
    // Counts and sums add up, MIN and MAX are those of the parts.
    sumOf(spec.GetKind() == SQLRSGroupSpec::kCountStar || spec.GetFunction() == SQLRSGroupSpec::kCount
              ? SQLRSGroupSpec::kSum
              : spec.GetFunction(),
          part++);
  }
  std::unique_ptr<SQLRowSource> total(new SQLRSGroup(parts.release(), columns.release(), specs.release()));
  if (std::find(averages.begin(), averages.end(), true) != averages.end())
    total.reset(DivideAverages(std::move(total), averages));
  delete groupingColumns;  // taken over
  delete outputs;
  *accepted = true;
  return total.release();
}

// ---- descriptors and preparation ----

void SQLRSUnion::CreateOutputColumnDescriptors() {
  descriptors_.clear();
  int n = left_->GetNumCols();
  for (int i = 0; i < n; ++i) {
    SQLColumnDescriptor const *l = left_->GetColumnDescriptor(i);
    SQLColumnDescriptor const *r = right_->GetColumnDescriptor(i);
    SQLType type = l->GetType();
    if (type != r->GetType() && ((type == SQL_INTEGER && r->GetType() == SQL_REAL) ||
                                 (type == SQL_REAL && r->GetType() == SQL_INTEGER)))
      type = SQL_REAL;
    descriptors_.emplace_back("", type, SQLCommonLength(l->GetLength(), r->GetLength()), l->GetDepth());
  }
}

SQLColumnDescriptor const *SQLRSUnion::DoGetColumnDescriptor(int column) {
  if (descriptors_.empty()) CreateOutputColumnDescriptors();
  return &descriptors_[static_cast<size_t>(column)];
}

void SQLRSUnion::DoPrepare(SQLRSPrepareContext *context) {
  // A union without ALL that no sort was pushed into still merges, in the
  // order of its columns, to find its duplicates.
  if (!all_ && !merge_) {
    auto order = std::make_unique<SQLSortSpecList>();
    if (PushSort(order.get())) static_cast<void>(order.release());  // the union owns it now
  }
  left_->Prepare(context);
  right_->Prepare(context);
  if (descriptors_.empty()) CreateOutputColumnDescriptors();
  int n = left_->GetNumCols();
  if (right_->GetNumCols() != n)
    SQLAbort(__FILE__, __LINE__, "Union of %d columns with %d columns", n, right_->GetNumCols());
  output_ = std::vector<SQLValueStore>(static_cast<size_t>(n));
  last_ = std::vector<SQLValueStore>(static_cast<size_t>(n));
  haveLast_ = false;
  leftStores_.clear();
  rightStores_.clear();
  for (int i = 0; i < n; ++i) {
    SQLColumnDescriptor const &d = descriptors_[static_cast<size_t>(i)];
    if (d.GetDepth() > 1)
      output_[static_cast<size_t>(i)].SetDimension(d.GetDepth());
    else
      SQLSetTypedNull(&output_[static_cast<size_t>(i)], d.GetType());
    leftStores_.push_back(left_->GetValueStoreAddr(i));
    rightStores_.push_back(right_->GetValueStoreAddr(i));
  }
}

// ---- execution ----

void SQLRSUnion::DoSetMaxRows(int limit) {
  left_->SetMaxRows(limit);
  right_->SetMaxRows(limit);
}

void SQLRSUnion::DoExec() {
  left_->Exec();
  right_->Exec();
  leftState_ = kFetchDue;
  rightState_ = kFetchDue;
  haveLast_ = false;
}

int SQLRSUnion::FetchInto(SQLRowSource *input) { return input->Fetch() != 0 ? kHolding : kExhausted; }

bool SQLRSUnion::LeftFirst() const {
  for (bool more = mergeSort_->First(); more; more = mergeSort_->Next()) {
    SQLSortSpec const &spec = mergeSort_->GetCurrent();
    SQLValueStore const *lv = leftStores_[static_cast<size_t>(spec.GetColumnId())];
    SQLValueStore const *rv = rightStores_[static_cast<size_t>(spec.GetColumnId())];
    int order = SQLCompareKeyValues(lv, rv);  // -1 left first, 1 right first, 0 a tie
    if (spec.IsDescending()) order = -order;
    if (order != 0) return order < 0;
  }
  return true;
}

void SQLRSUnion::CopyValue(SQLColumnDescriptor const &d, SQLValueStore const *src, SQLValueStore *dst) const {
  if (src->IsNull()) {
    SQLSetTypedNull(dst, d.GetType());
    return;
  }
  switch (d.GetType()) {
    case SQL_STRING: {
      dst->SetString(src->GetBytes(), src->GetLength());
      long pad = static_cast<long>(d.GetLength()) - static_cast<long>(src->GetLength());
      if (pad > 0) dst->RightPadString(static_cast<int>(pad));
      break;
    }
    case SQL_REAL:
      dst->SetReal(src->GetType() == SQL_REAL ? src->GetReal() : static_cast<double>(src->GetInteger()));
      break;
    case SQL_RAW: {
      dst->SetRaw(src->GetBytes(), src->GetLength());
      long pad = static_cast<long>(d.GetLength()) - static_cast<long>(src->GetLength());
      if (pad > 0) dst->RightPadRaw(static_cast<int>(pad));
      break;
    }
    default: dst->Copy(src);
  }
}

void SQLRSUnion::TakeRow(std::vector<SQLValueStore const *> const &from) {
  for (size_t i = 0; i < output_.size(); ++i) {
    SQLColumnDescriptor const &d = descriptors_[i];
    SQLValueStore const *src = from[i];
    SQLValueStore *dst = &output_[i];
    if (d.GetDepth() <= 1) {
      CopyValue(d, src, dst);
      continue;
    }
    if (dst->GetType() != SQL_ARRAY || dst->GetDimension() != d.GetDepth()) dst->SetDimension(d.GetDepth());
    int n = std::min(d.GetDepth(), src->GetType() == SQL_ARRAY ? src->GetDimension() : 0);
    for (int e = 0; e < d.GetDepth(); ++e) {
      if (e < n)
        CopyValue(d, src->GetElement(e), dst->GetElement(e));
      else
        SQLSetTypedNull(dst->GetElement(e), d.GetType());
    }
  }
}

bool SQLRSUnion::SameAsLast() const {
  if (!haveLast_) return false;
  for (size_t i = 0; i < output_.size(); ++i)
    if (!SQLKeyValuesEqual(&output_[i], &last_[i])) return false;
  return true;
}

int SQLRSUnion::DoFetch() {
  for (;;) {
    if (NextRow() == 0) return 0;
    if (all_) return 1;
    // Merged in an order of every column, a duplicate follows its twin.
    if (SameAsLast()) continue;
    for (size_t i = 0; i < output_.size(); ++i) last_[i].Copy(&output_[i]);
    haveLast_ = true;
    return 1;
  }
}

int SQLRSUnion::NextRow() {
  if (leftState_ == kFetchDue) leftState_ = FetchInto(left_.get());
  if (rightState_ == kFetchDue && (leftState_ == kExhausted || merge_ || prepared_))
    rightState_ = FetchInto(right_.get());
  bool takeLeft;
  if (leftState_ == kExhausted) {
    if (rightState_ != kHolding) return 0;
    takeLeft = false;
  } else if (rightState_ == kExhausted) {
    takeLeft = true;
  } else if (!merge_ || mergeSort_->NrElements() == 0) {
    takeLeft = true;
  } else {
    takeLeft = LeftFirst();
  }
  if (takeLeft) {
    leftState_ = kFetchDue;
    TakeRow(leftStores_);
  } else {
    rightState_ = kFetchDue;
    TakeRow(rightStores_);
  }
  return 1;
}

int SQLRSUnion::DoSkipRows(int n) {
  // A held row would be passed over unseen: skip by fetching instead.
  if (merge_ || leftState_ == kHolding || rightState_ == kHolding) return -1;
  int skipped = 0;
  if (leftState_ != kExhausted) {
    skipped = left_->SkipRows(n);
    if (skipped < n) leftState_ = kExhausted;
  }
  if (skipped < n && rightState_ != kExhausted) {
    int more = right_->SkipRows(n - skipped);
    if (skipped + more < n) rightState_ = kExhausted;
    skipped += more;
  }
  return skipped;
}

void SQLRSUnion::DoBreak() {
  left_->Break();
  right_->Break();
  leftState_ = kFetchDue;
  rightState_ = kFetchDue;
  haveLast_ = false;
}

void SQLRSUnion::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSUnion (" << endl << incind << "All: " << (all_ ? "TRUE" : "FALSE") << endl
      << "Merge sort: " << (merge_ ? "TRUE" : "FALSE") << endl;
  if (mergeSort_) {
    log << " Specs: " << endl << incind;
    for (bool more = mergeSort_->First(); more; more = mergeSort_->Next()) {
      SQLSortSpec const &spec = mergeSort_->GetCurrent();
      log << "SortSpec(" << spec.GetColumnId() << "," << (spec.IsDescending() ? "DESCENDING" : "ASCENDING")
          << ")" << endl;
    }
    log << decind;
  }
  log << "Prepares result: " << (prepared_ ? "TRUE" : "FALSE") << endl << "LeftRS: " << incind;
  left_->Log();
  log << decind << "RightRS: " << incind;
  right_->Log();
  log << decind << decind << ")" << endl;
}

void SQLRSUnion::DoAcceptVisit(SQLVisitor &visitor) {
  left_->AcceptVisit(visitor);
  visitor.Scope()->PopRowSource();
  right_->AcceptVisit(visitor);
  visitor.Scope()->PopRowSource();
  visitor.VisitSQLRSUnion(this);
  visitor.Scope()->PushRowSource(this);
}
