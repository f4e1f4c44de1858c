// The joins that run in the library when a driver cannot do them.
//
// SQLRSJoin joins two row sources (INNER, LEFT, RIGHT or FULL OUTER) by a
// nested loop. Its columns are the left side's followed by the right side's.
// For an INNER join the optimiser turns the outer side's columns in the join
// condition into parameters and pushes the condition as a filter into the
// inner side, which is executed again for every outer row with the
// parameters bound to that row's values: the inner side's work becomes a
// parameterised query that a driver can answer with an index. The FULL join
// reads its right side once into a buffer, keeps beside it in memory a flag
// per buffered row that records whether the row found a partner (so that a
// buffer that spilled is only read again, never written), evaluates the
// condition itself, and hands out the unmatched right rows at the end. LEFT and RIGHT
// joins, and an INNER join whose inner side joins tables itself (here, or in
// a driver's query) or that an enclosing condition of its own filters here,
// do the same with their inner side (read once, at the first outer row, not
// a driver's query per outer row), without the flags; such an INNER join reads that side first,
// and its outer side not at all when no inner row is left. A buffered join whose
// condition requires columns of the two sides to be equal keeps a hash of
// the buffered rows by those columns and examines, per outer row, only the
// rows of the same hash.
//
// An INNER join whose inner side is a table of another driver, on a
// condition that requires a term of each side equal (a column, or an
// expression over that side's row), is buffered too, instead of asking
// that driver once per outer row: at the first outer row, a small inner
// side (the bounds of a leaf's held rows, or the setting
// qelt_sql_join_whole_rows) is read once; a larger one is asked per batch
// of outer rows for the rows of their distinct key values that no batch
// of the execution asked before (an IN list per exchange), and keeps the
// rows it got, within a bound of rows and bytes beyond which it starts
// afresh. The outer rows keep their order in both. Where the outer side is
// a join shipped whole (a table leaf that may give many times a table's
// rows) that can take key lists too, the join reads a small inner side
// first, before any outer row, and asks the outer side only for the rows
// of the inner side's distinct key values when they fit one list: no
// inner row, and the outer side is not read at all. When the transaction
// writes the inner side while the listed outer rows are read, the outer
// rows of the other key values follow them.
//
// A buffered inner side stands for reading that side again per outer row:
// when the transaction wrote one of its tables since it was read, the next
// outer row reads it anew (a FULL join's flags go to the rows whose columns
// that its condition reads read as a flagged row's), and a decision of Exec
// that a side yields no row is taken again at the first fetch when the
// transaction wrote in between.
//
// An INNER join carries a constant over an equality of its two sides to
// the other side (CarryConstants), so that the side read first, or both,
// read only rows the other side can meet.
//
// An INNER join over a RIGHT join whose condition reads only the RIGHT
// join's preserved side joins that side first where the tables are not all
// of one driver (JoinPreservedSideFirst).
//
// An outer join under a condition that rejects the NULL rows of one side
// is planned as the join it is: LEFT or RIGHT as INNER, FULL as LEFT or
// RIGHT (MakeOuterJoinsInner), so that it can be shipped whole or let the
// condition down to its sides.
//
// SQLRSConstLeftOuterJoin returns the rows of its child that satisfy its
// condition, or exactly one all-NULL row when none does (the outer join of
// a constant row with a table).
//
// When both sides can be one query of one driver, the join is handed to a
// table leaf (CombineJoin, CreateJoin) and leaves the tree, unless an
// enclosing condition that the join would let down to one side holds what
// that driver cannot evaluate: the join then stays here, so that the
// condition acts on that side's rows, not on every joined row.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/table_writes.h"
#include "sql/common/value_store.h"
#include "sql/exec/row_source.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/vs_buffer.h"

class SQLParameter;
class SQLRSFetch;

class SQLRSJoin : public SQLRowSource {
 public:
  // Takes ownership of both sides and of the condition (may be null), also
  // when it throws.
  SQLRSJoin(SQLJoinType type, SQLRowSource *left, SQLRowSource *right, SQLRSSCSearchCond *condition);
  ~SQLRSJoin() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) override;
  // INNER: either side yields no row (the inner side when it reads no
  // parameter of the join); LEFT and RIGHT: the preserved side; FULL: both.
  bool YieldsNoRow() override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override;
  void OptimizeNode() override;
  void PushHints(SQLHints *hints) override;
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override;
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override;
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override;
  bool PushSort(SQLSortSpecList *specifications) override;
  SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) override;
  // Each side delivers only the columns that the list and the join itself
  // read; the list comes back as references to the delivered columns.
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override;
  bool RowSetIsPrepared() override { return false; }
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

  SQLJoinType GetJoinType() const { return type_; }
  SQLRSSCSearchCond *GetCondition() const { return condition_.get(); }
  SQLRowSource *GetLeft() const { return left_.get(); }
  SQLRowSource *GetRight() const { return right_.get(); }

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return nL() + nR(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override;
  SQLValueStore const *DoGetValueStoreAddr(int column) override;
  void DoSetMaxRows(int limit) override;
  void DoExec() override;
  int DoFetch() override;
  int DoSkipRows(int) override { return -1; }
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  int nL() { return left_->GetNumCols(); }
  // The side (0 left, 1 right) that computes a projection expression for
  // the join, or -1 when the join evaluates it above its children.
  int ProjectionTarget(SQLRSSCValueExpr *e);
  int nR() { return right_->GetNumCols(); }
  bool OuterIsRight() const { return type_ == SQL_JOIN_RIGHT; }
  SQLRowSource *Outer() { return OuterIsRight() ? right_.get() : left_.get(); }
  SQLRowSource *Inner() { return OuterIsRight() ? left_.get() : right_.get(); }
  std::unique_ptr<SQLRowSource> &InnerSlot() { return OuterIsRight() ? left_ : right_; }
  std::unique_ptr<SQLRowSource> &OuterSlot() { return OuterIsRight() ? right_ : left_; }
  // The first join column of the outer side.
  int OuterOffset() { return OuterIsRight() ? nL() : 0; }
  // A parameter for a join column, typed after its descriptor.
  SQLParameter *NewParameter(int joinColumn);
  // An enclosing condition and the column of its numbering that is column
  // 0 of the node it encloses.
  struct Enclosing {
    SQLRSSCSearchCond const *condition;
    int offset;
  };
  // Null rejection: an outer join under an enclosing condition that cannot
  // be TRUE when one side's columns are all NULL drops the rows it would
  // make NULL there: LEFT or RIGHT becomes INNER, FULL becomes LEFT or
  // RIGHT (INNER when both sides are rejected). Then the same for the
  // joins of every side that the enclosing conditions reach (both sides of
  // INNER, the preserved side of LEFT and RIGHT), with the filters over
  // them and an INNER join's own condition, before anything decides what
  // is shipped and what is joined here.
  void MakeOuterJoinsInner(std::vector<Enclosing> const &enclosing);
  // (A RIGHT JOIN B ON p) INNER JOIN C ON c, with c reading no column of
  // A, is A RIGHT JOIN (B INNER JOIN C ON c) ON p, with the same columns
  // in the same order. Where no one driver serves all three (it would
  // order the join itself), the tables that c joins come together first:
  // the former RIGHT join becomes the top, this join its right side. Not
  // when an enclosing conjunct (`filters`) reads C alone: this join reads
  // C once under it, which the join would not know below the RIGHT join.
  // The new top, which owns this join, or null when the rule does not
  // apply.
  SQLRSJoin *JoinPreservedSideFirst(List<SQLRSSCSearchCond const *> *filters);
  // Optimises the sides and chooses how the inner side runs; `filters`:
  // the enclosing conditions (see OptimizeTree).
  void OptimizeJoin(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters);
  // Constants carried over an equality, before the sides are optimised (an
  // INNER join): where the join's condition or an enclosing conjunct
  // requires a column of each side equal (a = b) and another conjunct
  // requires one of them equal to a constant (b = c), a TRUE row needs
  // a = c too, which filters a's side, so that whichever side is read
  // first reads only rows that the other side can meet. Only between
  // columns of one type (INTEGER, DATE, or text of any widths: blank-padded
  // under one collation, a = b and b = c then give a = c) and a constant of
  // that type; and only where no part of the join and no enclosing
  // conjunct can fail, since the added conjunct would reject rows (a NULL
  // key among them) before a failing part is reached. TRUE when the outer
  // side has a column equal to a constant (carried, or of its own).
  bool CarryConstants(List<SQLRSSCSearchCond const *> *filters);
  int FetchNested();
  // FULL joins, and the other joins that buffer their inner side.
  int FetchBuffered();
  // The first column and the column count of the inner side.
  int InnerOffset() { return OuterIsRight() ? 0 : nL(); }
  // Reads the inner side into the buffer and the hash (emptied first); the
  // rows read.
  size_t FillBuffer();
  // Adds the inner side's rows to the buffer and the hash. With `bounded`,
  // FALSE when they go beyond the bounds of held rows: the inner side is
  // then broken off and the buffer emptied.
  bool ReadInner(bool bounded, size_t *rows);
  // Joins across drivers: reads the inner side whole, or when it is
  // beyond the bounds turns to batches; FALSE when it has no row.
  bool ReadInnerWhole();
  // outerKeyLeaf_: keeps an inner key value not kept yet, up to a key
  // list of them.
  void KeepInnerValue(SQLValueStore const *v);
  // The next outer row into the own stores (FULL, and joins across drivers)
  // or the outer side's; FALSE after the last.
  bool NextOuterRow();
  // The outer side's next row; FALSE after the last. outerKeyLeaf_: when
  // the transaction wrote the inner side since the outer side was given
  // the list of its key values, the listed rows are followed by those whose
  // key value the list left out (the outer side again without the list).
  bool FetchOuter();
  // Joins across drivers, in batches: reads the next batch of outer rows and
  // the inner rows of their key values; FALSE when no outer row is left.
  bool NextBatch();
  // The inner rows of the current batch's key values, into the emptied buffer.
  void ReadBatchInner();
  // The transaction wrote a table of the buffered inner side since it was
  // read: reads it again for the current outer row (FULL: a row known as
  // a matched row, by identityColumns_, is matched; as many rows known so
  // as rows handed out unmatched stay handed out).
  void RefillInner();
  // The columns of `side`'s row that hold the primary keys of every table
  // it reads (a driver's leaf, or a join here of sides that have them,
  // under filters here); FALSE when its row does not carry them.
  static bool RowIdentity(SQLRowSource *side, std::vector<size_t> *columns);
  // Before the inner side is prepared: a join across drivers finds the leaf
  // that takes its key lists.
  void TakeKeyList();
  // The pairs of terms that the condition requires equal and that the
  // buffer hashes by (low: the left side's): those of plain columns, or
  // where there are none and the join reads another driver's table, the
  // first pair of which a term is an expression over its side's row
  // (evaluated where the nested loop would evaluate the condition: per
  // outer row that meets inner rows, per inner row read).
  std::vector<SQLRSSCSearchCond::EqualTerms> KeyTerms();
  // Evaluates the terms of the keys that are expressions: the outer ones
  // over the outer row in the own stores, or the inner ones over the
  // inner row in the inner side's stores.
  void EvaluateKeyTerms(bool outer);
  // Starts the buffered rows that may match the current outer row; the
  // next of them, or null.
  void StartCandidates();
  SQLValueStore const *NextCandidate();
  // Drops the buffered rows, their hash and their flags.
  void EmptyBuffer();
  // The hash of the key columns of a row (stores by join column offset);
  // FALSE when a key is NULL, which no row equals.
  bool KeyHash(std::vector<SQLValueStore const *> const &stores, std::uint64_t *hash) const;
  // Sets every own store in [from, to) NULL (an array's elements).
  void SetOwnNull(int from, int to);
  void CopyOwn(int from, int to);

  SQLJoinType type_;
  std::unique_ptr<SQLRowSource> left_;
  std::unique_ptr<SQLRowSource> right_;
  std::unique_ptr<SQLRSSCSearchCond> condition_;
  // Own stores: LEFT and RIGHT one per inner column, FULL one per column;
  // the child store each copies, index for index.
  std::vector<SQLValueStore> own_;
  std::vector<SQLValueStore const *> copyFrom_;
  int ownOffset_ = 0;  // join column of own_[0]
  int state_ = 0;
  bool skipped_ = false;         // Exec found a side without rows and read nothing
  unsigned long skippedAt_ = 0;  // the write epoch of that Exec (SQLTableWrites::Epoch)
  SQLTableWriteWatch innerWrites_;  // buffered: the tables the inner side reads
  std::vector<std::unique_ptr<SQLParameter>> parameters_;
  pSQLParameterList parameterList_;  // the same parameters, not owned
  intList parameterColumns_;          // join column of each parameter
  std::vector<SQLValueStore const *> parameterSources_;
  bool buffered_ = false;  // the inner side is read once into buffer_ (always for FULL)
  // INNER, the inner side a table of another driver: buffered, own stores for
  // every column, and the inner rows read whole or per batch of outer rows.
  bool acrossDrivers_ = false;
  SQLRSFetch *keyLeaf_ = nullptr;  // the inner leaf that takes key lists, null: none
  size_t keyTerm_ = 0;              // with keyLeaf_: the key whose outer values the lists carry
  SQLRSFetch *outerKeyLeaf_ = nullptr;  // the outer leaf that takes a list of inner key values, null: none
  size_t outerKeyTerm_ = 0;             // with outerKeyLeaf_: the key whose inner values the list carries
  // Buffered: the keys that the condition requires equal (KeyTerms), each
  // an outer and an inner term; a term that is no plain column is
  // evaluated (null: a column, read from its store), the outer one per
  // outer row, the inner one per inner row read. The stores hold the
  // outer and the inner key values.
  struct Key {
    SQLRSSCValueExpr *outer;
    SQLRSSCValueExpr *inner;
  };
  std::vector<Key> keys_;
  std::vector<SQLValueStore const *> outerKeys_, innerKeys_;
  // ---- one execution of a buffered join ----
  bool filled_ = false;  // the inner side is in the buffer
  // The inner side failed when it was read before the outer side (a
  // buffered INNER join, or outerKeyLeaf_'s): the error of the first outer
  // row, none without one (as the nested loop).
  std::exception_ptr innerError_;
  std::vector<SQLVSBufferId> ids_;  // the buffered rows in the order read
  // FULL: per buffered row, whether it found a partner or was handed out
  // without one (kFree, kMatched, kHandedOut).
  enum : std::uint8_t { kFree, kMatched, kHandedOut };
  std::vector<std::uint8_t> matched_;
  // FULL: the right side's columns (indexes in a buffered row) that tell
  // its rows apart when it is read again after a write: the primary keys of
  // its tables where its row carries them (a row keeps its flags whatever
  // the write changed), else the columns the condition reads (while they
  // read the same, a row is matched by the same left rows).
  std::vector<size_t> identityColumns_;
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> hash_;  // buffered rows (indexes of ids_) by key hash
  std::vector<std::uint32_t> const *candidates_ = nullptr;  // null: every buffered row
  size_t nextCandidate_ = 0;
  std::uint32_t candidate_ = 0;  // the index in ids_ of the row NextCandidate gave
  bool batches_ = false;    // across drivers: the inner side is read per batch of outer rows
  bool outerDone_ = false;  // batches: the outer side has given its last row
  bool heldOuter_ = false;  // batches: the outer side's current row is the next batch's first
  // batches: the outer rows, row after row, each followed by its key value
  std::vector<SQLValueStore> batch_;
  size_t batchRows_ = 0, batchNext_ = 0;
  std::exception_ptr batchFailure_;  // batches: the key of the row after the batch failed so
  // batches: the key values asked in this execution (images), whose rows
  // the buffer keeps, and the weight of those rows.
  std::unordered_set<std::string> asked_;
  size_t keptWeight_ = 0;
  // outerKeyLeaf_: the distinct inner key values read whole (at most a key
  // list of them, `tooManyValues_` beyond), and their images.
  std::vector<SQLValueStore> innerValues_;
  std::unordered_set<std::string> innerImages_;
  bool tooManyValues_ = false;
  // outerKeyLeaf_: the images of the values of the list that the outer side
  // was executed with (empty: it got none), the writes to the inner side
  // since, and whether the rows the list left out are being read.
  std::unordered_set<std::string> listedImages_;
  SQLTableWriteWatch listWrites_;
  bool unlisted_ = false;
  // The buffered inner rows.
  std::unique_ptr<SQLVSBuffer> buffer_;
  std::vector<SQLValueStore const *> bufferRow_;
  std::vector<SQLColumnDescriptor const *> bufferDescriptors_;
};

class SQLRSConstLeftOuterJoin : public SQLRowSource {
 public:
  // Takes ownership of both, also when it throws; the condition may be null.
  SQLRSConstLeftOuterJoin(SQLRowSource *child, SQLRSSCSearchCond *condition);
  ~SQLRSConstLeftOuterJoin() override;

  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  bool RejectsAllOnNullifiedCols(int, List<Interval<int>> *) override { return false; }
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override;
  void OptimizeNode() override;
  void PushHints(SQLHints *hints) override { child_->PushHints(hints); }
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override;
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override;
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override;
  bool PushSort(SQLSortSpecList *specifications) override { return child_->PushSort(specifications); }
  SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) override;
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override;
  bool RowSetIsPrepared() override { return child_->RowSetIsPrepared(); }
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return child_->GetNumCols(); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override {
    return child_->GetColumnDescriptor(column);
  }
  SQLValueStore const *DoGetValueStoreAddr(int column) override { return &own_[static_cast<size_t>(column)]; }
  void DoSetMaxRows(int) override {}
  void DoExec() override;
  int DoFetch() override;
  int DoSkipRows(int) override { return -1; }
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  std::unique_ptr<SQLRowSource> child_;
  std::unique_ptr<SQLRSSCSearchCond> condition_;
  std::vector<SQLValueStore> own_;
  std::vector<SQLValueStore const *> copyFrom_;
  int state_ = 0;  // 0 finished, 1 executed, 2 a row was returned
};
