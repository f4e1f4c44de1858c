// SQLRSNetFetch: the table leaf that reads one table of one company through
// the SQL agent of the driver that serves it.
//
// While the tree is optimised the leaf absorbs what its ancestors offer
// (filters, sorts, groupings, projections, hints, materialisation, joins
// and unions with leaves of a compatible driver) and records each absorbed
// operator in its query description: a token string in prefix order, the
// outermost operator first and the table last. Every absorbed part is built
// on its own and put in front of the description, so the operand of each
// operator is the rest of the description behind it, and the column ids of
// an operator count in the output row of its operand.
//
// At Prepare the description goes to the agent client as one statement;
// afterwards the leaf forwards the row-source operations to the client,
// which decodes the returned rows into the leaf's value stores. Outer column
// references of shipped conditions travel as parameters whose values the
// leaf takes from the enclosing row at every Exec.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/agent/token_string.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_schema.h"
#include "sql/common/value_store.h"
#include "sql/exec/held_rows.h"
#include "sql/exec/net_fetch_params.h"
#include "sql/exec/rs_fetch.h"

struct SQLIndexHints;
class SQLRSSCSearchCond;
class SQLRSSCValueExpr;

class SQLRSNetFetch : public SQLRSFetch {
 public:
  // The leaf of the table in the company; the description starts with the
  // table and its index hints (null or a count of 0: none). Throws when the
  // table has no driver or no dictionary.
  SQLRSNetFetch(char const *tableName, int companyNumber, SQLIndexHints const *indexHints);
  ~SQLRSNetFetch() override;

  // ---- SQLRSFetch ----
  void SetBufferSize(int rows) override;
  void SetCursorTimeOut(long deadline) override;
  bool OperatesOnThisDBInstance(SQLDatabaseInstance *instance) override;
  SQLDatabaseInstance const *GetDBInstance() override { return instance_.get(); }
  void AttachToSession(unsigned long sessionId) override;
  void DetachFromSession() override;
  bool IsVariable(int level) override;
  bool IsConstant(int level) override;
  // The statement parameters and the outer values that the description's
  // parameters carry.
  bool OuterValueStores(int level, std::vector<SQLValueStore const *> *stores) override;
  bool HoldRows() override;
  void WatchWrites(SQLTableWriteWatch *watch) override;
  bool HeldRowsOverflowed() const override { return held_.Overflowed(); }
  // A value of the row that the driver evaluates, read from no outer row
  // and no parameter, of a leaf that has taken no sort and no hints (the
  // list's filter goes in front of the description): the leaf prepares a
  // second statement, its description under a filter "value IN (up to
  // kListLength parameters)", and runs it when the subquery's held values
  // are that few, one type, non-NULL (repeated ones count once). When the
  // transaction writes a table of the subquery while the listed rows are
  // fetched, the rows whose value the list left out follow them (a third
  // statement, "NOT value IN (the same list)"): the filter above then
  // sees every row once, as it does without a list.
  void TakeListOf(SQLRSSCInSubquery *in) override;
  static constexpr size_t kListLength = 16;
  // A leaf that has taken no sort, no hints and no short list prepares a
  // second statement, its description under a filter "column IN (key
  // list)", and runs it while a list is set.
  bool TakeKeyList(SQLRSSCValueExpr *term, int offset, SQLColumnDescriptor const *type) override;
  void SetKeyList(std::vector<SQLValueStore const *> values) override { keyList_ = std::move(values); }

  // ---- queries over the subtree: a leaf holds no expressions of the tree ----
  void GetColumnRefs(int, SQLRSSCColumnRefType, pSQLRSSCColumnRefList *) override {}
  bool RejectsAllOnNullifiedCols(int, List<Interval<int>> *) override { return false; }
  void CRefs2ParameterRefs(int, intList *, pSQLParameterList *) override {}

  // ---- the optimiser's messages ----
  SQLRowSource *OptimizeTree(SQLHints *, List<SQLRSSCSearchCond const *> *) override { return this; }
  void OptimizeNode() override {}
  void PushHints(SQLHints *hints) override;
  // Ships every conjunct that this driver can evaluate; the others come
  // back as the residual, in their order.
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override;
  SQLRowSource *PullFilter(SQLRSSCSearchCond **condition) override;
  SQLRowSource *PullNullify(intList **columns, SQLRSSCSearchCond **condition) override;
  bool PushSort(SQLSortSpecList *specifications) override;
  SQLRowSource *PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) override;
  // Rewrites the list into what the leaf delivers: the expressions it can
  // ship, then the columns that the others need (see the .cc).
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *expressions) override;
  bool RowSetIsPrepared() override;
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                            List<SQLRSSCSearchCond const *> *filters, bool *combinable) override;
  SQLRSFetch *CreateJoin(SQLJoinType type, SQLRSFetch *other, SQLRSSCSearchCond *condition) override;
  SQLRSFetch *CreateJoin(SQLJoinType type, SQLRowSource *other, SQLRSSCSearchCond *condition) override;
  SQLRSFetch *CreateConstLeftOuterJoin(SQLRSSCSearchCond *condition) override;
  SQLRowSource *CreateUnion(SQLRSFetch *other, bool all) override;
  SQLRowSource *CreateUnion(SQLRowSource *other, bool all) override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void createQPsubquery(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                        unsigned long id) override;

  // The description as it stands.
  SQLTokenString const &GetDescription() const { return description_; }
  // The agent statement, 0 before Prepare.
  unsigned long GetStatementId() const { return statement_; }
  // The statement of the key lists, 0 without one or before Prepare.
  // Statement parameters the description refers to, each once.
  pconstSQLParameterList const &GetParameters() const { return parameters_; }
  // TRUE when the description joins tables (the driver evaluates a join).
  bool HoldsJoin() const { return holdsJoin_; }
  // The output columns that together tell one row from another: the
  // primary key columns of every table read. FALSE when the row does not
  // carry them all as they are stored (projected away or computed, after a
  // grouping or a union, a table whose first index allows duplicates).
  bool IdentityColumns(std::vector<size_t> *columns) const;

 protected:
  void DoPrepare(SQLRSPrepareContext *context) override;
  int DoGetNumCols() override { return static_cast<int>(descriptors_.size()); }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int column) override {
    return descriptors_[static_cast<size_t>(column)];
  }
  SQLValueStore const *DoGetValueStoreAddr(int column) override {
    return stores_[static_cast<size_t>(column)].get();
  }
  void DoSetMaxRows(int limit) override;
  void DoExec() override;
  int DoFetch() override;
  int DoSkipRows(int n) override;
  void DoBreak() override;
  void DoLog() override;
  void DoAcceptVisit(SQLVisitor &visitor) override;

 private:
  // Puts a part in front of the description.
  void Prepend(SQLTokenString const &part) { description_.PrependTokenString(part); }
  // Adds the statement parameters that a condition or expression reads.
  void AddParametersOf(SQLRSSCSearchCond *condition);
  void AddParametersOf(SQLRSSCValueExpr *expression);
  void AddParameter(SQLParameter const *parameter);
  // TRUE when the driver of this leaf can evaluate the expression.
  bool Ships(SQLRSSCValueExpr *expression);
  // A descriptor the leaf owns, for a changed output row.
  SQLColumnDescriptor const *Own(SQLColumnDescriptor const &d);
  // Takes over another leaf's schemas, parameters and own descriptors.
  void TakeOver(SQLRSNetFetch *other);

  std::vector<std::unique_ptr<SQLValueStore>> stores_;             // one per column, from Prepare
  std::vector<SQLValueStore *> storeAddrs_;                        // handed to the agent client
  std::vector<SQLColumnDescriptor const *> descriptors_;           // the output row
  std::vector<std::unique_ptr<SQLColumnDescriptor>> ownDescriptors_;
  std::vector<SQLSchemaPtr> schemas_;  // keep the tables' descriptors alive
  // Per output column, where it is stored: the table (an index of
  // schemas_) and its column id there; a table of -1 for a computed value.
  struct Origin {
    int table;
    int column;
  };
  std::vector<Origin> origins_;
  std::vector<std::string> tables_;    // the names of the tables read
  pconstSQLParameterList parameters_;  // not owned
  SQLRSNetFetchParams outerParams_;
  std::unique_ptr<SQLDatabaseInstance> instance_;
  SQLTokenString description_{20};
  unsigned long bufferSize_ = 0;  // 0: not given
  unsigned long statement_ = 0;   // 0: not prepared
  bool holdsJoin_ = false;        // CreateJoin made the description a join
  bool sorted_ = false;           // PushSort took a sort
  bool hinted_ = false;           // PushHints put hints in front
  bool holdRows_ = false;         // HoldRows was asked
  // ---- the rows of a short list (TakeListOf) ----
  SQLRSSCInSubquery *listed_ = nullptr;  // the filter's above, null: none
  std::vector<std::unique_ptr<SQLParameter>> listParams_;
  SQLTokenString listDescription_{20};
  SQLTokenString unlistedDescription_{20};  // the rows whose value the list leaves out
  unsigned long listStatement_ = 0;      // 0: not prepared
  unsigned long unlistedStatement_ = 0;  // 0: not prepared
  SQLTableWriteWatch listWrites_;        // the tables of the listed subquery
  bool unlistedDue_ = false;             // a write came while the listed rows were fetched
  unsigned long current_ = 0;            // the statement of this Exec
  // Binds the list of the held values to the second statement; FALSE when
  // they are not a short list of one type.
  bool BindList();
  // The listed rows are done: runs the statement of the rows whose value
  // the list left out, and fetches its first row (FALSE: none).
  bool FetchUnlisted();
  // ---- the rows of a join's key list (TakeKeyList) ----
  std::vector<std::unique_ptr<SQLParameter>> keyParams_;  // none: no key list taken
  SQLTokenString keyDescription_{20};
  unsigned long keyStatement_ = 0;  // 0: not prepared
  std::vector<SQLValueStore const *> keyList_;  // the values of the next Execs, empty: none
  SQLRSHeldRows held_;
  bool replaying_ = false;        // this Exec's rows come from held_
};
