#include "sql/exec/rs_group.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_state.h"
#include "sql/common/sql_logger.h"
#include "sql/common/temp_file.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/row_codec.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/spill_file.h"
#include "sql/exec/visitor.h"

namespace {

[[noreturn]] void Unexpected(char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSGroup::%s", operation);
}

double AsDouble(SQLValueStore const *v) {
  return v->GetType() == SQL_REAL ? v->GetReal() : static_cast<double>(v->GetInteger());
}

SQLColumnDescriptor Nameless(SQLColumnDescriptor const &d) {
  return SQLColumnDescriptor("", d.GetType(), d.GetLength(), d.GetDepth());
}

char const *FunctionName(int function) {
  switch (function) {
    case SQLRSGroupSpec::kMin: return "MIN(";
    case SQLRSGroupSpec::kMax: return "MAX(";
    case SQLRSGroupSpec::kSum: return "SUM(";
    case SQLRSGroupSpec::kAvg: return "AVG(";
    case SQLRSGroupSpec::kCount: return "COUNT(";
    default: return "?(";
  }
}

}  // namespace

void SQLRSGroupSpec::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  log << "GroupSpec(";
  switch (kind_) {
    case kGroupingColumn: log << column_; break;
    case kSetFunction:
      log << FunctionName(function_);
      if (expression_) expression_->Log();
      log << ")";
      break;
    default: log << "COUNT(*)"; break;
  }
  log << ")" << endl;
}

SQLRSGroup::SQLRSGroup(SQLRowSource *child, intList *groupingColumns, List<SQLRSGroupSpec> *specs)
    : child_(child), groupingColumns_(groupingColumns), specs_(specs) {}

SQLRSGroup::~SQLRSGroup() = default;

// ---- messages forwarded to the child ----
// Set-function arguments never read outer rows (name resolution refuses
// that); a condition kept here from PushFilter may.

void SQLRSGroup::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  if (filter_) filter_->GetColumnRefs(level, type, refs);
  child_->GetColumnRefs(level, type, refs);
}

bool SQLRSGroup::YieldsNoRow() {
  return groupingColumns_->NrElements() > 0 && child_->YieldsNoRow();
}

bool SQLRSGroup::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  // Without grouping columns there is one group even for no input rows
  // (COUNT(*) of nothing is 0): a row always comes out.
  if (!groupingColumns_ || groupingColumns_->NrElements() == 0) return false;
  return child_->RejectsAllOnNullifiedCols(level, columns);
}

void SQLRSGroup::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  if (filter_) filter_->CRefs2ParameterRefs(level, columns, parameters);
  child_->CRefs2ParameterRefs(level, columns, parameters);
}

SQLRowSource *SQLRSGroup::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *) {
  std::unique_ptr<SQLRSGroup> self(this);
  child_.reset(child_.release()->OptimizeTree(hints, nullptr));
  bool accepted = false;
  child_.reset(child_.release()->PushGroup(groupingColumns_.get(), specs_.get(), &accepted));
  if (!accepted) return self.release();
  static_cast<void>(groupingColumns_.release());  // the child owns both lists now
  static_cast<void>(specs_.release());
  return child_.release();  // the group leaves the tree
}

void SQLRSGroup::OptimizeNode() {
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction) spec.GetExpression()->Optimize();
  }
  if (filter_) filter_.reset(filter_.release()->Optimize());
  child_->OptimizeNode();
}

void SQLRSGroup::PushHints(SQLHints *hints) { child_->PushHints(hints); }

// A grouping over this one's groups (a derived table grouped here, whose
// projection left the tree) stays above it.
SQLRowSource *SQLRSGroup::PushGroup(intList *, List<SQLRSGroupSpec> *, bool *accepted) {
  *accepted = false;
  return this;
}

// A group that runs here is never part of a driver's join.
SQLRowSource *SQLRSGroup::CombineJoin(SQLDatabaseInstance **instance, int *, List<SQLRSSCSearchCond const *> *,
                                      bool *combinable) {
  *instance = nullptr;
  *combinable = false;
  return this;
}

// ---- messages a group never receives ----
// PullFilter goes only to a join's side that is a table leaf or a filter
// over one, and nothing sends PullNullify.

SQLRowSource *SQLRSGroup::PullFilter(SQLRSSCSearchCond **) { Unexpected("PullFilter"); }
SQLRowSource *SQLRSGroup::PullNullify(intList **, SQLRSSCSearchCond **) { Unexpected("PullNullify"); }
void SQLRSGroup::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("createQPsubquery");
}

// ---- rewrites ----

SQLRowSource *SQLRSGroup::PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) {
  std::unique_ptr<SQLRSGroup> self(this);
  *residual = nullptr;
  std::vector<SQLRSSCSearchCondPtr> conjuncts = SQLRSSCTakeConjuncts(condition);
  std::vector<int> map;
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    map.push_back(spec.GetKind() == SQLRSGroupSpec::kGroupingColumn ? spec.GetColumn() : -1);
  }
  std::vector<SQLRSSCSearchCondPtr> below, rest;
  for (SQLRSSCSearchCondPtr &conjunct : conjuncts) {
    pSQLRSSCColumnRefList refs;
    conjunct->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    bool groupingOnly = true;
    for (bool r = refs.First(); r && groupingOnly; r = refs.Next()) {
      int p = refs.GetCurrent()->GetColumnId();
      groupingOnly = p >= 0 && p < static_cast<int>(map.size()) && map[static_cast<size_t>(p)] != -1;
    }
    // Without grouping columns there is always one group, even when every
    // row is filtered out, so nothing may move below the group then.
    if (!groupingOnly || groupingColumns_->NrElements() == 0) {
      rest.push_back(std::move(conjunct));
      continue;
    }
    for (bool r = refs.First(); r; r = refs.Next()) {
      SQLRSSCColumnRef *ref = refs.GetCurrent();
      ref->SetColumnId(map[static_cast<size_t>(ref->GetColumnId())]);
    }
    below.push_back(std::move(conjunct));
  }

  SQLRSSCSearchCondPtr above = SQLRSSCConjunction(std::move(rest));
  if (SQLRSSCSearchCondPtr down = SQLRSSCConjunction(std::move(below))) {
    SQLRSSCSearchCond *left = nullptr;
    child_.reset(child_.release()->PushFilter(down.release(), &left));
    SQLRSSCSearchCondPtr kept(left);
    if (kept && filter_)
      filter_.reset(new SQLRSSCAnd(filter_.release(), kept.release()));
    else if (kept)
      filter_ = std::move(kept);
  }
  *residual = above.release();
  return self.release();
}

bool SQLRSGroup::PushSort(SQLSortSpecList *specifications) {
  std::vector<int> map;
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    map.push_back(spec.GetKind() == SQLRSGroupSpec::kGroupingColumn ? spec.GetColumn() : -1);
  }
  for (bool more = specifications->First(); more; more = specifications->Next()) {
    int p = specifications->GetCurrent().GetColumnId();
    if (p < 0 || p >= static_cast<int>(map.size()) || map[static_cast<size_t>(p)] == -1) return false;
  }
  auto columns = std::make_unique<intList>();
  auto sort = std::make_unique<SQLSortSpecList>();
  std::vector<int> old;
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next())
    old.push_back(groupingColumns_->GetCurrent());
  for (bool more = specifications->First(); more; more = specifications->Next()) {
    SQLSortSpec const &spec = specifications->GetCurrent();
    int column = map[static_cast<size_t>(spec.GetColumnId())];
    bool seen = false;  // a column ordered twice keeps its first direction
    for (bool c = columns->First(); c && !seen; c = columns->Next()) seen = columns->GetCurrent() == column;
    if (seen) continue;
    columns->Append(column);
    sort->Append(SQLSortSpec(column, spec.GetDirection()));
    old.erase(std::remove(old.begin(), old.end(), column), old.end());
  }
  for (int column : old) columns->Append(column);
  groupingColumns_ = std::move(columns);
  sort_ = std::move(sort);
  delete specifications;  // taken over
  return true;
}

SQLRowSource *SQLRSGroup::PushProject(SQLRSSCValueExprRefPtrList *expressions) {
  std::unique_ptr<SQLRSGroup> self(this);
  if (outputDescriptors_.empty()) CreateOutputColumnDescriptors();
  std::vector<SQLRSGroupSpec> work;
  for (bool more = specs_->First(); more; more = specs_->Next()) work.push_back(specs_->GetCurrent());
  std::vector<SQLColumnDescriptor> formerDescriptors = outputDescriptors_;
  int numSpecs = static_cast<int>(work.size());

  // The output positions read above, in the order of the offer: the first
  // new position of each entry takes its place, further ones follow at the
  // end, entries without a new position go.
  std::vector<bool> needed(work.size(), false);
  std::vector<int> firsts, extras;
  for (bool more = expressions->First(); more; more = expressions->Next()) {
    pSQLRSSCColumnRefList refs;
    expressions->GetCurrent()->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    bool first = true;
    for (bool r = refs.First(); r; r = refs.Next()) {
      int p = refs.GetCurrent()->GetColumnId();
      if (p < 0 || p >= numSpecs)
        SQLAbort(__FILE__, __LINE__, "Column %d outside the %d columns of a group", p, numSpecs);
      if (needed[static_cast<size_t>(p)]) continue;
      needed[static_cast<size_t>(p)] = true;
      (first ? firsts : extras).push_back(p);
      first = false;
    }
  }
  std::vector<int> order = firsts;
  order.insert(order.end(), extras.begin(), extras.end());

  // What the group reads of its child, each column once.
  std::vector<int> childColumns;
  auto need = [&childColumns](int c) {
    if (std::find(childColumns.begin(), childColumns.end(), c) == childColumns.end()) childColumns.push_back(c);
  };
  auto argumentRefs = [](SQLRSGroupSpec const &spec, pSQLRSSCColumnRefList *refs) {
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction) spec.GetExpression()->GetColumnRefs(0, SQL_CREF_LEVEL, refs);
  };
  for (int p = 0; p < numSpecs; ++p) {
    if (!needed[static_cast<size_t>(p)]) continue;
    SQLRSGroupSpec const &spec = work[static_cast<size_t>(p)];
    if (spec.GetKind() == SQLRSGroupSpec::kGroupingColumn) need(spec.GetColumn());
    pSQLRSSCColumnRefList refs;
    argumentRefs(spec, &refs);
    for (bool r = refs.First(); r; r = refs.Next()) need(refs.GetCurrent()->GetColumnId());
  }
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next()) need(groupingColumns_->GetCurrent());
  pSQLRSSCColumnRefList filterRefs;
  if (filter_) filter_->GetColumnRefs(0, SQL_CREF_LEVEL, &filterRefs);
  for (bool r = filterRefs.First(); r; r = filterRefs.Next()) need(filterRefs.GetCurrent()->GetColumnId());

  SQLRSSCValueExprRefPtrList childOffer;
  for (int c : childColumns)
    childOffer.Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, c, child_->GetColumnDescriptor(c))));
  child_.reset(child_.release()->PushProject(&childOffer));
  std::vector<int> newpos;
  int formerCount = 0;
  for (int c : childColumns) formerCount = std::max(formerCount, c + 1);
  newpos.assign(static_cast<size_t>(formerCount), -1);
  int j = 0;
  for (bool more = childOffer.First(); more; more = childOffer.Next(), ++j) {
    SQLRSSCValueExpr *e = childOffer.GetCurrent().Get();
    if (!e->IsColumnRef()) continue;
    auto *ref = static_cast<SQLRSSCColumnRef *>(e);
    int c = ref->GetColumnId();
    if (ref->GetRelScopeLevel() == 0 && c >= 0 && c < formerCount && newpos[static_cast<size_t>(c)] < 0)
      newpos[static_cast<size_t>(c)] = j;
  }
  auto renumber = [&newpos, formerCount](int c) {
    if (c < 0 || c >= formerCount || newpos[static_cast<size_t>(c)] < 0)
      SQLAbort(__FILE__, __LINE__, "Column %d of a group's input lost by the projection below it", c);
    return newpos[static_cast<size_t>(c)];
  };

  // The new spec list and the answer.
  *expressions = SQLRSSCValueExprRefPtrList();
  auto specs = std::make_unique<List<SQLRSGroupSpec>>();
  outputDescriptors_.clear();
  if (order.empty()) {
    // Nothing above reads the group, yet every group must still give a row.
    specs->Append(SQLRSGroupSpec::CountStar());
    outputDescriptors_.emplace_back("", SQL_INTEGER, 0, 1);
    expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 0, &outputDescriptors_[0])));
  } else {
    for (int p : order) {
      SQLRSGroupSpec spec = work[static_cast<size_t>(p)];
      if (spec.GetKind() == SQLRSGroupSpec::kGroupingColumn) spec.SetColumn(renumber(spec.GetColumn()));
      specs->Append(spec);
      outputDescriptors_.push_back(formerDescriptors[static_cast<size_t>(p)]);
      expressions->Append(
          RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, p, &formerDescriptors[static_cast<size_t>(p)])));
    }
    // An argument may be shared by several specs: renumber each one once.
    std::vector<SQLRSSCValueExpr const *> done;
    for (bool more = specs->First(); more; more = specs->Next()) {
      SQLRSGroupSpec const &spec = specs->GetCurrent();
      if (spec.GetKind() != SQLRSGroupSpec::kSetFunction) continue;
      if (std::find(done.begin(), done.end(), spec.GetExpression().Get()) != done.end()) continue;
      done.push_back(spec.GetExpression().Get());
      pSQLRSSCColumnRefList refs;
      argumentRefs(spec, &refs);
      for (bool r = refs.First(); r; r = refs.Next())
        refs.GetCurrent()->SetColumnId(renumber(refs.GetCurrent()->GetColumnId()));
    }
  }
  specs_ = std::move(specs);
  for (bool r = filterRefs.First(); r; r = filterRefs.Next())
    filterRefs.GetCurrent()->SetColumnId(renumber(filterRefs.GetCurrent()->GetColumnId()));
  auto columns = std::make_unique<intList>();
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next())
    columns->Append(renumber(groupingColumns_->GetCurrent()));
  groupingColumns_ = std::move(columns);
  if (sort_) {
    auto sort = std::make_unique<SQLSortSpecList>();
    for (bool more = sort_->First(); more; more = sort_->Next())
      sort->Append(SQLSortSpec(renumber(sort_->GetCurrent().GetColumnId()), sort_->GetCurrent().GetDirection()));
    sort_ = std::move(sort);
  }
  return self.release();
}

long long SQLRSGroupItemsLargest(intList const *groupingColumns, List<SQLRSGroupSpec> const *specs) {
  intList columns = *groupingColumns;  // copies: the callers' cursors stay where they are
  List<SQLRSGroupSpec> outputs = *specs;
  long long largest = std::max(columns.NrElements(), outputs.NrElements());
  for (bool more = columns.First(); more; more = columns.Next())
    largest = std::max<long long>(largest, columns.GetCurrent());
  for (bool more = outputs.First(); more; more = outputs.Next())
    if (outputs.GetCurrent().GetKind() == SQLRSGroupSpec::kGroupingColumn)
      largest = std::max<long long>(largest, outputs.GetCurrent().GetColumn());
  return largest;
}

void SQLRSAppendGroupItems(SQLTokenString *ts, intList *groupingColumns, List<SQLRSGroupSpec> *specs, int level,
                           SQLRSNetFetchParams *params) {
  ts->AppendBs2(static_cast<std::int16_t>(groupingColumns->NrElements()));
  for (bool more = groupingColumns->First(); more; more = groupingColumns->Next())
    ts->AppendBs2(static_cast<std::int16_t>(groupingColumns->GetCurrent()));
  ts->AppendBs2(static_cast<std::int16_t>(specs->NrElements()));
  for (bool more = specs->First(); more; more = specs->Next()) {
    SQLRSGroupSpec const &spec = specs->GetCurrent();
    switch (spec.GetKind()) {
      case SQLRSGroupSpec::kGroupingColumn:
        ts->AppendToken(SQLNWTColumnId);
        ts->AppendBs2(static_cast<std::int16_t>(spec.GetColumn()));
        break;
      case SQLRSGroupSpec::kCountStar: ts->AppendToken(SQLNWTCountStar); break;
      default: {
        static constexpr SQLNWToken kTokens[] = {SQLNWTMin, SQLNWTMax, SQLNWTSum, SQLNWTAvg, SQLNWTCount};
        if (spec.GetFunction() < 0 || spec.GetFunction() > 4) SQLAbort(__FILE__, __LINE__, "Unexpected type");
        ts->AppendToken(kTokens[spec.GetFunction()]);
        spec.GetExpression()->createTokenString(ts, level, params);
      }
    }
  }
}

void SQLRSGroup::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSGroup);
  SQLRSAppendGroupItems(ts, groupingColumns_.get(), specs_.get(), level, params);
  // A condition the child left over is read before grouping, over the
  // child's columns: in a description it is a filter over the child.
  if (filter_) {
    ts->AppendToken(SQLNWTRSFilter);
    filter_->createTokenString(ts, level, params);
  }
  child_->createTokenString(ts, level, params);
}

// ---- descriptors and preparation ----

void SQLRSGroup::CreateOutputColumnDescriptors() {
  outputDescriptors_.clear();
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    switch (spec.GetKind()) {
      case SQLRSGroupSpec::kGroupingColumn:
        outputDescriptors_.push_back(*child_->GetColumnDescriptor(spec.GetColumn()));
        break;
      case SQLRSGroupSpec::kSetFunction:
        switch (spec.GetFunction()) {
          case SQLRSGroupSpec::kMin:
          case SQLRSGroupSpec::kMax:
          case SQLRSGroupSpec::kSum:
            outputDescriptors_.push_back(Nameless(spec.GetExpression()->GetColumnDescriptor()));
            break;
          case SQLRSGroupSpec::kAvg: outputDescriptors_.emplace_back("", SQL_REAL, 0, 1); break;
          case SQLRSGroupSpec::kCount: outputDescriptors_.emplace_back("", SQL_INTEGER, 0, 1); break;
          default: SQLAbort(__FILE__, __LINE__, "Unexpected type");
        }
        break;
      case SQLRSGroupSpec::kCountStar: outputDescriptors_.emplace_back("", SQL_INTEGER, 0, 1); break;
      default: SQLAbort(__FILE__, __LINE__, "Unexpected type %d", spec.GetKind());
    }
  }
}

SQLColumnDescriptor const *SQLRSGroup::DoGetColumnDescriptor(int column) {
  if (outputDescriptors_.empty()) CreateOutputColumnDescriptors();
  return &outputDescriptors_[static_cast<size_t>(column)];
}

void SQLRSGroup::DoPrepare(SQLRSPrepareContext *context) {
  child_->Prepare(context);
  if (outputDescriptors_.empty()) CreateOutputColumnDescriptors();
  output_ = std::vector<SQLValueStore>(static_cast<size_t>(specs_->NrElements()));
  for (size_t i = 0; i < output_.size(); ++i) SQLSetTypedNull(&output_[i], outputDescriptors_[i].GetType());

  // The accumulators, in spec order; AVG gets a SUM and a COUNT.
  accumulators_.clear();
  std::vector<std::pair<int, int>> keyOutputs;  // (child column, output position)
  int position = 0;
  for (bool more = specs_->First(); more; more = specs_->Next(), ++position) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    Accumulator a;
    switch (spec.GetKind()) {
      case SQLRSGroupSpec::kGroupingColumn: keyOutputs.emplace_back(spec.GetColumn(), position); continue;
      case SQLRSGroupSpec::kCountStar:
        a.countStar = true;
        accumulators_.push_back(std::move(a));
        continue;
      case SQLRSGroupSpec::kSetFunction: break;
      default: SQLAbort(__FILE__, __LINE__, "Unexpected type %d", spec.GetKind());
    }
    a.argument = spec.GetExpression();
    switch (spec.GetFunction()) {
      case SQLRSGroupSpec::kMin:
      case SQLRSGroupSpec::kMax:
      case SQLRSGroupSpec::kSum:
        a.function = spec.GetFunction();
        a.descriptor = Nameless(a.argument->GetColumnDescriptor());
        accumulators_.push_back(std::move(a));
        break;
      case SQLRSGroupSpec::kAvg: {
        Accumulator count;
        count.function = SQLRSGroupSpec::kCount;
        count.argument = a.argument;
        // The sum of an average is kept as REAL, the type of its buffer
        // column, so that it neither overflows at 32 bits nor mixes types.
        a.function = SQLRSGroupSpec::kSum;
        a.toReal = true;
        a.descriptor = SQLColumnDescriptor("", SQL_REAL, 0, 1);
        accumulators_.push_back(std::move(a));
        accumulators_.push_back(std::move(count));
        break;
      }
      case SQLRSGroupSpec::kCount:
        a.function = SQLRSGroupSpec::kCount;
        accumulators_.push_back(std::move(a));
        break;
      default: SQLAbort(__FILE__, __LINE__, "Unexpected type");
    }
  }

  if (!accumulators_.empty() || filter_) {
    SQLRSScopedRow row(context->Scope(), child_.get());
    for (Accumulator &a : accumulators_)
      if (a.argument) a.value = a.argument->Prepare(context);
    if (filter_) filter_->Prepare(context);
  }
  // What each accumulator folds in per row: the store of its argument,
  // which every Evaluate refills in place.
  noArgument_.SetInteger(0);
  args_.assign(accumulators_.size(), &noArgument_);
  folds_.clear();
  initial_.clear();
  evaluated_.clear();
  for (size_t i = 0; i < accumulators_.size(); ++i) {
    Accumulator const &a = accumulators_[i];
    folds_.push_back(FoldOf(a));
    // A new group counts from 0; its other accumulators start NULL, of
    // their descriptor's type when read.
    SQLGroupTable::Cell start;
    if (folds_.back() == Fold::kCount || folds_.back() == Fold::kCountStar) start.kind = SQLGroupTable::Cell::kInteger;
    initial_.push_back(start);
    if (!a.argument) continue;
    args_[i] = a.value;
    // The SUM and COUNT of an AVG share their argument: it is evaluated
    // once. A column reference reads the child's cell as it is.
    SQLRSSCValueExpr *e = a.argument.Get();
    if (!e->IsColumnRef() && std::find(evaluated_.begin(), evaluated_.end(), e) == evaluated_.end())
      evaluated_.push_back(e);
  }

  keyIds_.clear();
  keyPositions_.clear();
  keyStores_.clear();
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next()) {
    int column = groupingColumns_->GetCurrent();
    if (column < 0 || column >= child_->GetNumCols())
      SQLAbort(__FILE__, __LINE__, "Grouping column %d outside the %d columns of the input", column,
               child_->GetNumCols());
    int out = -1;
    for (auto const &[c, p] : keyOutputs)
      if (c == column && out < 0) out = p;
    keyIds_.push_back(column);
    keyPositions_.push_back(out);
    keyStores_.push_back(child_->GetValueStoreAddr(column));
  }
  std::vector<bool> descending(keyIds_.size(), false);
  if (sort_) {
    size_t i = 0;
    for (bool more = sort_->First(); more && i < keyIds_.size(); more = sort_->Next(), ++i)
      descending[i] = sort_->GetCurrent().IsDescending();
  }
  int k = static_cast<int>(keyIds_.size());
  int n = static_cast<int>(accumulators_.size());
  table_ = std::make_unique<SQLGroupTable>(k, n);
  sorter_ = std::make_unique<SQLRowSorter>(k, descending, k + n, -1);
  cacheRows_ = sorter_->GetCacheRows();
  groupRow_ = std::vector<SQLValueStore>(static_cast<size_t>(k + n));
  finished_ = std::vector<SQLValueStore>(static_cast<size_t>(n));
  groupRowAddrs_.clear();
  for (SQLValueStore &v : groupRow_) groupRowAddrs_.push_back(&v);
}

// ---- execution ----

// Rows of groups that found no room in memory: their key values and
// argument values, one record each (its length, then the row). A partition
// holds its first records in memory, and moves them to a spill file of its
// own once they pass one write buffer or the partitions of the grouping
// together hold kHeldBytes; so small spills cost no file at all.
class SQLRSGroup::Partition {
 public:
  static constexpr std::size_t kBufferBytes = 16 * 1024;
  static constexpr std::size_t kHeldBytes = kPartitions * kBufferBytes;

  // held: the bytes held in memory by all partitions of the grouping.
  Partition(int depth, std::size_t *held) : depth_(depth), held_(held) {}
  ~Partition() { *held_ -= memory_.size(); }
  Partition(Partition const &) = delete;
  Partition &operator=(Partition const &) = delete;

  int GetDepth() const { return depth_; }
  void Add(SQLValueStore const *const *row, int n) {
    record_.assign(4, 0);
    sql_row_codec::Append(row, n, &record_);
    auto size = static_cast<std::uint32_t>(record_.size() - 4);
    std::memcpy(record_.data(), &size, 4);
    if (!file_) {
      if (memory_.size() + record_.size() <= kBufferBytes && *held_ + record_.size() <= kHeldBytes) {
        memory_.insert(memory_.end(), record_.begin(), record_.end());
        *held_ += record_.size();
        return;
      }
      MoveToFile();
    }
    writer_->Put(record_.data(), record_.size());
  }
  // Ends writing; the write buffer goes.
  void Seal() {
    if (!writer_) return;
    writer_->Flush();
    bytes_ = writer_->Position();
    writer_.reset();
  }
  // The next record, after Seal; FALSE at the end.
  bool Next(SQLValueStore *const *row, int n) {
    unsigned char const *record;
    std::uint32_t size;
    if (!file_) {
      if (read_ == memory_.size()) return false;
      record = memory_.data() + read_;
      std::memcpy(&size, record, 4);
      read_ += 4 + size;
    } else {
      if (!reader_) reader_ = std::make_unique<SQLSpillReader>(file_.get(), 0, bytes_, kBufferBytes);
      if (reader_->AtEnd()) return false;
      std::memcpy(&size, reader_->Peek(4), 4);
      record = reader_->Peek(4 + size);
      reader_->Skip(4 + size);
    }
    sql_row_codec::Get(record + 4, n, row);
    return true;
  }

 private:
  void MoveToFile() {
    auto file = std::make_unique<SQLTempFile>();
    auto writer = std::make_unique<SQLSpillWriter>(file.get(), 0, kBufferBytes);
    writer->Put(memory_.data(), memory_.size());
    file_ = std::move(file);
    writer_ = std::move(writer);
    *held_ -= memory_.size();
    memory_ = std::vector<unsigned char>();
  }

  int depth_;
  std::size_t *held_;
  std::vector<unsigned char> memory_;  // the records while there is no file
  std::size_t read_ = 0;               // the next record in memory_
  std::unique_ptr<SQLTempFile> file_;
  std::unique_ptr<SQLSpillWriter> writer_;  // until Seal
  long bytes_ = 0;
  std::vector<unsigned char> record_;
  std::unique_ptr<SQLSpillReader> reader_;
};

namespace {

// The deepest level of partitioning: 4 hash bits a level.
constexpr int kMaxDepth = 15;

}  // namespace

SQLRSGroup::Fold SQLRSGroup::FoldOf(Accumulator const &a) {
  if (a.countStar) return Fold::kCountStar;
  switch (a.function) {
    case SQLRSGroupSpec::kCount: return Fold::kCount;
    case SQLRSGroupSpec::kSum: return a.toReal ? Fold::kSumAsReal : Fold::kSum;
    case SQLRSGroupSpec::kMin: return Fold::kMin;
    case SQLRSGroupSpec::kMax: return Fold::kMax;
    default: SQLAbort(__FILE__, __LINE__, "Unexpected set function (AVG) in group buffer");
  }
}

void SQLRSGroup::ResetRun() {
  if (table_) table_->Clear();
  if (sorter_) sorter_->Clear();
  singleDone_ = false;
}

void SQLRSGroup::DoExec() {
  // Groups of an execution that was not broken off must not reappear.
  ResetRun();
  firstFetch_ = true;
  if (filter_) filter_->Reset();
  child_->Exec();
}

namespace {

using Cell = SQLGroupTable::Cell;

bool IsNumber(SQLValueStore const *v) { return v->GetType() == SQL_INTEGER || v->GetType() == SQL_REAL; }

// Takes over a number's type and value.
void SetNumber(Cell *cell, SQLValueStore const *v) {
  if (v->GetType() == SQL_INTEGER) {
    cell->kind = Cell::kInteger;
    cell->integer = v->GetInteger();
  } else {
    cell->kind = Cell::kReal;
    cell->real = v->GetReal();
  }
}

double AsDouble(Cell const &cell) {
  return cell.kind == Cell::kReal ? cell.real : static_cast<double>(cell.integer);
}

// count + 1; "22003" past 32 bits.
void CountOne(Cell *count) { count->integer = SQLAddInt32(count->integer, 1); }

}  // namespace

void SQLRSGroup::Accumulate(Cell *row, SQLValueStore const *const *args) {
  size_t i = 0;
  try {
    for (; i < folds_.size(); ++i) {
      Cell *acc = &row[i];
      Fold fold = folds_[i];
      if (fold == Fold::kCountStar) {
        CountOne(acc);
        continue;
      }
      SQLValueStore const *arg = args[i];
      if (arg->IsNull()) continue;
      switch (fold) {
        case Fold::kCount: CountOne(acc); break;
        case Fold::kSumAsReal: {
          double x = AsDouble(arg);
          acc->real = acc->kind == Cell::kNull ? x : SQLAddReal(x, acc->real);
          acc->kind = Cell::kReal;
          break;
        }
        default: FoldValue(fold, acc, arg); break;
      }
    }
  } catch (SQLExDENumericValueOutOfRange const &) {
    RaiseOutOfRange(i, row[i], args[i]);
  }
}

void SQLRSGroup::RaiseOutOfRange(size_t i, Cell const &acc, SQLValueStore const *arg) {
  Accumulator const &a = accumulators_[i];
  char const *column = a.argument ? a.argument->GetColumnDescriptor().GetName() : nullptr;
  std::string what = a.countStar ? "COUNT(*)"
                     : std::string(a.function == SQLRSGroupSpec::kCount ? "COUNT" : a.toReal ? "AVG" : "SUM") +
                           " of " +
                           (column != nullptr && *column != '\0' ? std::string("column ") + column
                                                                  : std::string("its argument"));
  auto text = [](SQLValueStore const *v) {
    if (v->GetType() == SQL_INTEGER) return std::to_string(v->GetInteger());
    if (v->GetType() == SQL_REAL) return std::to_string(v->GetReal());
    return std::string("a value");
  };
  std::string sofar = acc.kind == Cell::kInteger ? std::to_string(acc.integer)
                      : acc.kind == Cell::kReal  ? std::to_string(acc.real)
                      : acc.kind == Cell::kStore ? text(table_->GetStore(acc.integer))
                                                 : std::string("nothing");
  std::string why = a.countStar || a.function == SQLRSGroupSpec::kCount
                        ? what + " counts more rows than an INTEGER holds (2147483647)"
                        : what + " leaves the " +
                              (acc.kind == Cell::kReal || arg->GetType() == SQL_REAL
                                   ? std::string("REAL range")
                                   : std::string("INTEGER range (-2147483648 to 2147483647)")) +
                              ": " + sofar + " + " + text(arg);
  throw SQLException(sqlstate::kNumericValueOutOfRange, sqlerr::kNumericOutOfRange, SQLString(why.c_str()));
}

// SUM, MIN and MAX. Numbers stay in the cell: INTEGER plus INTEGER is
// checked at 32 bits, any other sum of numbers is a REAL, and an INTEGER
// compares with a REAL as doubles, all as in the value layer. Other values
// (and numbers met after them) go through a store and the value layer.
void SQLRSGroup::FoldValue(Fold fold, Cell *acc, SQLValueStore const *arg) {
  if (IsNumber(arg)) {
    if (acc->kind == Cell::kNull) {
      SetNumber(acc, arg);
      return;
    }
    if (acc->kind != Cell::kStore) {
      switch (fold) {
        case Fold::kSum:
          if (arg->GetType() == SQL_INTEGER && acc->kind == Cell::kInteger) {
            acc->integer = SQLAddInt32(arg->GetInteger(), acc->integer);  // "22003" past 32 bits
          } else {
            acc->real = SQLAddReal(AsDouble(arg), AsDouble(*acc));
            acc->kind = Cell::kReal;
          }
          return;
        case Fold::kMin:
          if (AsDouble(arg) < AsDouble(*acc)) SetNumber(acc, arg);
          return;
        case Fold::kMax:
          if (AsDouble(arg) > AsDouble(*acc)) SetNumber(acc, arg);
          return;
        default: break;
      }
    }
  }
  if (acc->kind != Cell::kStore) {
    int number = table_->NewStore();
    SQLValueStore *store = table_->GetStore(number);
    bool first = acc->kind == Cell::kNull;
    if (first)
      store->Copy(arg);  // the first value is the accumulator
    else
      table_->Read(*acc, SQL_UNDEFINED, store);
    acc->kind = Cell::kStore;
    acc->integer = number;
    if (first) return;
  }
  SQLValueStore *store = table_->GetStore(acc->integer);
  switch (fold) {
    case Fold::kMin:
      if (SQLValueStore::Compare(arg, store, SQL_COMP_LT) == TV_TRUE) store->Copy(arg);
      break;
    case Fold::kMax:
      if (SQLValueStore::Compare(arg, store, SQL_COMP_GT) == TV_TRUE) store->Copy(arg);
      break;
    case Fold::kSum:
      scratch_.Add(arg, store);
      if (scratch_.GetType() == SQL_REAL)
        store->SetReal(scratch_.GetReal());
      else
        std::swap(*store, scratch_);
      break;
    default: SQLAbort(__FILE__, __LINE__, "Unexpected set function in group buffer");
  }
}

void SQLRSGroup::Group(SQLValueStore const *const *keys, SQLValueStore const *const *args, int depth,
                       std::vector<std::unique_ptr<Partition>> *overflow) {
  int k = static_cast<int>(keyIds_.size());
  std::uint64_t hash = SQLGroupTable::Hash(keys, k);
  int g = table_->Find(keys, hash);
  if (g < 0) {
    if (table_->GetSize() >= cacheRows_ && depth < kMaxDepth) {
      auto p = static_cast<size_t>((hash >> (60 - 4 * depth)) & (kPartitions - 1));
      std::unique_ptr<Partition> &partition = (*overflow)[p];
      if (!partition) partition = std::make_unique<Partition>(depth + 1, &spillHeld_);
      spillRow_.assign(keys, keys + k);
      spillRow_.insert(spillRow_.end(), args, args + accumulators_.size());
      partition->Add(spillRow_.data(), static_cast<int>(spillRow_.size()));
      return;
    }
    g = table_->Add(keys, hash, initial_.data());
  }
  Accumulate(table_->GetAccumulators(g), args);
}

void SQLRSGroup::FinishGroups() {
  int k = static_cast<int>(keyIds_.size());
  size_t n = accumulators_.size();
  std::vector<SQLValueStore const *> row(static_cast<size_t>(k) + n);
  for (size_t j = 0; j < n; ++j) row[static_cast<size_t>(k) + j] = &finished_[j];
  for (int g = 0; g < table_->GetSize(); ++g) {
    for (int i = 0; i < k; ++i) row[static_cast<size_t>(i)] = &table_->GetKeys(g)[i];
    ReadAccumulators(g, finished_.data());
    sorter_->Add(row.data());
  }
  table_->Clear();
}

void SQLRSGroup::ReadAccumulators(int group, SQLValueStore *values) const {
  Cell const *cells = table_->GetAccumulators(group);
  for (size_t j = 0; j < accumulators_.size(); ++j)
    table_->Read(cells[j], accumulators_[j].descriptor.GetType(), &values[j]);
}

void SQLRSGroup::Aggregate() {
  ResetRun();
  bool grouped = !keyIds_.empty();
  if (!grouped) {
    // Exactly one group, even for an empty input.
    table_->Add(nullptr, 0, initial_.data());
  }
  std::vector<std::unique_ptr<Partition>> overflow(kPartitions);
  while (child_->Fetch() == 1) {
    if (filter_ && filter_->Evaluate() != TV_TRUE) continue;
    for (SQLRSSCValueExpr *argument : evaluated_) argument->Evaluate();
    if (grouped)
      Group(keyStores_.data(), args_.data(), 0, &overflow);
    else
      Accumulate(table_->GetAccumulators(0), args_.data());
  }
  if (grouped) {
    FinishGroups();
    // Each partition's groups are disjoint from all others: group it alone.
    int k = static_cast<int>(keyIds_.size());
    size_t n = accumulators_.size();
    std::vector<SQLValueStore> record(static_cast<size_t>(k) + n);
    std::vector<SQLValueStore *> recordAddrs;
    for (SQLValueStore &v : record) recordAddrs.push_back(&v);
    std::vector<SQLValueStore const *> keys(static_cast<size_t>(k)), args(n);
    for (int i = 0; i < k; ++i) keys[static_cast<size_t>(i)] = &record[static_cast<size_t>(i)];
    for (size_t j = 0; j < n; ++j) args[j] = &record[static_cast<size_t>(k) + j];
    std::vector<std::unique_ptr<Partition>> pending;
    for (auto &p : overflow) {
      if (!p) continue;
      p->Seal();
      pending.push_back(std::move(p));
    }
    while (!pending.empty()) {
      std::unique_ptr<Partition> partition = std::move(pending.back());
      pending.pop_back();
      std::vector<std::unique_ptr<Partition>> split(kPartitions);
      while (partition->Next(recordAddrs.data(), k + static_cast<int>(n)))
        Group(keys.data(), args.data(), partition->GetDepth(), &split);
      FinishGroups();
      partition.reset();
      for (auto &p : split) {
        if (!p) continue;
        p->Seal();
        pending.push_back(std::move(p));
      }
    }
    sorter_->Sort();
  }
  firstFetch_ = false;
}

int SQLRSGroup::DoFetch() {
  if (firstFetch_) Aggregate();
  SQLValueStore const *acc;
  if (keyIds_.empty()) {
    if (singleDone_) return 0;
    singleDone_ = true;
    ReadAccumulators(0, groupRow_.data());
    acc = groupRow_.data();
  } else {
    if (!sorter_->Next(groupRowAddrs_.data())) return 0;
    for (size_t i = 0; i < keyIds_.size(); ++i)
      if (keyPositions_[i] >= 0) output_[static_cast<size_t>(keyPositions_[i])].Copy(&groupRow_[i]);
    acc = groupRow_.data() + keyIds_.size();
  }
  size_t cursor = 0;
  size_t position = 0;
  for (bool more = specs_->First(); more; more = specs_->Next(), ++position) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    if (spec.GetKind() == SQLRSGroupSpec::kGroupingColumn) continue;
    SQLValueStore *out = &output_[position];
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction && spec.GetFunction() == SQLRSGroupSpec::kAvg) {
      SQLValueStore const *sum = &acc[cursor];
      SQLValueStore const *count = &acc[cursor + 1];
      cursor += 2;
      if (sum->IsNull() || count->GetInteger() == 0)
        SQLSetTypedNull(out, SQL_REAL);
      else
        out->SetReal(AsDouble(sum) / AsDouble(count));
      continue;
    }
    out->Copy(&acc[cursor++]);
  }
  return 1;
}

void SQLRSGroup::DoBreak() {
  ResetRun();
  firstFetch_ = false;
  child_->Break();
}

void SQLRSGroup::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSGroup(" << endl << incind << "Group Column Ids:";
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next())
    log << " " << groupingColumns_->GetCurrent();
  log << endl << "Sort Column Ids:" << endl << incind;
  if (sort_) {
    for (bool more = sort_->First(); more; more = sort_->Next()) {
      SQLSortSpec const &spec = sort_->GetCurrent();
      log << "SortSpec(" << spec.GetColumnId() << "," << (spec.IsDescending() ? "DESCENDING" : "ASCENDING")
          << ")" << endl;
    }
  }
  log << decind << "Group Specifications:" << endl << incind;
  for (bool more = specs_->First(); more; more = specs_->Next()) specs_->GetCurrent().Log();
  log << decind;
  if (filter_) {
    log << "Row filter:" << endl << incind;
    filter_->Log();
    log << decind;
  }
  log << "Child: ";
  child_->Log();
  log << decind << ")" << endl;
}

void SQLRSGroup::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction) spec.GetExpression()->AcceptVisit(visitor);
  }
  if (filter_) filter_->AcceptVisit(visitor);
  visitor.VisitSQLRSGroup(this);
  SQLRSEndUnaryVisit(visitor, this);
}
