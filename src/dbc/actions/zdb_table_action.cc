// Table actions: zdb_exec_table resolves the company and its chain of
// internal cursors and ends what an action leaves open (the audit bracket of
// a create or drop, the flush of a clear inside the transaction, the commit
// or abort of a clear that ends it); the internal form checks permission and
// company mapping, keeps change_order inside the client and sends the rest.
#include <chrono>
#include <cstdio>

#include <molvane/zdb.h>
#include <molvane/zdb_action.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/refs/refs.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_guard.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

const DD_TABLE *table_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->key->table; }

bool needs_permission(int action) {
  return action == create_table || action == clear_table || action == drop_table ||
         action == lock_table;
}

int set_order(ZDB_INTERNAL_CURSOR *ic, const int *argument) {
  const DD_TABLE *table = table_of(ic);
  int index = argument != nullptr ? argument[0] : 0;
  const DD_KEY *key = index > 0 && index < 256 ? key_desc(table, index) : nullptr;
  if (key == nullptr) {
    zdb_error(ZE_ILLEGAL_KEY);
    set_zdb_msg_logged("Wrong order", 0,
                       "Illegal key %d specified for table '%.8s': change_order takes an index "
                       "number that the table's dictionary defines",
                       index, table->name);
    return -1;
  }
  ZDB_COMPANY *company = ic->company;
  company->index_nr = index;
  company->index_dup = key->duplicates;
  company->row_state &= static_cast<std::uint8_t>(~(ZDB_ROW_CURRENT | ZDB_ROW_POSITION));
  return 0;
}

}  // namespace

int zdb_exec_table_internal(ZDB_INTERNAL_CURSOR *icursor, int action, int *argument) {
  if (zdb_start() != 0 || zdb_cursor_check(icursor) != 0 || zdb_attach_cursor(icursor) != 0)
    return -1;
  if (action < create_index || action > upd_statistics) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    set_zdb_msg("Illegal argument: %d is no table action (enum ZDB_TABLE_ACTION of "
                "<molvane/zdb.h>: %d to %d)",
                action, create_index, upd_statistics);
    return -1;
  }
  const DD_TABLE *table = table_of(icursor);
  if (action == nr_rows && argument == nullptr) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    set_zdb_msg("Illegal argument: nr_rows on %.8s has no place for the count (a null argument); "
                "pass the address of an int, which receives the number of rows",
                table->name);
    return -1;
  }
  ZDB_COMPANY *company = icursor->company;
  if (needs_permission(action) && zdb_action_allowed(icursor, action, nullptr) != 0) {
    log_mesg(__FILE__, __LINE__, "check_perm", 0, "Unallowed operation (%s) on '%s'",
             zdb_table_action(action), table->name);
    return -1;
  }
  if (action == drop_table && company->physical != company->logical) {
    zdb_error(ZE_MAPPED_COMPNR);
    set_zdb_msg_logged("compnr", 0,
                       "Unallowed operation (%s) for mapped compnr (%03d mapped to %03d): run it "
                       "on the physical company",
                       zdb_table_action(action), company->physical, company->logical);
    return -1;
  }
  int mode = argument != nullptr ? argument[0] : 0;
  if (action == clear_table || action == drop_table) {
    int handled = reference_for_table_oper(icursor, action, mode);
    if (handled < 0) return -1;
    if (handled > 0) return 0;
  }
  if (action == change_order) return set_order(icursor, argument);

  auto word = static_cast<std::uint32_t>(argument != nullptr ? argument[0] : 0);
  const auto start = std::chrono::steady_clock::now();
  if (zdb_do_exec_table(icursor, table_action_word(action), &word) != 0) {
    if (zdb_errno == ZE_LOCKED)
      zdb_name_lock_holder(icursor, zdb_table_action(action), "",
                           static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - start)
                                                 .count()));
    return -1;
  }
  if (argument != nullptr) argument[0] = static_cast<int>(word);
  if (action == clear_table) return mark_table_touched(icursor->tsession, 1);
  if (action == lock_table) {
    company->row_state |= ZDB_ROW_TABLE_LOCKED;
    icursor->tsession->flags |= ZDB_TS_LOCKED;
    return mark_table_touched(icursor->tsession, 0);
  }
  return 0;
}

static int zdb_exec_table_unguarded(ZDB_CURSOR *cursor, int action, int *argument, int compnr) {
  if (zdb_check_cursor(cursor, "zdb_exec_table") != 0) return -1;
  const int number = zdb_action_compnr(cursor, compnr, zdb_table_action(action));
  if (number < 0) return -1;
  ZDB_INTERNAL_CURSOR *icursor = nullptr;
  if (zdb_get_internal_cursor(&icursor, cursor, number) != 0) return -1;
  ZDB_TRANS *trans = cursor->trans;
  const int mode = argument != nullptr ? argument[0] : 0;
  int result = zdb_exec_table_internal(icursor, action, argument);
  if (result != 0) zdb_own_update_error(trans);
  int error = result != 0 ? zdb_errno : 0;
  auto put_back = [&error] {
    if (error != 0) zdb_errno = error;
  };
  if ((action == create_table || action == drop_table) && icursor->company->audit != nullptr) {
    if (zdb_exec_db(result == 0 ? audit_commit_table_action : audit_abort_table_action,
                    trans->id) != 0)
      result = -1;
    put_back();
  } else if (action == clear_table && mode == 0) {
    if (zdb_flush(trans->id) != 0) {
      zdb_own_update_error(trans);
      result = -1;
    }
    put_back();
  } else if (action == clear_table || action == clr_ref_cnt) {
    if (zdb_exec_db(result == 0 ? commit_trans : abort_trans, trans->id) != 0) result = -1;
    put_back();
  }
  return result;
}

int zdb_exec_table(ZDB_CURSOR *cursor, int action, int *argument, int compnr) {
  return zdb_api_call([&] { return zdb_exec_table_unguarded(cursor, action, argument, compnr); });
}
