// Intrusive chained hash tables (see hash.h). Chains are singly linked
// through the records' own links; new records go to the front of their
// chain, so hash_search finds the most recently linked of equal keys.
#include "platform/hash.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "platform/mal.h"

struct hash_tbl {
  ptrdiff_t key_offset;  // key field minus link field, in bytes
  hash_key_fn key_fn;
  int buckets;
  int key_kind;
  bool own_alloc;        // chains came from the library allocator
  HASH_LINK **chains;
};

namespace {

unsigned long DefaultHash(const void *key, int kind) {
  const unsigned char *p = static_cast<const unsigned char *>(key);
  unsigned long h = 2166136261u;
  int len = kind & ~HASH_KEY_PTR;
  if (len == HASH_KEY_TEXT) {
    for (; *p != 0; ++p) h = (h ^ *p) * 16777619u;
  } else {
    for (int i = 0; i < len; ++i) h = (h ^ p[i]) * 16777619u;
  }
  return h;
}

const void *KeyOf(const HASH_TBL *t, const HASH_LINK *link) {
  const char *field = reinterpret_cast<const char *>(link) + t->key_offset;
  if (t->key_kind & HASH_KEY_PTR) return *reinterpret_cast<const void *const *>(field);
  return field;
}

bool KeyEquals(const HASH_TBL *t, const void *a, const void *b) {
  if (a == nullptr || b == nullptr) return a == b;
  int len = t->key_kind & ~HASH_KEY_PTR;
  if (len == HASH_KEY_TEXT) return std::strcmp(static_cast<const char *>(a), static_cast<const char *>(b)) == 0;
  return std::memcmp(a, b, static_cast<size_t>(len)) == 0;
}

size_t Bucket(const HASH_TBL *t, const void *key) {
  if (key == nullptr) return 0;
  hash_key_fn fn = t->key_fn != nullptr ? t->key_fn : DefaultHash;
  return fn(key, t->key_kind) % static_cast<unsigned long>(t->buckets);
}

}  // namespace

extern "C" {

HASH_TBL *creat_hash_tbl(const void *sample_key, const void *sample_link, hash_key_fn key_fn,
                         int buckets, int key_kind, hash_alloc_fn alloc_fn) {
  if (sample_key == nullptr || sample_link == nullptr || buckets < 1 || (key_kind & ~HASH_KEY_PTR) < 0) {
    errno = EINVAL;
    return nullptr;
  }
  HASH_TBL *t = static_cast<HASH_TBL *>(mal_sys_calloc(1, sizeof(HASH_TBL)));
  if (t == nullptr) return nullptr;
  t->key_offset = static_cast<const char *>(sample_key) - static_cast<const char *>(sample_link);
  t->key_fn = key_fn;
  t->buckets = buckets;
  t->key_kind = key_kind;
  size_t bytes = sizeof(HASH_LINK *) * static_cast<size_t>(buckets);
  if (alloc_fn != nullptr) {
    t->chains = static_cast<HASH_LINK **>(alloc_fn(bytes));
    if (t->chains != nullptr) std::memset(t->chains, 0, bytes);
  } else {
    t->chains = static_cast<HASH_LINK **>(mal_allocater(bytes, MAL_ZERO | MAL_FREEABLE, 0, nullptr));
    t->own_alloc = true;
  }
  if (t->chains == nullptr) {
    std::free(t);
    errno = ENOMEM;
    return nullptr;
  }
  return t;
}

int hash_link(HASH_TBL *table, void *record) {
  if (table == nullptr || record == nullptr) return -1;
  HASH_LINK *link = static_cast<HASH_LINK *>(record);
  size_t b = Bucket(table, KeyOf(table, link));
  link->next = table->chains[b];
  table->chains[b] = link;
  return 0;
}

int hash_unlink(HASH_TBL *table, void *record) {
  if (table == nullptr || record == nullptr) return -1;
  HASH_LINK *link = static_cast<HASH_LINK *>(record);
  HASH_LINK **at = &table->chains[Bucket(table, KeyOf(table, link))];
  for (; *at != nullptr; at = &(*at)->next) {
    if (*at == link) {
      *at = link->next;  // link->next kept: hash_seq may continue from it
      return 0;
    }
  }
  return -1;
}

void *hash_search(HASH_TBL *table, const void *key) {
  if (table == nullptr || key == nullptr) return nullptr;
  for (HASH_LINK *l = table->chains[Bucket(table, key)]; l != nullptr; l = l->next) {
    if (KeyEquals(table, KeyOf(table, l), key)) return l;
  }
  return nullptr;
}

void *hash_psearch(HASH_TBL *table, const void *key) { return hash_search(table, key); }

void *hash_next(HASH_TBL *table, void *record) {
  if (table == nullptr || record == nullptr) return nullptr;
  HASH_LINK *link = static_cast<HASH_LINK *>(record);
  const void *key = KeyOf(table, link);
  for (HASH_LINK *l = link->next; l != nullptr; l = l->next) {
    if (KeyEquals(table, KeyOf(table, l), key)) return l;
  }
  return nullptr;
}

void *hash_seq(HASH_TBL *table, void *previous, int *position) {
  if (table == nullptr || position == nullptr) return nullptr;
  if (previous == nullptr) *position = 0;
  // The record after `previous` in its chain, found from the chain head so
  // that `previous` may have been unlinked meanwhile.
  if (previous != nullptr && *position < table->buckets) {
    HASH_LINK *l = table->chains[*position];
    while (l != nullptr && l != previous) l = l->next;
    if (l != nullptr && l->next != nullptr) return l->next;
    if (l == nullptr && static_cast<HASH_LINK *>(previous)->next != nullptr) {
      // unlinked: its old successor, when still in this chain
      HASH_LINK *succ = static_cast<HASH_LINK *>(previous)->next;
      for (HASH_LINK *m = table->chains[*position]; m != nullptr; m = m->next) {
        if (m == succ) return succ;
      }
    }
    ++*position;
  }
  for (; *position < table->buckets; ++*position) {
    if (table->chains[*position] != nullptr) return table->chains[*position];
  }
  return nullptr;
}

void hash_destroy(HASH_TBL *table, hash_release_fn release) {
  if (table == nullptr) return;
  if (release != nullptr) {
    for (int b = 0; b < table->buckets; ++b) {
      HASH_LINK *l = table->chains[b];
      while (l != nullptr) {
        HASH_LINK *next = l->next;
        release(l);
        l = next;
      }
    }
  }
  if (table->own_alloc) mal_free(table->chains);
  std::free(table);
}

}  // extern "C"
