// Cursors: zdb_open and zdb_close, the table of open cursor handles, the
// default company number, and the exported bind conversions. A cursor owns
// its binds; its chains of internal cursors per company are opened on first
// use (zdb_icursor.cc).
#include "dbc/cursor/zdb_cursor.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>

#include <molvane/dd.h>
#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_guard.h"
#include "dbc/zdb_msg.h"
#include "platform/log.h"

extern "C" int zdb_errno;

// Made by zdb_bind.cc: one bind from a host descriptor. 0, or -1 with 503 or
// 504.
int zdb_make_bind(const DD_TABLE *table, const ZDB_HOST_BIND &desc, int index, ZDB_BIND *bind);

namespace {

constexpr int kDebugOpenClose = 128;

bool trace_open_close() { return dbc_state().debug >= kDebugOpenClose; }

bool valid_compnr(int compnr) { return compnr >= 0 && compnr <= 999; }

// The cursor handles of the process: those open, and those zdb_logoff
// closed, so that a call given one of these can say so. A handle is read
// only while it is open. Never freed, so that a host's cursor closed by a
// static destructor still finds the table.
struct CursorHandles {
  std::unordered_set<const ZDB_CURSOR *> open;
  std::unordered_set<const ZDB_CURSOR *> closed_at_logoff;
};

CursorHandles &handles() {
  static auto *table = new CursorHandles;
  return *table;
}

// Refuses a company number outside 0..999 with 519 and a message that
// names it and the table; `none_allowed` lets -1 (and 0xFFFF) through as
// "no default company".
int check_compnr(const char *table, int compnr, bool none_allowed) {
  if (valid_compnr(compnr) || (none_allowed && (compnr == -1 || compnr == 0xFFFF))) return 0;
  zdb_error(ZE_ILLEGAL_COMPNR);
  set_zdb_msg("Illegal company number %d for %.8s: a company number lies from 0 to 999%s", compnr,
              table, none_allowed ? " (-1 for none)" : "");
  return -1;
}

void unlink_cursor(ZDB_CURSOR *cursor) {
  if (cursor->trans == nullptr) return;
  for (ZDB_CURSOR **p = &cursor->trans->cursors; *p != nullptr; p = &(*p)->next) {
    if (*p == cursor) {
      *p = cursor->next;
      cursor->next = nullptr;
      return;
    }
  }
}

// The row offset of the company-number field (_compnr) behind _dlock.
int compnr_offset(const DD_TABLE *table) { return table->dlock_offset + 4; }

// The company bind as a bind of one element on a 2-byte field of its own.
ZDB_BIND field_bind(const ZDB_BIND &bind) {
  ZDB_BIND one = bind;
  one.row_offset = 0;
  one.depth = 1;
  if (one.column_element > 2) one.column_element = 2;
  if (one.length > 2) one.length = 2;
  return one;
}

}  // namespace

static int zdb_open_unguarded(ZDB_CURSOR **result, const char *table_name, int compnr,
                              void *binds, int count, int trans_id) {
  if (result != nullptr) *result = nullptr;
  if (table_name == nullptr || table_name[0] == '\0') {
    zdb_error(ZE_ILLEGAL_STATE);
    log_mesg(__FILE__, __LINE__, "No table-name", 0, "No table-name specified");
    set_zdb_msg_logged(nullptr, 0,
                       "No table-name specified: zdb_open was given %s; pass the name of a table "
                       "of the data dictionary (8 characters, such as \"mybok010\")",
                       table_name == nullptr ? "a null table name" : "an empty table name");
    return -1;
  }
  if (!dd_ready_for("zdb_open")) return -1;
  zdb_errno = 0;
  const DD_TABLE *table = dd_table_or_throw(table_name);
  if (table == nullptr && zdb_errno == ZE_DD_CORRUPT) {
    // The dump is there but does not load: the loader's "Dictionary dump
    // <file>, line <n>: <what>" is in the message text already.
    log_mesg(__FILE__, __LINE__, "DD", 0, "Dictionary of %s damaged", table_name);
    return -1;
  }
  if (table == nullptr) {
    zdb_error(ZE_NO_DD);
    log_mesg(__FILE__, __LINE__, "No DD", 0, "No DD found for %s", table_name);
    reset_zdb_msg();
    dd_name_missing_table(table_name);
    return -1;
  }
  ZDB_TRANS *trans = zdb_get_trans_by_id(trans_id);
  if (trans == nullptr) return -1;
  if (result == nullptr || count < 0 || (count > 0 && binds == nullptr)) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    set_zdb_msg("zdb_open of %.8s: %s", table->name,
                result == nullptr ? "no place for the cursor (a null ZDB_CURSOR **)"
                : count < 0       ? "a negative number of binds"
                                  : "binds are counted but their address is null");
    return -1;
  }
  if (check_compnr(table->name, compnr, true) != 0) return -1;

  std::unique_ptr<ZDB_CURSOR> cursor(new (std::nothrow) ZDB_CURSOR);
  if (!cursor) {
    zdb_error(ZE_MEMORY);
    return -1;
  }
  cursor->table = table;
  cursor->trans = trans;
  cursor->default_compnr = static_cast<std::int16_t>(compnr);
  if (count > 0) {
    // Everything made here is freed again when a descriptor is refused.
    std::unique_ptr<ZDB_BIND[]> made(new (std::nothrow) ZDB_BIND[count]);
    if (!made) {
      zdb_error(ZE_MEMORY);
      return -1;
    }
    const auto *descs = static_cast<const ZDB_HOST_BIND *>(binds);
    for (int i = 0; i < count; ++i) {
      if (zdb_make_bind(table, descs[i], i, &made[i]) != 0) return -1;
      if (made[i].row_offset == compnr_offset(table)) cursor->company_bind = &made[i];
    }
    cursor->binds = made.release();
    cursor->bind_count = count;
  } else {
    cursor->host_row = binds;
  }

  try {
    zdb_register_cursor(cursor.get());
  } catch (const std::bad_alloc &) {
    delete[] cursor->binds;
    throw;
  }
  cursor->next = trans->cursors;
  trans->cursors = cursor.get();
  if (trace_open_close())
    std::fprintf(stderr, "zdb_open       on %8s company %03d (cursor %08x)\n", table->name, compnr,
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(cursor.get())));
  *result = cursor.release();
  return 0;
}

int zdb_open(ZDB_CURSOR **result, const char *table_name, int compnr, void *binds, int count,
             int trans_id) {
  return zdb_api_call(
      [&] { return zdb_open_unguarded(result, table_name, compnr, binds, count, trans_id); });
}

void zdb_register_cursor(const ZDB_CURSOR *cursor) {
  handles().open.insert(cursor);
  handles().closed_at_logoff.erase(cursor);
}

void zdb_unregister_cursor(const ZDB_CURSOR *cursor) { handles().open.erase(cursor); }

int zdb_check_cursor(const ZDB_CURSOR *cursor, const char *call) {
  if (cursor != nullptr && handles().open.count(cursor) != 0) return 0;
  zdb_error(ZE_BAD_CURSOR);
  // The refusal is the whole message, also of a call that only reads.
  reset_zdb_msg();
  if (cursor == nullptr) {
    set_zdb_msg_logged(call, 0, "No cursor: %s was given a null cursor", call);
  } else if (handles().closed_at_logoff.count(cursor) != 0) {
    set_zdb_msg_logged(call, 0,
                       "The cursor was closed at logoff: zdb_logoff closes every open cursor, "
                       "and %s cannot use it any more",
                       call);
  } else {
    set_zdb_msg_logged(call, 0,
                       "Not an open cursor: %s was given a cursor that zdb_close has closed or "
                       "that zdb_open never returned",
                       call);
  }
  return -1;
}

int zdb_close_cursor(ZDB_CURSOR *cursor, bool at_logoff) {
  if (trace_open_close())
    std::fprintf(stderr, "zdb_close      on %8s             (cursor %08x)\n", cursor->table->name,
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(cursor)));
  while (ZDB_INTERNAL_CURSOR *head = cursor->heads) {
    cursor->heads = head->next_head;
    head->next_head = nullptr;
    if (zdb_close_internal(head) != 0) return -1;
  }
  unlink_cursor(cursor);
  zdb_unregister_cursor(cursor);
  if (at_logoff) {
    try {
      handles().closed_at_logoff.insert(cursor);
    } catch (const std::bad_alloc &) {
      // Not remembered: a later call calls the handle not open, still
      // without reading it.
    }
  }
  delete[] cursor->binds;
  delete cursor;
  return 0;
}

int zdb_close(ZDB_CURSOR *cursor) {
  return zdb_api_call([&] {
    if (zdb_check_cursor(cursor, "zdb_close") != 0) return -1;
    return zdb_close_cursor(cursor, false);
  });
}

int zdb_set_default_compnr(ZDB_CURSOR *cursor, int compnr) {
  return zdb_api_call([&] {
    if (zdb_check_cursor(cursor, "zdb_set_default_compnr") != 0) return -1;
    if (check_compnr(cursor->table->name, compnr, false) != 0) return -1;
    cursor->default_compnr = static_cast<std::int16_t>(compnr);
    return 0;
  });
}

// Only reads: the message of the call before stays, unless the cursor is
// refused.
int zdb_get_default_compnr(ZDB_CURSOR *cursor) {
  if (zdb_check_cursor(cursor, "zdb_get_default_compnr") != 0) return -1;
  return zdb_compnr_from_cursor(cursor);
}

int zdb_compnr_from_cursor(ZDB_CURSOR *cursor) {
  return cursor != nullptr ? cursor->default_compnr : -1;
}

const char *get_table_name_from_maincursor(ZDB_CURSOR *cursor) {
  return cursor != nullptr && cursor->table != nullptr ? cursor->table->name
                                                       : "<Unknown table name>";
}

unsigned char *zdb_bind_to_buf(ZDB_CURSOR *cursor, unsigned char *row) {
  return zdb_api_call_or<unsigned char *>(nullptr, [&]() -> unsigned char * {
    if (zdb_check_cursor(cursor, "zdb_bind_to_buf") != 0) return nullptr;
    if (cursor->bind_count == 0) return static_cast<unsigned char *>(cursor->host_row);
    if (row == nullptr) return nullptr;
    zdb_binds_to_row(cursor->binds, cursor->bind_count, row);
    return row;
  });
}

int zdb_buf_to_bind(ZDB_CURSOR *cursor, const unsigned char *row) {
  return zdb_api_call([&] {
    if (zdb_check_cursor(cursor, "zdb_buf_to_bind") != 0) return -1;
    if (row != nullptr) zdb_row_to_binds(cursor->binds, cursor->bind_count, row);
    return 0;
  });
}

int get_compnr_from_bind(ZDB_CURSOR *cursor) {
  if (cursor == nullptr) return 0xFFFF;
  if (cursor->bind_count > 0) {
    if (cursor->company_bind == nullptr) return 0xFFFF;
    unsigned char field[2] = {0xFF, 0xFF};
    ZDB_BIND bind = field_bind(*cursor->company_bind);
    zdb_binds_to_row(&bind, 1, field);
    return (field[0] << 8) | field[1];
  }
  if (cursor->host_row == nullptr) return 0xFFFF;
  const auto *row = static_cast<const unsigned char *>(cursor->host_row) + compnr_offset(cursor->table);
  return (row[0] << 8) | row[1];
}

void put_compnr_in_bind(ZDB_CURSOR *cursor, int compnr) {
  if (cursor == nullptr) return;
  unsigned char field[2] = {static_cast<unsigned char>(compnr >> 8),
                            static_cast<unsigned char>(compnr)};
  if (cursor->bind_count > 0) {
    if (cursor->company_bind != nullptr) {
      ZDB_BIND bind = field_bind(*cursor->company_bind);
      zdb_row_to_binds(&bind, 1, field);
    }
    return;
  }
  if (cursor->host_row == nullptr) return;
  std::memcpy(static_cast<unsigned char *>(cursor->host_row) + compnr_offset(cursor->table), field, 2);
}

int col_compare(const unsigned char *a, const unsigned char *b, DD_COLUMN *column) {
  DD_COLUMN *list[2] = {column, nullptr};
  return zdb_compare_cols(a, b, list);
}
