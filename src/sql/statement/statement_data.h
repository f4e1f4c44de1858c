// SQLStatementData: what a prepare produced for one statement text: the
// validated tree with its tree data, and the execution trees built from it.
//
// It outlives the statement that made it: at the statement's reset or soft
// close it moves into the process-wide statement cache (statement_cache.h)
// and a later prepare of the same text and mode takes it back without
// parsing. It is never shared: whoever took it from a cache owns it.
#pragma once

#include <memory>

#include "sql/statement/exec_tree_cache.h"
#include "sql/statement/short_array.h"
#include "sql/statement/vtree_owner.h"

class SQLExecTree;

class SQLStatementData {
 public:
  // id: the id of the statement whose prepare creates the data; mode: the
  // prepare mode word, which a cached data must match to be reused.
  SQLStatementData(unsigned long id, int mode);
  SQLStatementData(SQLStatementData const &) = delete;
  SQLStatementData &operator=(SQLStatementData const &) = delete;
  // Destroys the validated tree, then every parked execution tree with its
  // id, then the tree data.
  ~SQLStatementData();

  unsigned long GetId() const { return id_; }
  int GetMode() const { return mode_; }

  // The tree data the parser fills; null until set.
  SQLVTreeData *GetTreeData() const { return treeData_.get(); }
  void SetTreeData(SQLVTOwner<SQLVTreeData> treeData) { treeData_ = std::move(treeData); }

  // The validated tree; null before the parse and after DropRoot.
  SQLVTNode *GetRoot() const { return root_.get(); }
  // Replaces (and destroys) the present root.
  void SetRoot(SQLVTOwner<SQLVTNode> root) { root_ = std::move(root); }
  // Destroys the validated tree once execution trees no longer need it; a
  // later prepare parses again into this data.
  void DropRoot() { root_.reset(); }

  // The parked execution tree with an id equal to `id`, now owned by the
  // caller; null when none is parked.
  std::unique_ptr<SQLExecTree> GetExecTree(ShortArray const &id);
  // Parks a tree under its id; from then on the data owns both. When memory
  // runs out, both are destroyed and the failure goes no further.
  void RecycleExecTree(std::unique_ptr<ShortArray> id, std::unique_ptr<SQLExecTree> tree) noexcept;
  SQLExecTreeCache const &GetExecTreeCache() const { return execTrees_; }

 private:
  unsigned long id_;  // SQLStatement::GetOriginalId of the preparing statement
  int mode_;          // prepare mode word
  SQLVTOwner<SQLVTreeData> treeData_;
  SQLVTOwner<SQLVTNode> root_;
  SQLExecTreeCache execTrees_;
};
