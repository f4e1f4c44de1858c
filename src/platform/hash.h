// Intrusive chained hash tables: records carry their own link field and
// key, the table only chains them. Records with equal keys may coexist;
// hash_next walks them.
//
// A record is identified by the address of its link field (a HASH_LINK).
// Put the link first in the record, so that the record's address and its
// link's address are the same:
//
//   struct entry { HASH_LINK link; char key[16]; int level; };
//   struct entry sample;
//   HASH_TBL *t = creat_hash_tbl(sample.key, &sample.link, NULL, 221,
//                                HASH_KEY_TEXT, NULL);
//   hash_link(t, &e->link);
//   struct entry *f = (struct entry *)hash_search(t, "name");
//
// The key field lies at a fixed distance from the link (taken from the
// sample record). Key kinds: HASH_KEY_TEXT a NUL-terminated text held in
// the record; n > 0 n bytes held in the record; either ORed with
// HASH_KEY_PTR when the record holds a pointer to its key instead.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hash_link_rec {
  struct hash_link_rec *next; // next record in the bucket
} HASH_LINK;

enum {
  HASH_KEY_TEXT = 0,      // NUL-terminated text key
  HASH_KEY_PTR = 0x10000, // the key field holds a pointer to the key
};

// Hash function over a key of the table's kind; any value, reduced
// modulo the bucket count by the table.
typedef unsigned long (*hash_key_fn)(const void *key, int key_kind);
// Allocates zero-filled memory for the table; null on failure.
typedef void *(*hash_alloc_fn)(size_t size);
// Releases one record in hash_destroy.
typedef void (*hash_release_fn)(void *record);

typedef struct hash_tbl HASH_TBL;

// A table with `buckets` chains (at least 1), or null on bad arguments or
// no memory. `key_fn` null uses the built-in hash; `alloc_fn` null uses
// the library allocator. Memory from `alloc_fn` belongs to its owner (e.g.
// an allocation id) and is not freed by hash_destroy.
// Only the addresses of the sample fields are used, never their contents,
// so the sample record may be uninitialised.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 11
__attribute__((access(none, 1), access(none, 2)))
#endif
HASH_TBL *creat_hash_tbl(const void *sample_key, const void *sample_link, hash_key_fn key_fn,
                         int buckets, int key_kind, hash_alloc_fn alloc_fn);
// Inserts a record (its key must be set and stay unchanged while linked).
// 0, or -1 for a null table or record.
int hash_link(HASH_TBL *table, void *record);
// Removes a record; 0, or -1 when it is not in the table.
int hash_unlink(HASH_TBL *table, void *record);
// The first record with the key, or null. `key` is the key itself (the
// text, or the n bytes), also for HASH_KEY_PTR tables.
void *hash_search(HASH_TBL *table, const void *key);
// The same as hash_search, for tables whose records hold a pointer to
// their key (HASH_KEY_PTR); kept as its own name for such callers.
void *hash_psearch(HASH_TBL *table, const void *key);
// The next record after `record` with the same key, or null.
void *hash_next(HASH_TBL *table, void *record);
// The next record in bucket order after `previous` (null: the first);
// `position` (set to 0 before the first call) keeps the bucket. Null at
// the end. Unlinking the record just returned is allowed.
void *hash_seq(HASH_TBL *table, void *previous, int *position);
// Frees the table, calling `release` (when not null) on each record.
void hash_destroy(HASH_TBL *table, hash_release_fn release);

#ifdef __cplusplus
}
#endif
