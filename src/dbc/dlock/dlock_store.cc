// The delayed-lock store: numbering, blocks and generations.
//
// Entry n of a generation (id start + n + 1) lies in block n / 10 at slot
// n % 10, so an id is found without a search. A put prepares the next free
// slot, copies the image into it and offers it to the key index: a key seen
// before in the generation keeps its first id and takes the new image, and
// the prepared slot stays free for the next put. A release ends the
// generation: start moves past every id handed out, so that ids keep rising
// and an old id is no longer found.
#include <cstdio>
#include <cstring>

#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/dlock/dlock_index.h"
#include "dbc/dict/row_print.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"
#include "platform/mal.h"

namespace {

constexpr int kDebugDlock = 4;  // bit of zdb_debug that traces delayed locks
constexpr int kMaxNesting = 16;

bool Tracing() { return (dbc_state().debug & kDebugDlock) != 0; }

int Fail(int error, const char *format, int value1, int value2 = 0) {
  log_mesg(__FILE__, __LINE__, "dlock", 0, format, value1, value2);
  zdb_error(error);
  return -1;
}

bool ColumnsWithin(DD_COLUMN *const *list, std::uint32_t length, int depth) {
  if (list == nullptr || depth > kMaxNesting) return list == nullptr;
  for (int i = 0; list[i] != nullptr && i < DD_MAX_LIST; ++i) {
    const DD_COLUMN *c = list[i];
    if (c->type == DDT_COMBINED) {
      if (!ColumnsWithin(c->members, length, depth + 1)) return false;
    } else if (std::uint32_t{c->offset} + c->length > length) {
      return false;
    }
  }
  return true;
}

// Index 1 of the table when its columns lie inside the image; an image holds
// only the bytes before the delayed-lock offset, and the key is compared
// there. Without a usable key every put makes its own entry.
const DD_KEY *ImageKey(const DD_TABLE *table, std::uint32_t image_length) {
  const DD_KEY *key = key_desc(table, 1);
  if (key == nullptr) return nullptr;
  if (!ColumnsWithin(key->parts, image_length, 0)) {
    log_mesg(__FILE__, __LINE__, "dlock", LOG_WARNING,
             "Key of %s lies outside the row image; delayed locks are not matched by key",
             table->name);
    return nullptr;
  }
  return key;
}

DLOCK_ENTRY *EntryAt(const DLOCK_HDR *hdr, std::uint32_t n) {
  return reinterpret_cast<DLOCK_ENTRY *>(hdr->blocks[n / DLOCK_BLOCK_ENTRIES] +
                                         std::size_t{n % DLOCK_BLOCK_ENTRIES} * hdr->entry_size);
}

// The entry of an id of the current generation, or null (nothing is set).
DLOCK_ENTRY *Lookup(const DLOCK_HDR *hdr, long long id, bool report) {
  if (hdr == nullptr || hdr->index == nullptr) return nullptr;
  const long long n = id - static_cast<long long>(hdr->start);
  if (n < 1 || n > hdr->count) return nullptr;
  const std::uint32_t block = static_cast<std::uint32_t>(n - 1) / DLOCK_BLOCK_ENTRIES;
  if (block >= hdr->slots || hdr->blocks[block] == nullptr) {
    if (report) std::fprintf(stderr, "Undefined block found (%u)\n", block);
    return nullptr;
  }
  return EntryAt(hdr, static_cast<std::uint32_t>(n - 1));
}

DLOCK_HDR *NewHeader(const DD_TABLE *table) {
  auto *hdr = static_cast<DLOCK_HDR *>(mal_allocater(sizeof(DLOCK_HDR), MAL_ZERO, 0, nullptr));
  if (hdr == nullptr) return nullptr;
  hdr->image_length = table->dlock_offset;
  hdr->entry_size = (hdr->image_length + 12) & ~std::uint32_t{3};
  hdr->key = ImageKey(table, hdr->image_length);
  return hdr;
}

// Starts a generation: empty blocks, a fresh key index in the transaction's
// memory group. Start stays, so ids keep rising.
int StartGeneration(ZDB_DLOCK *dlock) {
  DLOCK_HDR *hdr = dlock->store;
  if (hdr == nullptr) {
    hdr = NewHeader(dlock->table);
    if (hdr == nullptr)
      return Fail(ZE_ALLOCATION, "Allocating Dlock_hdr failed (%d)",
                  static_cast<int>(sizeof(DLOCK_HDR)));
    dlock->store = hdr;
    dlock_trans_join(dlock);
  }
  std::memset(hdr->inline_blocks, 0, sizeof hdr->inline_blocks);
  hdr->blocks = hdr->inline_blocks;
  hdr->slots = DLOCK_INLINE_SLOTS;
  hdr->count = 0;
  hdr->index = nullptr;
  const int group = dlock_trans_group(dlock->trans);
  if (group < 0) return -1;
  hdr->index = dlock_index_new(group, hdr->key);
  if (hdr->index == nullptr)
    return Fail(ZE_ALLOCATION, "Allocating Dlock index failed (%d)",
                static_cast<int>(sizeof(DLOCK_INDEX)));
  hdr->reset = 0;
  return 0;
}

// The free slot for entry number count, with its block (and a grown block
// array) allocated; null on failure.
DLOCK_ENTRY *PrepareSlot(ZDB_DLOCK *dlock) {
  DLOCK_HDR *hdr = dlock->store;
  const int group = hdr->index->group;
  const std::uint32_t block = hdr->count / DLOCK_BLOCK_ENTRIES;
  if (block >= hdr->slots) {
    if (block > 2 * hdr->slots) {
      Fail(ZE_ALLOCATION, "Illegal blocknr %d, nr_block %d.", static_cast<int>(block),
           static_cast<int>(hdr->slots));
      return nullptr;
    }
    const std::size_t size = sizeof(unsigned char *) * 2 * hdr->slots;
    auto **blocks =
        static_cast<unsigned char **>(mal_allocater(size, MAL_ID_POOL | MAL_ZERO, group, nullptr));
    if (blocks == nullptr) {
      Fail(ZE_ALLOCATION, "Allocating Dlock array failed (%d)", static_cast<int>(size));
      return nullptr;
    }
    std::memcpy(blocks, hdr->blocks, sizeof(unsigned char *) * hdr->slots);
    if (hdr->blocks != hdr->inline_blocks) mal_free(hdr->blocks);
    hdr->blocks = blocks;
    hdr->slots *= 2;
  }
  if (hdr->blocks[block] == nullptr) {
    const std::size_t size = std::size_t{hdr->entry_size} * DLOCK_BLOCK_ENTRIES;
    hdr->blocks[block] =
        static_cast<unsigned char *>(mal_allocater(size, MAL_ID_POOL | MAL_ZERO, group, nullptr));
    if (hdr->blocks[block] == nullptr) {
      Fail(ZE_ALLOCATION, "Allocating Dlock block failed (%d)", static_cast<int>(size));
      return nullptr;
    }
  }
  return EntryAt(hdr, hdr->count);
}

}  // namespace

int dlock_store_put(ZDB_DLOCK *dlock, const unsigned char *row) {
  if (dlock == nullptr || dlock->table == nullptr || row == nullptr) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    set_zdb_msg("Illegal argument: a row to keep under a delayed lock is needed, got none");
    return -1;
  }
  if (dlock->store == nullptr || dlock->store->reset || dlock->store->index == nullptr) {
    if (StartGeneration(dlock) != 0) return -1;
  }
  DLOCK_HDR *hdr = dlock->store;
  // Ids travel as signed 32-bit numbers; past the largest only a key kept
  // already can be stored, no id is handed out negative.
  const long long id = static_cast<long long>(hdr->start) + hdr->count + 1;
  if (id > INT32_MAX) {
    if (DLOCK_ENTRY *kept = dlock_index_find(hdr->index, row)) {
      std::memcpy(dlock_entry_image(kept), row, hdr->image_length);
      return static_cast<int>(kept->id);
    }
    log_mesg(__FILE__, __LINE__, "dlock", 0, "Delayed-lock ids exhausted (start %u)", hdr->start);
    zdb_error(ZE_ALLOCATION);
    return -1;
  }

  DLOCK_ENTRY *slot = PrepareSlot(dlock);
  if (slot == nullptr) return -1;
  std::memcpy(dlock_entry_image(slot), row, hdr->image_length);
  slot->id = static_cast<std::uint32_t>(id);
  slot->flags = 0;
  DLOCK_ENTRY *entry = dlock_index_insert(hdr->index, slot);
  if (entry == nullptr)
    return Fail(ZE_ALLOCATION, "Allocating Dlock node failed (%d)",
                static_cast<int>(sizeof(DLOCK_NODE)));
  if (entry == slot)
    ++hdr->count;
  else
    std::memcpy(dlock_entry_image(entry), row, hdr->image_length);

  if (Tracing()) {
    std::fprintf(stderr, "Put dlock id %d (start %d) for %s%03d table %p\n",
                 static_cast<int>(entry->id), static_cast<int>(hdr->start), dlock->table->name,
                 dlock->compnr, static_cast<const void *>(dlock->table));
    print_row_from_table(dlock->table, row, "   row:");
  }
  return static_cast<int>(entry->id);
}

int dlock_store_put_commit_resistant(ZDB_DLOCK *dlock, const unsigned char *row) {
  const int id = dlock_store_put(dlock, row);
  if (id > 0) dlock->store->cr_id = static_cast<std::uint32_t>(id);
  return id;
}

int dlock_store_init_offset(ZDB_DLOCK *dlock, int first_id) {
  if (first_id < 1) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    set_zdb_msg("Illegal argument: delayed-lock ids start at 1, not at %d", first_id);
    return -1;
  }
  DLOCK_HDR *hdr = dlock != nullptr ? dlock->store : nullptr;
  if (hdr == nullptr || (hdr->count > 0 && !hdr->reset)) {
    zdb_error(ZE_ILLEGAL_STATE);
    set_zdb_msg("The next delayed-lock id can be set only after the table kept rows once and "
                "while it keeps none (%s)",
                hdr == nullptr ? "it kept none yet" : "it keeps rows now");
    return -1;
  }
  hdr->start = static_cast<std::uint32_t>(first_id) - 1;
  return 0;
}

DLOCK_ENTRY *dlock_store_get(ZDB_DLOCK *dlock, int id) {
  DLOCK_HDR *hdr = dlock != nullptr ? dlock->store : nullptr;
  DLOCK_ENTRY *entry = hdr != nullptr && !hdr->reset ? Lookup(hdr, id, true) : nullptr;
  if (entry == nullptr) {
    zdb_error(ZE_NOT_LOCKED);
    if (dlock != nullptr && dlock->table != nullptr)
      set_zdb_msg_logged(nullptr, 0,
                         "Record not locked in %.8s%03d: delayed-lock id %d is not in use (read "
                         "the row with a lock or a delayed lock in this transaction first)",
                         dlock->table->name, dlock->compnr, id);
    return nullptr;
  }
  if (Tracing()) {
    std::fprintf(stderr, "Get dlock id %d (start %d) from %s%03d table %p\n", id,
                 static_cast<int>(hdr->start), dlock->table->name, dlock->compnr,
                 static_cast<const void *>(dlock->table));
    print_row_from_table(dlock->table, dlock_entry_image(entry), "   entry:");
  }
  return entry;
}

DLOCK_ENTRY *dlock_store_get_of(ZDB_DLOCK *dlock, int id, const unsigned char *row) {
  DLOCK_ENTRY *entry = dlock_store_get(dlock, id);
  if (entry == nullptr || row == nullptr) return entry;
  const DD_KEY *key = dlock->store->key;
  if (key != nullptr && zdb_compare_key_in_row(dlock_entry_image(entry), row, key) != 0) {
    zdb_error(ZE_NOT_LOCKED);
    set_zdb_msg_logged(nullptr, 0,
                       "Record not locked in %.8s%03d: delayed-lock id %d holds another row "
                       "(the key of the row changed since it was read with a lock)",
                       dlock->table->name, dlock->compnr, id);
    return nullptr;
  }
  return entry;
}

int dlock_store_update(ZDB_DLOCK *dlock, DLOCK_ENTRY *entry, const unsigned char *row) {
  DLOCK_HDR *hdr = dlock != nullptr ? dlock->store : nullptr;
  if (hdr == nullptr || hdr->index == nullptr || entry == nullptr || row == nullptr) {
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  std::memcpy(dlock_entry_image(entry), row, hdr->image_length);
  if (dlock_index_rehash(hdr->index, entry) != 0) {
    log_mesg(__FILE__, __LINE__, "dlock", 0, "Failed to update dlock_row");
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  entry->flags |= DLOCK_UPDATED;
  if (Tracing()) {
    std::fprintf(stderr, "Dlock after copy on table %s%03d\n", dlock->table->name, dlock->compnr);
    print_row_from_table(dlock->table, row, "   row:");
  }
  return 0;
}

int dlock_store_put_fixed(ZDB_DLOCK *dlock, const unsigned char *row, int id) {
  if (id < 1) return dlock_store_put(dlock, row);
  DLOCK_ENTRY *entry = dlock_store_get(dlock, id);
  if (entry == nullptr || dlock_store_update(dlock, entry, row) != 0) return -1;
  entry->flags &= static_cast<std::uint8_t>(~DLOCK_UPDATED);
  return id;
}

int dlock_store_find(const ZDB_DLOCK *dlock, const unsigned char *row) {
  const DLOCK_HDR *hdr = dlock != nullptr ? dlock->store : nullptr;
  if (hdr == nullptr || hdr->reset || hdr->count == 0 || row == nullptr) return 0;
  const DLOCK_ENTRY *entry = dlock_index_find(hdr->index, row);
  return entry != nullptr ? static_cast<int>(entry->id) : 0;
}

void dlock_store_release(ZDB_DLOCK *dlock) {
  DLOCK_HDR *hdr = dlock != nullptr ? dlock->store : nullptr;
  if (hdr == nullptr || hdr->reset || hdr->count == 0) return;
  if (hdr->cr_id != 0) {
    const DLOCK_ENTRY *entry = Lookup(hdr, hdr->cr_id, false);
    if (entry != nullptr) {
      if (hdr->saved_row == nullptr)
        hdr->saved_row =
            static_cast<unsigned char *>(mal_allocater(hdr->image_length + 1, 0, 0, nullptr));
      if (hdr->saved_row != nullptr)
        std::memcpy(hdr->saved_row, dlock_entry_image(entry), hdr->image_length);
      else
        log_mesg(__FILE__, __LINE__, "dlock", 0, "Saving the commit-resistant row failed (%d)",
                 static_cast<int>(hdr->image_length));
    }
  }
  hdr->start += hdr->count;
  hdr->count = 0;
  hdr->reset = 1;
}

void dlock_store_forget_memory(ZDB_DLOCK *dlock) {
  DLOCK_HDR *hdr = dlock != nullptr ? dlock->store : nullptr;
  if (hdr == nullptr) return;
  std::memset(hdr->inline_blocks, 0, sizeof hdr->inline_blocks);
  hdr->blocks = hdr->inline_blocks;
  hdr->slots = DLOCK_INLINE_SLOTS;
  hdr->index = nullptr;
  hdr->start += hdr->count;
  hdr->count = 0;
  hdr->reset = 1;
}

void dlock_store_remove(ZDB_DLOCK *dlock) {
  if (dlock == nullptr || dlock->store == nullptr) return;
  dlock_store_release(dlock);
  dlock_trans_leave(dlock);
  mal_free(dlock->store->saved_row);
  mal_free(dlock->store);
  dlock->store = nullptr;
}
