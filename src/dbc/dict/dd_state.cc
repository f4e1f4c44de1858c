// Dictionary state and mode: start-up of the local or global dictionary, the
// mode switch, the hashes of loaded tables and domain lists and the record
// pool.
#include "dbc/dict/dd_state.h"

#include <cstdlib>
#include <cstring>

#include "platform/env.h"
#include "platform/log.h"

namespace molvane::dd {

namespace {

constexpr size_t kPoolBlock = 16384;

void *LocalAlloc(size_t size) {
  DdState &st = State();
  RecordPool &pool = st.loading.empty() ? st.permanent : *st.loading.back();
  return pool.Allocate(size);
}

}  // namespace

void *RecordPool::Allocate(size_t size) {
  size = (size + 15) & ~size_t{15};
  if (size > kPoolBlock / 4) {
    // Large records get a block of their own, kept before the current one.
    auto block = std::make_unique<std::byte[]>(size);
    std::byte *p = block.get();
    std::memset(p, 0, size);
    blocks_.insert(blocks_.begin(), std::move(block));
    return p;
  }
  if (size > left_) {
    blocks_.push_back(std::make_unique<std::byte[]>(kPoolBlock));
    free_ = blocks_.back().get();
    std::memset(free_, 0, kPoolBlock);
    left_ = kPoolBlock;
  }
  std::byte *p = free_;
  free_ += size;
  left_ -= size;
  return p;
}

void RecordPool::MoveInto(RecordPool &target) noexcept {
  target.blocks_.splice(target.blocks_.begin(), blocks_);
  free_ = nullptr;
  left_ = 0;
}

// The state is never destroyed: records stay valid for destructors of other
// modules that run at process exit.
DdState &State() {
  static DdState &state = *new DdState;
  return state;
}

void *Alloc(size_t size) {
  DdState &st = State();
  void *p = st.alloc ? st.alloc(size) : LocalAlloc(size);
  if (p && st.alloc) std::memset(p, 0, size);
  return p;
}

char *SaveText(const char *text, size_t len) {
  char *p = static_cast<char *>(Alloc(len + 1));
  if (p && len) std::memcpy(p, text, len);
  return p;
}

LoadScope::LoadScope() {
  if (State().alloc == nullptr || State().alloc == LocalAlloc) State().loading.push_back(&pool_);
}

LoadScope::~LoadScope() {
  auto &loading = State().loading;
  if (!loading.empty() && loading.back() == &pool_) loading.pop_back();
  // A load that succeeded stays even when an enclosing load fails later.
  if (committed_) pool_.MoveInto(State().permanent);
}

void LoadScope::Commit() { committed_ = true; }

long DebugLevel() {
  return al_debug_level();
}

DD_TABLE_CACHE *FindTableCache(const char *name8, bool include_loading) {
  DdState &st = State();
  const int mode = ModeBits();
  DD_TABLE_CACHE *last = st.last_table;
  if (last && last->table->mode_bits == mode && std::memcmp(last->table->name, name8, 8) == 0 &&
      (include_loading || !last->loading))
    return last;
  auto range = st.tables.equal_range(std::string(name8, 8));
  for (auto it = range.first; it != range.second; ++it) {
    DD_TABLE_CACHE *c = it->second;
    if (c->table->mode_bits != mode) continue;
    if (c->loading && !include_loading) return nullptr;
    if (!c->loading) st.last_table = c;
    return c;
  }
  return nullptr;
}

void AddTableCache(DD_TABLE_CACHE *cache) {
  State().tables.emplace(std::string(cache->table->name, 8), cache);
}

void RemoveTableCache(DD_TABLE_CACHE *cache) {
  DdState &st = State();
  auto range = st.tables.equal_range(std::string(cache->table->name, 8));
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == cache) {
      st.tables.erase(it);
      break;
    }
  }
  if (st.last_table == cache) st.last_table = nullptr;
}

DD_DOMAIN_LIST *FindDomainList(const char *package2) {
  DdState &st = State();
  const int mode = ModeBits();
  DD_DOMAIN_LIST *last = st.last_domain_list;
  if (last && last->mode_bits == mode && std::memcmp(last->package, package2, 2) == 0) return last;
  auto range = st.domain_lists.equal_range(std::string(package2, 2));
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second->mode_bits == mode) {
      st.last_domain_list = it->second;
      return it->second;
    }
  }
  return nullptr;
}

void AddDomainList(DD_DOMAIN_LIST *list) {
  State().domain_lists.emplace(std::string(list->package, 2), list);
}

int CompareColumnNames(const char *a, const char *b) {
  const signed char ca = static_cast<signed char>(a[0]);
  const signed char cb = static_cast<signed char>(b[0]);
  if (ca != cb) return ca < cb ? -1 : 1;
  if (ca == 0) return 0;
  return std::strcmp(a + 1, b + 1);  // strcmp compares as unsigned char
}

}  // namespace molvane::dd

using namespace molvane::dd;

void init_local_dd() {
  DdState &st = State();
  st.state = DD_STATE_LOCAL;
  st.alloc = nullptr;
  st.empty_attributes = static_cast<const char *>(Alloc(5));
  init_dd_mode(1);
  st.tables.reserve(911);
  st.domain_lists.reserve(19);
}

void init_global_dd(dd_alloc_fn alloc) {
  DdState &st = State();
  st.state = DD_STATE_GLOBAL;
  st.alloc = alloc;
  st.empty_attributes = static_cast<const char *>(Alloc(5));
  init_dd_mode(1);
  st.tables.reserve(32);
  st.domain_lists.reserve(8);
}

void init_dd_mode(int mode) {
  DdState &st = State();
  switch (mode) {
    case 1:
      st.state = (st.state & ~DD_MODE_NEW) | DD_MODE_CURRENT;
      break;
    case 3:
      st.state = (st.state & ~DD_MODE_CURRENT) | DD_MODE_NEW;
      break;
    case 4:
      st.state |= DD_MODE_REFERENCING;
      break;
    default:
      log_mesg(__FILE__, __LINE__, "Illegal DD mode", 0, "\nIllegal dd_mode %d set.", mode);
      return;
  }
  st.last_table = nullptr;
}

int get_dd_mode() {
  const int s = State().state;
  if (s & DD_MODE_CURRENT) return 1;
  if (s & DD_MODE_NEW) return 3;
  return 0;
}

int dd_state() { return State().state; }

bool dd_new_dumps_in_use() { return State().new_dumps_in_use; }
