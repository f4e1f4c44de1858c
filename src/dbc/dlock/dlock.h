// The delayed-lock store of a table session: row images kept under rising
// 32-bit ids, found by id through blocks of ten entries and by key through a
// chained index with prime bucket counts.
//
// A table session (one table in one company on one driver session) embeds a
// ZDB_DLOCK. Its store header is made by the first put; the blocks, the key
// index and its nodes come from the memory group of the session's
// transaction and vanish together when the transaction ends
// (dlock_on_transaction_end). Each transaction end starts a new generation:
// ids of the previous one are no longer found, and ids keep rising.
#pragma once

#include <cstdint>

#include <molvane/zdb_dlock.h>

struct DD_TABLE;
struct DD_KEY;
struct ZDB_TRANS;
struct ZDB_SESSION;
struct ZDB_CURSOR;
struct ZDB_INTERNAL_CURSOR;
struct ZDB_TABLE_SESSION;

// Entry flag: the image was replaced by this client's update in the current
// transaction.
inline constexpr std::uint8_t DLOCK_UPDATED = 0x01;

// One kept row: this header, then the image at byte 9. Entries are
// entry_size bytes apart in their block and 4-byte aligned; never copy one
// by value (its padding is image).
struct DLOCK_ENTRY {
  std::uint32_t id;
  std::uint32_t hash;   // CRC-32 of the key of index 1 in the image
  std::uint8_t flags;   // DLOCK_UPDATED
};
inline constexpr int DLOCK_IMAGE_OFFSET = 9;
inline unsigned char *dlock_entry_image(DLOCK_ENTRY *entry) {
  return reinterpret_cast<unsigned char *>(entry) + DLOCK_IMAGE_OFFSET;
}
inline const unsigned char *dlock_entry_image(const DLOCK_ENTRY *entry) {
  return reinterpret_cast<const unsigned char *>(entry) + DLOCK_IMAGE_OFFSET;
}

inline constexpr int DLOCK_BLOCK_ENTRIES = 10;
inline constexpr int DLOCK_INLINE_SLOTS = 8;

struct DLOCK_INDEX;  // key index (dlock_index.cc)

// The store header (made by the first put, freed with the table session).
struct DLOCK_HDR {
  std::uint32_t start;         // ids of the generation are start + 1, start + 2, ...
  std::uint32_t count;         // entries stored in the generation
  std::uint32_t slots;         // block pointers in the block array
  std::uint32_t image_length;  // the table's delayed-lock offset
  std::uint32_t entry_size;    // image length + 9, rounded up to a multiple of 4
  std::uint32_t reset;         // 1 after a release: the next put starts a generation
  std::uint32_t cr_id;         // commit-resistant id, 0 for none
  unsigned char *saved_row;    // the commit-resistant image kept across a release
  DLOCK_INDEX *index;          // key index of the generation, or null
  unsigned char **blocks;      // inline_blocks or a grown array
  unsigned char *inline_blocks[DLOCK_INLINE_SLOTS];
  const DD_KEY *key;           // index 1, or null when rows are not matched by key
};

// The delayed-lock part of a table session. The table session fills the
// owner fields when it is made and calls rm_dlock before it is freed.
struct ZDB_DLOCK {
  DLOCK_HDR *store = nullptr;       // made by the first put
  const DD_TABLE *table = nullptr;
  std::uint16_t compnr = 0;         // physical company number (traces)
  ZDB_TRANS *trans = nullptr;       // owner of the memory group
};

// ---- the store itself (dlock_store.cc); errors are left in zdb_errno ----

// Stores the row's image (the bytes before the delayed-lock offset) and
// returns its id: a new id, or the id of the entry whose key equals the
// row's key, whose image is then replaced. -1 on failure (517).
int dlock_store_put(ZDB_DLOCK *dlock, const unsigned char *row);
// dlock_store_put, and the id becomes the store's commit-resistant id.
int dlock_store_put_commit_resistant(ZDB_DLOCK *dlock, const unsigned char *row);
// Makes first_id the next id: 0, or -1 (102 below 1, 215 without a store
// or while the generation holds entries).
int dlock_store_init_offset(ZDB_DLOCK *dlock, int first_id);
// The entry of an id of the current generation, or null with 206.
DLOCK_ENTRY *dlock_store_get(ZDB_DLOCK *dlock, int id);
// dlock_store_get for a delete or update of `row`: an entry whose key differs
// from the row's key is not the row's (an id from before a restart of the
// numbering), and is refused as not found with 206.
DLOCK_ENTRY *dlock_store_get_of(ZDB_DLOCK *dlock, int id, const unsigned char *row);
// Replaces the entry's image with the row's and marks it updated; 0, or -1
// with 215 when the entry is not in the key index.
int dlock_store_update(ZDB_DLOCK *dlock, DLOCK_ENTRY *entry, const unsigned char *row);
// For an id below 1 a new put; else the entry of the id takes the row and
// loses its updated mark. The id, or -1.
int dlock_store_put_fixed(ZDB_DLOCK *dlock, const unsigned char *row, int id);
// The id of the entry whose key equals the row's key, else 0.
int dlock_store_find(const ZDB_DLOCK *dlock, const unsigned char *row);
// Ends the generation: the commit-resistant image is saved, start moves past
// the ids handed out, and the next put starts afresh.
void dlock_store_release(ZDB_DLOCK *dlock);
// Drops every pointer into the transaction's memory group, which was freed;
// the next put starts a generation.
void dlock_store_forget_memory(ZDB_DLOCK *dlock);
// Releases and frees the store (the table session goes).
void dlock_store_remove(ZDB_DLOCK *dlock);
// Key hash of a row image: CRC-32 over the key columns of index 1.
std::uint32_t dlock_key_hash(const DD_KEY *key, const unsigned char *row);

// ---- transactions (dlock_trans.cc) ----

// The memory group of the transaction's stores, reserved on first need;
// -1 with 517 when no group can be reserved.
int dlock_trans_group(ZDB_TRANS *trans);
// A store that holds memory of its transaction's group joins (leaves) the
// transaction's list, which transaction end walks. The last store to leave
// gives the group back.
void dlock_trans_join(ZDB_DLOCK *dlock);
void dlock_trans_leave(ZDB_DLOCK *dlock);
// Ends the delayed locks of a transaction after a commit (action 1), an
// abort (3) or a stop (0): releases every store, frees the memory group,
// forgets commit-resistant ids after an abort and stores commit-resistant
// rows again under their ids after a commit. Returns 0.
int dlock_on_transaction_end(ZDB_TRANS *trans, int action);

// ---- the calls by internal cursor and table session (dlock_api.cc) ----

DLOCK_ENTRY *get_dlock_row(ZDB_TABLE_SESSION *tsession, int id);
DLOCK_ENTRY *get_dlock_row_of(ZDB_TABLE_SESSION *tsession, int id, const unsigned char *row);
int dlock_update_row(ZDB_INTERNAL_CURSOR *icursor, DLOCK_ENTRY *entry, const unsigned char *row);
int put_dlock_row_fixed(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row, int id);
// put_dlock_row for an internal cursor of the library's own, known to be
// alive (no handle check): the id, or -1.
int dbc_put_dlock_row(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row);
int isRowDelayedLocked(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row);
void release_dlock(ZDB_TABLE_SESSION *tsession);
void rm_dlock(ZDB_TABLE_SESSION *tsession);

// ---- what these calls need of the cursor module ----

// The delayed-lock part of an internal cursor's table session, or of a table
// session; null for a cursor that is not valid.
ZDB_DLOCK *dbc_icursor_dlock(ZDB_INTERNAL_CURSOR *icursor);
ZDB_DLOCK *dbc_table_session_dlock(ZDB_TABLE_SESSION *tsession);
// The company number in the company bind, or in the row without binds.
int get_compnr_from_bind(ZDB_CURSOR *cursor);
// The cursor's default company number, -1 without a cursor.
int zdb_compnr_from_cursor(ZDB_CURSOR *cursor);
const char *get_table_name_from_maincursor(ZDB_CURSOR *cursor);
int zdb_get_internal_cursor(ZDB_INTERNAL_CURSOR **result, ZDB_CURSOR *cursor, int compnr);
// Clears the lock state of every per-company record on the session's table
// sessions; with `release` set also releases their delayed-lock stores.
int release_session_locks(ZDB_SESSION *session, int release);
