// Table-level reference work: clear_table and drop_table on a table with
// counted or cascading references (a whole-table record for a driver that
// does the work, else row by row with commits between batches), the
// restricting-reference check object with its cache, and the questions on
// how references and indexes meet.
#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_refs.h>

#include "dbc/compnr/compnr.h"
#include "dbc/dict/dd.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/refs/refs.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_guard.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

constexpr int kCounted = 1, kCascade = 2, kNullify = 3, kRestricted = 4;
constexpr std::uint32_t kSkipReferences = 0x400;
constexpr std::uint32_t kServerDoesAll = 0x380000;
constexpr std::uint32_t kBatchCommits = 0x1;
constexpr int kBatch = 50;
constexpr std::uint32_t kRecordClear = 9, kRecordDrop = 10;
constexpr std::size_t kCacheSize = 10;

const DD_TABLE *table_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->key->table; }
int trans_id_of(const ZDB_INTERNAL_CURSOR *ic) {
  ZDB_TRANS *trans = ic->tsession->session->trans;
  return trans != nullptr ? trans->id : 0;
}

bool has_counted_or_cascade(const ZDB_INTERNAL_CURSOR *ic) {
  const ZDB_REFS &refs = ic->company->refs;
  for (const ZDB_REF_ENTRY &e : refs.from)
    if (DD_REFMODE_DELETE(e.ref->mode) == kCounted || DD_REFMODE_UPDATE(e.ref->mode) == kCounted)
      return true;
  for (const ZDB_REF_ENTRY &e : refs.to) {
    int mode = DD_REFMODE_DELETE(e.refby->mode);
    if (mode >= kCounted && mode <= kRestricted) return true;
  }
  return false;
}

void put_u32(unsigned char *p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// The driver does it all: one record for the whole table.
int whole_table_record(ZDB_INTERNAL_CURSOR *ic, int action, std::uint32_t flags) {
  const DD_TABLE *table = table_of(ic);
  flags |= kServerDoesAll;
  std::vector<unsigned char> record(ZDB_ACTION_HEADER + table->dlock_offset, 0);
  put_u32(record.data(), action == drop_table ? kRecordDrop : kRecordClear);
  put_u32(record.data() + 4, flags);
  const bool flush = action == drop_table || (flags & kBatchCommits);
  if (zdb_do_exec_row(ic, record.data(), 0, flush ? 1 : 0) != 0) return -1;
  return 1;
}

// Deletes the table row by row with the reference work of each delete;
// commits after every `kBatch` deletes when asked. 0 or -1; *empty tells
// that there was no row at all.
int delete_rows(ZDB_INTERNAL_CURSOR *ic, bool commits, bool *empty) {
  const DD_TABLE *table = table_of(ic);
  *empty = false;
  int deleted = 0;
  int rc = zdb_exec_row_internal(ic, db_first_locked, 0);
  if (rc != 0 && (zdb_errno == ZE_END_OF_FILE || zdb_errno == ZE_NO_RECORD)) {
    *empty = true;
    zdb_errno = 0;
    return 0;
  }
  while (rc == 0) {
    rc = zdb_exec_row_internal(ic, db_delete_51, 0);
    if (rc != 0) break;
    if (commits && ++deleted % kBatch == 0) {
      rc = zdb_exec_db(commit_trans, trans_id_of(ic));
      if (rc != 0) break;
    }
    rc = zdb_exec_row_internal(ic, db_next_locked, 0);
  }
  if (zdb_errno == ZE_END_OF_FILE || zdb_errno == ZE_NO_RECORD) {
    zdb_errno = 0;
    return 0;
  }
  log_mesg(__FILE__, __LINE__, "clear failed", 0,
           "Clearance of table for clear table failed because of problem during reference "
           "counter update (table: %.8s%03d)",
           table->name, ic->company->logical);
  return -1;
}

}  // namespace

int reference_for_table_oper(ZDB_INTERNAL_CURSOR *icursor, int action, int mode) {
  const auto flags = static_cast<std::uint32_t>(mode);
  if ((flags & kSkipReferences) || references_off(icursor)) return 0;
  if (dbc_build_ref_entries(icursor) != 0) return -1;
  if (!has_counted_or_cascade(icursor)) return 0;
  if (icursor->company->audit == nullptr && server_updates_refcnt(icursor) == 1 &&
      server_checks_runtime(icursor, delete_bfrd) == 1 &&
      cascade_childs_in_server(icursor, 1) == 1)
    return whole_table_record(icursor, action, flags);

  // Bit 0x1 asks for commits between the batches; only a word of exactly 1
  // also ends the clear with a commit or abort of its own (a word with more
  // bits returns at once). Both readings are kept as they are.
  const bool commits = action == drop_table || (flags & kBatchCommits);
  const int trans_id = trans_id_of(icursor);
  bool empty = false;
  int rc = delete_rows(icursor, commits, &empty);
  if (empty) {
    if (commits) zdb_exec_db(abort_trans, trans_id);
    return 0;
  }
  if (action == clear_table && flags != 1) return rc != 0 ? -1 : 1;
  if (rc == 0) {
    if (zdb_exec_db(commit_trans, trans_id) != 0) rc = -1;
  } else {
    int error = zdb_errno;
    zdb_exec_db(abort_trans, trans_id);
    zdb_errno = error;
  }
  if (action == clear_table) return rc != 0 ? -1 : 1;
  return rc != 0 ? -1 : 0;
}

// ---- how indexes cover columns, and reference counters ----

int key_for_cols(const DD_TABLE *table, const std::vector<DD_COLUMN *> &columns) {
  int best = 5;
  for (int i = 1; i <= table->key_count; ++i) {
    const DD_KEY *key = key_desc(table, i);
    if (key == nullptr) continue;
    std::vector<DD_COLUMN *> parts(DD_MAX_LIST + 1, nullptr);
    list_all_columns(key->parts, parts.data());
    parts.resize(static_cast<std::size_t>(get_nr_columns(parts.data())));
    if (parts.size() < columns.size() ||
        !std::equal(columns.begin(), columns.end(), parts.begin()))
      continue;
    int kind = parts.size() == columns.size() ? (key->duplicates ? 2 : 1) : (key->duplicates ? 4 : 3);
    best = std::min(best, kind);
  }
  return best;
}

int zdb_reference_duration(const DD_COLUMN *column, int action) {
  if (action != db_delete && action != db_update) return -1;
  char name[9] = {};
  ddtablename_from_column(column, name);
  const DD_TABLE *table = dd_table_or_throw(name);
  if (table == nullptr) return -1;
  for (int i = 0; i < table->refby_count; ++i) {
    const DD_REFBY &refby = table->refby[i];
    int mode = action == db_delete ? DD_REFMODE_DELETE(refby.mode) : DD_REFMODE_UPDATE(refby.mode);
    if (mode != kCascade && mode != kNullify && mode != kRestricted) continue;
    char child_name[9] = {};
    ddtablename_from_columnname(refby.column_name, child_name);
    const DD_TABLE *child = dd_table_or_throw(child_name);
    const DD_REF *ref = child != nullptr ? ddfrom_ref(refby.column_name) : nullptr;
    if (ref == nullptr) return -1;
    if (key_for_cols(child, dbc_columns_of(ref->column)) == 5) return 1;
  }
  return 0;
}

void init_ref_counts(int markers[2], const DD_COLUMN *column) {
  markers[0] = markers[1] = -1;
  char name[9] = {};
  ddtablename_from_column(column, name);
  const DD_TABLE *table = dd_table_or_throw(name);
  if (table == nullptr) return;
  for (int i = 0; i < table->refby_count; ++i) {
    if (DD_REFMODE_UPDATE(table->refby[i].mode) == kCounted) markers[0] = 0;
    if (DD_REFMODE_DELETE(table->refby[i].mode) == kCounted) markers[1] = 0;
  }
}

// ---- the restricting-reference check object ----

namespace {

struct CheckAnswer {
  std::string table;
  int physical = 0;
  const SERVER_REC *driver = nullptr;
  bool same_driver = false;
  bool counted[2] = {};     // by what - 1
  bool restricted[2] = {};
};

std::deque<CheckAnswer> &answers() {
  static auto *cache = new std::deque<CheckAnswer>;
  return *cache;
}

CheckAnswer *answer_for(ZDB_INTERNAL_CURSOR *ic) {
  const DD_TABLE *table = table_of(ic);
  const std::string name(table->name, strnlen(table->name, 8));
  const int physical = ic->company->physical;
  auto &cache = answers();
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if (it->table == name && it->physical == physical) {
      CheckAnswer hit = *it;
      cache.erase(it);
      cache.push_front(hit);
      return &cache.front();
    }
  }
  if (dbc_build_ref_entries(ic) != 0) return nullptr;
  CheckAnswer a;
  a.table = name;
  a.physical = physical;
  a.driver = get_dbc_read_driver(table->name, physical);
  a.same_driver = a.driver != nullptr;
  for (const ZDB_REF_ENTRY &e : ic->company->refs.to) {
    const std::uint16_t mode = e.refby->mode;
    if ((mode & DD_REFMODE_CONDITIONAL) || (e.flags & ZDB_REF_ENTRY_IGNORED)) continue;
    for (int what = 0; what < 2; ++what) {
      int m = what == 0 ? DD_REFMODE_DELETE(mode) : DD_REFMODE_UPDATE(mode);
      if (m == kCounted) a.counted[what] = true;
      if (m == kRestricted) a.restricted[what] = true;
    }
    char child[9] = {};
    ddtablename_from_columnname(e.refby->column_name, child);
    int child_physical = compnrLogicToPhysic(compnrGetCompnrData(child), e.compnr);
    if (get_dbc_read_driver(child, child_physical) != a.driver) a.same_driver = false;
  }
  cache.push_front(a);
  if (cache.size() > kCacheSize) cache.pop_back();
  return &cache.front();
}

// The row of the cursor's binds (or host row) into the chain's row buffer.
unsigned char *bound_row(ZDB_INTERNAL_CURSOR *ic) {
  ZDB_CURSOR *cursor = ic->cursor;
  if (cursor != nullptr && cursor->bind_count == 0 && cursor->host_row != nullptr)
    return static_cast<unsigned char *>(cursor->host_row);
  zdb_binds_to_row(ic->company->binds, ic->company->bind_count, ic->company->row.data());
  return ic->company->row.data();
}

int read_with_argument(ZDB_INTERNAL_CURSOR *ic, const unsigned char *row, std::uint32_t argument) {
  const DD_TABLE *table = table_of(ic);
  const DD_KEY *key = key_desc(table, 1);
  if (key == nullptr) {
    log_mesg(__FILE__, __LINE__, "Keydesc", 0, "Key description failed");
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  std::vector<unsigned char> buffer(DD_MAX_ROW_LENGTH, 0);
  zdb_extract_key(buffer.data(), row, key);
  auto length = static_cast<std::uint16_t>(_zdb_key_size(key->parts));
  ZDB_INTERNAL_CURSOR *reader = ic->company->read != nullptr ? ic->company->read : ic;
  if (flush_updates(ic->tsession->session) != 0) return -1;
  return zdb_do_exec_read_eq(reader, argument, buffer.data(), &length, buffer.size(), nullptr,
                             ic->company->logical);
}

}  // namespace

ZDBCHKRES *zdbchkres_Construct() { return new (std::nothrow) ZDBCHKRES; }

void zdbchkres_Destruct(ZDBCHKRES *object) { delete object; }

int zdbchkres_Initialize(ZDBCHKRES *object, ZDB_CURSOR *cursor, int what, int compnr, int kind) {
  if (object == nullptr || cursor == nullptr || (what != 1 && what != 2) ||
      (kind != 1 && kind != 2)) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  int number = compnr & 0xFFFF;
  if (number == 0xFFFF) number = zdb_compnr_from_cursor(cursor) & 0xFFFF;
  if (number > 999) {
    log_mesg(__FILE__, __LINE__, "No Compnr", 0, "Unknown compnr %d for '%s'.", number,
             get_table_name_from_maincursor(cursor));
    zdb_error(ZE_ILLEGAL_COMPNR);
    return -1;
  }
  ZDB_INTERNAL_CURSOR *ic = nullptr;
  if (zdb_get_internal_cursor(&ic, cursor, number) != 0) return -1;
  CheckAnswer *answer = answer_for(ic);
  if (answer == nullptr) return -1;
  object->icursor = ic;
  object->what = what;
  object->kind = kind;
  object->same_driver = answer->same_driver;
  object->counted = answer->counted[what - 1];
  object->restricted = answer->restricted[what - 1];
  return 0;
}

int zdbchkres_Execute(ZDBCHKRES *object, const char **text) {
  if (text != nullptr) *text = "";
  if (object == nullptr || object->icursor == nullptr) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  ZDB_INTERNAL_CURSOR *ic = object->icursor;
  const DD_TABLE *table = table_of(ic);
  const bool deleting = object->what == 1;
  unsigned char *row = bound_row(ic);
  auto referenced = [&] {
    zdb_errno = 0;
    if (text != nullptr) *text = deleting ? table->header_d : table->header_u;
    return 1;
  };
  if (object->same_driver) {
    std::uint32_t argument = object->kind == 1 ? (deleting ? 7 : 8) : (deleting ? 3 : 4);
    if (read_with_argument(ic, row, argument) == 0) return 0;
    return zdb_errno == ZE_REF_STILL_REFERENCED ? referenced() : -1;
  }
  if (object->counted && read_with_argument(ic, row, deleting ? 5 : 6) != 0)
    return zdb_errno == ZE_REF_STILL_REFERENCED ? referenced() : -1;
  // Without a counter the row itself is not read below. As its driver
  // would: refuse a user the roles grant no read, and when a condition
  // decides, read the row so that its driver refuses a row they forbid,
  // wherever the children live (a missing row is no refusal).
  if (!object->counted && !perm_super_user()) {
    const int perm = perm_table_permission(table, ic->company->logical, ic->company->physical, nullptr);
    if (perm < PERM_READ) {
      zdb_error(ZE_NO_PERMISSION);
      return -1;
    }
    if (perm == PERM_NEEDS_ROW && read_with_argument(ic, row, 0) != 0) {
      if (zdb_errno != ZE_NO_RECORD) return -1;
      zdb_errno = 0;
    }
  }
  if (!object->restricted && object->kind != 1) return 0;
  if (dbc_build_ref_entries(ic) != 0) return -1;
  for (const ZDB_REF_ENTRY &e : ic->company->refs.to) {
    const std::uint16_t mode = e.refby->mode;
    if ((mode & DD_REFMODE_CONDITIONAL) || (e.flags & ZDB_REF_ENTRY_IGNORED) || e.ref == nullptr)
      continue;
    int m = deleting ? DD_REFMODE_DELETE(mode) : DD_REFMODE_UPDATE(mode);
    if (object->kind != 1 && m != kRestricted) continue;
    const DD_COLUMN *parent_column = dd_column_or_throw(e.ref->ref_column);
    if (parent_column == nullptr) continue;
    std::vector<DD_COLUMN *> list = dbc_columns_of(parent_column);
    list.push_back(nullptr);
    std::vector<unsigned char> key(DD_MAX_ROW_LENGTH, 0);
    zdb_extract_cols(key.data(), row, list.data());
    ZDB_REF_CURSOR *cursor = dbc_acquire_ref_cursor(e.ref->table, e.compnr, trans_id_of(ic), false);
    if (cursor == nullptr) return -1;
    ZDB_INTERNAL_CURSOR *child = dbc_ref_chain(cursor);
    int rc = child == nullptr ? -1
                              : refer_func(child, key.data(), nullptr, dbc_columns_of(e.ref->column),
                                           1, 0);
    int error = zdb_errno;
    dbc_release_ref_cursor(cursor);
    zdb_errno = error;
    if (rc >= 0 || error == ZE_NO_TABLE) continue;
    return error == ZE_REF_STILL_REFERENCED ? referenced() : -1;
  }
  return 0;
}

int zdb_get_refcount(ZDB_CURSOR *cursor, int compnr, const char **text, int argument) {
  return zdb_api_call([&] {
    if (text != nullptr) *text = "";
    if (zdb_check_cursor(cursor, "zdb_get_refcount") != 0) return -1;
    ZDBCHKRES *object = zdbchkres_Construct();
    if (object == nullptr) {
      zdb_error(ZE_MEMORY);
      return -1;
    }
    int rc = zdbchkres_Initialize(object, cursor, argument, compnr, 2);
    if (rc == 0) rc = zdbchkres_Execute(object, text);
    zdbchkres_Destruct(object);
    return rc;
  });
}
