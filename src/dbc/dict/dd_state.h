// Process-wide state of the data dictionary, shared by its modules: the state
// word, the table and domain-list hashes with their one-entry caches, and the
// record pool every dictionary record comes from.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbc/dict/dd.h"

namespace molvane::dd {

// Blocks of dictionary records. A pool being filled by a load in progress is
// discarded when the load fails and joins the permanent pool when it succeeds.
class RecordPool {
 public:
  void *Allocate(size_t size);  // zero-filled, 16-byte aligned
  // Hands every block to target without allocating (it runs in a
  // destructor); target keeps allocating from its own last block.
  void MoveInto(RecordPool &target) noexcept;

 private:
  std::list<std::unique_ptr<std::byte[]>> blocks_;  // a list: blocks move by splicing
  std::byte *free_ = nullptr;
  size_t left_ = 0;
};

struct DdState {
  int state = 0;           // DD_STATE_* | DD_MODE_*
  dd_alloc_fn alloc = nullptr;
  bool new_dumps_in_use = false;
  const char *empty_attributes = nullptr;  // five empty texts
  std::unordered_multimap<std::string, DD_TABLE_CACHE *> tables;
  std::unordered_multimap<std::string, DD_DOMAIN_LIST *> domain_lists;
  DD_TABLE_CACHE *last_table = nullptr;
  DD_DOMAIN_LIST *last_domain_list = nullptr;
  RecordPool permanent;
  std::vector<RecordPool *> loading;  // pools of the loads in progress, innermost last
  std::vector<DD_TABLE_CACHE *> loading_tables;  // tables being parsed, innermost last
};

DdState &State();

// The current mode bits (DD_MODE_NEW | DD_MODE_CURRENT) of the state word.
inline int ModeBits() { return State().state & (DD_MODE_NEW | DD_MODE_CURRENT); }

// Zero-filled memory for a dictionary record, from the allocation function in
// force (the pool of the innermost load in progress for a local dictionary).
void *Alloc(size_t size);
template <class T>
T *AllocArray(size_t n) {
  return static_cast<T *>(Alloc(sizeof(T) * (n ? n : 1)));
}
char *SaveText(const char *text, size_t len);

// Makes every record allocated while it lives belong to one load: Commit keeps
// them for the life of the process, otherwise they are released with the scope.
class LoadScope {
 public:
  LoadScope();
  ~LoadScope();
  LoadScope(const LoadScope &) = delete;
  LoadScope &operator=(const LoadScope &) = delete;
  void Commit();

 private:
  RecordPool pool_;
  bool committed_ = false;
};

// DEBUG_LEVEL of the platform, read once.
long DebugLevel();

// The table or domain-list record of a name in the current mode, or null.
DD_TABLE_CACHE *FindTableCache(const char *name8, bool include_loading);
void AddTableCache(DD_TABLE_CACHE *cache);
void RemoveTableCache(DD_TABLE_CACHE *cache);
DD_DOMAIN_LIST *FindDomainList(const char *package2);
void AddDomainList(DD_DOMAIN_LIST *list);

// Byte order of column names: the first character as a signed char, the rest
// as unsigned bytes.
int CompareColumnNames(const char *a, const char *b);

}  // namespace molvane::dd
