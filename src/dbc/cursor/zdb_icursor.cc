// Internal cursors: the chain of one company on a cursor, with one internal
// cursor per driver group that serves the table in that company, and the
// table sessions that hold them on driver sessions.
//
// Opening a chain maps the company number, reads the table's driver groups
// and, for each group from the last to the first, chooses the session of
// the transaction on that group (attaching the driver when needed) and the
// table session for the table in the physical company there. Internal
// cursors on audit drivers form the chain's audit chain; the others form the
// main chain, whose first member (the first group) reads unless another
// member is marked as the read driver.
#include <cstdio>
#include <memory>
#include <new>
#include <unordered_set>

#include <molvane/dd.h>
#include <molvane/zdb.h>

#include "dbc/compnr/compnr.h"
#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/request/rds.h"
#include "dbc/refs/refs.h"
#include "dbc/setread/ssts.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_msg.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

constexpr int kDebugOpenClose = 128;

ZDB_TABLE_COMPNR *g_keys = nullptr;  // process-wide, never freed

// The internal cursors alive in the process: the host may hold one (from
// zdb_determine_row_cursor) after its chain was freed. Never freed itself.
std::unordered_set<const ZDB_INTERNAL_CURSOR *> &live_internal_cursors() {
  static auto *live = new std::unordered_set<const ZDB_INTERNAL_CURSOR *>;
  return *live;
}

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

bool is_audit(const ZDB_TABLE_SESSION *ts) { return zdb_server_is_audit(ts->session->server); }

int wrong_compnr(int compnr, const char *table);

// The physical company of a logical one for the table: false with 519 for a
// mapping that is broken or a number outside 0..999.
bool map_compnr(const DD_TABLE *table, int compnr, int *physical) {
  *physical = compnrLogicToPhysic(compnrGetCompnrData(table->name), compnr);
  if (*physical == -2) {
    zdb_error(ZE_ILLEGAL_COMPNR);
    return false;
  }
  if ((dbc_state().debug & ZDB_DEBUG_TREE) && *physical != compnr)
    std::fprintf(stderr, "Warning: compnr %03d mapped to %03d for %s\n", compnr, *physical,
                 table->name);
  if (*physical < 0 || *physical > 999) {
    wrong_compnr(*physical, table->name);
    return false;
  }
  return true;
}

int wrong_compnr(int compnr, const char *table) {
  zdb_error(ZE_ILLEGAL_COMPNR);
  if (dbc_state().debug & ZDB_DEBUG_REQUESTS)
    std::fprintf(stderr, "<-> ATT_CURSOR failed, error %d\n", ZE_ILLEGAL_COMPNR);
  log_mesg(__FILE__, __LINE__, "Wrong Compnr", 0, "Wrong compnr %d for '%s'.", compnr, table);
  return -1;
}

// The driver groups of a table in a physical company; -1 with 505.
int table_groups(const DD_TABLE *table, int physical, TABLEDEF *td) {
  if (client_get_tabledef(table->name, physical, td) != 0) {
    if (zdb_errno == 0) zdb_error(ZE_NO_DRIVER);
    return -1;
  }
  if (td->nr_server == 0) {
    zdb_error(ZE_NO_DRIVER);
    log_mesg(__FILE__, __LINE__, "No server", 0, "No server, server_nr: %d, tabledef.nr_server: %d",
             0, td->nr_server);
    return -1;
  }
  return 0;
}

ZDB_TABLE_SESSION *new_table_session(ZDB_SESSION *session, ZDB_TABLE_COMPNR *key) {
  auto *ts = new (std::nothrow) ZDB_TABLE_SESSION;
  if (ts == nullptr) {
    zdb_error(ZE_MEMORY);
    return nullptr;
  }
  ts->session = session;
  ts->key = key;
  ts->dlock.table = key->table;
  ts->dlock.compnr = static_cast<std::uint16_t>(key->compnr);
  ts->dlock.trans = session->trans;
  ts->next = session->table_sessions;
  session->table_sessions = ts;
  return ts;
}

// The session and table session for one group; null with zdb_errno set.
ZDB_TABLE_SESSION *table_session_for(ZDB_TABLE_COMPNR *key, ZDB_TRANS *trans, DRIVER_SPEC *group) {
  ZDB_TABLE_SESSION *ts = nullptr;
  ZDB_SESSION *session = zdb_choose_session(key, trans, group, &ts);
  if (session == nullptr) {
    if (zdb_errno == 0) zdb_error(ZE_NO_DRIVER);
    return nullptr;
  }
  return ts != nullptr ? ts : new_table_session(session, key);
}

// The buffered-update holder of the key in the transaction: shared with any
// chain of the transaction on the same table and company.
ZDB_UPDATE_HOLDER *find_holder(ZDB_TRANS *trans, const ZDB_TABLE_COMPNR *key) {
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans) {
    ZDB_TABLE_SESSION *ts = zdb_find_table_session(s, key);
    if (ts == nullptr) continue;
    for (ZDB_INTERNAL_CURSOR *ic : {ts->open, ts->waiting})
      if (ic != nullptr && ic->company->updates != nullptr) return ic->company->updates;
  }
  return nullptr;
}

void release_holder(ZDB_COMPANY *company) {
  ZDB_UPDATE_HOLDER *holder = company->updates;
  company->updates = nullptr;
  if (holder == nullptr || --holder->refs > 0) return;
  for (RDS *rds : holder->rds)
    if (rds != nullptr) rds_close(rds);
  delete holder;
}

// Frees the internal cursors of one chain (main or audit), each taken off
// its table session's list.
void free_chain(ZDB_INTERNAL_CURSOR *ic) {
  while (ic != nullptr) {
    ZDB_INTERNAL_CURSOR *next = ic->next_in_chain;
    if (ic->tsession != nullptr && !unlink(ic->tsession->open, ic, &ZDB_INTERNAL_CURSOR::next_in_ts))
      unlink(ic->tsession->waiting, ic, &ZDB_INTERNAL_CURSOR::next_in_ts);
    ic->state = 0;
    live_internal_cursors().erase(ic);
    delete ic;
    ic = next;
  }
}

// Frees a whole chain with its per-company record.
void free_company_chain(ZDB_COMPANY *company, ZDB_INTERNAL_CURSOR *main) {
  close_all_sql_handle(&company->ssts);
  dbc_release_ref_entries(company);
  free_chain(company->audit);
  free_chain(main);
  release_holder(company);
  delete company;
}

// Moves every internal cursor of a chain to (from) its table session's
// waiting list. False when a member is missing from the list it leaves.
bool move_chain(ZDB_INTERNAL_CURSOR *ic, bool to_waiting) {
  for (; ic != nullptr; ic = ic->next_in_chain) {
    ZDB_TABLE_SESSION *ts = ic->tsession;
    ZDB_INTERNAL_CURSOR *&from = to_waiting ? ts->open : ts->waiting;
    ZDB_INTERNAL_CURSOR *&to = to_waiting ? ts->waiting : ts->open;
    if (!unlink(from, ic, &ZDB_INTERNAL_CURSOR::next_in_ts)) return false;
    ic->next_in_ts = to;
    to = ic;
  }
  return true;
}

// The main-chain head of a company (the audit chain's when the main chain
// is empty).
ZDB_INTERNAL_CURSOR *chain_head(ZDB_COMPANY *company, ZDB_INTERNAL_CURSOR *main) {
  return main != nullptr ? main : company->audit;
}

// The read driver of a chain: the first internal cursor of the main chain;
// with more than one group, a member marked as read driver wins, else the
// one with the smallest driver type word.
ZDB_INTERNAL_CURSOR *choose_read(ZDB_INTERNAL_CURSOR *main, int groups) {
  if (main == nullptr || groups <= 1) return main;
  auto type_of = [](const ZDB_INTERNAL_CURSOR *ic) {
    return zdb_server_type(ic->tsession->session->server);
  };
  if (type_of(main) & kServerReadDriver) return main;
  ZDB_INTERNAL_CURSOR *smallest = main;
  for (ZDB_INTERNAL_CURSOR *ic = main; ic != nullptr; ic = ic->next_in_chain) {
    if (type_of(ic) & kServerReadDriver) return ic;
    if (type_of(ic) < type_of(smallest)) smallest = ic;
  }
  return smallest;
}

// A chain of the logical company whose close waits on the table session.
ZDB_INTERNAL_CURSOR *waiting_chain(ZDB_TABLE_SESSION *ts, int logical) {
  for (ZDB_INTERNAL_CURSOR *ic = ts->waiting; ic != nullptr; ic = ic->next_in_ts)
    if (ic->company->logical == logical) return ic;
  return nullptr;
}

// Revives a chain whose close waited for the flush, for a new cursor.
ZDB_INTERNAL_CURSOR *revive(ZDB_INTERNAL_CURSOR *ic, ZDB_CURSOR *cursor) {
  ZDB_COMPANY *company = ic->company;
  ZDB_INTERNAL_CURSOR *head = company->head;
  if (!move_chain(head, false) || (head != company->audit && !move_chain(company->audit, false))) {
    log_mesg(__FILE__, __LINE__, "Undefined cursor", 0,
             "internal cursor of %s missing from its table session", cursor->table->name);
    zdb_error(ZE_ILLEGAL_STATE);
    return nullptr;
  }
  for (ZDB_INTERNAL_CURSOR *c : {head, company->audit})
    for (; c != nullptr; c = c->next_in_chain) c->cursor = cursor;
  company->binds = cursor->binds;
  company->bind_count = cursor->bind_count;
  company->waiting = false;
  return head;
}

// Opens the chain of a company for a cursor; the head, or null.
ZDB_INTERNAL_CURSOR *open_internal(ZDB_CURSOR *cursor, int compnr) {
  if (zdb_start() != 0) return nullptr;
  const DD_TABLE *table = cursor->table;
  int physical = 0;
  if (!map_compnr(table, compnr, &physical)) return nullptr;
  TABLEDEF td{};
  if (table_groups(table, physical, &td) != 0) return nullptr;
  ZDB_TABLE_COMPNR *key = zdb_table_compnr_key(table, physical);
  if (key == nullptr) return nullptr;

  auto company = std::unique_ptr<ZDB_COMPANY>(new (std::nothrow) ZDB_COMPANY);
  if (!company) {
    zdb_error(ZE_MEMORY);
    return nullptr;
  }
  company->logical = compnr;
  company->physical = physical;
  int key_size = zdb_max_key_size_of_table(table);
  company->key_buf[0].assign(key_size > 0 ? key_size : 0, 0);
  company->key_buf[1].assign(key_size > 0 ? key_size : 0, 0);
  company->updates = find_holder(cursor->trans, key);
  if (company->updates == nullptr) company->updates = new (std::nothrow) ZDB_UPDATE_HOLDER;
  if (company->updates == nullptr) {
    zdb_error(ZE_MEMORY);
    return nullptr;
  }
  ++company->updates->refs;

  ZDB_INTERNAL_CURSOR *main = nullptr;
  ZDB_INTERNAL_CURSOR *head = nullptr;
  // Memory that runs out half way (an attachment, the row buffer) leaves
  // no internal cursor on a table session's list and no holder behind.
  try {
    for (int g = td.nr_server - 1; g >= 0; --g) {
      ZDB_TABLE_SESSION *ts = table_session_for(key, cursor->trans, td.server[g]);
      if (ts == nullptr) {
        free_company_chain(company.release(), main);
        return nullptr;
      }
      if (ZDB_INTERNAL_CURSOR *waiting = waiting_chain(ts, compnr)) {
        free_company_chain(company.release(), main);
        return revive(waiting, cursor);
      }
      auto *ic = new (std::nothrow) ZDB_INTERNAL_CURSOR;
      if (ic == nullptr) {
        zdb_error(ZE_MEMORY);
        free_company_chain(company.release(), main);
        return nullptr;
      }
      try {
        live_internal_cursors().insert(ic);
      } catch (...) {
        delete ic;
        throw;
      }
      ic->tsession = ts;
      ic->company = company.get();
      ic->cursor = cursor;
      ic->next_in_ts = ts->open;
      ts->open = ic;
      ZDB_INTERNAL_CURSOR *&chain = is_audit(ts) ? company->audit : main;
      ic->next_in_chain = chain;
      chain = ic;
    }
    head = chain_head(company.get(), main);
    if (head->tsession->key->table != table)
      log_mesg(__FILE__, __LINE__, "Wrong table", 0,
               "Internal cursor of %s on a table session of %s", table->name,
               head->tsession->key->table->name);
    // Room for the whole row, with _dlock and _compnr behind the columns.
    company->row.assign(table->row_length, 0);
    company->read = choose_read(main, td.nr_server);
    company->binds = cursor->binds;
    company->bind_count = cursor->bind_count;
    company->head = head;
  } catch (...) {
    if (company) free_company_chain(company.release(), main);
    throw;
  }
  company.release();
  return head;
}

int close_internal(ZDB_INTERNAL_CURSOR *icursor, bool force) {
  if (zdb_start() != 0) return -1;
  if (zdb_cursor_check(icursor) != 0) return -1;
  ZDB_COMPANY *company = icursor->company;
  if (dbc_state().debug >= kDebugOpenClose)
    std::fprintf(stderr, "zdb_close(int) on %8s company %03d (cursor %08x)\n",
                 icursor->tsession->key->table->name, company->logical,
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(icursor)));
  ZDB_INTERNAL_CURSOR *main = company->head == company->audit ? nullptr : company->head;
  // Buffered updates and counter changes not yet sent keep the chain until
  // the flush has sent them; freeing it now would lose them.
  bool pending = false;
  if (const ZDB_UPDATE_HOLDER *holder = company->updates)
    for (const RDS *rds : holder->rds)
      if (rds != nullptr && rds->row_count > 0) pending = true;
  for (ZDB_INTERNAL_CURSOR *c : {main, company->audit})
    for (; c != nullptr; c = c->next_in_chain)
      if (c->tsession->flags & ZDB_TS_PENDING) pending = true;
  // A chain that already waits is closed when it is asked again (the flush).
  if (pending && !force && !company->waiting) {
    // The chain waits on its table sessions until the flush closes it; its
    // cursor is gone.
    for (ZDB_INTERNAL_CURSOR *c : {main, company->audit})
      for (; c != nullptr; c = c->next_in_chain) c->cursor = nullptr;
    move_chain(main, true);
    move_chain(company->audit, true);
    company->waiting = true;
    return 0;
  }
  free_company_chain(company, main);
  return 0;
}

}  // namespace

ZDB_TABLE_COMPNR *zdb_table_compnr_key(const DD_TABLE *table, int compnr) {
  for (ZDB_TABLE_COMPNR *k = g_keys; k != nullptr; k = k->next)
    if (k->table == table && k->compnr == compnr) return k;
  auto *key = new (std::nothrow) ZDB_TABLE_COMPNR{g_keys, table, compnr};
  if (key == nullptr) {
    zdb_error(ZE_MEMORY);
    return nullptr;
  }
  g_keys = key;
  return key;
}

ZDB_TABLE_SESSION *zdb_find_table_session(ZDB_SESSION *session, const ZDB_TABLE_COMPNR *key) {
  for (ZDB_TABLE_SESSION *ts = session->table_sessions; ts != nullptr; ts = ts->next)
    if (ts->key == key) return ts;
  return nullptr;
}

int zdb_get_internal_cursor(ZDB_INTERNAL_CURSOR **result, ZDB_CURSOR *cursor, int compnr) {
  if (result != nullptr) *result = nullptr;
  if (cursor == nullptr || result == nullptr) {
    zdb_error(ZE_BAD_CURSOR);
    return -1;
  }
  for (ZDB_INTERNAL_CURSOR *head = cursor->heads; head != nullptr; head = head->next_head) {
    if (head->company->logical == compnr) {
      *result = head;
      return 0;
    }
  }
  ZDB_INTERNAL_CURSOR *head = open_internal(cursor, compnr);
  if (head == nullptr) return -1;
  head->next_head = cursor->heads;
  cursor->heads = head;
  *result = head;
  return 0;
}

int zdb_close_internal(ZDB_INTERNAL_CURSOR *icursor) { return close_internal(icursor, false); }

int zdb_check_internal_cursor(const ZDB_INTERNAL_CURSOR *icursor, const char *call) {
  if (icursor != nullptr && live_internal_cursors().count(icursor) != 0) return 0;
  zdb_error(ZE_BAD_CURSOR);
  reset_zdb_msg();
  if (icursor == nullptr) {
    set_zdb_msg_logged(call, 0, "No internal cursor: %s was given a null internal cursor", call);
  } else {
    set_zdb_msg_logged(call, 0,
                       "Not an open internal cursor: %s was given one whose cursor was closed "
                       "(by zdb_close or zdb_logoff) or that zdb_determine_row_cursor never "
                       "returned",
                       call);
  }
  return -1;
}

int zdb_cursor_check(ZDB_INTERNAL_CURSOR *icursor) {
  if (icursor == nullptr) {
    zdb_error(ZE_BAD_CURSOR);
    return -1;
  }
  for (ZDB_INTERNAL_CURSOR *c : {icursor, icursor->company->audit}) {
    for (; c != nullptr; c = c->next_in_chain) {
      if (c->state != ZDB_ICURSOR_VALID) {
        zdb_error(ZE_BAD_CURSOR);
        return -1;
      }
    }
  }
  return 0;
}

int zdb_attach_cursor(ZDB_INTERNAL_CURSOR *icursor) {
  int physical = icursor->company->physical;
  if (physical < 0 || physical > 999)
    return wrong_compnr(physical, icursor->tsession->key->table->name);
  return 0;
}

void zdb_detach_cursor(ZDB_INTERNAL_CURSOR *icursor) {
  if (icursor == nullptr || icursor->company->updates == nullptr) return;
  for (RDS *rds : icursor->company->updates->rds)
    if (rds != nullptr) rds_reset(rds, 1);
}

int zdb_start_drivers_for_table(const DD_TABLE *table, int compnr, int trans_id) {
  ZDB_TRANS *trans = zdb_get_trans_by_id(trans_id);
  if (trans == nullptr) return -1;
  int physical = 0;
  if (!map_compnr(table, compnr, &physical)) return -1;
  TABLEDEF td{};
  if (table_groups(table, physical, &td) != 0) return -1;
  ZDB_TABLE_COMPNR *key = zdb_table_compnr_key(table, physical);
  if (key == nullptr) return -1;
  for (int g = td.nr_server - 1; g >= 0; --g)
    if (table_session_for(key, trans, td.server[g]) == nullptr) return -1;
  return 0;
}

int release_session_locks(ZDB_SESSION *session, int release) {
  for (ZDB_TABLE_SESSION *ts = session->table_sessions; ts != nullptr; ts = ts->next) {
    if (ts->open == nullptr) continue;
    for (ZDB_INTERNAL_CURSOR *ic = ts->open; ic != nullptr; ic = ic->next_in_ts) {
      if (zdb_cursor_check(ic) != 0) {
        std::fprintf(stderr, "Cursor check in session %p fails (cursor %p)\n",
                     static_cast<void *>(session), static_cast<void *>(ic));
        return -1;
      }
      ZDB_COMPANY *company = ic->company;
      company->row_state &= static_cast<std::uint8_t>(~(ZDB_ROW_LOCKED | ZDB_ROW_TABLE_LOCKED));
      company->dlock_id = 0;
    }
    if (release) release_dlock(ts);
  }
  return 0;
}

int dbc_release_table_sessions(ZDB_SESSION *session) {
  while (ZDB_TABLE_SESSION *ts = session->table_sessions) {
    for (ZDB_INTERNAL_CURSOR **list : {&ts->open, &ts->waiting}) {
      while (ZDB_INTERNAL_CURSOR *ic = *list) {
        ZDB_COMPANY *company = ic->company;
        ZDB_INTERNAL_CURSOR *head = company->head;
        // The chain leaves its cursor before it is closed.
        if (ic->cursor != nullptr) unlink(ic->cursor->heads, head, &ZDB_INTERNAL_CURSOR::next_head);
        if (close_internal(head, true) != 0) return -1;
      }
    }
    session->table_sessions = ts->next;
    if (ZDB_TRANS *trans = session->trans)
      std::erase(trans->touched, ts);
    rm_dlock(ts);
    delete ts;
  }
  return 0;
}

bool dbc_session_has_open_cursor(ZDB_SESSION *session) {
  for (ZDB_TABLE_SESSION *ts = session->table_sessions; ts != nullptr; ts = ts->next)
    if (ts->open != nullptr) return true;
  return false;
}

ZDB_DLOCK *dbc_icursor_dlock(ZDB_INTERNAL_CURSOR *icursor) {
  if (icursor == nullptr || icursor->state != ZDB_ICURSOR_VALID || icursor->tsession == nullptr)
    return nullptr;
  return &icursor->tsession->dlock;
}

ZDB_DLOCK *dbc_table_session_dlock(ZDB_TABLE_SESSION *tsession) {
  return tsession != nullptr ? &tsession->dlock : nullptr;
}
