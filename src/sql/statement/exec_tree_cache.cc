#include "sql/statement/exec_tree_cache.h"

#include <new>
#include <utility>

std::unique_ptr<SQLExecTree> SQLExecTreeCache::Get(ShortArray const &id) {
  if (recycler_ == nullptr) return nullptr;
  try {
    return recycler_->Extract(&id);
  } catch (RecyclerExNotExists const &) {
    return nullptr;
  }
}

void SQLExecTreeCache::Recycle(std::unique_ptr<ShortArray> id,
                               std::unique_ptr<SQLExecTree> tree) noexcept {
  try {
    if (recycler_ == nullptr) {
      recycler_ = std::make_unique<SQLExecTreeKeyShortArrayRecycler>(kCapacity, ShortArrayHash,
                                                                     ShortArrayEqual);
    }
    recycler_->Insert(std::move(id), std::move(tree));
  } catch (std::bad_alloc const &) {
    // id and tree were destroyed on the way out; a later execution builds
    // the tree again.
  }
}
