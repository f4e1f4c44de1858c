// The message of a request refused as locked (107). The reply carries no
// text, so the library words it from what it knows: the table, company and
// key of the request; its own transactions that use the same table on the
// same driver (a driver refuses a program's other transaction at once);
// how the driver is reached (a driver server also serves other hosts, and
// waits for their rows --lock-wait-ms before it refuses, and says who held
// the row when asked); and the time the request took.
#include <string>

#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/zdb_guard.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/zdb_msg.h"
#include "dbc/dict/dd.h"
#include "ipc/attach.h"

namespace {

// True when the table session shows that its transaction may hold a row or
// the table: it locked, changed or read with a lock there.
bool may_hold(const ZDB_TABLE_SESSION *ts) {
  if (ts->flags & (ZDB_TS_LOCKED | ZDB_TS_TOUCHED | ZDB_TS_PENDING)) return true;
  for (const ZDB_INTERNAL_CURSOR *ic = ts->open; ic != nullptr; ic = ic->next_in_ts)
    if (ic->company != nullptr && (ic->company->row_state & (ZDB_ROW_LOCKED | ZDB_ROW_TABLE_LOCKED)))
      return true;
  return false;
}

// The session on the same driver of another transaction of this program
// that uses the same table and company; one that may hold it first.
const ZDB_SESSION *own_holder(const ZDB_INTERNAL_CURSOR *icursor) {
  const ZDB_SESSION *mine = icursor->tsession->session;
  const ZDB_SESSION *candidate = nullptr;
  for (const ZDB_TRANS *t = dbc_state().trans_list; t != nullptr; t = t->next) {
    if (t == mine->trans) continue;
    for (const ZDB_SESSION *s = t->sessions; s != nullptr; s = s->next_in_trans) {
      if (s->server != mine->server) continue;
      for (const ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next) {
        if (ts->key != icursor->tsession->key) continue;
        if (may_hold(ts)) return s;
        if (candidate == nullptr) candidate = s;
      }
    }
  }
  return candidate;
}

// The name of the driver a session is attached to, and whether it is a
// driver server (a Unix or TCP socket of lib/ipc_info), which other hosts
// share.
const char *driver_name(const ZDB_SERVER *server, bool *shared) {
  *shared = ipc_stream_to_server(server->in);
  const SERVER_REC *rec = server->spec != nullptr ? server->spec->server : nullptr;
  return rec == nullptr || rec->name == nullptr ? "?" : rec->name;
}

}  // namespace

void zdb_name_lock_holder(ZDB_INTERNAL_CURSOR *icursor, const char *action, const std::string &key,
                          long waited_ms) {
  const DD_TABLE *table = icursor->tsession->key->table;
  bool shared = false;
  const char *driver = driver_name(icursor->tsession->session->server, &shared);
  const ZDB_SESSION *own = own_holder(icursor);
  // A driver server names the holder (a session of this host, or of
  // another: its process) or the circle of waits the wait would have
  // closed; without its word, a wait means another host.
  const int error = zdb_errno;  // asking changes it
  const std::string reason = shared ? zdb_driver_reason(icursor->tsession->session->server) : std::string();
  zdb_errno = error;
  const bool own_holds = own != nullptr && (reason.empty() ? !(shared && waited_ms >= 50)
                                                           : reason.find(" of this host") != std::string::npos &&
                                                                 reason.find("circle") == std::string::npos);
  // Only a driver server waits, and only for another host; a wait that
  // would have closed a circle, or waited for this host itself, was refused
  // at once however long the request took (on a busy machine, or when the
  // circle closed while the request waited).
  const bool circle = reason.rfind("it would have waited", 0) == 0;
  const bool refused_at_once = circle || reason.find("do not wait for each other") != std::string::npos;
  std::string wait = "at once";
  if (shared && !own_holds && !refused_at_once && waited_ms >= 50)
    wait = "after waiting " + std::to_string(waited_ms / 1000) + "." + std::to_string(waited_ms % 1000 / 100) +
           " s (the driver server's --lock-wait-ms)";
  std::string holder, why;
  if (!own_holds && !reason.empty()) {
    holder = std::string("on driver server ") + driver + ", " + reason;
    set_zdb_msg_logged(nullptr, 0, "Record is locked: %s of %.8s%03d%s%s%s was refused %s: %s; %s", action,
                       table->name, icursor->company->logical, key.empty() ? "" : ", key ", key.c_str(),
                       key.empty() ? "" : ",", wait.c_str(), holder.c_str(),
                       circle ? "end this transaction and do its work again"
                              : "try again once that host has ended its transaction");
    return;
  }
  if (own_holds || !shared) {
    // Named as the driver names the sessions of a program (its session
    // number there), in every text of a refusal alike.
    holder = own_holds ? "session " + std::to_string(own->server_session_id) + " (\"" + own->trans->name +
                             "\") of this host"
                       : std::string("another session of this host");
    why = " (a program's transactions do not wait for each other)";
  } else {
    holder = std::string("a session of another host on driver server ") + driver;
    if (waited_ms < 50) why = " (the server refuses at once when --lock-wait-ms is 0 or this program holds a lock there)";
  }
  set_zdb_msg_logged(nullptr, 0, "Record is locked: %s of %.8s%03d%s%s%s was refused %s: %s holds %s%s; %s",
                     action, table->name, icursor->company->logical, key.empty() ? "" : ", key ",
                     key.c_str(), key.empty() ? "" : ",", wait.c_str(), holder.c_str(),
                     key.empty() ? "a row of it or the table" : "the row", why.c_str(),
                     own_holds || !shared ? "commit or abort that transaction first"
                                          : "try again once that host has ended its transaction");
}
