// Stand-ins for driver attachment, cursors and transaction
// commands, until those parts land. The detach and session
// command bodies do the plain request so that logoff and transaction names
// reach a driver that a test attached by hand.
#include <cstdio>

#include "dbc/request_block.h"
#include "dbc/request_payloads.h"
#include "dbc/request_wire.h"
#include "dbc/stub_parts.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_server.h"
#include "dbc/zdb_trans.h"
#include "platform/log.h"

// Waits for driver attachment: DET_SERVER, then both streams closed.
int zdb_detach_server(ZDB_SERVER *server) {
  if (!zdb_server_attached(server)) return 0;
  dbc_request_prepare(DET_SERVER);
  if (zdb_commu(server) != 0) return -1;
  sclose(server->out);
  sclose(server->in);
  server->out = server->in = nullptr;
  return 0;
}

// Waits for driver attachment: DET_SESSION on an attached driver.
int zdb_detach_session(ZDB_SESSION *session) {
  if (!zdb_server_attached(session->server)) return 0;
  dbc_request_prepare(DET_SESSION);
  dbc_request().session_id = session->server_session_id;
  return zdb_commu(session->server);
}

// Waits for cursors: there are none to close.
int zdb_close(ZDB_CURSOR *) { return 0; }
int dbc_release_table_sessions(ZDB_SESSION *) { return 0; }
bool dbc_session_has_open_cursor(ZDB_SESSION *) { return false; }

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

// Waits for driver attachment's tree dump: drivers and their sessions.
void zdb_dump_server_tree(const char *title) {
  static int dumps = 0;
  std::fprintf(stderr, "***************** %s %d **************\n", title, ++dumps);
  for (ZDB_SERVER *server = dbc_state().server_list; server; server = server->next)
    std::fprintf(stderr, "--- server %p, type %d, sessions %u ---\n",
                 static_cast<void *>(server), 0, server->sessions_in_use);
  std::fprintf(stderr, "*******************************************\n");
}
