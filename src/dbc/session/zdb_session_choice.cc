// Choosing the driver session that serves a table for a transaction, and
// making new drivers and sessions when none fits.
//
// A table in a company is served by one or more driver groups; a group is a
// list of alternative specifications. A ZDB_SERVER remembers the group it
// was made for, so a group is matched against a driver by comparing the two
// lists. One transaction keeps one session per driver and reuses it for
// every table of the group; a driver whose sessions are all in use gets a
// sibling record (a second connection to the same driver).
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include <molvane/zdb.h>

#include "dbc/tabledef/tabledef.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/blat.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

std::uint32_t g_server_numbers = 0;
std::uint32_t g_session_numbers = 0;

bool matches(const ZDB_SERVER *server, const DRIVER_SPEC *group) {
  return server->spec_list != nullptr && compare_single_spec(server->spec_list, group) == 0;
}

// The first session of the transaction on a driver of the group.
ZDB_SESSION *trans_session_on(ZDB_TRANS *trans, const DRIVER_SPEC *group) {
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans)
    if (matches(s->server, group)) return s;
  return nullptr;
}

// A session on a driver of the group with room, or on a new driver.
ZDB_SESSION *new_session_for(DRIVER_SPEC *group, ZDB_TRANS *trans, int attach) {
  for (ZDB_SERVER *server = dbc_state().server_list; server != nullptr; server = server->next)
    if (matches(server, group) && server->sessions_in_use < server->sessions_allowed)
      return get_new_zdb_session(server, trans, attach);
  return get_new_zdb_server_and_session(group, trans, attach);
}

}  // namespace

ZDB_SESSION *get_new_zdb_session(ZDB_SERVER *server, ZDB_TRANS *trans, int) {
  auto *session = new (std::nothrow) ZDB_SESSION;
  if (session == nullptr) {
    zdb_error(ZE_MEMORY);
    return nullptr;
  }
  session->number = ++g_session_numbers;
  session->server = server;
  session->trans = trans;
  if (zdb_server_attached(server) && zdb_attach_session(session) != 0) {
    delete session;
    return nullptr;
  }
  session->next_on_server = server->sessions;
  server->sessions = session;
  session->next_in_trans = trans->sessions;
  trans->sessions = session;
  ++server->sessions_in_use;
  return session;
}

namespace {

// A driver record that has not joined the driver list: its streams are
// closed and it is freed when the scope is left without Release, also by an
// exception (memory running out in the middle of an attachment).
class PendingServer {
 public:
  explicit PendingServer(ZDB_SERVER *server) : server_(server) {}
  ~PendingServer() {
    if (server_ == nullptr) return;
    zdb_close_server_streams(server_);
    delete server_;
  }
  PendingServer(const PendingServer &) = delete;
  PendingServer &operator=(const PendingServer &) = delete;
  ZDB_SERVER *Release() {
    ZDB_SERVER *server = server_;
    server_ = nullptr;
    return server;
  }

 private:
  ZDB_SERVER *server_;
};

}  // namespace

ZDB_SESSION *get_new_zdb_server_and_session(DRIVER_SPEC *group, ZDB_TRANS *trans, int attach) {
  auto *server = new (std::nothrow) ZDB_SERVER;
  if (server == nullptr) {
    zdb_error(ZE_MEMORY);
    return nullptr;
  }
  PendingServer pending(server);
  server->number = ++g_server_numbers;
  server->spec_list = group;
  int first_error = 0;
  // Why the first and the last alternative failed, for the host: the error
  // the attempt logged (driver not found, a malformed driver map line), else
  // the text of its error number.
  std::string first_cause;
  std::string last_cause;
  int alternatives = 0;
  unsigned long mark = 0;
  auto remember = [&] {
    if (first_error == 0) first_error = zdb_errno != 0 ? zdb_errno : ZE_NO_DRIVER;
    const char *why = log_error_count() > mark ? log_last_error()
                                               : zdberrorstr(zdb_errno != 0 ? zdb_errno : ZE_NO_DRIVER);
    // A cause that names its driver already is not named again.
    const std::string driver = std::string("driver ") + zdb_server_name(server);
    const std::string_view text(why);
    const bool named = text.starts_with(driver) && text.size() > driver.size() &&
                       (text[driver.size()] == ' ' || text[driver.size()] == ':');
    std::string cause = named ? std::string(why) : driver + ": " + why;
    if (alternatives == 1) first_cause = cause;
    else last_cause = std::move(cause);
  };
  for (DRIVER_SPEC *spec = group; spec != nullptr; spec = spec->next_alt) {
    server->spec = spec;
    ++alternatives;
    mark = log_error_count();
    if (zdb_server_is_audit(server)) {
      // An audit driver is attached at its first request.
      server->sessions_allowed = ZDB_AUDIT_SESSIONS;
      server->idle_limit = ZDB_AUDIT_SESSIONS;
    } else if (zdb_attach_server(server) != 0) {
      remember();
      continue;
    }
    if (ZDB_SESSION *session = get_new_zdb_session(server, trans, attach)) {
      server->next = dbc_state().server_list;
      dbc_state().server_list = pending.Release();
      blat_proc_new_server(server);
      return session;
    }
    remember();
    // The driver is given up; its streams are closed even when it does not
    // answer, so the record can go.
    int error = zdb_errno;
    if (zdb_detach_server(server) != 0) zdb_close_server_streams(server);
    zdb_errno = error;
  }
  zdb_errno = first_error != 0 ? first_error : ZE_NO_DRIVER;
  if (zdb_errno == ZE_NO_DRIVER && !first_cause.empty()) {
    reset_zdb_msg();
    set_zdb_msg_logged(nullptr, 0, "No driver could be attached: %s", first_cause.c_str());
    if (!last_cause.empty()) {
      add_zdb_msg(alternatives > 2 ? "; the last of its alternatives, " : "; its alternative, ");
      add_zdb_msg(last_cause.c_str());
    }
  }
  return nullptr;
}

ZDB_SESSION *zdb_choose_session(ZDB_TABLE_COMPNR *key, ZDB_TRANS *trans, DRIVER_SPEC *group,
                                ZDB_TABLE_SESSION **tsession) {
  *tsession = nullptr;
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans) {
    if (!matches(s->server, group)) continue;
    if (ZDB_TABLE_SESSION *ts = zdb_find_table_session(s, key)) {
      *tsession = ts;
      return s;
    }
  }
  if (ZDB_SESSION *s = trans_session_on(trans, group)) return s;
  return new_session_for(group, trans, 1);
}

int zdb_sql_get_server(DRIVER_SPEC *group, int trans_id, ZDB_SESSION **session,
                       ZDB_SERVER **server, int attach) {
  ZDB_TRANS *trans = zdb_get_trans_by_id(trans_id);
  if (trans == nullptr) return -1;
  ZDB_SESSION *s = trans_session_on(trans, group);
  if (s == nullptr) s = new_session_for(group, trans, attach);
  if (s == nullptr) return -1;
  // The SQL layers put the driver's session number into their packets
  // before anything is sent: a driver that died and is started again for
  // this session must have the session opened first, or its number is 0.
  if (zdb_attach_on_demand(s->server) != 0) return -1;
  *session = s;
  *server = s->server;
  return 0;
}

int zdb_get_nr_drivers() {
  int n = 0;
  for (ZDB_SERVER *s = dbc_state().server_list; s != nullptr; s = s->next) ++n;
  return n;
}
