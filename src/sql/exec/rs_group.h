// SQLRSGroup: GROUP BY and the set functions COUNT(*), COUNT, MIN, MAX, SUM
// and AVG over the rows of its child.
//
// During optimisation the whole grouping is first offered to the child
// (PushGroup); a table leaf takes it over and the group disappears.
// Otherwise the grouping runs here: the first Fetch of an execution reads
// every child row and finds its group in a hash table (SQLGroupTable) that
// holds up to the cache setting's number of groups with their accumulators,
// updated in place. Once the table is full, the rows of groups not in it
// (their keys and evaluated arguments) go to one of kPartitions partitions
// by their hash, held in memory while they are small and in a spill file
// each once they grow; each partition is then grouped the same way,
// splitting again while it holds too many groups. Finished groups go to a row sorter, which
// hands them out one per Fetch in key order (ascending, NULL keys last,
// unless a pushed sort asks for another direction).
//
// Without grouping columns there is exactly one group, also for an empty
// input: COUNT and COUNT(*) then give 0, the other functions NULL.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/value_store.h"
#include "sql/exec/group_table.h"
#include "sql/exec/row_source.h"
#include "sql/exec/row_sorter.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/exec/sort_spec.h"

// One output column of a grouping. Copies share the argument.
class SQLRSGroupSpec {
 public:
  enum Kind : int { kGroupingColumn = 0, kSetFunction = 1, kCountStar = 2 };
  enum Function : int { kMin = 0, kMax = 1, kSum = 2, kAvg = 3, kCount = 4 };

  SQLRSGroupSpec() = default;
  SQLRSGroupSpec(RefPtr<SQLRSSCValueExpr> expression, int column, int kind, int function)
      : expression_(std::move(expression)), column_(column), kind_(kind), function_(function) {}
  // A grouping column delivered as output: the child's column.
  static SQLRSGroupSpec Column(int column) { return SQLRSGroupSpec({}, column, kGroupingColumn, kCount); }
  // A set function over an argument (owned through the reference count).
  static SQLRSGroupSpec SetFunction(int function, RefPtr<SQLRSSCValueExpr> argument) {
    return SQLRSGroupSpec(std::move(argument), -1, kSetFunction, function);
  }
  static SQLRSGroupSpec CountStar() { return SQLRSGroupSpec({}, -1, kCountStar, kCount); }

  RefPtr<SQLRSSCValueExpr> const &GetExpression() const { return expression_; }
  int GetColumn() const { return column_; }
  void SetColumn(int column) { column_ = column; }
  int GetKind() const { return kind_; }
  int GetFunction() const { return function_; }
  void SetFunction(int function) { function_ = function; }

  // "GroupSpec(" column | function "(" argument ")" | "COUNT(*)" ")".
  void Log() const;

 private:
  RefPtr<SQLRSSCValueExpr> expression_;  // kind 1 only
  int column_ = -1;                      // kind 0 only
  int kind_ = kGroupingColumn;
  int function_ = kCount;                // kind 1 only
};

// Writes the items of a grouping into a query description (after its
// token): the grouping columns, then each output column.
void SQLRSAppendGroupItems(SQLTokenString *ts, intList *groupingColumns, List<SQLRSGroupSpec> *specs, int level,
                           SQLRSNetFetchParams *params);
// The largest number those items hold: a count or a column number.
long long SQLRSGroupItemsLargest(intList const *groupingColumns, List<SQLRSGroupSpec> const *specs);

class SQLRSGroup : public SQLRowSource {
 public:
  // Takes ownership of all three. groupingColumns are child columns in
  // comparison order; specs are the output columns in output order.
  SQLRSGroup(SQLRowSource *child, intList *groupingColumns, List<SQLRSGroupSpec> *specs);
  ~SQLRSGroup() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
  // A grouping by columns has no group without rows; one without grouping
  // columns always gives its row.
  bool YieldsNoRow() override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override;
  void OptimizeNode() override;
  void PushHints(SQLHints *hints) override;
  // A conjunct that reads grouping columns only goes below the group (it
  // keeps whole groups or drops them); the others are the residual. What
  // the child does not take is evaluated here on every child row.
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override;
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override;
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override;
  // Takes an ordering on grouping columns by reordering the group key.
  bool PushSort(SQLSortSpecList *specifications) override;
  SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) override;
  // Narrows the group to the output columns read above (in the order they
  // are first read; at least COUNT(*), so that every group still gives a
  // row) and its child to the columns those need. The offer comes back as
  // one column reference per new output column, to its former position.
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override;
  // TRUE: the groups are materialised.
  bool RowSetIsPrepared() override { return true; }
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

  intList const *GetGroupingColumns() const { return groupingColumns_.get(); }
  List<SQLRSGroupSpec> const *GetSpecs() const { return specs_.get(); }

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return specs_->NrElements(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override;
  SQLValueStore const *DoGetValueStoreAddr(int column) override { return &output_[static_cast<size_t>(column)]; }
  // The child must deliver every row.
  void DoSetMaxRows(int) override {}
  void DoExec() override;
  int DoFetch() override;
  int DoSkipRows(int) override { return -1; }
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  // One column of an accumulator row. AVG has two: its SUM and its COUNT.
  struct Accumulator {
    int function = SQLRSGroupSpec::kCount;  // MIN, MAX, SUM or COUNT
    bool countStar = false;
    RefPtr<SQLRSSCValueExpr> argument;      // none for COUNT(*)
    SQLValueStore const *value = nullptr;   // the argument's store
    bool toReal = false;                    // the SUM half of AVG adds REALs
    SQLColumnDescriptor descriptor{"", SQL_INTEGER, 0, 1};  // its type is that of a NULL
  };
  // How an accumulator folds a row in, decided once at Prepare.
  enum class Fold : unsigned char { kCountStar, kCount, kSumAsReal, kSum, kMin, kMax };
  class Partition;
  static constexpr int kPartitions = 16;

  static Fold FoldOf(Accumulator const &a);

  void CreateOutputColumnDescriptors();
  // Reads the child and builds the groups.
  void Aggregate();
  // Finds or makes the group of keys and folds args (one per accumulator)
  // into it; a row whose group has no room goes to a partition of
  // `overflow` (made when needed) at the given depth.
  void Group(SQLValueStore const *const *keys, SQLValueStore const *const *args, int depth,
             std::vector<std::unique_ptr<Partition>> *overflow);
  // Moves the table's groups to the sorter.
  void FinishGroups();
  // Folds one row's argument values into the accumulators of a group.
  void Accumulate(SQLGroupTable::Cell *row, SQLValueStore const *const *args);
  // SUM, MIN or MAX of a value that is not NULL.
  void FoldValue(Fold fold, SQLGroupTable::Cell *acc, SQLValueStore const *arg);
  // Raises the "22003" of accumulator i that `arg` took out of range, with
  // the set function, its column and the values in the text.
  [[noreturn]] void RaiseOutOfRange(size_t i, SQLGroupTable::Cell const &acc, SQLValueStore const *arg);
  // The accumulators of a group of the table as values.
  void ReadAccumulators(int group, SQLValueStore *values) const;
  // Forgets the groups of the last execution.
  void ResetRun();

  // ---- the plan ----
  std::unique_ptr<SQLRowSource> child_;
  std::unique_ptr<intList> groupingColumns_;
  std::unique_ptr<List<SQLRSGroupSpec>> specs_;
  std::unique_ptr<SQLSortSpecList> sort_;       // from PushSort; null otherwise
  std::unique_ptr<SQLRSSCSearchCond> filter_;   // rows kept before grouping; may be null
  std::vector<SQLColumnDescriptor> outputDescriptors_;  // built on demand
  std::vector<int> keyIds_;                      // grouping columns, in order
  std::vector<int> keyPositions_;                // output position of each, or -1
  std::vector<SQLValueStore const *> keyStores_;  // the child's cells
  std::vector<Accumulator> accumulators_;
  std::vector<Fold> folds_;                    // one per accumulator
  std::vector<SQLRSSCValueExpr *> evaluated_;  // arguments evaluated per row, each once

  // ---- one execution ----
  std::vector<SQLValueStore> output_;   // one for each grouping specification
  std::vector<SQLGroupTable::Cell> initial_;  // a new group's accumulators
  SQLValueStore scratch_;               // the sum before it replaces the accumulator
  std::vector<SQLValueStore> finished_;  // a finished group's accumulators, for the sorter
  SQLValueStore noArgument_;            // what COUNT(*) gets in a spilled row
  std::vector<SQLValueStore const *> spillRow_;  // keys and arguments of a spilled row
  std::vector<SQLValueStore const *> args_;  // the argument's store per accumulator
  bool firstFetch_ = false;
  int cacheRows_ = 2;                   // the most groups in memory
  std::unique_ptr<SQLGroupTable> table_;
  std::size_t spillHeld_ = 0;           // bytes partitions hold in memory
  std::unique_ptr<SQLRowSorter> sorter_;  // finished groups: keys, accumulators
  // Handing out: the sorted group's keys and accumulators.
  std::vector<SQLValueStore> groupRow_;
  std::vector<SQLValueStore *> groupRowAddrs_;
  // Without grouping columns: the one group, and whether it was handed out.
  bool singleDone_ = false;
};
