// SQLExecTreeCache: the execution trees one prepared statement has parked,
// keyed by their exec-tree id (ShortArray).
//
// A tree is parked when its statement needs a tree for other company numbers
// or is reset, and taken back when an execution asks for an equal id, so
// that alternating company numbers do not rebuild trees. The cache holds at
// most kCapacity trees; parking one more destroys the tree parked longest
// ago. A tree taken out belongs to the taker until it is parked again.
#pragma once

#include <memory>

#include "sql/common/sql_containers.h"
#include "sql/exec/exec_tree.h"
#include "sql/statement/short_array.h"

class SQLExecTreeCache {
 public:
  static constexpr int kCapacity = 5;

  SQLExecTreeCache() = default;
  SQLExecTreeCache(SQLExecTreeCache const &) = delete;
  SQLExecTreeCache &operator=(SQLExecTreeCache const &) = delete;

  // The parked tree whose id equals `id`, removed from the cache; null when
  // there is none.
  std::unique_ptr<SQLExecTree> Get(ShortArray const &id);

  // Parks the tree under its id; the cache owns both from then on. When
  // memory runs out, both are destroyed and the failure goes no further.
  void Recycle(std::unique_ptr<ShortArray> id, std::unique_ptr<SQLExecTree> tree) noexcept;

  // Destroys every parked tree with its id; the cache is as new.
  void Clear() { recycler_.reset(); }

  // FALSE until the first tree was parked.
  bool Exists() const { return recycler_ != nullptr; }
  int NrTrees() const { return recycler_ ? recycler_->NrElements() : 0; }
  // Share of Get calls that found a tree (0.0 before the first).
  double Efficiency() const { return recycler_ ? recycler_->Efficiency() : 0.0; }

 private:
  std::unique_ptr<SQLExecTreeKeyShortArrayRecycler> recycler_;  // created with the first parked tree
};
