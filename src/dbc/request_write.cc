// The request writers, one per request code. Each writes the request code
// byte and the fields of its code from the request block, big-endian, and
// returns 0 or -1. Payloads that other parts of the client own (roles,
// company mapping, audit columns, row data sets, dictionary descriptions)
// are written by their own functions.
#include <cstring>

#include "dbc/request_block.h"
#include "dbc/request_payloads.h"
#include "dbc/request_wire.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_trans.h"
#include "platform/log.h"

namespace {

int put_code(ZDB_REQUEST *req, STREAM *out) {
  return wire_put_u8(out, static_cast<std::uint8_t>(req->code & 0xFF));
}

int write_att_server(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->att_server;
  if (put_code(req, out) || wire_put_u32(out, f.driver_nr) ||
      wire_put_u16(out, ZDB_FILE_FORMAT) || wire_put_u16(out, 2) ||
      wire_put_u32(out, ZDB_SQL_PROTOCOL) ||
      wire_put_text(out, f.user, ZDB_USER_NAME_MAX) ||
      wire_put_text(out, f.compnr_env))
    return -1;
  if (f.no_refs && wire_put_bytes(out, ZDB_NO_REFS, sizeof ZDB_NO_REFS)) return -1;
  return wire_put_text(out, f.server_text);
}

int write_det_server(ZDB_REQUEST *req, STREAM *out) { return put_code(req, out); }

int write_att_session(ZDB_REQUEST *req, STREAM *out) {
  if (put_code(req, out)) return -1;
  return wire_put_text(out, req->att_session.trans_name, ZDB_TRANS_NAME_MAX);
}

int write_det_session(ZDB_REQUEST *req, STREAM *out) {
  if (put_code(req, out) || wire_put_u32(out, req->session_id)) return -1;
  return wire_put_u8(out, 2);
}

int write_tbl_cntr(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->tbl_cntr;
  if (put_code(req, out) || wire_put_u32(out, req->session_id) ||
      wire_put_text(out, f.table, 8) || wire_put_u16(out, f.compnr) ||
      wire_put_u32(out, f.action) || wire_put_u32(out, f.argument))
    return -1;
  return wire_put_u32(out, f.sequence);
}

int write_db_cntr(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->db_cntr;
  if (put_code(req, out) || wire_put_u32(out, req->session_id) ||
      wire_put_u32(out, f.action))
    return -1;
  for (std::uint32_t value : f.audit)
    if (wire_put_u32(out, value)) return -1;
  return 0;
}

// A message length with no message is refused before anything is written.
bool message_ok(ZDB_REQUEST *req) {
  auto &f = req->exe;
  if (f.msglen > 0 && f.msg == nullptr) {
    log_mesg(__FILE__, __LINE__, "Request", 0, "%s: message of %d bytes without data",
             dbc_request_name(req->code), f.msglen);
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return false;
  }
  return true;
}

int put_message(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->exe;
  if (wire_put_u32(out, f.command) || wire_put_u16(out, f.msglen)) return -1;
  return wire_put_bytes(out, f.msg, f.msglen);
}

int write_exe_session(ZDB_REQUEST *req, STREAM *out) {
  if (!message_ok(req)) return -1;
  if (put_code(req, out) || wire_put_u32(out, req->session_id)) return -1;
  return put_message(req, out);
}

int write_exe_system(ZDB_REQUEST *req, STREAM *out) {
  if (!message_ok(req)) return -1;
  if (put_code(req, out)) return -1;
  return put_message(req, out);
}

int write_dd_info(ZDB_REQUEST *req, STREAM *out) {
  if (put_code(req, out) || wire_put_u32(out, req->session_id)) return -1;
  return dbc_write_dd_info(out, req->dd_info.table, req->dd_info.compnr);
}

int write_permission(ZDB_REQUEST *req, STREAM *out) {
  if (put_code(req, out)) return -1;
  return dbc_send_roles(out) < 0 ? -1 : 0;
}

int write_sql_message(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->sql;
  if (f.length > 0 && f.packets == nullptr) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  if (put_code(req, out) || wire_put_u32(out, f.length)) return -1;
  return wire_put_bytes(out, f.packets, f.length);
}

int write_exe_update(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->update;
  if (f.count > 0 && f.tables == nullptr) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  if (put_code(req, out) || wire_put_u32(out, req->session_id) ||
      wire_put_u16(out, f.count))
    return -1;
  for (std::uint16_t i = 0; i < f.count; ++i) {
    const ZDB_UPDATE_TABLE &t = f.tables[i];
    if (wire_put_bytes(out, t.table, sizeof t.table) || wire_put_u16(out, t.compnr))
      return -1;
    if (rds_write_to_sp(t.rds, out) < 0) return -1;
  }
  return 0;
}

int write_row_cntr(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->row_cntr;
  if (f.row_len > 0 && f.row == nullptr) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  if (put_code(req, out) || wire_put_u32(out, req->session_id) ||
      wire_put_text(out, f.table, 8) || wire_put_u16(out, f.compnr) ||
      wire_put_u32(out, f.read_arg) || wire_put_u16(out, f.row_len))
    return -1;
  return wire_put_bytes(out, f.row, f.row_len);
}

int write_send_compnr(ZDB_REQUEST *req, STREAM *out) {
  if (put_code(req, out)) return -1;
  return dbc_send_compnrs(out);
}

int write_auditcols(ZDB_REQUEST *req, STREAM *out) {
  if (put_code(req, out)) return -1;
  return audit_send_auditcols(out) < 0 ? -1 : 0;
}

int write_alter_table(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->alter;
  if (f.row_len > DBC_MAX_ROW) {
    log_mesg(__FILE__, __LINE__, "ALTER_TABLE", 0, "row of %u bytes exceeds %zu",
             f.row_len, DBC_MAX_ROW);
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  if (put_code(req, out) || wire_put_text(out, f.table, 8) ||
      wire_put_u32(out, f.compnr) || wire_put_u32(out, f.argument) ||
      wire_put_u32(out, req->session_id) || wire_put_u32(out, f.row_len))
    return -1;
  return wire_put_bytes(out, f.row, f.row_len);
}

constexpr ZDB_WRITER kWriters[ZDB_REQUEST_COUNT] = {
    write_att_server, write_det_server, write_att_session, write_det_session,
    write_tbl_cntr,   write_db_cntr,    write_exe_session, write_exe_system,
    write_dd_info,    write_permission, write_sql_message, write_exe_update,
    write_row_cntr,   write_send_compnr, write_auditcols,  write_alter_table,
};

}  // namespace

const ZDB_WRITER *client_send_commu_funcs() { return kWriters; }
