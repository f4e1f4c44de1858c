// The delayed-lock calls by cursor, internal cursor and table session: each
// finds the delayed-lock part of the table session and hands over to the
// store. Also the _dlock field of a row.
#include <molvane/zdb.h>

#include "dbc/cursor/zdb_cursor.h"
#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_guard.h"
#include "platform/log.h"

namespace {

constexpr int kNoCompnr = 0xFFFF;

ZDB_DLOCK *CursorDlock(ZDB_INTERNAL_CURSOR *icursor) {
  ZDB_DLOCK *dlock = icursor != nullptr ? dbc_icursor_dlock(icursor) : nullptr;
  if (dlock == nullptr) zdb_error(ZE_BAD_CURSOR);
  return dlock;
}

ZDB_DLOCK *SessionDlock(ZDB_TABLE_SESSION *tsession) {
  ZDB_DLOCK *dlock = tsession != nullptr ? dbc_table_session_dlock(tsession) : nullptr;
  if (dlock == nullptr) zdb_error(ZE_BAD_CURSOR);
  return dlock;
}

}  // namespace

int zdb_determine_row_cursor(ZDB_INTERNAL_CURSOR **result, ZDB_CURSOR *cursor) {
  return zdb_api_call([&] {
    if (zdb_check_cursor(cursor, "zdb_determine_row_cursor") != 0) return -1;
    if (result == nullptr) {
      zdb_error(ZE_BAD_CURSOR);
      return -1;
    }
    int compnr = get_compnr_from_bind(cursor) & 0xFFFF;
    if (compnr == kNoCompnr) compnr = zdb_compnr_from_cursor(cursor) & 0xFFFF;
    if (compnr == kNoCompnr) {
      log_mesg(__FILE__, __LINE__, "No Compnr", 0, "Unknown compnr for dlock on '%s'.",
               get_table_name_from_maincursor(cursor));
      zdb_error(ZE_ILLEGAL_COMPNR);
      return -1;
    }
    return zdb_get_internal_cursor(result, cursor, compnr);
  });
}

int init_dlock_offset(ZDB_INTERNAL_CURSOR *icursor, int first_id) {
  return zdb_api_call([&] {
    if (zdb_check_internal_cursor(icursor, "init_dlock_offset") != 0) return -1;
    ZDB_DLOCK *dlock = CursorDlock(icursor);
    return dlock != nullptr ? dlock_store_init_offset(dlock, first_id) : -1;
  });
}

int put_dlock_row(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row) {
  return zdb_api_call([&] {
    if (zdb_check_internal_cursor(icursor, "put_dlock_row") != 0) return -1;
    return dbc_put_dlock_row(icursor, row);
  });
}

int dbc_put_dlock_row(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row) {
  ZDB_DLOCK *dlock = CursorDlock(icursor);
  return dlock != nullptr ? dlock_store_put(dlock, row) : -1;
}

int put_commit_resistant_dlock_row(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row) {
  return zdb_api_call([&] {
    if (zdb_check_internal_cursor(icursor, "put_commit_resistant_dlock_row") != 0) return -1;
    ZDB_DLOCK *dlock = CursorDlock(icursor);
    return dlock != nullptr ? dlock_store_put_commit_resistant(dlock, row) : -1;
  });
}

void put_dlock_in_row(const DD_TABLE *table, unsigned char *row, int id) {
  if (table == nullptr || row == nullptr) return;
  unsigned char *p = row + table->dlock_offset;
  const auto v = static_cast<std::uint32_t>(id);
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

int get_dlock_from_row(const DD_TABLE *table, const unsigned char *row) {
  if (table == nullptr || row == nullptr) return 0;
  const unsigned char *p = row + table->dlock_offset;
  return static_cast<int>((std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                          (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]});
}

DLOCK_ENTRY *get_dlock_row(ZDB_TABLE_SESSION *tsession, int id) {
  ZDB_DLOCK *dlock = SessionDlock(tsession);
  if (dlock == nullptr) {
    zdb_error(ZE_NOT_LOCKED);
    return nullptr;
  }
  return dlock_store_get(dlock, id);
}

DLOCK_ENTRY *get_dlock_row_of(ZDB_TABLE_SESSION *tsession, int id, const unsigned char *row) {
  ZDB_DLOCK *dlock = SessionDlock(tsession);
  if (dlock == nullptr) {
    zdb_error(ZE_NOT_LOCKED);
    return nullptr;
  }
  return dlock_store_get_of(dlock, id, row);
}

int dlock_update_row(ZDB_INTERNAL_CURSOR *icursor, DLOCK_ENTRY *entry, const unsigned char *row) {
  ZDB_DLOCK *dlock = CursorDlock(icursor);
  return dlock != nullptr ? dlock_store_update(dlock, entry, row) : -1;
}

int put_dlock_row_fixed(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row, int id) {
  ZDB_DLOCK *dlock = CursorDlock(icursor);
  return dlock != nullptr ? dlock_store_put_fixed(dlock, row, id) : -1;
}

int isRowDelayedLocked(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row) {
  ZDB_DLOCK *dlock = icursor != nullptr ? dbc_icursor_dlock(icursor) : nullptr;
  return dlock != nullptr ? dlock_store_find(dlock, row) : 0;
}

void release_dlock(ZDB_TABLE_SESSION *tsession) {
  if (tsession != nullptr) dlock_store_release(dbc_table_session_dlock(tsession));
}

void rm_dlock(ZDB_TABLE_SESSION *tsession) {
  if (tsession != nullptr) dlock_store_remove(dbc_table_session_dlock(tsession));
}
