// SQLVTProject: the node of a query specification's select list, over the
// FROM/WHERE part or the group. Name resolution turns the parser's select
// items into the projection's result columns: "*" and "t.*" expand into the
// columns of the tables (each base table followed by its company number),
// names and value expressions are resolved, every result column is named,
// and the result is offered to ORDER BY and enclosing queries as a column
// scope level. A RETRY clause puts a retry filter between the projection
// and its child.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/dynamic_array.h"
#include "sql/common/ref_ptr.h"
#include "sql/validate/select_list.h"
#include "sql/validate/vt_unary_node.h"
#include "sql/validate/vt_value_expr.h"

class SQLVTTable;
class SQLVTScopeLevel;
class SQLVTExposedColumn;
class SQLVTClearUnrefKey;
struct SQLVTColumnInfo;
struct SQLVTTableInfo;

// One result column of a projection.
struct SQLVTProjectItem {
  enum Kind : int { ValueExpr = 0, Column = 1, Compnr = 2 };

  Kind kind = ValueExpr;
  int columnId = -1;                    // Column: the position in the child's row
  SQLVTTable const *table = nullptr;    // Compnr: the table whose company number it is
  RefPtr<SQLVTSCValueExpr> valueExpr;   // ValueExpr

  // Replaces the expression by its Cast to type.
  void CastValueExpr(SQLType type, bool tolerant);
};

class SQLVTProject : public SQLVTUnaryNode {
 public:
  // Takes ownership of child and selectList.
  SQLVTProject(SQLVTNode *child, SQLVTSelectList *selectList);
  ~SQLVTProject() override;

  // The select list as parsed; null once name resolution has consumed it.
  SQLVTSelectList *GetSelectList() const { return selectList_.get(); }
  // Appends item and its own descriptor (taken over; null when the item
  // uses its source's descriptor); returns the new number of items.
  int AddProjectItem(SQLVTProjectItem const &item, SQLColumnDescriptor *descriptor);
  SQLVTProjectItem const &GetProjectItem(int i) const { return items_.Get(i); }

  // The descriptor of the company-number columns: "_compnr", or
  // "company_nr" in the ANSI parse mode.
  static SQLColumnDescriptor const *CompnrDescriptor(bool ansi);

  // 42I75 for a key that is a company number or a computed value; else
  // fills the keys' column ids and puts a retry filter over the child.
  SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override;
  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override;
  int GetNumCols() const override { return items_.NrElements(); }
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsGroupByQuery() override { return GetChild()->IsGroupByQuery(); }

 private:
  class Resolver;
  friend class Resolver;

  std::unique_ptr<SQLVTSelectList> selectList_;
  DynamicArray<SQLVTProjectItem> items_;
  DynamicArray<SQLColumnDescriptor *> descriptors_;  // owned; null: the source's
  SQLColumnDescriptor const *compnrDescriptor_;
};
