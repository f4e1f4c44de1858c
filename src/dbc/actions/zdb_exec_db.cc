// Transaction actions. A commit sends the buffered updates, then commits on
// the audit drivers, writes the transaction-notification rows their replies
// ask for, and commits on every other driver session in list order. Any
// failure on that road turns the commit into an abort of every session that
// is still to be asked, and the call reports the first error. A transaction
// end also ends the delayed locks and breaks the set reads that saw the
// tables it changed. Also the flush, session and driver commands of a
// transaction, and its touched list.
#include <cstdio>
#include <vector>

#include <molvane/zdb.h>
#include <molvane/zdb_action.h>

#include "dbc/actions/action_codes.h"
#include "dbc/audit/auditcols.h"
#include "dbc/dlock/dlock.h"
#include "dbc/setread/ssts.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_guard.h"
#include "platform/blat.h"
#include "platform/log.h"
#include "sql/common/table_writes.h"

extern "C" int zdb_errno;

namespace {

bool tracing() { return (dbc_state().debug & ZDB_DEBUG_REQUESTS) != 0; }

// The transaction of a valid id: 1 found, 0 a valid id without a record,
// -1 an id not in use (518, logged).
int find_trans(int id, ZDB_TRANS **trans) {
  if (zdb_get_trans(id, trans) == 1) {
    zdb_invalid_trans(id);
    return -1;
  }
  return *trans != nullptr ? 1 : 0;
}

int break_set_reads(ZDB_TABLE_SESSION *ts) {
  for (ZDB_INTERNAL_CURSOR *ic = ts->open; ic != nullptr; ic = ic->next_in_ts)
    if (break_all_sql_handle(ic) != 0) return -1;
  return 0;
}

// Set reads of other transactions on a table and company that this commit
// changed may hold rows that are no longer true.
int break_other_set_reads(ZDB_TRANS *trans, const ZDB_TABLE_COMPNR *key) {
  for (ZDB_TRANS *other = dbc_state().trans_list; other != nullptr; other = other->next) {
    if (other == trans) continue;
    for (ZDB_SESSION *s = other->sessions; s != nullptr; s = s->next_in_trans)
      if (ZDB_TABLE_SESSION *ts = zdb_find_table_session(s, key))
        if (break_set_reads(ts) != 0) return -1;
  }
  return 0;
}

// The touched list at the end of the transaction.
int end_touched(ZDB_TRANS *trans, bool committed) {
  int result = 0;
  for (ZDB_TABLE_SESSION *ts : trans->touched) {
    if (result == 0 &&
        (committed ? break_other_set_reads(trans, ts->key) : break_set_reads(ts)) != 0)
      result = -1;
    ts->flags &= static_cast<std::uint8_t>(~(ZDB_TS_TOUCHED | ZDB_TS_LOCKED));
  }
  trans->touched.clear();
  return result;
}

// The transaction road of one action, with the error it keeps.
class TransactionAction {
 public:
  TransactionAction(ZDB_TRANS *trans, int action) : trans_(trans), code_(action) {
    audit_ = action == audit_commit_table_action || action == audit_abort_table_action;
    ends_ = action == commit_trans || action == abort_trans;
    if (action == audit_commit_table_action) code_ = commit_trans;
    if (action == audit_abort_table_action) code_ = abort_trans;
    traced_ = blat_get_state(BLAT_CLASS_TRANSACTION) != 0;
  }

  int Run() {
    if (traced_ && code_ == commit_trans) blat_trans_commit(trans_->id);
    if (traced_ && code_ == abort_trans) blat_trans_abort(trans_->id);
    if (code_ == abort_trans) trans_->lost_driver = false;
    if (code_ == commit_trans && trans_->lost_driver) {
      // Changes of this transaction died with a driver: the rest must not
      // be committed without them.
      log_mesg(__FILE__, __LINE__, "Commit", 0,
               "transaction %d lost changes with a driver connection; commit refused until abort",
               trans_->id);
      zdb_error(ZE_COMMUNICATION);
      ToAbort();
    }
    if (code_ == commit_trans) {
      if (flush_updates(trans_->sessions) != 0) ToAbort();
      // A driver whose connection is lost cannot commit what this
      // transaction changed there: no driver commits then.
      if (code_ == commit_trans && LostSession() != nullptr) ToAbort();
    } else if (code_ == abort_trans) {
      zdb_drop_updates(trans_);
    } else if (code_ == trans_not_active && zdb_has_pending_updates(trans_)) {
      zdb_error(ZE_IN_TRANSACTION);
      set_zdb_msg("Action not allowed within transaction: trans_not_active while buffered "
                  "updates wait; commit or abort first");
      return -1;
    }
    int audit_code = code_;
    if (audit_) audit_code = code_ == commit_trans ? audit_commit_table_action : audit_abort_table_action;
    if (zdb_do_audit_exec_db(trans_, db_action_word(audit_code)) != 0) {
      if (code_ == commit_trans) ToAbort();
      else Keep();
    }
    if (code_ == commit_trans && !trans_->audit_list.empty()) {
      // The rows leave as inserts of this transaction, before its commit.
      if (audit_write_tnr(trans_) < 0 || flush_updates(trans_->sessions) != 0) ToAbort();
    }
    trans_->audit_list.clear();
    if (SendToSessions() != 0) return -1;
    int final_code = code_;
    if (ends_) dlock_on_transaction_end(trans_, final_code);
    // Every end but a commit that succeeded everywhere undoes writes (a
    // failed commit ends as an abort, maybe with no abort sent anywhere):
    // what a query keeps of any table is stale.
    if (ends_ && (final_code != commit_trans || kept_ != 0)) SQLTableWrites::NoteAll();
    int result = 0;
    if (ends_ && end_touched(trans_, final_code == commit_trans) != 0) result = -1;
    if (kept_ != 0) zdb_errno = kept_;
    if (traced_ && final_code == commit_trans)
      blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_COMMIT);
    if (traced_ && final_code == abort_trans) {
      blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_ABORT);
      if (kept_ != 0) blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_COMMIT);
    }
    return result != 0 || zdb_errno != 0 ? -1 : 0;
  }

 private:
  void Keep() {
    if (kept_ == 0) kept_ = zdb_errno != 0 ? zdb_errno : ZE_COMMUNICATION;
  }
  // A failing commit goes on as an abort: nothing buffered leaves any more.
  void ToAbort() {
    Keep();
    if (code_ != commit_trans) return;
    if (traced_) {
      blat_trans_commit_failed(trans_->id);
      blat_trans_abort(trans_->id);
    }
    code_ = abort_trans;
    zdb_drop_updates(trans_);
  }

  // The first session on a normal driver whose connection is lost while
  // this transaction changed something there (logged, 510), or null.
  ZDB_SESSION *LostSession() {
    for (ZDB_SESSION *s = trans_->sessions; s != nullptr; s = s->next_in_trans) {
      if (zdb_server_is_audit(s->server) || zdb_server_attached(s->server) || !touched_on(s))
        continue;
      log_mesg(__FILE__, __LINE__, "Commit", 0,
               "connection to the driver of session %u lost; transaction %d aborted",
               s->server_session_id, trans_->id);
      zdb_error(ZE_COMMUNICATION);
      return s;
    }
    return nullptr;
  }

  bool touched_on(const ZDB_SESSION *session) const {
    for (const ZDB_TABLE_SESSION *ts : trans_->touched)
      if (ts->session == session) return true;
    return false;
  }

  // EXE_DB_CNTR to every session that is not on an audit driver.
  int SendToSessions() {
    for (ZDB_SESSION *s = trans_->sessions; s != nullptr; s = s->next_in_trans) {
      if (zdb_server_is_audit(s->server)) continue;
      if (!zdb_server_attached(s->server)) {
        // The connection to the driver was lost: what this transaction
        // changed there is gone, so its commit cannot succeed.
        if (code_ == commit_trans && touched_on(s)) {
          LostSession();
          ToAbort();
        } else if (tracing()) {
          std::fprintf(stderr, "<- EXE_DB_CNTR ok (driver not activated)\n");
        }
        continue;
      }
      if (zdb_do_exec_db(s, db_action_word(code_)) == 0) continue;
      if (code_ == trans_not_active && zdb_errno == ZE_NOT_UPDATED) continue;
      if (code_ == commit_trans) {
        ToAbort();
        continue;
      }
      Keep();
      if (code_ != abort_trans) return -1;
    }
    zdb_errno = 0;
    return 0;
  }

  ZDB_TRANS *trans_;
  int code_;
  bool audit_ = false;
  bool ends_ = false;
  bool traced_ = false;
  int kept_ = 0;
};

}  // namespace

int mark_table_touched(ZDB_TABLE_SESSION *tsession, int close_handles) {
  ZDB_TRANS *trans = tsession->session->trans;
  if (trans == nullptr) {
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  if (!(tsession->flags & ZDB_TS_TOUCHED)) {
    trans->touched.push_back(tsession);
    tsession->flags |= ZDB_TS_TOUCHED;
  }
  return close_handles ? break_set_reads(tsession) : 0;
}

void zdb_note_lost_driver(const ZDB_SERVER *server) {
  for (ZDB_SESSION *s = server->sessions; s != nullptr; s = s->next_on_server) {
    if (s->trans == nullptr) continue;
    for (const ZDB_TABLE_SESSION *ts : s->trans->touched)
      if (ts->session == s) s->trans->lost_driver = true;
  }
}

static int zdb_exec_db_unguarded(int action, int trans_id) {
  if (zdb_start() != 0) return -1;
  ZDB_TRANS *trans = nullptr;
  int found = find_trans(trans_id, &trans);
  if (found <= 0) return found;
  if (action < commit_trans || action > db_flush) {
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    set_zdb_msg("Illegal argument: %d is no transaction action (enum ZDB_DB_ACTION of "
                "<molvane/zdb.h>: %d to %d)",
                action, commit_trans, db_flush);
    return -1;
  }
  int result = TransactionAction(trans, action).Run();
  if (result != 0) zdb_name_failed_update(trans);
  return result;
}

int zdb_exec_db(int action, int trans_id) {
  return zdb_api_call([&] { return zdb_exec_db_unguarded(action, trans_id); });
}

static int zdb_flush_unguarded(int trans_id) {
  if (zdb_start() != 0) return -1;
  ZDB_TRANS *trans = nullptr;
  int found = find_trans(trans_id, &trans);
  if (found <= 0) return found;
  if (flush_updates(trans->sessions) == 0) return 0;
  zdb_name_failed_update(trans);
  return -1;
}

int zdb_flush(int trans_id) {
  return zdb_api_call([&] { return zdb_flush_unguarded(trans_id); });
}

static int zdb_exec_transaction_unguarded(int code, const char *text, int length, int trans_id) {
  ZDB_TRANS *trans = nullptr;
  int found = find_trans(trans_id, &trans);
  if (found <= 0) return found;
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans) {
    const char *msg = text;
    auto len = static_cast<std::uint16_t>(length);
    if (zdb_do_exec_session(s, static_cast<std::uint32_t>(code), &msg, &len) != 0) return -1;
  }
  return 0;
}

int zdb_exec_transaction(int code, const char *text, int length, int trans_id) {
  return zdb_api_call([&] { return zdb_exec_transaction_unguarded(code, text, length, trans_id); });
}

static int zdb_exec_server_unguarded(int code, const char *text, int length, int trans_id) {
  if (zdb_start() != 0) return -1;
  ZDB_TRANS *trans = nullptr;
  int found = find_trans(trans_id, &trans);
  if (found <= 0) return found;
  for (ZDB_SERVER *server = dbc_state().server_list; server != nullptr; server = server->next) {
    if (!zdb_server_attached(server)) continue;
    bool serves = false;
    for (ZDB_SESSION *s = server->sessions; s != nullptr && !serves; s = s->next_on_server)
      serves = s->trans == trans;
    if (!serves) continue;
    const char *msg = text;
    auto len = static_cast<std::uint16_t>(length);
    if (zdb_do_exec_server(server, static_cast<std::uint32_t>(code), &msg, &len) != 0) return -1;
  }
  return 0;
}

int zdb_exec_server(int code, const char *text, int length, int trans_id) {
  return zdb_api_call([&] { return zdb_exec_server_unguarded(code, text, length, trans_id); });
}
