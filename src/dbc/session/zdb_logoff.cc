// Logoff, the release of driver sessions and drivers, and zdb_schedule,
// which gives idle driver sessions and drivers back.
#include <cstdio>

#include <molvane/zdb.h>

#include "dbc/cursor/zdb_cursor.h"
#include "dbc/session/zdb_attach.h"
#include "sql/agent/net_agent_client.h"
#include "sql/statement/sql_api_internal.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_guard.h"
#include "platform/env.h"
#include "platform/log.h"

namespace {

// Bit of the platform debug word (DEBUG_LEVEL) that traces the drivers and
// their tables; zdb_schedule dumps its driver tree under it too.
constexpr long kDebugLevelDrivers = 0x20;

// Unlinks `item` from an intrusive list; false when it is not there.
template <typename T>
bool unlink(T *&head, T *item, T *T::*link) {
  for (T **p = &head; *p != nullptr; p = &((*p)->*link)) {
    if (*p == item) {
      *p = item->*link;
      item->*link = nullptr;
      return true;
    }
  }
  return false;
}

int missing_session(const char *text) {
  log_mesg(__FILE__, __LINE__, "Remove session", 0, "%s", text);
  zdb_error(ZE_ILLEGAL_STATE);
  return -1;
}

// Releases a session that is off both lists: its table sessions, the SQL
// agent's packet buffer, the driver's session. The session is freed, also
// when the driver fails to close it: nothing refers to it any more.
int release_session(ZDB_SESSION *session) {
  if (dbc_release_table_sessions(session) != 0) return -1;
  SQLNetAgentClientEndSession(session);
  if (zdb_detach_session(session) != 0) {
    delete session;
    return -1;
  }
  if (session->server != nullptr && session->server->sessions_in_use > 0)
    --session->server->sessions_in_use;
  delete session;
  return 0;
}

// Detaches a driver whose sessions are gone and frees it.
int release_server(ZDB_SERVER *server) {
  DBC_STATE &state = dbc_state();
  while (ZDB_SESSION *session = server->sessions) {
    server->sessions = session->next_on_server;
    session->next_on_server = nullptr;
    if (session->trans == nullptr ||
        !unlink(session->trans->sessions, session, &ZDB_SESSION::next_in_trans)) {
      delete session;  // on no list any more
      return missing_session("Warning: Session not in transaction's list.");
    }
    if (release_session(session) != 0) return -1;
  }
  SQLNetAgentClientEndServer(server);
  if (zdb_detach_server(server) != 0) return -1;
  unlink(state.server_list, server, &ZDB_SERVER::next);
  delete server;
  return 0;
}

}  // namespace

static int zdb_logoff_unguarded(void) {
  if (zdb_start() != 0) return -1;
  DBC_STATE &state = dbc_state();
  while (ZDB_TRANS *trans = state.trans_list) {
    // The cursors' own statements (set reads) are broken and closed before
    // the session's statements go, which they could no longer break.
    for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans)
      if (dbc_release_table_sessions(s) != 0) return -1;
    SQLOnCloseSession(static_cast<unsigned long>(trans->id));
    while (ZDB_SESSION *session = trans->sessions) {
      trans->sessions = session->next_in_trans;
      session->next_in_trans = nullptr;
      if (session->server == nullptr ||
          !unlink(session->server->sessions, session, &ZDB_SESSION::next_on_server)) {
        delete session;  // on no list any more
        return missing_session("Warning: Session not in server's list.");
      }
      if (release_session(session) != 0) return -1;
    }
    // The host's handles of these cursors are gone: a later call given one
    // is refused, saying that the logoff closed it.
    while (ZDB_CURSOR *cursor = trans->cursors) {
      if (zdb_close_cursor(cursor, true) != 0) return -1;
      // The close takes the cursor off the list; should it not, the walk
      // ends here instead of closing the same cursor again.
      if (trans->cursors == cursor) trans->cursors = nullptr;
    }
    state.trans_list = trans->next;
    state.id_in_use[trans->id] = false;
    delete trans;
  }
  while (ZDB_SERVER *server = state.server_list) {
    if (release_server(server) != 0) return -1;
  }
  return 0;
}

int zdb_logoff(void) {
  return zdb_api_call([&] { return zdb_logoff_unguarded(); });
}

int zdb_schedule() {
  DBC_STATE &state = dbc_state();
  bool dump =
      (state.debug & ZDB_DEBUG_TREE) != 0 || (al_debug_level() & kDebugLevelDrivers) != 0;
  if (dump) zdb_dump_server_tree("before schedule");
  ZDB_SERVER *server = state.server_list;
  while (server != nullptr) {
    ZDB_SERVER *next_server = server->next;
    ZDB_SESSION *session = server->sessions;
    while (session != nullptr) {
      ZDB_SESSION *next = session->next_on_server;
      unsigned long id = session->trans != nullptr ? session->trans->id : 0;
      if (dbc_session_has_open_cursor(session) || qpc_session_used(id)) {
        session->idle = 0;
      } else if (++session->idle >= server->idle_limit) {
        unlink(server->sessions, session, &ZDB_SESSION::next_on_server);
        if (session->trans == nullptr ||
            !unlink(session->trans->sessions, session, &ZDB_SESSION::next_in_trans)) {
          delete session;  // on no list any more
          return missing_session("Warning: Session not in trans's list");
        }
        if (release_session(session) != 0) return -1;
      }
      session = next;
    }
    if (server->sessions != nullptr) {
      server->idle = 0;
    } else if (++server->idle >= state.server_schedule_limit) {
      if (release_server(server) != 0) return -1;
    }
    server = next_server;
  }
  if (dump) zdb_dump_server_tree("after schedule");
  return 0;
}
