// The reply readers, one per request code. Each reads the reply of its code
// into the request block and returns 0 or -1. Every length in a reply is
// checked against the buffer it goes into before a byte is stored; a reply
// that breaks a bound is refused with a log line and, where the length is
// small enough, read to its end so the stream stays in step; otherwise the
// stream is abandoned and the round trip closes the driver's streams, so no
// later reply is ever read from the leftovers.
#include <cerrno>
#include <cstring>

#include <molvane/zdb.h>

#include "dbc/request/request_block.h"
#include "dbc/request/request_payloads.h"
#include "dbc/request/request_wire.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"

namespace {

int get_retval(ZDB_REQUEST *req, STREAM *in) {
  std::uint32_t value;
  if (wire_get_u32(in, &value)) return -1;
  req->retval = static_cast<std::int32_t>(value);
  return 0;
}

int refuse(ZDB_REQUEST *req, const char *what, std::size_t length, std::size_t limit) {
  log_mesg(__FILE__, __LINE__, "Reply too long", 0,
           "%s reply: %s of %zu bytes exceeds %zu", dbc_request_name(req->code), what,
           length, limit);
  zdb_error(ZE_COMMUNICATION);
  return -1;
}

// Dictionary list of a 513 reply, into the receive buffer.
int get_dd_list(ZDB_REQUEST *req, STREAM *in) {
  std::uint32_t count;
  if (wire_get_u32(in, &count)) return -1;
  if (count > DBC_RECV_BUF_SIZE / DD_LIST_ENTRY_SIZE) {
    const std::size_t bytes = std::size_t{count} * DD_LIST_ENTRY_SIZE;
    wire_skip_or_abandon(in, bytes);
    return refuse(req, "dictionary list", bytes, DBC_RECV_BUF_SIZE);
  }
  if (wire_get_bytes(in, dbc_recv_buf(), count * DD_LIST_ENTRY_SIZE)) return -1;
  req->dd_list.count = count;
  req->dd_list.entries = dbc_recv_buf();
  return 0;
}

int get_dd_list_on_513(ZDB_REQUEST *req, STREAM *in) {
  return req->retval == ZE_NO_DD ? get_dd_list(req, in) : 0;
}

int read_retval_only(ZDB_REQUEST *req, STREAM *in) { return get_retval(req, in); }

int read_att_server(ZDB_REQUEST *req, STREAM *in) {
  auto &f = req->att_server;
  if (wire_get_u32(in, &f.sessions_allowed) || wire_get_u32(in, &f.pid) ||
      wire_get_u32(in, &f.level_flags) || wire_get_u32(in, &f.sql_protocol) ||
      wire_get_u8(in, &f.idle_limit))
    return -1;
  return get_retval(req, in);
}

int read_att_session(ZDB_REQUEST *req, STREAM *in) {
  if (wire_get_u32(in, &req->session_id)) return -1;
  return get_retval(req, in);
}

int read_tbl_cntr(ZDB_REQUEST *req, STREAM *in) {
  if (wire_get_u32(in, &req->tbl_cntr.argument) || get_retval(req, in)) return -1;
  return get_dd_list_on_513(req, in);
}

// Most audit entries one EXE_DB_CNTR reply may carry.
constexpr size_t kMaxAuditEntries = 65536;

int read_db_cntr(ZDB_REQUEST *req, STREAM *in) {
  auto &f = req->db_cntr;
  if (get_retval(req, in)) return -1;
  int action = static_cast<int>(f.action & 0xFF);
  if (action != commit_trans && action != audit_commit_table_action) return 0;
  if (wire_get_u32(in, &f.audit[0])) return -1;
  if (f.audit[0] == 0xFFFFFFFFu) {
    f.audit[1] = f.audit[2] = 0;
  } else {
    if (wire_get_u32(in, &f.audit[1]) || wire_get_u32(in, &f.audit[2])) return -1;
    // Entries join the transaction only once the whole list was read, so a
    // broken reply leaves no partial list behind.
    std::deque<ZDB_AUDIT_ENTRY> entries;
    for (size_t count = 0;; ++count) {
      // A driver that never ends the list must not grow the client without
      // bound: far more entries than any transaction can produce is a
      // broken reply.
      if (count == kMaxAuditEntries) {
        log_mesg(__FILE__, __LINE__, "Reply too long", 0,
                 "EXE_DB_CNTR reply: more than %zu audit entries", kMaxAuditEntries);
        zdb_error(ZE_COMMUNICATION);
        return wire_abandon(in);
      }
      ZDB_AUDIT_ENTRY entry{};
      if (wire_get_text(in, entry.table, sizeof entry.table)) {
        if (errno != EOVERFLOW) return -1;
        log_mesg(__FILE__, __LINE__, "Reply too long", 0,
                 "EXE_DB_CNTR reply: audit entry name longer than %zu characters",
                 ZDB_AUDIT_NAME_MAX);
        zdb_error(ZE_COMMUNICATION);
        return -1;
      }
      if (entry.table[0] == '\0') break;
      if (wire_get_u16(in, &entry.compnr) || wire_get_u16(in, &entry.seqn) ||
          wire_get_u32(in, &entry.value))
        return -1;
      entries.push_front(entry);
    }
    if (f.trans) {
      f.trans->audit_list.insert(f.trans->audit_list.begin(), entries.begin(), entries.end());
    }
  }
  if (f.trans) std::memcpy(f.trans->audit_values, f.audit, sizeof f.audit);
  return 0;
}

// Answer of EXE_SESSION and EXE_SYSTEM into the receive buffer. An answer
// that does not fit is read to its end and refused.
int get_answer(ZDB_REQUEST *req, STREAM *in, std::uint16_t *length) {
  if (wire_get_u16(in, length)) return -1;
  if (*length > DBC_RECV_BUF_SIZE) {
    if (wire_skip(in, *length) == 0) get_retval(req, in);
    return refuse(req, "answer", *length, DBC_RECV_BUF_SIZE);
  }
  return wire_get_bytes(in, dbc_recv_buf(), *length);
}

int read_exe_session(ZDB_REQUEST *req, STREAM *in) {
  std::uint16_t length;
  if (get_answer(req, in, &length) || get_retval(req, in)) return -1;
  if (length != 0) {
    req->exe.msg = reinterpret_cast<const char *>(dbc_recv_buf());
    req->exe.msglen = length;
  }
  return 0;
}

int read_exe_system(ZDB_REQUEST *req, STREAM *in) {
  std::uint16_t length;
  if (get_answer(req, in, &length) || get_retval(req, in)) return -1;
  req->exe.msglen = length;
  if (length != 0) req->exe.msg = reinterpret_cast<const char *>(dbc_recv_buf());
  return 0;
}

int read_sql_message(ZDB_REQUEST *req, STREAM *in) {
  auto &f = req->sql;
  std::uint32_t length;
  if (wire_get_u32(in, &length)) return -1;
  if (length > DBC_MAX_SQL_PACKETS) {
    wire_abandon(in);
    return refuse(req, "packets", length, DBC_MAX_SQL_PACKETS);
  }
  char *buf = dbc_sql_packet_buffer(length);
  if (buf == nullptr) {
    wire_skip_or_abandon(in, length);
    zdb_error(ZE_MEMORY);
    return -1;
  }
  if (wire_get_bytes(in, buf, length)) return -1;
  f.reply = buf;
  f.length = length;
  req->retval = 0;  // the wire carries none
  return SQLNetAgentClientPacketsHandler(req) < 0 ? -1 : 0;
}

void clear_detail(ZDB_TRANS *trans) {
  if (trans == nullptr) return;
  trans->detail_error = 0;
  std::memset(trans->detail_table, 0, sizeof trans->detail_table);
  trans->detail_compnr = 0;
  trans->detail_extra.clear();
  trans->has_detail_extra = false;
}

int read_exe_update(ZDB_REQUEST *req, STREAM *in) {
  ZDB_TRANS *trans = req->update.trans;
  clear_detail(trans);
  if (get_retval(req, in)) return -1;
  if (req->retval == ZE_NO_DD) return get_dd_list(req, in);
  if (req->retval != ZE_BUFFERED_UPDATE) return 0;

  std::uint32_t error, extra_len;
  char table[8];
  std::uint16_t compnr;
  if (wire_get_u32(in, &error) || wire_get_bytes(in, table, sizeof table) ||
      wire_get_u16(in, &compnr) || wire_get_u32(in, &extra_len))
    return -1;
  if (extra_len > DBC_MAX_DETAIL_TEXT) {
    wire_skip_or_abandon(in, extra_len);
    return refuse(req, "extra text", extra_len, DBC_MAX_DETAIL_TEXT);
  }
  std::string extra(extra_len, '\0');
  if (wire_get_bytes(in, extra.data(), extra_len)) return -1;
  if (trans == nullptr) return 0;
  trans->detail_error = static_cast<int>(error);
  std::memcpy(trans->detail_table, table, sizeof table);
  trans->detail_compnr = compnr;
  if (extra_len > 0) {
    trans->detail_extra = std::move(extra);
    trans->has_detail_extra = true;
    // Some texts are the message of the call at once; the exported calls
    // that report the failure word the rest (zdb_name_failed_update,
    // zdb_own_update_error).
    if (zdb_update_text_is_message(static_cast<int>(error)))
      set_zdb_msg("%s", trans->detail_extra.c_str());
  }
  return 0;
}

int read_row_cntr(ZDB_REQUEST *req, STREAM *in) {
  auto &f = req->row_cntr;
  std::uint16_t length;
  if (wire_get_u16(in, &length)) return -1;
  if (length > f.row_capacity || (length > 0 && f.row == nullptr)) {
    // The row, the retval and a dictionary list after it are read past.
    if (wire_skip(in, length) == 0 && get_retval(req, in) == 0 && req->retval == ZE_NO_DD) {
      std::uint32_t count;
      if (wire_get_u32(in, &count) == 0)
        wire_skip_or_abandon(in, std::size_t{count} * DD_LIST_ENTRY_SIZE);
    }
    return refuse(req, "row", length, f.row_capacity);
  }
  if (wire_get_bytes(in, f.row, length)) return -1;
  f.row_len = length;
  if (get_retval(req, in)) return -1;
  return get_dd_list_on_513(req, in);
}

int read_alter_table(ZDB_REQUEST *req, STREAM *in) {
  auto &f = req->alter;
  if (get_retval(req, in) || wire_get_u32(in, &f.dd_count)) return -1;
  // The two entries and the result always follow: they are read before a
  // count above 2 is refused, so the stream stays in step.
  if (wire_get_bytes(in, f.dd_entries, sizeof f.dd_entries) ||
      wire_get_u32(in, &f.result))
    return -1;
  if (f.dd_count > 2) {
    zdb_error(ZE_COMMUNICATION);
    log_mesg(__FILE__, __LINE__, "Reply too long", 0,
             "ALTER_TABLE reply: %u dictionary entries, at most 2", f.dd_count);
    return -1;
  }
  if (req->retval == ZE_NO_DD) {
    req->dd_list.count = f.dd_count;
    req->dd_list.entries = f.dd_entries;
  }
  return 0;
}

constexpr ZDB_READER kReaders[ZDB_REQUEST_COUNT] = {
    read_att_server,  read_retval_only, read_att_session, read_retval_only,
    read_tbl_cntr,    read_db_cntr,     read_exe_session, read_exe_system,
    read_retval_only, read_retval_only, read_sql_message, read_exe_update,
    read_row_cntr,    read_retval_only, read_retval_only, read_alter_table,
};

}  // namespace

const ZDB_READER *client_get_commu_funcs() { return kReaders; }
