// Transactions: naming one with an id (zdb_start_session), ending it
// (zdb_stop_session) and the lookups by id. A record outlives its id: it
// stays in the list with its driver sessions and is taken again by the next
// start with its name, or with its id.
#include "dbc/session/zdb_trans.h"

#include <cstdio>
#include <cstring>
#include <new>

#include <molvane/zdb.h>
#include <molvane/zdb_action.h>

#include "dbc/dlock/dlock.h"
#include "dbc/request/request_codes.h"
#include "sql/statement/sql_api_internal.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_server.h"
#include "dbc/zdb_guard.h"
#include "platform/blat.h"
#include "platform/log.h"

namespace {

constexpr int kBlatSessions = 1;

ZDB_TRANS *find_record(int id) {
  for (ZDB_TRANS *t = dbc_state().trans_list; t != nullptr; t = t->next)
    if (t->id == id) return t;
  return nullptr;
}

// A new zeroed record with the id at the head of the list; null when memory
// runs out. The list owns it until zdb_logoff.
ZDB_TRANS *new_record(int id) {
  ZDB_TRANS *trans = new (std::nothrow) ZDB_TRANS;
  if (trans == nullptr) return nullptr;
  trans->id = id;
  trans->next = dbc_state().trans_list;
  dbc_state().trans_list = trans;
  return trans;
}

bool valid_id(int id) { return id >= 1 && id <= ZDB_MAX_TRANS; }

bool blat_sessions_on() { return (blat_get_state(kBlatSessions) & 1) != 0; }

}  // namespace

bool zdb_trans_name_equal(const ZDB_TRANS *trans, const char *name) {
  return std::strncmp(trans->name, name, ZDB_TRANS_NAME_MAX) == 0;
}

int zdb_get_trans(int id, ZDB_TRANS **trans) {
  *trans = nullptr;
  if (!valid_id(id) || !dbc_state().id_in_use[id]) return 1;
  *trans = find_record(id);
  return *trans == nullptr ? 2 : 0;
}

ZDB_TRANS *zdb_get_trans_by_id(int id) {
  ZDB_TRANS *trans;
  switch (zdb_get_trans(id, &trans)) {
    case 0:
      return trans;
    case 2:
      trans = new_record(id);
      if (trans == nullptr) zdb_error(ZE_MEMORY);
      return trans;
    default:
      zdb_invalid_trans(id);
      return nullptr;
  }
}

void zdb_invalid_trans(int id) {
  zdb_error(ZE_INVALID_SESSION);
  set_zdb_msg_logged("Invalid transaction", 0,
                     "Invalid transaction id %d specified: it is not in use (never started, or "
                     "stopped already); use an id that zdb_start_session returned",
                     id);
}

int zdb_check_trans_id(int id) {
  if (zdb_start() != 0) return -1;
  ZDB_TRANS *trans;
  if (zdb_get_trans(id, &trans) != 1) return 0;
  zdb_invalid_trans(id);
  return -1;
}

int zdb_get_default_query_timeout(int id, int *seconds) {
  // A statement asks at every execution; an id not in use has no default
  // and leaves no message behind.
  ZDB_TRANS *trans = nullptr;
  if (zdb_get_trans(id, &trans) == 1) return -1;
  if (seconds != nullptr) *seconds = trans != nullptr ? trans->default_query_timeout : 0;
  return 0;
}

int zdb_set_default_query_timeout(int id, int seconds) {
  return zdb_api_call([&] {
    ZDB_TRANS *trans = zdb_get_trans_by_id(id);
    if (trans == nullptr) return -1;
    trans->default_query_timeout = seconds;
    return 0;
  });
}

static int zdb_start_session_unguarded(const char *name) {
  DBC_STATE &state = dbc_state();
  if (name == nullptr) name = "";
  ZDB_TRANS *trans = nullptr;

  // A free record of the same name is taken again, with its driver sessions.
  for (ZDB_TRANS *t = state.trans_list; t != nullptr; t = t->next) {
    if (!state.id_in_use[t->id] && zdb_trans_name_equal(t, name)) {
      trans = t;
      state.id_in_use[t->id] = true;
      if (state.debug & ZDB_DEBUG_REQUESTS)
        std::fprintf(stderr, "START_SESSION trans_id %d  matching reuse for %s\n", t->id, name);
      break;
    }
  }
  if (trans == nullptr) {
    int id = 1;
    while (id <= ZDB_MAX_TRANS && state.id_in_use[id]) ++id;
    if (id > ZDB_MAX_TRANS) {
      zdb_error(ZE_NO_RESOURCE);
      set_zdb_msg_logged("zdb_start_session", 0, "Maximum number of ZDB sessions (%d) reached", ZDB_MAX_TRANS);
      return 0;
    }
    trans = find_record(id);
    if (trans == nullptr) trans = new_record(id);
    if (trans == nullptr) {
      zdb_error(ZE_MEMORY);
      return 0;
    }
    state.id_in_use[id] = true;
  }

  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans) s->idle = 0;
  if (blat_sessions_on()) {
    if (trans->name[0] == '\0')
      blat_sess_start(name, trans->id);
    else
      blat_sess_rename(name, trans->id);
  }
  if (!zdb_trans_name_equal(trans, name)) {
    std::memset(trans->name, 0, sizeof trans->name);
    std::strncpy(trans->name, name, ZDB_TRANS_NAME_MAX);
    // The drivers learn the new name; a failure does not fail the start.
    int saved = zdb_errno;
    zdb_exec_transaction(SESS_RENAME, trans->name,
                         static_cast<int>(std::strlen(trans->name)), trans->id);
    zdb_errno = saved;
  }
  trans->update_seq = 1;
  trans->default_query_timeout = 0;
  return trans->id;
}

int zdb_start_session(const char *name) {
  return zdb_api_call([&] { return zdb_start_session_unguarded(name); });
}

static int zdb_stop_session_unguarded(int id) {
  ZDB_TRANS *trans;
  if (zdb_get_trans(id, &trans) == 1) {
    zdb_invalid_trans(id);
    return -1;
  }
  if (trans != nullptr) dlock_on_transaction_end(trans, 0);
  dbc_state().id_in_use[id] = false;
  SQLOnCloseSession(static_cast<unsigned long>(id));
  if (blat_sessions_on()) blat_sess_stop(id);
  return 0;
}

int zdb_stop_session(int id) {
  return zdb_api_call([&] { return zdb_stop_session_unguarded(id); });
}
