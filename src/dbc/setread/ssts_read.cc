// Set reads: the choice of one of the eight sets for a positioning read,
// continuation inside an open set, parse, bind, execute and fetch through
// the sql_* calls, delayed locks of the rows read, break and close, and the
// two host callbacks that put a fetched row into the read's row buffer.
#include <cstdio>
#include <cstring>
#include <string>

#include <molvane/zdb.h>
#include <molvane/zdb_dlock.h>

#include "dbc/session/dbc_settings.h"
#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/setread/row_target.h"
#include "dbc/setread/sql_calls.h"
#include "dbc/setread/ssts.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

constexpr const char *kSource = "\\db\\lib\\dbc\\C_SSTS";
constexpr std::uint32_t kRepeats = 10;
constexpr int kDefaultRows = 3;

// Module state: rows per set.
int g_rows = 0;
int g_default_rows = 0;
bool g_first_call = true;

const DD_TABLE *table_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->key->table; }

bool is_first(int a) { return (a >= 1 && a <= 8) || (a >= 31 && a <= 34) || (a >= 51 && a <= 54); }
bool is_current(int a) { return a == 15 || a == 16 || a == 38 || a == 58; }

// What one read does, by the code within its group.
struct ReadKind {
  int before;            // 0 nothing, 3 lowest, 4 highest, 2 current key
  std::uint32_t direction;
  int set;               // -1: next or previous, chosen by the duplicates flag
  bool next, previous;
};

bool read_kind(int action, ReadKind *kind) {
  int code;
  if (action >= 1 && action <= 20) code = action;
  else if (action >= 51 && action <= 60) code = 2 * (action - 51) + 1;
  else if (action >= 31 && action <= 40) code = 2 * (action - 31) + 1;
  else return false;
  switch ((code + 1) / 2) {
    case 1: *kind = {3, 2, 5, false, false}; return true;    // first
    case 6: *kind = {0, 2, 5, false, false}; return true;    // greater or equal
    case 2: *kind = {4, 4, 3, false, false}; return true;    // last
    case 10: *kind = {0, 4, 3, false, false}; return true;   // less or equal
    case 5: *kind = {0, 2, 2, false, false}; return true;    // greater
    case 9: *kind = {0, 4, 4, false, false}; return true;    // less
    case 7: *kind = {0, 1, 1, false, false}; return true;    // equal
    case 8: *kind = {2, 9, 0, false, false}; return true;    // current row
    case 3: *kind = {2, 10, -1, true, false}; return true;   // next
    case 4: *kind = {2, 12, -1, false, true}; return true;   // previous
    default: return false;
  }
}

// Operator and order of each set.
const char *const kOperator[SSTS_SETS] = {"=", "=", ">", "<=", "<", ">=", ">", "<"};
const char *order_of(int set, bool duplicates) {
  static const char *const kOrder[SSTS_SETS] = {nullptr, nullptr, "ASC", "DESC",
                                                "DESC",  "ASC",   "ASC", "DESC"};
  if (set <= 1) return duplicates ? "ASC" : nullptr;
  return kOrder[set];
}

int ssts_break(SSTS_SET &set) {
  int failed = 0;
  if ((set.state & SSTS_EXECUTED) && set.statement != nullptr &&
      dbc_sql().brk(set.statement) != 0)
    failed = 1;
  set.state = (set.state & ~(SSTS_BOUND | SSTS_EXECUTED | SSTS_FETCHED)) | SSTS_BROKEN;
  set.error = 0;
  return failed;
}

int ssts_close(SSTS_SET &set) {
  int failed = 0;
  if ((set.state & SSTS_PARSED) && set.statement != nullptr && dbc_sql().close(set.statement) != 0)
    failed = 1;
  set.statement = nullptr;
  set.state = SSTS_CLOSED;
  return failed;
}

int rows_per_set() {
  if (g_first_call) {
    int setting = dbc_settings().ssts_set_rows;
    g_default_rows = setting > 0 ? setting : kDefaultRows;
    g_first_call = false;
  }
  if (g_rows == 0) g_rows = g_default_rows;
  return g_rows;
}

// Chooses the set of a read, or continues the open one; null on failure.
SSTS_SET *ssts_select_set(unsigned char *row, int action, ZDB_INTERNAL_CURSOR *icursor) {
  ZDB_COMPANY *company = icursor->company;
  SSTS_INFO &info = company->ssts;
  info.lock_mode = 1;
  if (action >= 2 && action <= 20 && action % 2 == 0) info.lock_mode = 4;
  else if (action >= 31 && action <= 40) info.lock_mode = 2;
  ReadKind kind{};
  if (!read_kind(action, &kind)) {
    log_mesg(kSource, __LINE__, "Illegal q_type", 0, "Qtype (d) %d (o) %o\n", action, action);
    zdb_error(ZE_ILLEGAL_STATE);
    return nullptr;
  }
  if (kind.next || kind.previous) {
    SSTS_SET &last = info.sets[info.current];
    std::uint32_t way = kind.next ? SSTS_DIR_FORWARD : SSTS_DIR_BACKWARD;
    if (last.index == company->index_nr && (info.direction & way) &&
        (last.state & SSTS_EXECUTED) && last.repeat != 0 && last.rows_left >= 1 &&
        last.error != static_cast<std::uint32_t>(ZE_LOCKED)) {
      info.direction |= SSTS_DIR_CONTINUED;
      return &last;
    }
  }
  if (kind.before == 2) {
    if (set_ssts_curr_info(2, icursor, row) != 0) return nullptr;
  } else if (kind.before != 0) {
    if (set_ssts_curr_info(kind.before, icursor, row) != 0) return nullptr;
  }
  int number = kind.set;
  if (number < 0) number = kind.next ? (company->index_dup ? 6 : 2) : (company->index_dup ? 7 : 4);
  info.direction = kind.direction;
  info.current = static_cast<std::int8_t>(number);
  SSTS_SET &set = info.sets[number];
  if (set.index == company->index_nr) {
    if (ssts_break(set) != 0) return nullptr;
  } else {
    int failed = ssts_break(set);
    failed |= ssts_close(set);
    if (failed) return nullptr;
    set.index = company->index_nr;
    set.state = 0;
  }
  return &set;
}

int ssts_fetch(SSTS_SET &set) {
  if (set.error != 0) {
    --set.repeat;
    zdb_errno = static_cast<int>(set.error);
    return 1;
  }
  --set.rows_left;
  if (dbc_sql().fetch(set.statement) == 0) {
    set.state |= SSTS_FETCHED;
    return 0;
  }
  if (zdb_errno == 0) zdb_errno = ZE_NO_RECORD;
  set.error = static_cast<std::uint32_t>(zdb_errno);
  return 1;
}

bool table_locked(const ZDB_INTERNAL_CURSOR *icursor) {
  return (icursor->tsession->flags & ZDB_TS_LOCKED) ||
         (icursor->company->row_state & ZDB_ROW_TABLE_LOCKED);
}

}  // namespace

int ssts_set_rows(int rows) {
  int previous = g_rows;
  g_rows = rows;
  return previous;
}

int ssts_read(unsigned char *row, int action, ZDB_INTERNAL_CURSOR *icursor) {
  // A set read runs SQL in the cursor's transaction: a stopped one is
  // refused here, in the words of a record call.
  if (const ZDB_TRANS *trans = icursor->tsession->session->trans;
      trans != nullptr && zdb_check_trans_id(trans->id) != 0)
    return 1;
  ZDB_COMPANY *company = icursor->company;
  SSTS_INFO &info = company->ssts;
  const DD_TABLE *table = table_of(icursor);
  SSTS_SET *set = ssts_select_set(row, action, icursor);
  if (set == nullptr) return 1;
  const int index = info.current;
  if (!(set->state & SSTS_PARSED)) {
    std::string text;
    if (!ssts_build_select(table, company->index_nr, kOperator[index],
                           order_of(index, company->index_dup != 0), info.direction,
                           rows_per_set(), &text))
      return 1;
    ZDB_TRANS *trans = icursor->tsession->session->trans;
    unsigned long id = trans != nullptr ? static_cast<unsigned long>(trans->id) : 0;
    set->statement = dbc_sql().parse(text.c_str(), id, 3);
    if (set->statement == nullptr) return 1;
    set->state = SSTS_PARSED;
  }
  if (!(set->state & SSTS_BOUND)) {
    if (ssts_bind(set->statement, icursor, row, info.direction) != 0) return 1;
    set->state |= SSTS_BOUND;
  }
  DbcRowTarget target(row, table);
  if (!(set->state & SSTS_EXECUTED)) {
    if (dbc_sql().exec(set->statement, static_cast<short>(company->logical)) != 0) {
      set->error = static_cast<std::uint32_t>(zdb_errno);
      set->rows_left = 0;
      return 1;
    }
    set->action = static_cast<std::uint32_t>(action);
    set->state |= SSTS_EXECUTED;
    set->repeat = kRepeats;
    set->rows_left = rows_per_set();
    set->error = 0;
  }
  for (;;) {
    if (ssts_fetch(*set) != 0) return 1;
    if (info.lock_mode != 4 || table_locked(icursor)) break;
    // A locked read locks each row by its primary key; a row that went
    // meanwhile is passed over.
    if (place_physic_lock(icursor, row) == 0) break;
    if (zdb_errno == ZE_NO_RECORD) continue;
    int error = zdb_errno;
    ssts_break(*set);
    zdb_errno = error;
    return 1;
  }
  if (info.lock_mode == 1) {
    put_dlock_in_row(table, row, 0);
  } else {
    int requested = company->dlock_id;
    int id = put_dlock_row_fixed(icursor, row, requested);
    if (id < 0) {
      std::fprintf(stderr, "put dlock failed (id %d)\n", requested);
      return 1;
    }
    company->dlock_id = id;
    put_dlock_in_row(table, row, id);
  }
  return set_ssts_curr_info(1, icursor, row);
}

int ssts_call(int mode, unsigned char *row, int action, ZDB_INTERNAL_CURSOR *icursor) {
  rows_per_set();
  DbcSqlCallbacks callbacks(dbc_row_create_extvar, dbc_row_put_extvar);
  int result = 0;
  if (mode == SSTS_READ) {
    if (ssts_read(row, action, icursor) != 0) {
      result = 1;
      if (zdb_errno == ZE_NO_RECORD) {
        if (is_first(action)) zdb_errno = ZE_END_OF_FILE;
        else if (is_current(action)) zdb_errno = ZE_NO_CURRENT;
      }
    }
  } else if (mode == SSTS_CHANGED && (action == db_update || action == db_update_delayed ||
                                      action == db_update_51)) {
    if (set_ssts_curr_info(1, icursor, row) != 0) result = 1;
  }
  return result;
}

void zdb_set_ssts_curr_info(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row) {
  icursor->company->ssts.direction = SSTS_DIR_EQUAL;
  set_ssts_curr_info(1, icursor, const_cast<unsigned char *>(row));
}

int break_all_sql_handle(ZDB_INTERNAL_CURSOR *icursor) {
  if (icursor == nullptr || icursor->company == nullptr) return 0;
  int failed = 0;
  for (SSTS_SET &set : icursor->company->ssts.sets) failed |= ssts_break(set);
  return failed;
}

int close_all_sql_handle(SSTS_INFO *info) {
  int failed = 0;
  for (SSTS_SET &set : info->sets) {
    failed |= ssts_break(set);
    failed |= ssts_close(set);
  }
  return failed;
}

int close_all_sql_handle(ZDB_INTERNAL_CURSOR *icursor) {
  if (icursor == nullptr || icursor->company == nullptr) return 0;
  return close_all_sql_handle(&icursor->company->ssts);
}
