// Buffered updates: each insert, update, delete and reference-counter change
// of a table and company is appended to the update row data set of its
// buffered-update holder; a flush sends the row data sets of a transaction,
// one EXE_UPDATE per driver session (sessions on audit drivers last), and
// empties them whether the sending succeeded or not.
//
// Pending reference-counter changes wait, merged per key, in the holder's
// second (sorted) row data set; before an action on a key whose counter
// change is pending, and at every flush, they move into the update row data
// set as records of kind 5, so the driver sees them in the order they were
// made.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <molvane/zdb.h>
#include <molvane/zdb_detail.h>

#include "dbc/dict/dd.h"
#include "dbc/dict/dd_state.h"
#include "dbc/request/rds.h"
#include "dbc/request/request_block.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"
#include "sql/common/table_writes.h"

namespace {

constexpr int kUpdates = 0;   // holder->rds[0]: the update actions
constexpr int kCounters = 1;  // holder->rds[1]: the reference-counter changes
constexpr int kMaxAuditSessions = 256;

void put_u32(unsigned char *p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

bool tracing() { return (dbc_state().debug & ZDB_DEBUG_REQUESTS) != 0; }

// ZDB_ALWAYS_FLUSH, read at the first buffered action.
bool always_flush() {
  static const bool on = [] {
    const char *value = std::getenv("ZDB_ALWAYS_FLUSH");
    return value != nullptr && *value != '\0' && std::atoi(value) != 0;
  }();
  return on;
}

// The update row data set's column map of a table: where each stored
// column of the row image goes in an update row. Made once per table.
struct UpdateLayout {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> moves;  // (image offset, rds offset)
  std::vector<std::uint16_t> lengths;
};

const UpdateLayout *layout_of(const DD_TABLE *table, RDS *rds, RDS_COLUMN_MAP *map) {
  static auto *layouts = new std::map<const DD_TABLE *, UpdateLayout>;
  auto it = layouts->find(table);
  if (it != layouts->end()) return &it->second;
  if (map == nullptr) return nullptr;
  UpdateLayout layout;
  for (RDS_COLUMN_MAP *m = map; m->column != nullptr; ++m) {
    const RDS_COLUMN &c = rds->columns[m->index];
    layout.moves.emplace_back(m->column->offset, c.offset);
    layout.lengths.push_back(static_cast<std::uint16_t>(c.size * c.count));
  }
  return &layouts->emplace(table, std::move(layout)).first->second;
}

ZDB_UPDATE_HOLDER *holder_of(ZDB_TABLE_SESSION *ts) {
  for (ZDB_INTERNAL_CURSOR *ic : {ts->open, ts->waiting})
    if (ic != nullptr && ic->company != nullptr && ic->company->updates != nullptr)
      return ic->company->updates;
  return nullptr;
}

const DD_TABLE *table_of(ZDB_TABLE_SESSION *ts) { return ts->key->table; }

// Opens the update row data set of a holder on first use.
RDS *update_set(ZDB_UPDATE_HOLDER *holder, const DD_TABLE *table) {
  if (holder->rds[kUpdates] != nullptr) return holder->rds[kUpdates];
  RDS_COLUMN_MAP *map = nullptr;
  int count = 0;
  RDS *rds = rds_open_update_actions(table, &map, &count);
  if (rds == nullptr) return nullptr;
  const UpdateLayout *layout = nullptr;
  try {
    layout = layout_of(table, rds, map);
  } catch (...) {  // memory ran out: the set goes with the failure
    rds_close(rds);
    throw;
  }
  if (layout == nullptr) {
    rds_close(rds);
    return nullptr;
  }
  holder->rds[kUpdates] = rds;
  return rds;
}

// Appends one action (kind, flags, row image) to the update row data set
// with the transaction's next sequence number.
int append_action(RDS *rds, const DD_TABLE *table, ZDB_TRANS *trans, const unsigned char *record) {
  const UpdateLayout *layout = layout_of(table, nullptr, nullptr);
  if (layout == nullptr) return -1;
  // One row's room, kept for the next action of the thread.
  thread_local std::vector<unsigned char> row;
  row.assign(static_cast<std::size_t>(rds->row_length), 0);
  put_u32(row.data(), trans->update_seq++);
  std::memcpy(row.data() + 4, record, ZDB_ACTION_HEADER);
  const unsigned char *image = record + ZDB_ACTION_HEADER;
  for (std::size_t i = 0; i < layout->moves.size(); ++i) {
    auto [from, to] = layout->moves[i];
    if (from + layout->lengths[i] > table->dlock_offset ||
        to + layout->lengths[i] > rds->row_length)
      continue;
    std::memcpy(row.data() + to, image + from, layout->lengths[i]);
  }
  prepare_rds_col_state(rds);
  return rds_put_seq(rds, row.data());
}

// Moves the reference-counter change at an index position of the counter
// set into the update set as a record of kind 5.
int move_counter(ZDB_UPDATE_HOLDER *holder, const DD_TABLE *table, ZDB_TRANS *trans,
                 std::int32_t position) {
  RDS *counters = holder->rds[kCounters];
  std::vector<unsigned char> change(counters->row_length);
  if (rds_get_idx_row(counters, position, change.data()) != 0) return -1;
  const DD_KEY *key = key_desc(table, 1);
  if (key == nullptr) {
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  std::vector<unsigned char> record(ZDB_ACTION_HEADER + table->row_length, 0);
  put_u32(record.data(), RDS_ACT_REFCOUNT);
  unsigned char *image = record.data() + ZDB_ACTION_HEADER;
  zdb_fill_key(image, change.data(), key);
  int key_length = counters->row_length - 8;
  if (table->refcnt_d != nullptr)
    std::memcpy(image + table->refcnt_d->offset, change.data() + key_length, 4);
  if (table->refcnt_u != nullptr)
    std::memcpy(image + table->refcnt_u->offset, change.data() + key_length + 4, 4);
  RDS *updates = update_set(holder, table);
  if (updates == nullptr) return -1;
  return append_action(updates, table, trans, record.data());
}

// Moves every pending reference-counter change of a holder, then empties
// the counter set.
int move_all_counters(ZDB_UPDATE_HOLDER *holder, const DD_TABLE *table, ZDB_TRANS *trans) {
  RDS *counters = holder->rds[kCounters];
  if (counters == nullptr || counters->row_count == 0) return 0;
  for (std::int32_t i = 0; i < counters->row_count; ++i)
    if (move_counter(holder, table, trans, i) != 0) return -1;
  rds_reset(counters, 0);
  return 0;
}

// A pending counter change of the action's key goes first.
int move_counter_of_key(ZDB_UPDATE_HOLDER *holder, const DD_TABLE *table, ZDB_TRANS *trans,
                        const unsigned char *image) {
  RDS *counters = holder->rds[kCounters];
  if (counters == nullptr || counters->row_count == 0) return 0;
  const DD_KEY *key = key_desc(table, 1);
  if (key == nullptr) return 0;
  std::vector<unsigned char> probe(counters->row_length + DD_MAX_KEY_LENGTH, 0);
  zdb_extract_key(probe.data(), image, key);
  std::int32_t position;
  if (rds_srch(counters, probe.data(), &position, nullptr, counters->search_list) != 1) return 0;
  if (move_counter(holder, table, trans, position) != 0) return -1;
  rds_del_idx(counters, position);
  return 0;
}

// Writes the EXE_UPDATE of one session: its marked table sessions.
int send_update(ZDB_SESSION *session) {
  ZDB_SERVER *server = session->server;
  if (zdb_attach_on_demand(server) != 0) return -1;
  ZDB_TRANS *trans = session->trans;
  std::vector<ZDB_UPDATE_TABLE> tables;
  for (ZDB_TABLE_SESSION *ts = session->table_sessions; ts != nullptr; ts = ts->next) {
    if (!(ts->flags & ZDB_TS_PENDING)) continue;
    ZDB_UPDATE_HOLDER *holder = holder_of(ts);
    if (holder == nullptr) continue;
    const DD_TABLE *table = table_of(ts);
    ZDB_UPDATE_TABLE t{};
    std::memcpy(t.table, table->name, sizeof t.table);
    if (table->mode_bits & DD_MODE_NEW) t.table[0] = static_cast<char>(std::toupper(t.table[0]));
    ZDB_INTERNAL_CURSOR *ic = ts->open != nullptr ? ts->open : ts->waiting;
    t.compnr = static_cast<std::uint16_t>(ic->company->logical);
    t.rds = holder->rds[kUpdates];
    tables.push_back(t);
    if (tracing()) {
      std::fprintf(stderr, "Update actions on %.8s%03d\n", table->name, t.compnr);
      dump_rds_rows(t.rds, 0);
    }
  }
  session->flags &= static_cast<std::uint8_t>(~ZDB_SESSION_NO_TABLES);
  const char *name = trans != nullptr ? trans->name : "";
  int id = trans != nullptr ? trans->id : 0;
  if (tracing())
    std::fprintf(stderr, "-> EXE_UPDATE: session %p t_id %d name %s from server %p\n",
                 static_cast<void *>(session), id, name, static_cast<void *>(server));
  for (int repeat = 0;; ++repeat) {
    dbc_request_prepare(EXE_UPDATE);
    ZDB_REQUEST &req = dbc_request();
    req.session_id = session->server_session_id;
    req.update.trans = trans;
    bool with_tables = !(session->flags & ZDB_SESSION_NO_TABLES);
    req.update.tables = with_tables ? tables.data() : nullptr;
    req.update.count = with_tables ? static_cast<std::uint16_t>(tables.size()) : 0;
    int rc = zdb_commu(server);
    if (rc != 0 && req.retval != ZE_NO_DD && tracing())
      std::fprintf(stderr, "<- EXE_UPDATE failed errno %d\n", zdb_errno);
    if (rc == 0 || req.retval != ZE_NO_DD) return rc;
    if (repeat == ZDB_MAX_DD_RESENDS) {
      log_mesg(__FILE__, __LINE__, "NO DD", 0,
               "EXE_UPDATE: driver still lacks dictionaries after %d resends", ZDB_MAX_DD_RESENDS);
      zdb_error(ZE_NO_DD);
      return -1;
    }
    std::vector<unsigned char> list(req.dd_list.entries,
                                    req.dd_list.entries + req.dd_list.count * DD_LIST_ENTRY_SIZE);
    if (zdb_send_dd_to_server(session, req.dd_list.count, list.data(), -1) != 0) return -1;
    session->flags |= ZDB_SESSION_NO_TABLES;
    if (tracing())
      std::fprintf(stderr, "-> EXE_UPDATE2: session %p t_id %d name %s from server %p\n",
                   static_cast<void *>(session), id, name, static_cast<void *>(server));
  }
}

// The tables whose rows the driver's reference work may change when a row
// of `table` changes: the table itself, the closure down its referencing
// links (the children that a cascade or a nullify reaches, theirs in turn)
// and one step up from each of them (the parents whose counters count
// their rows). Only the children's dictionaries are loaded (a parent is
// known by its name); a child without a dump ends its branch.
std::vector<std::string> reference_reach(const DD_TABLE *table) {
  constexpr std::size_t kMaxTables = 2000;
  auto name_of = [](const char *column_name) {
    char name[9] = {};
    ddtablename_from_columnname(column_name, name);
    return std::string(name, strnlen(name, 8));
  };
  auto add = [](std::vector<std::string> *tables, std::string name) {
    if (name.empty() || tables->size() >= kMaxTables ||
        std::find(tables->begin(), tables->end(), name) != tables->end())
      return;
    tables->push_back(std::move(name));
  };
  std::vector<std::string> down{std::string(table->name, strnlen(table->name, 8))};  // the closure
  std::vector<std::string> up;  // one step up from it
  for (std::size_t next = 0; next < down.size(); ++next) {
    const DD_TABLE *t = table;
    if (next > 0) {
      const int kept = zdb_errno;  // a dictionary looked up here leaves the caller's error alone
      t = dd_table_or_throw(down[next].c_str());
      zdb_errno = kept;
      if (t == nullptr) continue;
    }
    for (int i = 0; i < t->refby_count; ++i) add(&down, name_of(t->refby[i].column_name));
    for (int i = 0; i < t->ref_count; ++i) add(&up, name_of(t->refs[i].ref_column));
  }
  for (std::string &parent : up) add(&down, std::move(parent));
  return down;
}

// A flushed action of the table reached the driver: what a query of this
// process keeps of the table's rows is stale, and so is what it keeps of
// the tables the driver's reference work may change with it
// (reference_reach). The reach of a table is found once and kept until a
// dictionary is loaded or the dictionary mode changes, so that a flush
// neither loads dictionaries nor looks again for a dump that is missing.
void note_written(const DD_TABLE *table) {
  // The dictionaries the reaches were found with: those loaded, in a mode.
  using Dictionaries = std::pair<std::size_t, int>;
  auto dictionaries = [] { return Dictionaries(molvane::dd::State().tables.size(), molvane::dd::ModeBits()); };
  static Dictionaries found_with;
  static std::unordered_map<std::string, std::vector<std::string>> reaches;
  const std::string name(table->name, strnlen(table->name, 8));
  auto found = reaches.find(name);
  if (found == reaches.end() || dictionaries() != found_with) {
    std::vector<std::string> reach = reference_reach(table);
    if (dictionaries() != found_with) {
      reaches.clear();
      found_with = dictionaries();
    }
    found = reaches.insert_or_assign(name, std::move(reach)).first;
  }
  for (const std::string &t : found->second) SQLTableWrites::Note(t.data(), t.size());
}

}  // namespace

int zdb_do_exec_row(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *record,
                    std::uint32_t flags, int force) {
  if (icursor == nullptr || icursor->company == nullptr || record == nullptr) {
    zdb_error(ZE_BAD_CURSOR);
    return -1;
  }
  ZDB_COMPANY *company = icursor->company;
  ZDB_TABLE_SESSION *ts = icursor->tsession;
  ZDB_TRANS *trans = ts->session->trans;
  const DD_TABLE *table = table_of(ts);
  ZDB_UPDATE_HOLDER *holder = company->updates;
  if (holder == nullptr || trans == nullptr) {
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  RDS *rds = update_set(holder, table);
  if (rds == nullptr) return -1;
  if (move_counter_of_key(holder, table, trans, record + ZDB_ACTION_HEADER) != 0) return -1;
  if (append_action(rds, table, trans, record) != 0) return -1;
  if ((flags & ZDB_FLUSH_MASK) || force || always_flush()) return flush_updates(ts->session);
  return 0;
}

int flush_updates(ZDB_SESSION *session) {
  if (session == nullptr || session->trans == nullptr) return 0;
  ZDB_TRANS *trans = session->trans;
  DBC_STATE &state = dbc_state();

  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans)
    for (ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next)
      if (ZDB_UPDATE_HOLDER *holder = holder_of(ts))
        if (move_all_counters(holder, table_of(ts), trans) != 0) return -1;

  int error = 0;
  bool profiled = false;
  std::vector<ZDB_SESSION *> audit;
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans) {
    int marked = 0;
    for (ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next) {
      ZDB_UPDATE_HOLDER *holder = holder_of(ts);
      if (holder != nullptr && holder->rds[kUpdates] != nullptr &&
          holder->rds[kUpdates]->row_count > 0) {
        ts->flags |= ZDB_TS_PENDING;
        ++marked;
      }
    }
    if (marked == 0 || error != 0) continue;
    if (zdb_server_is_audit(s->server)) {
      if (audit.size() < kMaxAuditSessions) audit.push_back(s);
      continue;
    }
    if (!profiled && state.profile_callback != nullptr) {
      state.profile_callback(1);
      profiled = true;
    }
    if (send_update(s) != 0) error = zdb_errno != 0 ? zdb_errno : ZE_COMMUNICATION;
  }
  for (ZDB_SESSION *s : audit) {
    if (error != 0) break;
    if (send_update(s) != 0) error = zdb_errno != 0 ? zdb_errno : ZE_COMMUNICATION;
  }

  // Every marked entry is emptied, sent or not (a refused one may have
  // changed rows before its error); then the closes that waited for this
  // flush are done.
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans)
    for (ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next)
      if (ts->flags & ZDB_TS_PENDING) {
        if (ZDB_UPDATE_HOLDER *holder = holder_of(ts)) rds_reset(holder->rds[kUpdates], 0);
        note_written(table_of(ts));
      }
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans)
    for (ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next)
      ts->flags &= static_cast<std::uint8_t>(~ZDB_TS_PENDING);
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans)
    for (ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next)
      while (ts->waiting != nullptr) {
        ZDB_INTERNAL_CURSOR *waiting = ts->waiting;
        if (zdb_close_internal(waiting->company->head) != 0) return -1;
        if (ts->waiting == waiting) {  // the close kept it waiting: never spin on it
          zdb_error(ZE_ILLEGAL_STATE);
          return -1;
        }
      }

  if (error != 0) zdb_error(error);
  if (profiled) state.profile_callback(0);
  return error != 0 ? -1 : 0;
}

void zdb_drop_updates(ZDB_TRANS *trans) {
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans)
    for (ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next)
      if (ZDB_UPDATE_HOLDER *holder = holder_of(ts))
        for (RDS *rds : holder->rds)
          if (rds != nullptr) rds_reset(rds, 0);
}

bool zdb_has_pending_updates(ZDB_TRANS *trans) {
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans)
    for (ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next)
      if (ZDB_UPDATE_HOLDER *holder = holder_of(ts))
        for (RDS *rds : holder->rds)
          if (rds != nullptr && rds->row_count > 0) return true;
  return false;
}

bool zdb_last_update_image(ZDB_INTERNAL_CURSOR *icursor, unsigned char *image) {
  ZDB_UPDATE_HOLDER *holder = icursor->company->updates;
  RDS *rds = holder != nullptr ? holder->rds[kUpdates] : nullptr;
  const DD_TABLE *table = table_of(icursor->tsession);
  const UpdateLayout *layout = layout_of(table, nullptr, nullptr);
  if (rds == nullptr || rds->row_count == 0 || layout == nullptr) return false;
  std::vector<unsigned char> last(rds->row_length);
  rds_get_expand_row(rds, last.data());
  // The update row holds the stored columns one after the other in offset
  // order; each goes back to its own offset in the image, so that a column
  // that is not stored keeps its place between them.
  for (std::size_t i = 0; i < layout->moves.size(); ++i) {
    auto [to, from] = layout->moves[i];
    if (to + layout->lengths[i] > table->dlock_offset || from + layout->lengths[i] > rds->row_length)
      continue;
    std::memcpy(image + to, last.data() + from, layout->lengths[i]);
  }
  return true;
}

int zdb_get_detail_error_by_trans(ZDB_TRANS *trans, char *table, int *compnr,
                                  const char **extra) {
  if (trans == nullptr) {
    zdb_error(ZE_INVALID_SESSION);
    return -1;
  }
  if (trans->detail_error == 0) {
    if (table) table[0] = '\0';
    if (compnr) *compnr = 0xFFFF;
    if (extra) *extra = nullptr;
    return 0;
  }
  if (table) {
    std::memcpy(table, trans->detail_table, sizeof trans->detail_table);
    table[sizeof trans->detail_table] = '\0';
  }
  if (compnr) *compnr = trans->detail_compnr;
  if (extra) *extra = trans->has_detail_extra ? trans->detail_extra.c_str() : nullptr;
  return trans->detail_error;
}

void zdb_name_failed_update(const ZDB_TRANS *trans) {
  if (zdb_errno != ZE_BUFFERED_UPDATE || trans == nullptr || trans->detail_error == 0) return;
  const char *name = zdberrorname(trans->detail_error);
  reset_zdb_msg();
  set_zdb_msg_logged(nullptr, 0, "the update of %.8s%03u failed with error %d (%s)%s%s",
                     trans->detail_table, static_cast<unsigned>(trans->detail_compnr),
                     trans->detail_error, name != nullptr ? name : zdberrorstr(trans->detail_error),
                     trans->has_detail_extra ? ": " : "",
                     trans->has_detail_extra ? trans->detail_extra.c_str() : "");
}

void zdb_own_update_error(ZDB_TRANS *trans) {
  if (zdb_errno != ZE_BUFFERED_UPDATE || trans == nullptr || trans->detail_error == 0) return;
  if (trans->has_detail_extra && zdb_update_text_is_cause(trans->detail_error, trans->detail_extra)) {
    reset_zdb_msg();
    add_zdb_msg(trans->detail_extra.c_str());
  } else if (trans->detail_error == ZE_LOCKED && trans->has_detail_extra && !trans->detail_extra.empty()) {
    // A call of its own that was refused as locked says so as every 107
    // does, with the driver's words on what held it; no buffered update
    // of the caller's failed.
    reset_zdb_msg();
    set_zdb_msg_logged(nullptr, 0, "Record is locked in %.8s%03u: %s", trans->detail_table,
                       static_cast<unsigned>(trans->detail_compnr), trans->detail_extra.c_str());
  } else {
    zdb_name_failed_update(trans);
  }
  zdb_errno = trans->detail_error;
}

int zdb_get_detail_error(char *table, int *compnr, const char **extra, int trans_id) {
  // Reading the detail leaves zdb_errno as the failed call left it, so that
  // a host may ask for both in either order.
  const int last = zdb_errno;
  if (zdb_start() != 0) return -1;
  zdb_errno = last;
  ZDB_TRANS *trans = zdb_get_trans_by_id(trans_id);
  if (trans == nullptr) return -1;
  return zdb_get_detail_error_by_trans(trans, table, compnr, extra);
}
