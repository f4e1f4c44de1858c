// The copy of the company mapping in the shared segment.
//
// The segment header's root word points at one root record; under it hang
// environment entries, one per environment string (newest first), each with
// a full copy of a parsed spec list. Other processes of the same
// environment find the mapping there instead of parsing the file. The root
// is created under the segment lock, with the word set to all ones while it
// is being built; the environment list is guarded by the root's busy flag.
#include <cstring>
#include <new>

#include "dbc/compnr/compnr_shm.h"
#include "dbc/session/dbc_settings.h"
#include "platform/clock.h"
#include "platform/shm.h"

namespace {

constexpr uint16_t kRootMark = 0xB501;
constexpr int kMaxWaits = 1000;  // 10 s of waiting for another builder

struct COMPNR_ENV;

struct COMPNR_ROOT {
  uint16_t mark;  // kRootMark
  uint16_t busy;  // an update of the environment list is under way
  RelPtr<COMPNR_ENV> first;
};

struct COMPNR_ENV {
  RelPtr<char> env;
  RelPtr<COMPNR_ENV> next;
  RelPtr<COMPNR_SPEC> specs;
};

bool g_store_failed = false;

bool SharedMemoryInUse() { return dbc_settings().use_shm_info != 0 && link_shm() == 0; }

// The root, creating it when `create`; null when absent or not ours.
COMPNR_ROOT *Root(bool create) {
  SHM_HEADER *header = shm_header();
  if (header == nullptr) return nullptr;
  for (int wait = 0; wait < kMaxWaits; ++wait) {
    if (lock_shm() != 0) return nullptr;
    uintptr_t word = header->compnr_root;
    if (word == 0 && create) {
      header->compnr_root = SHM_ROOT_BUILDING;
      auto *root = static_cast<COMPNR_ROOT *>(shm_brk(sizeof(COMPNR_ROOT)));
      if (root != nullptr) {
        new (root) COMPNR_ROOT();
        root->mark = kRootMark;
      }
      header->compnr_root = reinterpret_cast<uintptr_t>(root);
      unlock_shm();
      return root;
    }
    unlock_shm();
    if (word == 0) return nullptr;
    if (word != SHM_ROOT_BUILDING) {
      auto *root = reinterpret_cast<COMPNR_ROOT *>(word);
      return root->mark == kRootMark ? root : nullptr;
    }
    al_msleep(10);
  }
  return nullptr;
}

COMPNR_ENV *FindEnv(COMPNR_ROOT *root, const char *env) {
  for (COMPNR_ENV *e = root->first.get(); e != nullptr; e = e->next.get()) {
    if (std::strcmp(e->env.get(), env) == 0) return e;
  }
  return nullptr;
}

char *CopyText(const char *text) {
  size_t len = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(shm_brk(len));
  if (copy != nullptr) std::memcpy(copy, text, len);
  return copy;
}

// Copies one map into the segment with arrays sized to their counts.
bool CopyMap(const COMPNR_MAP &from, COMPNR_MAP *to) {
  to->mark = from.mark;
  if (const COMPNR_PAIRS *pairs = from.pairs.get()) {
    auto *copy = static_cast<COMPNR_PAIRS *>(shm_brk(sizeof(COMPNR_PAIRS)));
    auto *array = static_cast<COMPNR_PAIR *>(shm_brk(sizeof(COMPNR_PAIR) * (pairs->count + 1u)));
    if (copy == nullptr || array == nullptr) return false;
    new (copy) COMPNR_PAIRS();
    copy->capacity = copy->count = pairs->count;
    std::memcpy(array, pairs->pairs.get(), sizeof(COMPNR_PAIR) * pairs->count);
    copy->pairs.set(array);
    to->pairs.set(copy);
  }
  COMPNR_PHYS *last = nullptr;
  for (const COMPNR_PHYS *p = from.phys.get(); p != nullptr; p = p->next.get()) {
    auto *copy = static_cast<COMPNR_PHYS *>(shm_brk(sizeof(COMPNR_PHYS)));
    auto *array = static_cast<uint16_t *>(shm_brk(sizeof(uint16_t) * (p->count + 1u)));
    if (copy == nullptr || array == nullptr) return false;
    new (copy) COMPNR_PHYS();
    copy->physical = p->physical;
    copy->capacity = static_cast<uint16_t>(p->count);
    copy->count = p->count;
    std::memcpy(array, p->logical.get(), sizeof(uint16_t) * static_cast<size_t>(p->count));
    copy->logical.set(array);
    if (last == nullptr) {
      to->phys.set(copy);
    } else {
      last->next.set(copy);
    }
    last = copy;
  }
  return true;
}

// A full copy of an environment entry, or null when the segment is full.
COMPNR_ENV *CopyEnv(const char *env, const COMPNR_SPEC *specs) {
  auto *entry = static_cast<COMPNR_ENV *>(shm_brk(sizeof(COMPNR_ENV)));
  char *text = CopyText(env);
  if (entry == nullptr || text == nullptr) return nullptr;
  new (entry) COMPNR_ENV();
  entry->env.set(text);
  COMPNR_SPEC *last = nullptr;
  for (const COMPNR_SPEC *s = specs; s != nullptr; s = s->next.get()) {
    auto *copy = static_cast<COMPNR_SPEC *>(shm_brk(sizeof(COMPNR_SPEC)));
    char *name = CopyText(s->name.get());
    if (copy == nullptr || name == nullptr) return nullptr;
    new (copy) COMPNR_SPEC();
    copy->name.set(name);
    if (!CopyMap(s->map, &copy->map)) return nullptr;
    if (last == nullptr) {
      entry->specs.set(copy);
    } else {
      last->next.set(copy);
    }
    last = copy;
  }
  return entry;
}

bool TakeBusy(COMPNR_ROOT *root) {
  for (int wait = 0; wait < kMaxWaits * 5; ++wait) {
    if (lock_shm() != 0) return false;
    bool taken = root->busy == 0;
    if (taken) root->busy = 1;
    unlock_shm();
    if (taken) return true;
    al_msleep(2);
  }
  return false;
}

void ReleaseBusy(COMPNR_ROOT *root) {
  if (lock_shm() != 0) return;
  root->busy = 0;
  unlock_shm();
}

}  // namespace

COMPNR_SPEC *compnr_shm_lookup(const char *env) {
  if (!SharedMemoryInUse()) return nullptr;
  COMPNR_ROOT *root = Root(false);
  if (root == nullptr) return nullptr;
  COMPNR_ENV *entry = FindEnv(root, env);
  return entry != nullptr ? entry->specs.get() : nullptr;
}

COMPNR_SPEC *compnr_shm_store(const char *env, const COMPNR_SPEC *specs) {
  if (g_store_failed || !SharedMemoryInUse()) return nullptr;
  COMPNR_ROOT *root = Root(true);
  if (root == nullptr || !TakeBusy(root)) {
    g_store_failed = true;
    return nullptr;
  }
  COMPNR_ENV *entry = FindEnv(root, env);
  if (entry == nullptr) {
    entry = CopyEnv(env, specs);
    if (entry != nullptr) {
      entry->next.set(root->first.get());
      root->first.set(entry);
    }
  }
  ReleaseBusy(root);
  if (entry == nullptr) {
    g_store_failed = true;
    return nullptr;
  }
  return entry->specs.get();
}
