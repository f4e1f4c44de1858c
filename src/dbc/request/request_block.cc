// The process-wide request block, receive buffer and SQL packet buffer.
#include "dbc/request/request_block.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

namespace {

ZDB_REQUEST g_request;
unsigned char g_recv_buf[DBC_RECV_BUF_SIZE];
std::unique_ptr<char[]> g_sql_buf;
std::size_t g_sql_buf_size = 0;

constexpr const char *kRequestNames[ZDB_REQUEST_COUNT] = {
    "ATT_SERVER",    "DET_SERVER", "ATT_SESSION",  "DET_SESSION",
    "EXE_TBL_CNTR",  "EXE_DB_CNTR", "EXE_SESSION", "EXE_SYSTEM",
    "DD_INFO_TABLE", "PERMISSION", "SQL_MESSAGE",  "EXE_UPDATE",
    "EXE_ROW_CNTR",  "SEND_COMPNR", "AUDITCOLS",   "ALTER_TABLE",
};

}  // namespace

ZDB_REQUEST &dbc_request() { return g_request; }

unsigned char *dbc_recv_buf() { return g_recv_buf; }

// The groups of fields that come before the alter request's row, in order
// with nothing between them: dbc_request_prepare resets each of them.
#define MOLVANE_AFTER(a, b) \
  (offsetof(ZDB_REQUEST, b) - offsetof(ZDB_REQUEST, a) - sizeof(ZDB_REQUEST::a) < alignof(ZDB_REQUEST))
static_assert(offsetof(ZDB_REQUEST, code) == 0 && MOLVANE_AFTER(code, retval) &&
              MOLVANE_AFTER(retval, session_id) && MOLVANE_AFTER(session_id, att_server) &&
              MOLVANE_AFTER(att_server, att_session) && MOLVANE_AFTER(att_session, tbl_cntr) &&
              MOLVANE_AFTER(tbl_cntr, db_cntr) && MOLVANE_AFTER(db_cntr, exe) &&
              MOLVANE_AFTER(exe, dd_info) && MOLVANE_AFTER(dd_info, sql) &&
              MOLVANE_AFTER(sql, update) && MOLVANE_AFTER(update, row_cntr) &&
              MOLVANE_AFTER(row_cntr, alter));
#undef MOLVANE_AFTER
constexpr std::size_t kAlterHead = offsetof(ZDB_REQUEST, alter.row) - offsetof(ZDB_REQUEST, alter);

void dbc_request_prepare(int code) {
  static_assert(std::is_trivially_copyable_v<ZDB_REQUEST> && std::is_standard_layout_v<ZDB_REQUEST>);
  static const ZDB_REQUEST kEmpty{};
  if (code == ALTER_TABLE) {
    g_request = kEmpty;
  } else if (code == EXE_ROW_CNTR) {
    // A single-row request, the most frequent by far, is written from and
    // read into its own group, the session id, the return value and the
    // dictionary list only: the other groups wait for the prepare of their
    // own request kind.
    g_request.retval = 0;
    g_request.session_id = 0;
    g_request.row_cntr = kEmpty.row_cntr;
    g_request.dd_list = kEmpty.dd_list;
  } else {
    // The alter request's row and dictionary entries (kilobytes) are written
    // and read by that request only: the others leave them alone.
    // The rest goes back group by group: as one copy of a few hundred bytes
    // the compiler emits a string move, whose start-up costs more than the
    // copy (a third of a small request's write).
    g_request.retval = 0;
    g_request.session_id = 0;
    g_request.att_server = kEmpty.att_server;
    g_request.att_session = kEmpty.att_session;
    g_request.tbl_cntr = kEmpty.tbl_cntr;
    g_request.db_cntr = kEmpty.db_cntr;
    g_request.exe = kEmpty.exe;
    g_request.dd_info = kEmpty.dd_info;
    g_request.sql = kEmpty.sql;
    g_request.update = kEmpty.update;
    g_request.row_cntr = kEmpty.row_cntr;
    std::memcpy(static_cast<void *>(&g_request.alter), &kEmpty.alter, kAlterHead);
    g_request.alter.dd_count = 0;
    g_request.alter.result = 0;
    g_request.dd_list = kEmpty.dd_list;
  }
  g_request.code = code;
}

DbcRequestCopy::DbcRequestCopy() {
  if ((g_request.code & 0xFF) == ALTER_TABLE) whole_ = std::make_unique<ZDB_REQUEST>(g_request);
  else std::memcpy(head_, static_cast<const void *>(&g_request), kHead);
}

void DbcRequestCopy::Restore() const {
  if (whole_ != nullptr) {
    g_request = *whole_;
    return;
  }
  std::memcpy(static_cast<void *>(&g_request), head_, kHead);
  g_request.dd_list = ZDB_DD_LIST{};
}

char *dbc_sql_packet_buffer(std::size_t size) {
  if (size > g_sql_buf_size || !g_sql_buf) {
    g_sql_buf.reset();
    g_sql_buf_size = 0;
    std::size_t alloc = size == 0 ? 1 : size;
    g_sql_buf.reset(new (std::nothrow) char[alloc]);
    if (!g_sql_buf) return nullptr;
    g_sql_buf_size = alloc;
  }
  return g_sql_buf.get();
}

const char *dbc_request_name(int code) {
  int slot = code & 0xFF;
  return slot < ZDB_REQUEST_COUNT ? kRequestNames[slot] : "?";
}
