// SQLVTreeData: the per-statement record beside the validated tree, which
// the parser, every pass over the tree and the statement read and write.
//
// It holds the statement's pseudo-parameters (default company number,
// current date, current timestamp), the company-number parameters, the
// named parameters of the host, the maximum number of rows, the RETRY
// clause, the select targets and select-star tables (shared with the
// statement through counted references), the result column descriptors and
// the list of base-table nodes. It owns everything but the table nodes and
// the retry filter, which belong to the tree.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_containers.h"
#include "sql/common/sql_parameter.h"
#include "sql/statement/vtree_owner.h"
#include "sql/validate/retry_spec.h"

class SQLVTRetryFilter;
class SQLVTTable;

// The kind of statement the parser built.
enum SQLStmtType : int {
  SQL_STMT_SELECT = 0,  // a query with result columns
  SQL_STMT_UPDATE = 1,
  SQL_STMT_DELETE = 2,
};

// The maximum number of rows of a query: a constant or a parameter.
struct SQLSetSize {
  enum Kind : int { Constant = 0, Parameter = 1 };
  Kind kind = Constant;
  SQLParameter *parameter = nullptr;  // kind Parameter; owned by the tree
  int constant = 0;                   // kind Constant
};

// A host variable named in the statement and the parameter standing for it.
// Owns both.
class SQLNamedParameter {
 public:
  // name: from new[], taken over.
  SQLNamedParameter(char *name, std::unique_ptr<SQLParameter> parameter)
      : name_(name), parameter_(std::move(parameter)) {}
  char const *GetName() const { return name_.get(); }
  SQLParameter *GetParameter() const { return parameter_.get(); }

 private:
  std::unique_ptr<char[]> name_;
  std::unique_ptr<SQLParameter> parameter_;
};

// The names under which the host receives the result columns of the
// outermost select list, in column order. derived is FALSE when the
// statement gave the name (an alias or result parameter name) and TRUE when
// the system made it up or there is none.
class SQLSelectTargetArray {
 public:
  // name: from new[] or null, taken over.
  void Append(char *name, bool derived);
  int NrElements() const { return static_cast<int>(targets_.size()); }
  // REQUIRES: 0 <= i < NrElements(). *name is null for a target without one.
  void Get(int i, char const **name, bool *derived) const;

 private:
  struct Target {
    std::unique_ptr<char[]> name;  // null when the target has no name
    bool derived;
  };
  std::vector<Target> targets_;
};

// A table whose columns a "*" or "t.*" item selected.
class SQLSelectStarTable {
 public:
  SQLSelectStarTable(int number, char const *name, bool forUpdate)
      : number_(number), name_(name), forUpdate_(forUpdate) {}
  int GetNumber() const { return number_; }  // running number of the table node
  char const *GetName() const { return name_.c_str(); }
  bool IsForUpdate() const { return forUpdate_; }

 private:
  int number_;
  std::string name_;
  bool forUpdate_;
};

class SQLSelectStarTableList : public List<SQLSelectStarTable> {};

class SQLVTreeData {
 public:
  SQLVTreeData();
  SQLVTreeData(SQLVTreeData const &) = delete;
  SQLVTreeData &operator=(SQLVTreeData const &) = delete;
  ~SQLVTreeData();

  SQLStmtType GetStmtType() const { return stmtType_; }
  void SetStmtType(SQLStmtType type) { stmtType_ = type; }

  // Company-number parameters.
  // Counts a user; the first call creates the INTEGER parameter.
  SQLParameter *GetOrCreateDefaultCompnrParameter();
  void ReleaseDefaultCompnrParameter();
  // The parameter while it has users, else null.
  SQLParameter *GetDefaultCompnrParameter() const;
  // Adds a parameter a company-number restriction compares with, once per
  // parameter id. Not owned.
  void AddCompnrParameter(SQLParameter *parameter);
  DynamicArray<SQLParameter *> const &GetCompnrParameters() const { return compnrParameters_; }

  // The current-date (DATE) and current-timestamp (TIMESTAMP) parameters,
  // created on first use; null before.
  SQLParameter *GetOrCreateCurrentDateParameter();
  SQLParameter *GetOrCreateCurrentTimestampParameter();
  SQLParameter *GetCurrentDateParameter() const { return currentDate_.get(); }
  SQLParameter *GetCurrentTimestampParameter() const { return currentTimestamp_.get(); }

  // The parameter of a host variable. Takes over name (from new[]): the same
  // name (byte for byte, so case counts) gives the same parameter; a new
  // name gets a new untyped parameter.
  SQLParameter *GetImplementationParameter(char *name);
  // The named parameters in order of first appearance; null when none.
  pSQLNamedParameterList *GetNamedParameters() const { return namedParameters_.get(); }

  void SetMaxRows(int constant);
  // Not owned: the parameter belongs to the statement's parameters.
  void SetMaxRows(SQLParameter *parameter);
  SQLSetSize const *GetMaxRows() const { return maxRows_.get(); }

  // The RETRY clause, filled by the parser. The filter is a node of the
  // tree (not owned); the RETRY column entries are owned.
  SQLVTRetryFilter *GetRetryFilter() const { return retryFilter_; }
  void SetRetryFilter(SQLVTRetryFilter *filter) { retryFilter_ = filter; }
  SQLRetrySpecList *GetRetrySpecs() const { return retrySpecs_.get(); }
  void SetRetrySpecs(SQLRetrySpecList *specs) { retrySpecs_.reset(specs); }
  SQLRetryClauseType GetRetryClauseType() const { return retryClauseType_; }
  // Gives spec a new parameter and a new saved value store, both owned by
  // the tree data.
  void AttachRetryStorage(SQLRetrySpec *spec);
  void SetRetryClauseType(SQLRetryClauseType type) { retryClauseType_ = type; }

  // Base-table nodes in order of creation (not owned).
  void AddTable(SQLVTTable *table) { tables_.Append(table); }
  void RemoveLastTable();
  List<SQLVTTable *> &GetTables() { return tables_; }

  // Simplifies every table's company-number set; a set that cannot be
  // simplified throws 42I89 naming the table. Instantiated where the table
  // node is known (sql/validate/table_compnr_passes.h).
  template <class Table = SQLVTTable>
  void SimplifyTableCompnrSets();
  // ANSI parse mode: either every table restricts _compnr or none does;
  // else 42I89 naming the first restricted and the first unrestricted one.
  template <class Table = SQLVTTable>
  void ValidateTableCompnrSets();

  // Select targets.
  void CreateSelectTargetList();
  // name: from new[] or null, taken over.
  void AddSelectTarget(char *name, bool derived);
  // REQUIRES: a target array with more than i entries.
  void GetSelectTarget(int i, char const **name, bool *derived) const;
  RefPtr<SQLSelectTargetArray> GetSelectTargetArray() const { return selectTargets_; }
  void SetSelectTargetArray(RefPtr<SQLSelectTargetArray> &targets) { selectTargets_ = targets; }
  // "[i] name" (or "<NULL>"), plus " (derived)", one line per target.
  std::string SelectTargetLine(int i) const;
  void LogSelectTargets() const;

  // Select-star tables.
  void CreateSelectStarTableList();
  void AddSelectStarTable(int number, char const *name, bool forUpdate);
  bool TableInSelectStarTableList(int number) const;
  RefPtr<SQLSelectStarTableList> GetSelectStarTableList() const { return selectStarTables_; }

  // The result column descriptors, written by the statement after
  // validation; null before.
  DynamicArray<SQLColumnDescriptor> *GetColumnDescriptors() const { return columnDescriptors_.get(); }
  void SetColumnDescriptors(std::unique_ptr<DynamicArray<SQLColumnDescriptor>> descriptors) {
    columnDescriptors_ = std::move(descriptors);
  }

 private:
  SQLStmtType stmtType_ = SQL_STMT_SELECT;
  std::unique_ptr<SQLParameter> defaultCompnr_;
  int defaultCompnrUsers_ = 0;                      // users of defaultCompnr_
  DynamicArray<SQLParameter *> compnrParameters_;  // not owned, each id once
  std::unique_ptr<SQLParameter> currentDate_;
  std::unique_ptr<SQLParameter> currentTimestamp_;
  std::unique_ptr<pSQLNamedParameterList> namedParameters_;  // elements owned
  std::unique_ptr<SQLSetSize> maxRows_;
  SQLVTRetryFilter *retryFilter_ = nullptr;
  std::unique_ptr<SQLRetrySpecList> retrySpecs_;
  SQLRetryClauseType retryClauseType_ = SQL_RETRY_NONE;
  std::vector<std::unique_ptr<SQLParameter>> retryParameters_;  // of AttachRetryStorage
  std::vector<std::unique_ptr<SQLValueStore>> retryStores_;     // of AttachRetryStorage
  RefPtr<SQLSelectTargetArray> selectTargets_;
  std::unique_ptr<DynamicArray<SQLColumnDescriptor>> columnDescriptors_;
  RefPtr<SQLSelectStarTableList> selectStarTables_;
  List<SQLVTTable *> tables_;
};

// Hands a tree data to an owner such as the statement data.
SQLVTOwner<SQLVTreeData> SQLVTOwnTreeData(SQLVTreeData *treeData);
