// Stand-in for the transaction commands, until that part lands. The
// session command body does the plain request so that transaction names
// reach the drivers.
#include <cstdio>

#include "dbc/request_block.h"
#include "dbc/request_payloads.h"
#include "dbc/request_wire.h"
#include "dbc/stub_parts.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_server.h"
#include "dbc/zdb_trans.h"
#include "platform/log.h"

// Waits for the transaction actions: one EXE_SESSION per attached session.
int zdb_exec_transaction(int code, const char *text, int length, int id) {
  ZDB_TRANS *trans;
  int found = zdb_get_trans(id, &trans);
  if (found == 1) {
    zdb_error(ZE_INVALID_SESSION);
    return -1;
  }
  if (trans == nullptr) return 0;
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans) {
    if (!zdb_server_attached(s->server)) continue;
    dbc_request_prepare(EXE_SESSION);
    ZDB_REQUEST &req = dbc_request();
    req.session_id = s->server_session_id;
    req.exe.command = static_cast<std::uint32_t>(code);
    req.exe.msg = text;
    req.exe.msglen = static_cast<std::uint16_t>(length);
    if (zdb_commu(s->server) != 0) return -1;
  }
  return 0;
}
