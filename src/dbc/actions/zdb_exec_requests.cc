// Single requests of the row and transaction actions and of the SQL layers:
// keyed reads, transaction actions (also on audit sessions), session and
// driver commands, SQL agent packets, and the lock and alteration of a
// table on one session. A request that a driver answers with 513 gets the
// dictionaries it lists and is repeated (zdb_commu_dd caps the repeats).
#include <cctype>
#include <cstdio>
#include <cstring>

#include <molvane/zdb.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/dict/row_print.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/blat.h"
#include "platform/errtext.h"
#include "platform/log.h"
#include "sql/common/table_writes.h"

namespace {

bool tracing() { return (dbc_state().debug & ZDB_DEBUG_REQUESTS) != 0; }

void table_name_for_driver(char out[9], const DD_TABLE *table) {
  std::memcpy(out, table->name, 8);
  out[8] = '\0';
  if (table->mode_bits & DD_MODE_NEW) out[0] = static_cast<char>(std::toupper(out[0]));
}

void print_row(const char *title, const unsigned char *row, std::size_t length) {
  std::fprintf(stderr, "%s", title);
  for (std::size_t i = 0; i < length; ++i) std::fprintf(stderr, "%02x", row[i]);
  std::fprintf(stderr, "\n");
}

int trace_id(const ZDB_SESSION *session) {
  return session->trans != nullptr ? session->trans->id : 0;
}

// Fills the audit values of an EXE_DB_CNTR from the transaction's last
// commit reply when it holds an audit list.
void set_audit_values(ZDB_REQUEST &req, ZDB_TRANS *trans) {
  req.db_cntr.trans = trans;
  if (trans != nullptr && !trans->audit_list.empty())
    std::memcpy(req.db_cntr.audit, trans->audit_values, sizeof req.db_cntr.audit);
}

int send_db_cntr(ZDB_SESSION *session, std::uint32_t action) {
  dbc_request_prepare(EXE_DB_CNTR);
  ZDB_REQUEST &req = dbc_request();
  req.session_id = session->server_session_id;
  req.db_cntr.action = action;
  set_audit_values(req, session->trans);
  const int rc = zdb_commu(session->server);
  // An abort undoes what the transaction wrote, wherever it went: what a
  // query keeps of any table is stale (also when the answer was lost).
  if (static_cast<int>(action & 0xFF) == abort_trans) SQLTableWrites::NoteAll();
  return rc;
}

}  // namespace

int zdb_do_exec_read_eq(ZDB_INTERNAL_CURSOR *icursor, std::uint32_t read_arg, unsigned char *row,
                        std::uint16_t *length, std::size_t capacity,
                        const unsigned char *trace_row, int compnr) {
  if (zdb_cursor_check(icursor) != 0) return -1;
  ZDB_SESSION *session = icursor->tsession->session;
  const DD_TABLE *table = icursor->tsession->key->table;
  if (zdb_attach_on_demand(session->server) != 0) return -1;
  dbc_request_prepare(EXE_ROW_CNTR);
  ZDB_REQUEST &req = dbc_request();
  req.session_id = session->server_session_id;
  table_name_for_driver(req.row_cntr.table, table);
  req.row_cntr.compnr = static_cast<std::uint16_t>(compnr);
  req.row_cntr.read_arg = read_arg;
  req.row_cntr.row = row;
  req.row_cntr.row_len = *length;
  req.row_cntr.row_capacity = capacity;
  if (tracing()) {
    std::fprintf(stderr, "-> EXE_ROW_CNTR on cursor %p (%.8s%03d) arg : %d\n",
                 static_cast<void *>(icursor), table->name, compnr, static_cast<int>(read_arg));
    if (trace_row != nullptr) print_row("Send row : ", trace_row, *length);
  }
  if (zdb_commu_dd(session) != 0) {
    if (tracing()) std::fprintf(stderr, "<- EXE_ROW_CNTR failed errno %d\n", zdb_errno);
    return -1;
  }
  *length = dbc_request().row_cntr.row_len;
  if (tracing()) {
    std::fprintf(stderr, "<- EXE_ROW_CNTR ok\n");
    if (*length > 0)
      print_row("Rcvd row : ", row, *length);
    else
      std::fprintf(stderr, "No row\n");
  }
  return 0;
}

int zdb_do_exec_db(ZDB_SESSION *session, std::uint32_t action) {
  int code = static_cast<int>(action & 0xFF);
  if (tracing())
    std::fprintf(stderr, "-> EXE_DB_CNTR on srv %p s_id %u action (%d)%s\n",
                 static_cast<void *>(session->server), session->server_session_id, code,
                 zdb_db_action(code));
  bool traced = blat_get_state(BLAT_CLASS_TRANSACTION) != 0;
  ZDB_SERVER *server = session->server;
  if (traced && code == commit_trans)
    blat_trans_zdb_commit(trace_id(session), server->host_id, server->pid,
                          session->server_session_id);
  if (traced && code == abort_trans)
    blat_trans_zdb_abort(trace_id(session), server->host_id, server->pid,
                         session->server_session_id);
  if (send_db_cntr(session, action) != 0) {
    if (tracing()) std::fprintf(stderr, "<- EXE_DB_CNTR failed errno %d\n", zdb_errno);
    // The driver that answered 510 itself (its connection stands) ended the
    // transaction, as a driver server does with an idle one: it says why.
    if (zdb_errno == ZE_COMMUNICATION && zdb_server_attached(server)) {
      zdb_note_driver_reason(server, ZE_COMMUNICATION);
      return -1;
    }
    // The reply has no text: the message names the driver, whose log names the file.
    if (zdb_storage_error(zdb_errno)) {
      const SERVER_REC *rec = server->spec != nullptr ? server->spec->server : nullptr;
      set_zdb_msg("%s: %s of driver %s (its log names the file)", zdberrorstr(zdb_errno),
                  zdb_db_action(code), rec != nullptr && rec->name != nullptr ? rec->name : "?");
    }
    return -1;
  }
  if (traced && (code == commit_trans || code == abort_trans))
    blat_threshold_check(BLAT_CLASS_TRANSACTION,
                         code == commit_trans ? BLAT_SLOT_ZDB_COMMIT : BLAT_SLOT_ZDB_ABORT);
  if (tracing()) std::fprintf(stderr, "<- EXE_DB_CNTR ok\n");
  return 0;
}

int zdb_do_audit_exec_db(ZDB_TRANS *trans, std::uint32_t action) {
  trans->audit_list.clear();
  int result = 0, error = 0;
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans) {
    if (!zdb_server_is_audit(s->server)) continue;
    if (!zdb_server_attached(s->server)) {
      if (tracing()) std::fprintf(stderr, "<- EXE_DB_CNTR ok (driver not activated)\n");
      continue;
    }
    std::uint32_t word = result == 0 ? action : db_action_word(abort_trans);
    int code = static_cast<int>(word & 0xFF);
    if (tracing())
      std::fprintf(stderr, "-> EXE_DB_CNTR on (audit)srv %p s_id %u action (%d)%s\n",
                   static_cast<void *>(s->server), s->server_session_id, code,
                   zdb_db_action(code));
    if (send_db_cntr(s, word) != 0 && result == 0) {
      result = -1;
      error = zdb_errno;
    }
  }
  if (result != 0) zdb_error(error);
  return result;
}

int zdb_do_exec_session(ZDB_SESSION *session, std::uint32_t code, const char **msg,
                        std::uint16_t *length) {
  const char *text = msg != nullptr && *msg != nullptr ? *msg : "";
  std::uint16_t len = length != nullptr ? *length : 0;
  if (tracing())
    std::fprintf(stderr, "-> EXE_SESSION on server %p s_id %u code %u msglen %d (%.*s)\n",
                 static_cast<void *>(session->server), session->server_session_id, code, len,
                 static_cast<int>(len), text);
  if (!zdb_server_attached(session->server)) {
    if (code == SESS_RENAME) {
      if (tracing()) std::fprintf(stderr, "<- EXE_SESSION ok (driver not activated)\n");
      return 0;
    }
    // Any other command needs the driver: attach it first.
    if (zdb_attach_on_demand(session->server) != 0) return -1;
  }
  dbc_request_prepare(EXE_SESSION);
  ZDB_REQUEST &req = dbc_request();
  req.session_id = session->server_session_id;
  req.exe.command = code;
  req.exe.msg = text;
  req.exe.msglen = len;
  if (zdb_commu(session->server) != 0) {
    if (tracing()) std::fprintf(stderr, "<- EXE_SESSION error %d\n", zdb_errno);
    return -1;
  }
  if (req.exe.msg != text && msg != nullptr && length != nullptr) {
    *msg = req.exe.msg;
    *length = req.exe.msglen;
  }
  if (tracing())
    std::fprintf(stderr, "<- EXE_SESSION answer len %d (%.*s)\n", req.exe.msglen,
                 static_cast<int>(req.exe.msglen), req.exe.msg != nullptr ? req.exe.msg : "");
  return 0;
}

int zdb_do_exec_server(ZDB_SERVER *server, std::uint32_t code, const char **msg,
                       std::uint16_t *length) {
  if (zdb_attach_on_demand(server) != 0) return -1;
  const char *text = msg != nullptr && *msg != nullptr ? *msg : "";
  std::uint16_t len = length != nullptr ? *length : 0;
  if (tracing())
    std::fprintf(stderr, "-> EXE_SYSTEM on server %p code %u msglen %d (%.*s)\n",
                 static_cast<void *>(server), code, len, static_cast<int>(len), text);
  dbc_request_prepare(EXE_SYSTEM);
  ZDB_REQUEST &req = dbc_request();
  req.exe.command = code;
  req.exe.msg = text;
  req.exe.msglen = len;
  if (zdb_commu(server) != 0) {
    if (tracing()) std::fprintf(stderr, "<- EXE_SYSTEM error %d\n", zdb_errno);
    return -1;
  }
  if (length != nullptr) *length = req.exe.msglen;
  if (msg != nullptr && req.exe.msglen != 0) *msg = req.exe.msg;
  if (tracing())
    std::fprintf(stderr, "<- EXE_SYSTEM answer len %d (%.*s)\n", req.exe.msglen,
                 static_cast<int>(req.exe.msglen), req.exe.msglen ? req.exe.msg : "");
  return 0;
}

int zdb_sql_commu_packets(ZDB_SERVER *server, const char *packets, std::uint32_t length) {
  if (tracing()) std::fprintf(stderr, "-> SQL_MESSAGE\n");
  if (zdb_attach_on_demand(server) != 0) return -1;
  dbc_request_prepare(SQL_MESSAGE);
  ZDB_REQUEST &req = dbc_request();
  req.sql.packets = packets;
  req.sql.length = length;
  return zdb_commu(server);
}

int dbcSessionLockTable(ZDB_SESSION *session, const char *table, int compnr, int lock_type) {
  if (tracing())
    std::fprintf(stderr,
                 "-> LOCK_TABLE: send lock table %s compnr %d lock type %d to server %p session "
                 "id %u\n",
                 table, compnr, lock_type, static_cast<void *>(session->server),
                 session->server_session_id);
  if (zdb_attach_on_demand(session->server) != 0) return -1;
  dbc_request_prepare(EXE_TBL_CNTR);
  ZDB_REQUEST &req = dbc_request();
  req.session_id = session->server_session_id;
  std::snprintf(req.tbl_cntr.table, sizeof req.tbl_cntr.table, "%.8s", table);
  req.tbl_cntr.compnr = static_cast<std::uint16_t>(compnr);
  req.tbl_cntr.action = lock_type == 0 ? 0x6007 : 0x4007;
  req.tbl_cntr.argument = static_cast<std::uint32_t>(lock_type);
  req.tbl_cntr.sequence = 1;
  // Every dictionary the driver lists is sent before the repeat, and the
  // repeats are capped, so a driver that keeps asking cannot hang the host.
  int rc = zdb_commu_dd(session);
  if (tracing()) std::fprintf(stderr, "<- LOCK_TABLE returns %d\n", rc);
  return rc;
}

int dbcSessionAlterTable(ZDB_SESSION *session, const char *table, int compnr, int argument) {
  int saved_mode = get_dd_mode();
  init_dd_mode(3);
  const DD_TABLE *dd = dd_table_or_throw(table);
  std::uint32_t row_length = dd != nullptr ? dd->row_length : 0;
  bool fits = row_length <= DBC_MAX_ROW;
  dbc_request_prepare(ALTER_TABLE);
  ZDB_REQUEST &req = dbc_request();
  if (dd != nullptr && fits && dd->default_row != nullptr)
    std::memcpy(req.alter.row, dd->default_row, row_length);
  init_dd_mode(saved_mode == 3 ? 3 : 1);
  if (dd == nullptr || !fits) {
    log_mesg(__FILE__, __LINE__, "ALTER_TABLE", 0, "%s: %s", table,
             dd == nullptr ? "not in the new dictionary" : "row too long");
    zdb_error(dd == nullptr ? ZE_NO_DD : ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  std::snprintf(req.alter.table, sizeof req.alter.table, "%.8s", table);
  req.alter.compnr = static_cast<std::uint32_t>(compnr);
  req.alter.argument = static_cast<std::uint32_t>(argument);
  req.alter.row_len = row_length;
  req.session_id = session->server_session_id;
  if (tracing())
    std::fprintf(stderr, "-> ALTER_TABLE: send alter table %s compnr %d to server %p session id %u\n",
                 table, compnr, static_cast<void *>(session->server), session->server_session_id);
  if (zdb_attach_on_demand(session->server) != 0) return -1;
  int rc = zdb_commu_dd(session);
  int result = rc == 0 ? static_cast<int>(dbc_request().alter.result) : -1;
  if (tracing()) std::fprintf(stderr, "<- ALTER_TABLE returns %d\n", result);
  return result;
}
