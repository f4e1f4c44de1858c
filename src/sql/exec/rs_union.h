// SQLRSUnion: the rows of two row sources with the same column layout.
//
// Run here, a union with ALL delivers every row of its left input and then
// every row of its right input. Once a sort has been pushed into it, both
// inputs are ordered by that sort and the union merges them: rows with
// equal keys come from the left input first, NULLs after every value in
// ascending order and before every value in descending order. A union
// without ALL always merges, in an order that covers every column (the
// pushed keys first, then the other columns ascending), and drops each row
// equal to the one before it, as a driver that runs the union does.
//
// When both inputs are served by compatible database instances, the
// optimiser hands the whole union to the right input (CreateUnion), whose
// table leaf ships it to the driver; the union then leaves the tree.
// Otherwise (the companies of a table on different drivers) it stays:
// filters go into its inputs where they see the same values there, and a
// grouping goes into them in parts that a group above adds up (PushGroup).
//
// Each output column has the left column's type, or REAL when one side is
// INTEGER and the other REAL; texts and raw values are padded to the longer
// of the two lengths.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/value_store.h"
#include "sql/exec/row_source.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/sort_spec.h"

class SQLRSUnion : public SQLRowSource {
 public:
  // Takes ownership of both inputs.
  SQLRSUnion(SQLRowSource *left, SQLRowSource *right, bool all);
  ~SQLRSUnion() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override;
  void OptimizeNode() override;
  void PushHints(SQLHints *hints) override;
  // A conjunct that can be copied, and that reads only columns each input
  // delivers as the union does (same type and depth, texts and raw values
  // of the same length, so that neither conversion nor padding changes
  // what it sees), goes into each input, where a table leaf may take it;
  // what an input leaves comes above it as a filter. The other conjuncts
  // are the residual.
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override;
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override;
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override;
  // Always takes the sort: each input sorts (itself or by a new sort row
  // source over it) and the union merges.
  bool PushSort(SQLSortSpecList *specifications) override;
  // With ALL, and with set functions whose arguments (and grouping
  // columns) each input delivers as the union does, the grouping is offered
  // to the left input in parts: the grouping columns, then one part per set
  // function (AVG: the SUM of its argument as a REAL and its COUNT). When it
  // takes them (a table leaf, or a union below that does the same), the
  // right input groups its own rows too (itself, or by a group here), and a
  // group over the union of the parts adds them up (COUNT and SUM add, MIN
  // and MAX of the parts); that group stands in the tree, under a projection
  // that divides each AVG's sum by its count. Otherwise (AVG of what is not
  // a number, a left input that refuses) it refuses and the grouping runs
  // above the union over the rows of both inputs.
  SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) override;
  // The union does not narrow: the offer comes back as its whole row.
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override;
  bool RowSetIsPrepared() override;
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

  bool IsAll() const { return all_; }
  bool IsMerging() const { return merge_; }

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return left_->GetNumCols(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override;
  SQLValueStore const *DoGetValueStoreAddr(int column) override { return &output_[static_cast<size_t>(column)]; }
  void DoSetMaxRows(int limit) override;
  void DoExec() override;
  int DoFetch() override;
  // Skips in the left input, then in the right one; skips by fetching when
  // the union merges or already holds a row.
  int DoSkipRows(int n) override;
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  static constexpr int kFetchDue = 0;
  static constexpr int kHolding = 1;
  static constexpr int kExhausted = 2;

  void CreateOutputColumnDescriptors();
  // TRUE when a conjunct can go into both inputs (see PushFilter).
  bool InputsCanTake(SQLRSSCSearchCond const *conjunct);
  // TRUE when column c has the union's type and depth in each input, and
  // its length when `anyLength` or when it is a text or raw value.
  bool InputsDeliverColumn(int c, bool anyLength);
  // TRUE when every column read has the union's type and depth (and a text
  // or raw value its length) in each input.
  bool InputsDeliverAsTheUnion(pSQLRSSCColumnRefList *refs);
  // TRUE when each input can group its own rows by `grouping` for a
  // grouping above.
  bool InputsCanGroup(std::vector<int> const &grouping, List<SQLRSGroupSpec> *outputs);
  // TRUE when the held left row goes before the held right row.
  bool LeftFirst() const;
  // Appends every column that the order does not name yet, ascending.
  void OrderAllColumns(SQLSortSpecList *specifications);
  // The next merged or concatenated row in the output stores; 0 at the end.
  int NextRow();
  // TRUE when the output row equals the last row delivered.
  bool SameAsLast() const;
  // Copies a held row into the output stores.
  void TakeRow(std::vector<SQLValueStore const *> const &from);
  void CopyValue(SQLColumnDescriptor const &d, SQLValueStore const *src, SQLValueStore *dst) const;
  static int FetchInto(SQLRowSource *input);

  std::unique_ptr<SQLRowSource> left_;
  std::unique_ptr<SQLRowSource> right_;
  bool all_;
  std::vector<SQLColumnDescriptor> descriptors_;  // built on demand
  std::vector<SQLValueStore> output_;
  std::vector<SQLValueStore> last_;  // the last row delivered (without ALL)
  bool haveLast_ = false;
  std::vector<SQLValueStore const *> leftStores_;
  std::vector<SQLValueStore const *> rightStores_;
  std::unique_ptr<SQLSortSpecList> mergeSort_;
  bool merge_ = false;
  bool prepared_ = false;  // both inputs are materialised
  int leftState_ = kFetchDue;
  int rightState_ = kFetchDue;
};
