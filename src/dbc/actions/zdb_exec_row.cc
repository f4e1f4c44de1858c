// Row actions: zdb_exec_row resolves the company and its chain of internal
// cursors; the internal form checks the current-row state and the row lock,
// turns plain reads on a locked table into their delayed twins, masks the
// errors the host flags allow and keeps the state bits; zdb_exec_row_1
// chooses where the action goes: into the row data set as a buffered
// action, to the driver as an equality read on index 1, or to a set read.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_dlock.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/refs/refs.h"
#include "dbc/domain/domain_check.h"
#include "dbc/setread/ssts.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_guard.h"
#include "dbc/zdb_msg.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

constexpr int kNoCompnr = 0xFFFF;
constexpr int kLastClassicCode = 30;

bool tracing() { return (dbc_state().debug & ZDB_DEBUG_REQUESTS) != 0; }

const DD_TABLE *table_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->key->table; }

// The row image of an action: the bound variables copied into the chain's
// row buffer, or the host's own row buffer when the cursor has no binds.
unsigned char *row_of(ZDB_INTERNAL_CURSOR *ic) {
  ZDB_COMPANY *company = ic->company;
  ZDB_CURSOR *cursor = ic->cursor;
  if (cursor != nullptr && cursor->bind_count == 0 && cursor->host_row != nullptr)
    return static_cast<unsigned char *>(cursor->host_row);
  zdb_binds_to_row(company->binds, company->bind_count, company->row.data());
  return company->row.data();
}

// The plain reads 1..19 (odd codes) have delayed twins 31..40.
int add_lock_command(int code) {
  switch (code) {
    case db_first: return db_first_delayed;
    case db_last: return db_last_delayed;
    case db_next: return db_next_delayed;
    case db_prev: return db_prev_delayed;
    case db_gt: return db_gt_delayed;
    case db_ge: return db_ge_delayed;
    case db_eq: return db_eq_delayed;
    case db_curr: return db_curr_delayed;
    case db_lt: return db_lt_delayed;
    case db_le: return db_le_delayed;
    default: return code;
  }
}

bool row_action_known(int code) {
  return std::strcmp(zdb_row_action(code), zdb_row_action(0)) != 0;
}

// How an action changes the current record and position bits.
enum class StateRule { kPositioning, kStepping, kDelete, kWrite, kNone };

StateRule state_rule(int code) {
  switch (code) {
    case 1: case 2: case 3: case 4: case 9: case 10: case 11: case 12: case 13: case 14:
    case 17: case 18: case 19: case 20: case 31: case 32: case 35: case 36: case 37: case 39:
    case 40: case 51: case 52: case 55: case 56: case 57: case 59: case 60:
      return StateRule::kPositioning;
    case 5: case 6: case 7: case 8: case 15: case 16: case 33: case 34: case 38: case 53:
    case 54: case 58:
      return StateRule::kStepping;
    case 21: case 41: case 61:
      return StateRule::kDelete;
    case 23: case 42: case 63: case 64:
      return StateRule::kWrite;
    default:
      return StateRule::kNone;
  }
}

constexpr std::uint8_t kCurrentAndPosition = ZDB_ROW_CURRENT | ZDB_ROW_POSITION;

void update_state(ZDB_COMPANY *company, int code, int result) {
  std::uint8_t &state = company->row_state;
  auto set = [&state] { state |= kCurrentAndPosition; };
  auto clear = [&state] { state &= static_cast<std::uint8_t>(~kCurrentAndPosition); };
  switch (state_rule(code)) {
    case StateRule::kPositioning:
      if (result == 0 || zdb_errno == ZE_NO_PERMISSION) set(); else clear();
      break;
    case StateRule::kStepping:
      if (result == 0 || zdb_errno == ZE_NO_PERMISSION) set();
      else if (zdb_errno != ZE_LOCKED) clear();
      break;
    case StateRule::kDelete:
      // The position stays, so that the next read steps on from the row.
      if (result == 0) state &= static_cast<std::uint8_t>(~ZDB_ROW_CURRENT);
      break;
    case StateRule::kWrite:
      if (result == 0) set();
      break;
    case StateRule::kNone:
      break;
  }
}

// How a write code is carried out as a buffered action.
struct BufferedForm {
  int kind;
  bool classic;       // flags get 0x1
  bool write_dlock;   // the current delayed-lock id goes into the row
  int flush_now;
};

bool buffered_form(int code, BufferedForm *form) {
  switch (code) {
    case db_delete: case db_delete_delayed: *form = {delete_bfrd, true, true, 1}; return true;
    case db_insert: *form = {insert_bfrd, true, false, 1}; return true;
    case db_update: case db_update_delayed: *form = {update_bfrd, true, true, 1}; return true;
    case db_check_row_changed: *form = {update_bfrd, true, true, 1}; return true;
    case db_delete_51: *form = {delete_bfrd, false, false, 0}; return true;
    case db_insert_51: *form = {insert_bfrd, false, false, 0}; return true;
    case db_update_51: *form = {update_bfrd, false, false, 0}; return true;
    case db_refcnt_51: *form = {refcnt_bfrd, false, false, 0}; return true;
    case insert_bfrd: case delete_bfrd: case update_bfrd: case refcnt_bfrd: case refresh_bfrd:
      *form = {code, false, false, 0};
      return true;
    default:
      return false;
  }
}

void mark_used(ZDB_INTERNAL_CURSOR *ic) { ic->tsession->session->idle = 0; }

// An equality read on index 1 of the row's key: pending buffered updates
// leave first, so that the read sees them.
int zdb_exec_read_eq(ZDB_INTERNAL_CURSOR *ic, std::uint32_t read_arg, unsigned char *row) {
  if (flush_updates(ic->tsession->session) != 0) return -1;
  const DD_TABLE *table = table_of(ic);
  const DD_KEY *key = key_desc(table, 1);
  if (key == nullptr) {
    log_mesg(__FILE__, __LINE__, "Key description", 0, "Get key description failed");
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  std::vector<unsigned char> buffer(DD_MAX_ROW_LENGTH, 0);
  zdb_extract_key(buffer.data(), row, key);
  auto length = static_cast<std::uint16_t>(_zdb_key_size(key->parts));
  ZDB_INTERNAL_CURSOR *reader = ic->company->read != nullptr ? ic->company->read : ic;
  if (zdb_do_exec_read_eq(reader, read_arg, buffer.data(), &length, buffer.size(), row,
                          ic->company->logical) != 0)
    return -1;
  std::memcpy(row, buffer.data(), std::min<std::size_t>(length, table->dlock_offset));
  return 0;
}

}  // namespace

int get_compnr_from_row(const DD_TABLE *table, const unsigned char *row) {
  const unsigned char *p = row + table->dlock_offset + 4;
  return (p[0] << 8) | p[1];
}

void put_compnr_in_row(const DD_TABLE *table, unsigned char *row, int compnr) {
  unsigned char *p = row + table->dlock_offset + 4;
  p[0] = static_cast<unsigned char>(compnr >> 8);
  p[1] = static_cast<unsigned char>(compnr);
}

int place_physic_lock(ZDB_INTERNAL_CURSOR *icursor, unsigned char *row) {
  return zdb_exec_read_eq(icursor, 1, row);
}

int zdb_exec_row_1(ZDB_INTERNAL_CURSOR *icursor, unsigned char *row, int action,
                   std::uint32_t flags) {
  if (zdb_cursor_check(icursor) != 0 || zdb_attach_cursor(icursor) != 0) return -1;
  const DD_TABLE *table = table_of(icursor);
  ZDB_COMPANY *company = icursor->company;
  std::uint32_t word = action < insert_bfrd ? row_action_word(action) : 0;
  if ((word & ZDB_AW_DOMAIN_CHECK) && !zdb_dd_check(table, row)) {
    zdb_error(ZE_OUT_OF_RANGE);
    return -1;
  }
  int result;
  BufferedForm form{};
  if (buffered_form(action, &form)) {
    if (action == db_check_row_changed) flags = ZDB_HF_CHECK_CHANGED | ZDB_HF_FLUSH;
    else if (form.classic) flags |= ZDB_HF_FLUSH;
    if (form.write_dlock) put_dlock_in_row(table, row, company->dlock_id);
    result = zdb_exec_buffered(icursor, row, form.kind, flags, form.flush_now);
  } else if (company->index_nr == 1 &&
             (action == db_eq || action == db_eq_locked || action == db_eq_delayed)) {
    result = zdb_exec_read_eq(icursor, action == db_eq_locked ? 1 : 0, row);
    if (result == 0 && action != db_eq) {
      int id = dbc_put_dlock_row(icursor, row);
      if (id < 0) {
        result = -1;
      } else {
        put_dlock_in_row(table, row, id);
        company->dlock_id = id;
      }
    }
    if (result == 0) zdb_set_ssts_curr_info(icursor, row);
  } else {
    result = ssts_call(SSTS_READ, row, action, icursor) != 0 ? -1 : 0;
  }
  mark_used(icursor);
  return result;
}

namespace {

// Reads that look a row up by the key of the current index.
bool keyed_read(int action) {
  switch (action) {
    case db_gt: case db_gt_locked: case db_ge: case db_ge_locked: case db_eq: case db_eq_locked:
    case db_lt: case db_lt_locked: case db_le: case db_le_locked: case db_gt_delayed:
    case db_ge_delayed: case db_eq_delayed: case db_lt_delayed: case db_le_delayed:
    case db_gt_51: case db_ge_51: case db_eq_51: case db_lt_51: case db_le_51:
      return true;
    default:
      return false;
  }
}

// The key values of a keyed read on the current index ("id = 99"), or ""
// for any other action.
std::string key_values(const DD_TABLE *table, const ZDB_COMPANY *company, int action,
                       const unsigned char *row) {
  std::string key;
  for (int k = 0; keyed_read(action) && k < table->key_count; ++k) {
    if (table->keys[k].index_nr != company->index_nr) continue;
    std::vector<DD_COLUMN *> columns;
    for (DD_COLUMN **part = table->keys[k].parts; part != nullptr && *part != nullptr; ++part)
      for (DD_COLUMN *c : dbc_columns_of(*part)) columns.push_back(c);
    key.clear();
    for (DD_COLUMN *c : columns) {
      const char *dot = std::strchr(c->name, '.');
      key += std::string(key.empty() ? "" : ", ") + (dot != nullptr ? dot + 1 : c->name) + " = " +
             dbc_key_text({c}, row + c->offset);
    }
  }
  return key;
}

// Names the table, company and (for a keyed read) the key values of a read
// that found no row, in the message text of the call (get_zdb_msg).
void name_missing_row(const DD_TABLE *table, const ZDB_COMPANY *company, int action,
                      const unsigned char *row) {
  std::string key = key_values(table, company, action, row);
  if (!key.empty()) key = ", key " + key;
  set_zdb_msg_logged(nullptr, 0, "No record found in %.8s%03d (%s on index %d%s)", table->name,
                     company->logical, zdb_row_action(action), company->index_nr, key.c_str());
}

// Names the table, company and index of a read that ran out of rows:
// db_first or db_last on a table (company) without rows, db_next or
// db_prev past the last or the first row.
void name_end_of_rows(const DD_TABLE *table, const ZDB_COMPANY *company, int action) {
  const char *where = "no row further on";
  switch (action) {
    case db_first: case db_first_locked: case db_first_delayed: case db_first_51:
    case db_last: case db_last_locked: case db_last_delayed: case db_last_51:
      where = "the table has no rows in this company";
      break;
    case db_next: case db_next_locked: case db_next_delayed: case db_next_51:
      where = "no row after the current one";
      break;
    case db_prev: case db_prev_locked: case db_prev_delayed: case db_prev_51:
      where = "no row before the current one";
      break;
    default:
      break;
  }
  set_zdb_msg_logged(nullptr, 0, "End of file reached in %.8s%03d (%s on index %d): %s", table->name,
                     company->logical, zdb_row_action(action), company->index_nr, where);
}

// Says what an action lacked: a current row (an update or delete), or a
// position to step from (db_next, db_prev).
void name_missing_current(const DD_TABLE *table, const ZDB_COMPANY *company, int action,
                          bool position) {
  set_zdb_msg_logged(nullptr, 0, "No current record in %.8s%03d: %s needs %s; read a row first",
                     table->name, company->logical, zdb_row_action(action),
                     position ? "a position to step from" : "a current row");
}

}  // namespace

int zdb_exec_row_internal(ZDB_INTERNAL_CURSOR *icursor, int action, std::uint32_t flags) {
  // The complex and read kinds are the driver's own; a host cannot ask for them.
  if (!row_action_known(action) || action > refresh_bfrd) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    set_zdb_msg_logged(nullptr, 0,
                       "Illegal argument: %d is no row action a host can ask for (enum "
                       "ZDB_ROW_ACTION of <molvane/zdb.h>)",
                       action);
    return -1;
  }
  std::uint32_t word = action < insert_bfrd ? row_action_word(action) : 0;
  if (zdb_start() != 0 || zdb_cursor_check(icursor) != 0) return -1;
  ZDB_COMPANY *company = icursor->company;
  const DD_TABLE *table = table_of(icursor);
  const bool no_current = (word & ZDB_AW_NEEDS_CURRENT) && !(company->row_state & ZDB_ROW_CURRENT);
  if (no_current || ((word & ZDB_AW_NEEDS_POSITION) && !(company->row_state & ZDB_ROW_POSITION))) {
    zdb_error(ZE_NO_CURRENT);
    name_missing_current(table, company, action, !no_current);
    return -1;
  }
  unsigned char *row = row_of(icursor);
  const bool table_locked = (company->row_state & ZDB_ROW_TABLE_LOCKED) != 0;
  const bool row_locked = (company->row_state & ZDB_ROW_LOCKED) != 0;

  // A write of the classic codes needs a locked current row; on a locked
  // table the current row is read again with a delayed lock instead.
  if ((word & (ZDB_AW_UPDATE | ZDB_AW_DELETE)) && action <= kLastClassicCode) {
    if (table_locked && !row_locked) {
      std::vector<unsigned char> reread(row, row + table->row_length);
      // The re-read makes its image the current delayed lock, which the
      // write then carries; an update keeps the host's new values.
      if (zdb_exec_row_1(icursor, reread.data(), db_curr_delayed, 0) != 0) return -1;
    } else if (!row_locked && !table_locked) {
      zdb_error(ZE_NOT_LOCKED);
      set_zdb_msg_logged(nullptr, 0,
                         "Record not locked in %.8s%03d: %s needs the current row read with a "
                         "lock (db_eq_locked, db_curr_locked, ...) or the table locked "
                         "(lock_table)",
                         table->name, company->logical, zdb_row_action(action));
      if (tracing())
        std::fprintf(stderr, "<-> EXE_ROW_CNTR on cursor %p (%.8s%03d) action %s - error %d\n",
                     static_cast<void *>(icursor), table->name, company->logical,
                     zdb_row_action(action), ZE_NOT_LOCKED);
      return -1;
    }
  }
  if ((word & ZDB_AW_RETURNS_ROW) && !(word & ZDB_AW_LOCKED_READ) &&
      action <= kLastClassicCode && table_locked) {
    action = add_lock_command(action);
    word = row_action_word(action);
  }
  company->ref_error.clear();

  // A read fills the row only when it succeeds: the host's row (or binds)
  // stay as they were after a failure.
  const bool reads = (word & ZDB_AW_RETURNS_ROW) != 0;
  std::vector<unsigned char> work;
  unsigned char *target = row;
  if (reads) {
    work.assign(row, row + table->row_length);
    target = work.data();
  }
  const auto start = std::chrono::steady_clock::now();
  int result = zdb_exec_row_1(icursor, target, action, flags);
  if (result != 0 && zdb_errno == ZE_NO_RECORD) name_missing_row(table, company, action, row);
  if (result != 0 && zdb_errno == ZE_END_OF_FILE) name_end_of_rows(table, company, action);
  if (result != 0 && zdb_errno == ZE_LOCKED && (word & ZDB_AW_RETURNS_ROW))
    zdb_name_lock_holder(icursor, zdb_row_action(action), key_values(table, company, action, row),
                         static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()));
  if (result != 0 && flags != 0) {
    if ((zdb_errno == ZE_DUPLICATE_VALUE && (flags & ZDB_HF_DUPLICATE_OK)) ||
        (zdb_errno == ZE_NO_RECORD && (flags & ZDB_HF_NOT_FOUND_OK)) ||
        (zdb_errno == ZE_CHANGED && (flags & ZDB_HF_CHANGED_OK))) {
      result = 0;
      zdb_errno = 0;
    }
  }
  if (result == 0 && reads) {
    std::memcpy(row, target, table->dlock_offset + 4);
    if (row == company->row.data()) zdb_row_to_binds(company->binds, company->bind_count, row);
  }
  update_state(company, action, result);
  if (result != 0) return result;
  if (word & ZDB_AW_LOCKED_READ)
    company->row_state |= ZDB_ROW_LOCKED;
  else if (action != db_insert && action != db_check_row_changed)
    company->row_state &= static_cast<std::uint8_t>(~ZDB_ROW_LOCKED);
  return 0;
}

int zdb_action_compnr(ZDB_CURSOR *cursor, int compnr, const char *action_name) {
  int number = compnr & 0xFFFF;
  if (number == kNoCompnr) number = zdb_compnr_from_cursor(cursor) & 0xFFFF;
  if (number != kNoCompnr && number <= 999) return number;
  zdb_error(ZE_ILLEGAL_COMPNR);
  if (number == kNoCompnr)
    set_zdb_msg_logged("No Compnr", 0,
                       "No company number for %s on %.8s: the action passed 0xFFFF and the "
                       "cursor has no default company",
                       action_name, get_table_name_from_maincursor(cursor));
  else
    set_zdb_msg_logged("No Compnr", 0,
                       "Illegal company number %d for %s on %.8s: a company number lies from 0 "
                       "to 999",
                       number, action_name, get_table_name_from_maincursor(cursor));
  return -1;
}

static int zdb_exec_row_unguarded(ZDB_CURSOR *cursor, int action, int flags, int compnr) {
  if (zdb_check_cursor(cursor, "zdb_exec_row") != 0) return -1;
  const int number = zdb_action_compnr(cursor, compnr, zdb_row_action(action));
  if (number < 0) return -1;
  ZDB_INTERNAL_CURSOR *icursor = nullptr;
  if (zdb_get_internal_cursor(&icursor, cursor, number) != 0) return -1;
  ZDB_TRANS *trans = cursor->trans;
  trans->detail_error = 0;
  trans->has_detail_extra = false;
  int result = zdb_exec_row_internal(icursor, action, static_cast<std::uint32_t>(flags));
  if (result != 0) {
    zdb_own_update_error(trans);
    if (zdb_errno == ZE_NO_RECORD && action < insert_bfrd &&
        (row_action_word(action) & ZDB_AW_NEEDS_CURRENT)) {
      // The current row is gone: another session deleted it since it was read.
      zdb_errno = ZE_NO_CURRENT;
      reset_zdb_msg();
      set_zdb_msg_logged(nullptr, 0,
                         "No current record in %.8s%03d: the current row of %s is no longer "
                         "there; read a row first",
                         icursor->tsession->key->table->name, icursor->company->logical,
                         zdb_row_action(action));
    }
  }
  put_compnr_in_bind(cursor, number);
  return result;
}

int zdb_exec_row(ZDB_CURSOR *cursor, int action, int flags, int compnr) {
  return zdb_api_call([&] { return zdb_exec_row_unguarded(cursor, action, flags, compnr); });
}

namespace {

// The chain of the company that a row (or the company bind) names; 0xFFFF
// there takes the cursor's default, or `compnr` when that is given.
int row_chain(ZDB_CURSOR *cursor, int compnr, ZDB_INTERNAL_CURSOR **result) {
  int number = compnr & 0xFFFF;
  if (number == kNoCompnr) return zdb_determine_row_cursor(result, cursor);
  if (number > 999) {
    zdb_error(ZE_ILLEGAL_COMPNR);
    return -1;
  }
  return zdb_get_internal_cursor(result, cursor, number);
}

}  // namespace

int zdb_check_row_dlocked(ZDB_CURSOR *cursor, const unsigned char *row, int compnr) {
  return zdb_api_call([&] {
    if (zdb_check_cursor(cursor, "zdb_check_row_dlocked") != 0) return -1;
    ZDB_INTERNAL_CURSOR *icursor = nullptr;
    if (row == nullptr || row_chain(cursor, compnr, &icursor) != 0) return -1;
    return isRowDelayedLocked(icursor, row);
  });
}

int zdb_retrieve_dlock_row(ZDB_CURSOR *cursor, const unsigned char *row,
                           const unsigned char **image) {
  return zdb_api_call([&] {
    if (image != nullptr) *image = nullptr;
    if (zdb_check_cursor(cursor, "zdb_retrieve_dlock_row") != 0) return -1;
    ZDB_INTERNAL_CURSOR *icursor = nullptr;
    if (row == nullptr || image == nullptr || row_chain(cursor, kNoCompnr, &icursor) != 0)
      return -1;
    al_disable_log_mesg();
    DLOCK_ENTRY *entry = get_dlock_row(icursor->tsession, get_dlock_from_row(cursor->table, row));
    al_enable_log_mesg();
    if (entry == nullptr) return -1;
    *image = dlock_entry_image(entry);
    return 0;
  });
}

int zdb_get_phys_compnr(ZDB_CURSOR *cursor, int compnr) {
  return zdb_api_call([&] {
    ZDB_INTERNAL_CURSOR *icursor = nullptr;
    if (zdb_check_cursor(cursor, "zdb_get_phys_compnr") != 0 ||
        row_chain(cursor, compnr, &icursor) != 0)
      return -1;
    return icursor->company->physical;
  });
}
