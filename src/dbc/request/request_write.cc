// The request writers, one per request code. Each writes the request code
// byte and the fields of its code from the request block, big-endian, and
// returns 0 or -1. Payloads that other parts of the client own (roles,
// company mapping, audit columns, row data sets, dictionary descriptions)
// are written by their own functions.
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "dbc/request/request_block.h"
#include "dbc/request/request_payloads.h"
#include "dbc/request/request_wire.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"

namespace {

// A table name goes out as at most 8 characters and a NUL.
constexpr std::size_t kTableName = 8;
constexpr std::size_t kTableText = kTableName + 1;

// The length of a table name in its array (at most kTableName). The name's
// 8 bytes are read as one word, whose lowest zero byte ends the name: no
// branch per character.
std::size_t table_length(const char (&name)[kTableText]) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t word;
    std::memcpy(&word, name, sizeof word);
    // High bit of each zero byte (bytes above the first zero may be marked
    // too; they are never the lowest).
    const std::uint64_t zeros = (word - 0x0101010101010101u) & ~word & 0x8080808080808080u;
    return zeros != 0 ? static_cast<std::size_t>(std::countr_zero(zeros)) / 8 : kTableName;
  } else {
    std::size_t n = 0;
    while (n < kTableName && name[n] != '\0') ++n;
    return n;
  }
}

// The code byte of a request, first of its fields.
std::uint8_t code_byte(const ZDB_REQUEST *req) { return static_cast<std::uint8_t>(req->code & 0xFF); }

int put_code(ZDB_REQUEST *req, STREAM *out) { return wire_put_u8(out, code_byte(req)); }

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
  WireFields w(out, 1 + 4 + 1);
  w.u8(code_byte(req));
  w.u32(req->session_id);
  w.u8(2);
  return w.done();
}

// The fields that open a request on one table of a session: code byte,
// session id, table name and company number.
constexpr std::size_t kTableHead = 1 + 4 + kTableText + 2;
[[gnu::always_inline]] inline void put_table_head(WireFields &w, const ZDB_REQUEST *req, const char (&table)[kTableText],
                    std::uint16_t compnr) {
  w.u8(code_byte(req));
  w.u32(req->session_id);
  w.text_of(table, table_length(table));
  w.u16(compnr);
}

int write_tbl_cntr(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->tbl_cntr;
  WireFields w(out, kTableHead + 4 + 4 + 4);
  put_table_head(w, req, f.table, f.compnr);
  w.u32(f.action);
  w.u32(f.argument);
  w.u32(f.sequence);
  return w.done();
}

int write_db_cntr(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->db_cntr;
  WireFields w(out, 1 + 4 + 4 + 4 * std::size(f.audit));
  w.u8(code_byte(req));
  w.u32(req->session_id);
  w.u32(f.action);
  for (std::uint32_t value : f.audit) w.u32(value);
  return w.done();
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

// The code byte, the session id when the request has one, and the message.
int put_message(ZDB_REQUEST *req, STREAM *out, bool with_session) {
  if (!message_ok(req)) return -1;
  auto &f = req->exe;
  WireFields w(out, 1 + 4 + 4 + 2 + f.msglen);
  w.u8(code_byte(req));
  if (with_session) w.u32(req->session_id);
  w.u32(f.command);
  w.u16(f.msglen);
  w.bytes(f.msg, f.msglen);
  return w.done();
}

int write_exe_session(ZDB_REQUEST *req, STREAM *out) { return put_message(req, out, true); }

int write_exe_system(ZDB_REQUEST *req, STREAM *out) { return put_message(req, out, false); }

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
  WireFields w(out, std::size_t{1} + 4 + f.length);
  w.u8(code_byte(req));
  w.u32(f.length);
  w.bytes(f.packets, f.length);
  return w.done();
}

int write_exe_update(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->update;
  if (f.count > 0 && f.tables == nullptr) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  WireFields head(out, 1 + 4 + 2);
  head.u8(code_byte(req));
  head.u32(req->session_id);
  head.u16(f.count);
  if (head.done()) return -1;
  for (std::uint16_t i = 0; i < f.count; ++i) {
    const ZDB_UPDATE_TABLE &t = f.tables[i];
    WireFields w(out, sizeof t.table + 2);
    w.bytes(t.table, sizeof t.table);
    w.u16(t.compnr);
    if (w.done() || rds_write_to_sp(t.rds, out) < 0) return -1;
  }
  return 0;
}

int write_row_cntr(ZDB_REQUEST *req, STREAM *out) {
  auto &f = req->row_cntr;
  if (f.row_len > 0 && f.row == nullptr) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  WireFields w(out, kTableHead + 4 + 2 + std::size_t{f.row_len});
  put_table_head(w, req, f.table, f.compnr);
  w.u32(f.read_arg);
  w.u16(f.row_len);
  w.bytes(f.row, f.row_len);
  return w.done();
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
  WireFields w(out, 1 + kTableText + 4 + 4 + 4 + 4 + std::size_t{f.row_len});
  w.u8(code_byte(req));
  w.text_of(f.table, table_length(f.table));
  w.u32(f.compnr);
  w.u32(f.argument);
  w.u32(req->session_id);
  w.u32(f.row_len);
  w.bytes(f.row, f.row_len);
  return w.done();
}

constexpr ZDB_WRITER kWriters[ZDB_REQUEST_COUNT] = {
    write_att_server, write_det_server, write_att_session, write_det_session,
    write_tbl_cntr,   write_db_cntr,    write_exe_session, write_exe_system,
    write_dd_info,    write_permission, write_sql_message, write_exe_update,
    write_row_cntr,   write_send_compnr, write_auditcols,  write_alter_table,
};

}  // namespace

const ZDB_WRITER *client_send_commu_funcs() { return kWriters; }
