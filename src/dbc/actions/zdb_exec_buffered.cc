// The buffered row actions: insert, delete and update become action
// records in the table's row data set (deletes and updates carry the image
// kept under the row's delayed-lock id, so that the driver refuses a change
// to a row that changed meanwhile); reference-counter changes merge per key
// in the second row data set; a refresh repeats the last image. The records
// leave at the next flush, or at once when the host flags ask for it.
#include <cstdio>
#include <cstring>
#include <vector>

#include <molvane/zdb.h>
#include <molvane/zdb_dlock.h>

#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/request/rds.h"
#include "dbc/refs/refs.h"
#include "dbc/dict/row_print.h"
#include "dbc/setread/ssts.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

constexpr int kDebugDlock = 4;
constexpr int kNoRecord = 111;
// Host flags that leave at once; an insert and a delete drop two each.
constexpr std::uint32_t kInsertDrops = 0x1000 | 0x4000;
constexpr std::uint32_t kDeleteDrops = 0x2000 | 0x8000;
constexpr std::uint32_t kFlushBits = 0x40F000;

bool tracing() { return (dbc_state().debug & ZDB_DEBUG_REQUESTS) != 0; }

const DD_TABLE *table_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->key->table; }
bool has_audit(const ZDB_INTERNAL_CURSOR *ic) { return ic->company->audit != nullptr; }
ZDB_TRANS *trans_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->session->trans; }

void put_u32(unsigned char *p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// One action record: kind, flags, then the column part of the row image.
class Record {
 public:
  Record(const DD_TABLE *table, std::uint32_t kind, std::uint32_t flags, const unsigned char *row)
      : bytes_(ZDB_ACTION_HEADER + table->dlock_offset) {
    put_u32(bytes_.data(), kind);
    put_u32(bytes_.data() + 4, flags);
    std::memcpy(bytes_.data() + ZDB_ACTION_HEADER, row, table->dlock_offset);
  }
  void set_kind(std::uint32_t kind) { put_u32(bytes_.data(), kind); }
  void set_flags(std::uint32_t flags) { put_u32(bytes_.data() + 4, flags); }
  const unsigned char *data() const { return bytes_.data(); }

 private:
  std::vector<unsigned char> bytes_;
};

// Stores a record; `flush_flags` decides the flush by the mask (0 never).
int store(ZDB_INTERNAL_CURSOR *ic, const Record &record, std::uint32_t flush_flags, int force) {
  return zdb_do_exec_row(ic, record.data(), flush_flags, force);
}

// True when the last store failed because of one buffered update whose own
// error is `error`.
bool failed_with(const ZDB_INTERNAL_CURSOR *ic, int error) {
  return zdb_errno == ZE_BUFFERED_UPDATE && trans_of(ic)->detail_error == error;
}

void set_bit(std::uint32_t *flags, std::uint32_t bit, bool on) {
  if (on) *flags |= bit; else *flags &= ~bit;
}

// The host flags as the reference work after the action sees them: the
// flush bits are spent.
std::uint32_t spent(std::uint32_t flags) {
  return (flags & ZDB_HF_FLUSH) ? (flags & ~kFlushBits) | ZDB_HF_FLUSH
                                : flags & ~(kFlushBits | ZDB_HF_FLUSH);
}

// The table session took a change: it is touched, its set reads break, and
// the open set reads of the table learn of it.
int after_change(ZDB_INTERNAL_CURSOR *ic, unsigned char *row, int code) {
  if (mark_table_touched(ic->tsession, 1) != 0) return -1;
  return ssts_call(SSTS_CHANGED, row, code, ic) != 0 ? -1 : 0;
}

// The kept image of the row's delayed-lock id; null with 517 or 206. An
// update may give the row a new key, so its entry is taken by id alone (a
// stale id still meets the driver's comparison of the kept image).
DLOCK_ENTRY *kept_image(ZDB_INTERNAL_CURSOR *ic, const unsigned char *row, bool key_may_change) {
  const DD_TABLE *table = table_of(ic);
  int id = get_dlock_from_row(table, row);
  if (id < 0) {
    log_mesg(__FILE__, __LINE__, "Delayed lock", 0, "get dlock_id failed (id = %d, cursor = %p)",
             id, static_cast<void *>(ic));
    zdb_error(ZE_ALLOCATION);
    return nullptr;
  }
  DLOCK_ENTRY *entry = key_may_change ? get_dlock_row(ic->tsession, id)
                                      : get_dlock_row_of(ic->tsession, id, row);
  if (entry == nullptr)
    log_mesg(__FILE__, __LINE__, "Delayed lock", 0, "get dlock failed (id = %d, cursor = %p)", id,
             static_cast<void *>(ic));
  return entry;
}

int buffered_insert(ZDB_INTERNAL_CURSOR *ic, unsigned char *row, std::uint32_t flags,
                    int flush_now) {
  const DD_TABLE *table = table_of(ic);
  set_bit(&flags, ZDB_HF_SERVER_REFCNT, !has_audit(ic) && server_updates_refcnt(ic) == 1);
  flags &= ~kInsertDrops;
  if (zdb_action_allowed(ic, PERM_ACTION_INSERT, row) != 0) return -1;
  Record record(table, RDS_ACT_INSERT, flags, row);
  if (zdb_reference_before(ic, nullptr, row, insert_bfrd, flags) != 0) return -1;
  bool skip_after = false;
  if ((flags & ZDB_HF_DUPLICATE_OK) && !(flags & ZDB_HF_SERVER_REFCNT) &&
      table_has_counted_ref(table, flags)) {
    // The driver's answer decides whether the counters change: a duplicate
    // that the host allows leaves them alone.
    flags &= ~ZDB_HF_DUPLICATE_OK;
    record.set_flags(flags);
    if (store(ic, record, flags, 1) != 0) {
      if (!failed_with(ic, ZE_DUPLICATE_VALUE)) return -1;
      zdb_errno = 0;
      skip_after = true;
    }
  } else if (store(ic, record, flags, flush_now) != 0) {
    return -1;
  }
  if (after_change(ic, row, db_insert) != 0) return -1;
  flags = spent(flags);
  return skip_after ? 0 : zdb_reference_after(ic, nullptr, row, insert_bfrd, flags);
}

int buffered_delete(ZDB_INTERNAL_CURSOR *ic, unsigned char *row, std::uint32_t flags,
                    int flush_now) {
  const DD_TABLE *table = table_of(ic);
  set_bit(&flags, ZDB_HF_SERVER_REFCNT, !has_audit(ic) && server_updates_refcnt(ic) == 1);
  set_bit(&flags, ZDB_HF_SERVER_CHECKS,
          !has_audit(ic) && server_checks_runtime(ic, delete_bfrd) == 1);
  flags &= ~kDeleteDrops;
  DLOCK_ENTRY *entry = kept_image(ic, row, false);
  if (entry == nullptr) return -1;
  if (entry->flags & DLOCK_UPDATED) flags |= ZDB_HF_DLOCK_UPDATED;
  std::vector<unsigned char> image(dlock_entry_image(entry),
                                   dlock_entry_image(entry) + table->dlock_offset);
  image.resize(table->row_length, 0);
  if (zdb_action_allowed(ic, PERM_ACTION_DELETE, row) != 0) return -1;
  Record record(table, RDS_ACT_DELETE, flags, image.data());
  if (zdb_reference_before(ic, nullptr, image.data(), delete_bfrd, flags) != 0) return -1;
  bool skip_after = false, stored = false, counters_only = false;
  if (!has_audit(ic)) {
    int whole = cascade_childs_in_server(ic, 1);
    if (whole < 0) return -1;
    if (whole == 1) {
      // The driver deletes the row with everything that cascades from it;
      // the counters of parents it does not hold are still the client's.
      record.set_kind(RDS_ACT_DELETE_WHOLE);
      if (store(ic, record, flags, 0) != 0) return -1;
      stored = true;
      counters_only = true;
    }
  }
  if (!stored) {
    if ((flags & ZDB_HF_NOT_FOUND_OK) && !(flags & ZDB_HF_SERVER_REFCNT) &&
        table_has_counted_ref(table, flags)) {
      flags &= ~ZDB_HF_NOT_FOUND_OK;
      record.set_flags(flags);
      if (store(ic, record, flags, 1) != 0) {
        if (!failed_with(ic, kNoRecord)) return -1;
        zdb_errno = 0;
        skip_after = true;
      }
    } else if (store(ic, record, flags, flush_now) != 0) {
      return -1;
    }
  }
  if (after_change(ic, image.data(), db_delete) != 0) return -1;
  flags = spent(flags);
  if (skip_after) return 0;
  if (counters_only) return zdb_reference_counters_after(ic, image.data(), row, delete_bfrd, flags);
  return zdb_reference_after(ic, image.data(), row, delete_bfrd, flags);
}

int buffered_update(ZDB_INTERNAL_CURSOR *ic, unsigned char *row, std::uint32_t flags,
                    int flush_now) {
  const DD_TABLE *table = table_of(ic);
  ZDB_COMPANY *company = ic->company;
  DLOCK_ENTRY *entry = kept_image(ic, row, true);
  if (entry == nullptr) return -1;
  if (entry->flags & DLOCK_UPDATED) flags |= ZDB_HF_DLOCK_UPDATED;
  std::vector<unsigned char> old(dlock_entry_image(entry),
                                 dlock_entry_image(entry) + table->dlock_offset);
  old.resize(table->row_length, 0);
  if (zdb_action_allowed(ic, PERM_ACTION_UPDATE, old.data()) != 0) return -1;
  const bool check_only = (flags & ZDB_HF_CHECK_CHANGED) != 0;
  if (!check_only) {
    if (std::memcmp(row, old.data(), table->dlock_offset) == 0) {
      if (tracing())
        std::fprintf(stderr, "<-> EXE_ROW_CNTR on cursor %p (%.8s%03d) - row not modified\n",
                     static_cast<void *>(ic), table->name, company->logical);
      return 0;
    }
    if (zdb_action_allowed(ic, PERM_ACTION_UPDATE, row) != 0) return -1;
    set_bit(&flags, ZDB_HF_SERVER_REFCNT, !has_audit(ic) && server_updates_refcnt(ic) == 1);
    set_bit(&flags, ZDB_HF_SERVER_CHECKS,
            !has_audit(ic) && server_checks_runtime(ic, update_bfrd) == 1);
    if (zdb_reference_before(ic, old.data(), row, update_bfrd, flags) != 0) return -1;
  }
  Record before(table, RDS_ACT_UPDATE_OLD, flags, old.data());
  Record after(table, RDS_ACT_UPDATE_NEW, flags, row);
  bool skip_after = false, stored = false, counters_only = false;
  if (!has_audit(ic)) {
    int whole = cascade_childs_in_server(ic, 2);
    if (whole < 0) return -1;
    if (whole == 1) {
      after.set_kind(RDS_ACT_UPDATE_WHOLE);
      if (store(ic, before, 0, 0) != 0 || store(ic, after, flags, 0) != 0) return -1;
      stored = true;
      counters_only = true;
    }
  }
  if (!stored) {
    std::uint32_t mask = 0;
    if (!(flags & ZDB_HF_SERVER_REFCNT)) {
      bool changed = table_has_counted_ref(table, flags, old.data(), row);
      if ((flags & ZDB_HF_NOT_FOUND_OK) && changed) mask |= ZDB_HF_NOT_FOUND_OK;
      if ((flags & ZDB_HF_CHANGED_OK) && changed) mask |= ZDB_HF_CHANGED_OK;
      if ((flags & ZDB_HF_DUPLICATE_OK) && table_has_counted_ref(table, flags))
        mask |= ZDB_HF_DUPLICATE_OK;
    }
    if (mask == 0) {
      if (store(ic, before, 0, 0) != 0 || store(ic, after, flags, flush_now) != 0) return -1;
    } else {
      flags &= ~mask;
      before.set_flags(flags);
      after.set_flags(flags);
      if (store(ic, before, 0, 0) != 0) return -1;
      if (store(ic, after, flags, 1) != 0) {
        if (!failed_with(ic, kNoRecord)) return -1;
        zdb_errno = 0;
        skip_after = true;
      }
    }
  }
  if (after_change(ic, row, db_update) != 0) return -1;
  std::uint32_t after_flags = spent(flags);
  if (!skip_after &&
      (counters_only
           ? zdb_reference_counters_after(ic, old.data(), row, update_bfrd, after_flags)
           : zdb_reference_after(ic, old.data(), row, update_bfrd, after_flags)) != 0)
    return -1;
  if (check_only) return 0;
  // The kept image becomes the new row, so that the next change of the row
  // in this transaction is compared with what this one wrote.
  if (dbc_state().debug & kDebugDlock) {
    std::fprintf(stderr, "Dlock before copy on table %.8s%03d\n", table->name, company->logical);
    print_row_from_table(table, dlock_entry_image(entry), "  entry");
  }
  return dlock_update_row(ic, entry, row);
}

// A reference-counter change merges into the table's counter row data set.
int buffered_refcount(ZDB_INTERNAL_CURSOR *ic, unsigned char *row, std::uint32_t flags) {
  const DD_TABLE *table = table_of(ic);
  ZDB_UPDATE_HOLDER *holder = ic->company->updates;
  if (holder == nullptr) {
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  if (holder->rds[1] == nullptr && (holder->rds[1] = rds_open_refcount_actions(table)) == nullptr)
    return -1;
  const DD_KEY *key = key_desc(table, 1);
  if (key == nullptr) {
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  int group = 0;
  if (flags & 0x800) group |= static_cast<int>((flags >> 8) & 3);
  if (flags & 0x400) group |= static_cast<int>((flags >> 5) & 0x18);
  RDS *counters = holder->rds[1];
  std::vector<unsigned char> change(counters->row_length + DD_MAX_KEY_LENGTH, 0);
  zdb_extract_key(change.data(), row, key);
  std::size_t key_length = counters->row_length - 8;
  if (table->refcnt_d != nullptr)
    std::memcpy(change.data() + key_length, row + table->refcnt_d->offset, 4);
  if (table->refcnt_u != nullptr)
    std::memcpy(change.data() + key_length + 4, row + table->refcnt_u->offset, 4);
  if (rds_put_group(counters, change.data(), group) != 0) {
    if (zdb_errno == 0) zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  if (mark_table_touched(ic->tsession, 0) != 0) return -1;
  if (flags & ZDB_FLUSH_MASK) return flush_updates(ic->tsession->session);
  return 0;
}

// A refresh repeats the image of the table's last buffered action.
int buffered_refresh(ZDB_INTERNAL_CURSOR *ic, unsigned char *row, std::uint32_t flags) {
  const DD_TABLE *table = table_of(ic);
  std::vector<unsigned char> image(row, row + table->row_length);
  zdb_last_update_image(ic, image.data());
  Record record(table, RDS_ACT_REFRESH, flags, image.data());
  if (store(ic, record, flags, 0) != 0) return -1;
  return mark_table_touched(ic->tsession, 0);
}

}  // namespace

int zdb_exec_buffered(ZDB_INTERNAL_CURSOR *icursor, unsigned char *row, int kind,
                      std::uint32_t flags, int flush_now) {
  switch (kind) {
    case insert_bfrd: return buffered_insert(icursor, row, flags, flush_now);
    case delete_bfrd: return buffered_delete(icursor, row, flags, flush_now);
    case update_bfrd: return buffered_update(icursor, row, flags, flush_now);
    case refcnt_bfrd: return buffered_refcount(icursor, row, flags);
    case refresh_bfrd: return buffered_refresh(icursor, row, flags);
    default:
      zdb_error(ZE_ILLEGAL_ARGUMENT);
      return -1;
  }
}
