// SQLVTGroup: GROUP BY and the set functions of a query, over its FROM/WHERE
// part. The output columns are group specifications, added while the select
// list and HAVING are resolved through the group scope level.
#pragma once

#include <memory>

#include "sql/common/dynamic_array.h"
#include "sql/validate/group_spec.h"
#include "sql/validate/vt_unary_node.h"
#include "sql/validate/vtsc_refers.h"

class SQLVTGroup : public SQLVTUnaryNode {
 public:
  // Takes ownership of child and identifiers (the GROUP BY columns; null
  // without GROUP BY). definitive: the grouping is known to take place.
  SQLVTGroup(SQLVTNode *child, pSQLVTSCIdentifierDelArray *identifiers, bool definitive);
  ~SQLVTGroup() override;

  // The GROUP BY columns as parsed; null without GROUP BY or once resolved.
  pSQLVTSCIdentifierDelArray *GetGroupIdentifiers() const { return identifiers_.get(); }
  bool IsDefinitive() const { return definitive_; }
  void SetDefinitive(bool definitive) { definitive_ = definitive; }
  bool IsGroupCol(int id) const;
  // The output position of a spec equal to spec, or of a copy appended with
  // its descriptor (42T31, 42T20 for a set function whose argument types
  // give no result type).
  int FindOrAddGroupSpec(SQLVTGroupSpec const &spec);
  DynamicArray<int> const &GetGroupColumnIds() const { return groupColumnIds_; }
  SQLVTGroupSpec const &GetGroupSpec(int i) const { return specs_.Get(i); }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override;
  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override;
  // The number of group specifications: 0 until names are resolved.
  int GetNumCols() const override { return specs_.NrElements(); }
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  // A group that never became definitive gives way to its child.
  SQLVTNode *RemoveNotDefinitiveGroupNode() override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsGroupByQuery() override { return true; }

 private:
  std::unique_ptr<pSQLVTSCIdentifierDelArray> identifiers_;
  DynamicArray<int> groupColumnIds_;
  DynamicArray<SQLVTGroupSpec> specs_;
  DynamicArray<SQLColumnDescriptor *> descriptors_;  // owned; null for a grouping column
  bool definitive_;
};
