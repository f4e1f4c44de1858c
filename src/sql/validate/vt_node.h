// SQLVTNode: the abstract table-expression node of the validated tree. The
// root of a prepared statement is one; the statement drives it through the
// operations below (name resolution, validation, execution-tree creation).
//
// The concrete nodes (tables, joins, filters, projections, groups, sorts,
// unions, CLEAR/UNREF, DELETE and UPDATE) derive from it. A node owns its
// children and deletes them with itself. A replacing pass returns the node
// that stands in the tree afterwards, and the caller stores it in place of
// the old one.
#pragma once

#include <memory>

#include "sql/common/sql_containers.h"
#include "sql/common/sql_hints.h"
#include "sql/statement/vtree_owner.h"
#include "sql/validate/retry_spec.h"
#include "sql/validate/vt_object.h"

class SQLColumnDescriptor;
class SQLExecTree;
class SQLRowSource;
class SQLVTIndexHint;
class SQLVTRetryFilter;
class SQLVTScope;
class SQLVTWhereUsedMgr;

class SQLVTNode : public SQLVTObject {
 public:
  SQLVTNode() = default;
  SQLVTNode(SQLVTNode const &) = delete;
  SQLVTNode &operator=(SQLVTNode const &) = delete;
  // Deletes the hints (subclasses delete their children).
  ~SQLVTNode() override;

  // The filter node of a RETRY clause over this node. A node that cannot
  // carry a RETRY clause stops with "<class>::BuildRetryFilter() called".
  virtual SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) = 0;
  // The node's own row source, without the hints wrapper; only CreateRS
  // calls it.
  virtual SQLRowSource *DoCreateRS() = 0;
  virtual SQLColumnDescriptor const *GetColumnDescriptor(int column) const = 0;
  virtual int GetNumCols() const = 0;
  // TRUE for a query FOR UPDATE.
  virtual bool IsForUpdate() = 0;
  // Writes the subtree to the SQL trace.
  virtual void Log() const = 0;
  // Name resolution. flags: 1 outermost query specification, 2 CLEAR/UNREF
  // statement, 4 named array-element items, 8 name(n) as an array element,
  // 16 ANSI parse mode, 32 argument of a set function, 64 a base table
  // presented as a derived table. Returns the node that replaces this one
  // (this node itself, or a new node that took it over).
  virtual SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                         List<char const *> *restrictedQualifiers,
                                         SQLVTWhereUsedMgr *whereUsed) = 0;
  // Returns the node that replaces this one once a group node that turned
  // out not to group is removed; by default the node itself.
  virtual SQLVTNode *RemoveNotDefinitiveGroupNode();
  virtual void ValidateTypes() const = 0;
  virtual void ValidateArrayUsage() const = 0;
  // Hands the index hints of a HINT clause to the tables they name.
  virtual void SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) = 0;
  // Only query nodes answer; any other node stops with
  // "SQLVTNode::IsGroupByQuery() called".
  virtual bool IsGroupByQuery();
  // The usage and type checks of the whole subtree: ValidateArrayUsage,
  // ValidateTypes, then the node's own DoValidate. Throws SQLExSyntaxError.
  virtual void Validate();
  // A new execution tree owned by the caller; by default the row-source tree
  // of CreateRS (a row source is an execution tree).
  virtual SQLExecTree *CreateET();
  // The node's own checks after those of Validate; by default none.
  virtual void DoValidate();

  // The row-source tree of the node: DoCreateRS, wrapped in a hints row
  // source when the node has hints. Nodes create their children's row
  // sources through this, never through DoCreateRS, so that hints given to
  // any node take effect. The caller owns the result.
  SQLRowSource *CreateRS();

  // Takes ownership of hints (null removes them).
  void SetHints(SQLHints *hints) { hints_.reset(hints); }
  SQLHints const *GetHints() const { return hints_.get(); }

  // How CreateRS wraps a row source in the hints row source of the execution
  // layer: (child, hints) -> a new row source that owns the child and holds
  // a copy of the hints. The execution layer installs it; until then hints
  // are not applied.
  using HintsWrapper = SQLRowSource *(*)(SQLRowSource *child, SQLHints const *hints);
  static void SetHintsWrapper(HintsWrapper wrapper) { _hintsWrapper = wrapper; }

 private:
  static HintsWrapper _hintsWrapper;

  std::unique_ptr<SQLHints> hints_;  // general hints of a HINT clause; null when none
};

// Hands a validated tree to an owner such as the statement data.
SQLVTOwner<SQLVTNode> SQLVTOwnNode(SQLVTNode *root);
