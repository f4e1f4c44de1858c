// The process-wide request block, receive buffer and SQL packet buffer.
#include "dbc/request_block.h"

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

void dbc_request_prepare(int code) {
  static_assert(std::is_trivially_copyable_v<ZDB_REQUEST> && std::is_standard_layout_v<ZDB_REQUEST>);
  static const ZDB_REQUEST kEmpty{};
  if (code == ALTER_TABLE) {
    g_request = kEmpty;
  } else {
    // The alter request's row and dictionary entries (kilobytes) are written
    // and read by that request only: the others leave them alone.
    constexpr std::size_t kHead = offsetof(ZDB_REQUEST, alter.row);
    std::memcpy(static_cast<void *>(&g_request), &kEmpty, kHead);
    g_request.alter.dd_count = 0;
    g_request.alter.result = 0;
    g_request.dd_list = kEmpty.dd_list;
  }
  g_request.code = code;
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
