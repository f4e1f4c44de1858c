// What the host may learn about attached drivers, and the debug dump of the
// driver and session tree.
#include <cstdio>
#include <cstring>
#include <string>

#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"

namespace {

// Copies a text with its NUL into the caller's buffer; a text that does not
// fit is refused rather than cut.
int copy_out(const char *text, std::size_t length, char *buffer, std::size_t size, int code) {
  if (length + 1 > size) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    set_zdb_msg_logged("System info", 0,
                       "Illegal argument: information %d of %zu bytes does not fit a buffer of "
                       "%zu (it needs %zu with its NUL)",
                       code, length, size, length + 1);
    return -1;
  }
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return 0;
}

}  // namespace

int zdb_get_db_system_info(int position, int code, char *buffer, std::size_t size) {
  ZDB_SERVER *server = dbc_state().server_list;
  for (int i = 1; server != nullptr && i < position; ++i) server = server->next;
  if (position < 1 || server == nullptr) {
    zdb_error(ZE_NO_DRIVER);
    return -1;
  }
  if (buffer == nullptr || size == 0) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    set_zdb_msg("Illegal argument: zdb_get_db_system_info needs a buffer (%s)",
                buffer == nullptr ? "it is null" : "its size is 0");
    return -1;
  }
  if (code == ZDB_INFO_DRIVER_NAME) {
    const char *name = zdb_server_name(server);
    return copy_out(name, std::strlen(name), buffer, size, code);
  }
  if (code == ZDB_INFO_DRIVER_ARGS) {
    std::string args = zdb_server_args(server);
    for (char &c : args)
      if (c == '\x01') c = ',';
    return copy_out(args.data(), args.size(), buffer, size, code);
  }
  unsigned char message[4] = {
      static_cast<unsigned char>(static_cast<unsigned>(code) >> 24),
      static_cast<unsigned char>(static_cast<unsigned>(code) >> 16),
      static_cast<unsigned char>(static_cast<unsigned>(code) >> 8),
      static_cast<unsigned char>(code)};
  if (zdb_server_command(server, SYS_SYSTEM_INFO, message, sizeof message) != 0) return -1;
  const ZDB_REQUEST &req = dbc_request();
  std::size_t length = req.exe.msglen;  // the answer's length; 0 leaves msg as sent
  return copy_out(length > 0 ? req.exe.msg : "", length, buffer, size, code);
}

void zdb_dump_server_tree(const char *title) {
  static int dumps = 0;
  std::fprintf(stderr, "***************** %s %d **************\n", title, ++dumps);
  for (ZDB_SERVER *server = dbc_state().server_list; server; server = server->next) {
    std::fprintf(stderr, "--- server %p, type %d, sessions %d ---\n", static_cast<void *>(server),
                 static_cast<int>(zdb_server_type(server) & 077),
                 static_cast<int>(server->sessions_in_use));
    for (ZDB_SESSION *s = server->sessions; s != nullptr; s = s->next_on_server) {
      std::fprintf(stderr, "{[%d] ", s->trans != nullptr ? s->trans->id : 0);
      for (ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next) {
        std::fprintf(stderr, "%s(", ts->key->table->name);
        for (ZDB_INTERNAL_CURSOR *ic = ts->open; ic != nullptr; ic = ic->next_in_ts)
          std::fprintf(stderr, "%03d%s", ic->company->logical, ic->next_in_ts != nullptr ? "," : "");
        std::fprintf(stderr, ") ");
      }
      std::fprintf(stderr, "}\n");
    }
  }
  std::fprintf(stderr, "*******************************************\n");
}
