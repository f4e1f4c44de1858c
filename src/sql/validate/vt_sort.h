// SQLVTSort: ORDER BY over a query, with its specifications as parsed
// (SQLVTSortSpec in a SQLVTSortSpecList, which also carries the RETRY
// clause of the ORDER BY).
#pragma once

#include <memory>

#include "sql/common/dynamic_array.h"
#include "sql/exec/sort_spec.h"
#include "sql/validate/retry_spec.h"
#include "sql/validate/vt_unary_node.h"
#include "sql/validate/vtsc_identifier.h"

// Sort directions.
enum SQLVTSortOrder : int { SQL_SORT_ASC = 0, SQL_SORT_DESC = 1 };

class SQLVTSortSpec : public SQLVTObject {
 public:
  // A named column (identifier taken over, position 0) or a column number
  // counted from 1 (identifier null).
  SQLVTSortSpec(SQLVTSCIdentifier *column, int position, SQLVTSortOrder order)
      : column_(column), position_(position), order_(order) {}

  SQLVTSCIdentifier *GetColumn() const { return column_.get(); }
  int GetPosition() const { return position_; }
  SQLVTSortOrder GetOrder() const { return order_; }

  // "SortSpec(" name or number ", ASCENDING)" or ", DESCENDING)".
  void Log() const;

 private:
  std::unique_ptr<SQLVTSCIdentifier> column_;
  int position_;
  SQLVTSortOrder order_;
};

class SQLVTSortSpecList {
 public:
  SQLVTSortSpecList() : specs_(10) {}
  SQLVTSortSpecList(SQLVTSortSpecList const &) = delete;
  SQLVTSortSpecList &operator=(SQLVTSortSpecList const &) = delete;
  ~SQLVTSortSpecList();

  // Appends; takes ownership of spec.
  void Append(SQLVTSortSpec *spec);
  int NrElements() const { return specs_.NrElements(); }
  SQLVTSortSpec *Get(int i) const { return specs_.Get(i); }
  SQLRetryClauseType GetRetryClauseType() const { return retryClauseType_; }
  void SetRetryClauseType(SQLRetryClauseType type) { retryClauseType_ = type; }

 private:
  DynamicArray<SQLVTSortSpec *> specs_;  // owned, in ORDER BY order
  SQLRetryClauseType retryClauseType_ = SQL_RETRY_NONE;
};

class SQLVTSort : public SQLVTUnaryNode {
 public:
  // Takes ownership of child and specs.
  SQLVTSort(SQLVTNode *child, SQLVTSortSpecList *specs);
  ~SQLVTSort() override;

  // The specifications as parsed; null once resolved.
  SQLVTSortSpecList *GetSortSpecs() const { return specs_.get(); }
  // The resolved keys: column ids and directions, in ORDER BY order.
  DynamicArray<SQLSortSpec> const &GetSortColumns() const { return columns_; }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override;
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateArrayUsage() const override;

 private:
  // Appends a resolved key and, with a RETRY clause, its retry column.
  void AddKey(int column, SQLVTSortOrder order, SQLRetrySpecList *retrySpecs);

  std::unique_ptr<SQLVTSortSpecList> specs_;
  DynamicArray<SQLSortSpec> columns_;  // resolved keys
};
