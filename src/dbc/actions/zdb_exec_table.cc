// Table actions on every copy of a table. A table served by more than one
// driver (copies on a main chain of internal cursors, and copies on audit
// drivers) first gets a locking pass over its main chain when it has more
// than one copy, so that no copy changes while another refuses; then the
// action goes to the audit copies and to the main copies in order. A failed
// create is undone on the copies that this call created.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include <molvane/zdb.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"
#include "sql/common/table_writes.h"

namespace {

constexpr std::uint32_t kNoDelay = 0x2000;  // flag cleared for the lock of a drop or counter clear

bool tracing() { return (dbc_state().debug & ZDB_DEBUG_REQUESTS) != 0; }

ZDB_SESSION *session_of(ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->session; }

// One EXE_TBL_CNTR to the session of an internal cursor; *argument goes out
// and receives the reply's.
int table_request(ZDB_INTERNAL_CURSOR *ic, const char *name, int compnr, std::uint32_t action,
                  std::uint32_t *argument, std::uint32_t sequence) {
  ZDB_SESSION *session = session_of(ic);
  dbc_request_prepare(EXE_TBL_CNTR);
  ZDB_REQUEST &req = dbc_request();
  req.session_id = session->server_session_id;
  std::memcpy(req.tbl_cntr.table, name, 9);
  req.tbl_cntr.compnr = static_cast<std::uint16_t>(compnr);
  req.tbl_cntr.action = action;
  req.tbl_cntr.argument = *argument;
  req.tbl_cntr.sequence = sequence;
  int rc = zdb_commu_dd(session);
  *argument = dbc_request().tbl_cntr.argument;
  return rc;
}

// The locking pass over the main chain; for lock_table it is the whole
// action.
int lock_copies(ZDB_INTERNAL_CURSOR *main, const char *name, int compnr, int code) {
  std::uint32_t lock_type = code == drop_table ? 1 : (code == lock_table ? 0 : 2);
  std::uint32_t word = table_action_word(lock_table);
  if (code == drop_table || code == clr_ref_cnt) word &= ~kNoDelay;
  for (ZDB_INTERNAL_CURSOR *ic = main; ic != nullptr; ic = ic->next_in_chain) {
    std::uint32_t argument = lock_type;
    if (table_request(ic, name, compnr, word, &argument, 1) != 0) {
      int error = zdb_errno;
      for (ZDB_INTERNAL_CURSOR *done = main; done != ic; done = done->next_in_chain)
        zdb_do_exec_db(session_of(done), db_action_word(abort_trans));
      zdb_error(error);
      return -1;
    }
    session_of(ic)->flags |= ZDB_SESSION_NO_TABLES;
  }
  return 0;
}

// What a query of this process keeps of the rows of a table that an action
// changes is stale once the action was sent, also when a copy refused it.
class NoteWriteAtEnd {
 public:
  NoteWriteAtEnd(const DD_TABLE *table, int code)
      : table_(code == create_table || code == clear_table || code == drop_table || code == alter_table ||
                       code == clr_ref_cnt
                   ? table
                   : nullptr) {}
  ~NoteWriteAtEnd() {
    if (table_ != nullptr) SQLTableWrites::Note(table_->name, sizeof table_->name - 1);
  }
  NoteWriteAtEnd(const NoteWriteAtEnd &) = delete;
  NoteWriteAtEnd &operator=(const NoteWriteAtEnd &) = delete;

 private:
  const DD_TABLE *table_;
};

}  // namespace

int zdb_do_exec_table(ZDB_INTERNAL_CURSOR *icursor, std::uint32_t action, std::uint32_t *argument) {
  if (zdb_cursor_check(icursor) != 0) return -1;
  NoteWriteAtEnd note(icursor->tsession->key->table, static_cast<int>(action & 0xFF));
  ZDB_COMPANY *company = icursor->company;
  ZDB_INTERNAL_CURSOR *main = company->head == company->audit ? nullptr : icursor;
  for (ZDB_INTERNAL_CURSOR *ic = company->audit; ic != nullptr; ic = ic->next_in_chain)
    if (zdb_attach_on_demand(session_of(ic)->server) != 0) return -1;
  const DD_TABLE *table = icursor->tsession->key->table;
  char name[9];
  std::memcpy(name, table->name, 8);
  name[8] = '\0';
  if (table->mode_bits & DD_MODE_NEW) name[0] = static_cast<char>(std::toupper(name[0]));
  int compnr = company->logical;
  int code = static_cast<int>(action & 0xFF);
  std::uint32_t in = argument != nullptr ? *argument : 0;

  bool copies = main != nullptr && main->next_in_chain != nullptr;
  if (copies && (code == clear_table || code == clr_ref_cnt || code == drop_table ||
                 code == lock_table)) {
    if (lock_copies(main, name, compnr, code) != 0) return -1;
    if (code == lock_table) {
      if (argument != nullptr) *argument = 0;
      return 0;
    }
  }

  std::uint32_t word = action;
  if (code == lock_table && in == 1) word &= ~kNoDelay;
  std::uint32_t sequence = 1;
  ZDB_TRANS *trans = icursor->tsession->session->trans;
  if (code == clear_table && in == 0 && company->audit != nullptr && trans != nullptr)
    sequence = trans->update_seq++;

  // The audit copies first, then the main copies.
  std::vector<ZDB_INTERNAL_CURSOR *> order;
  for (ZDB_INTERNAL_CURSOR *ic = company->audit; ic != nullptr; ic = ic->next_in_chain)
    if (code == create_table || code == clear_table || code == drop_table) order.push_back(ic);
  for (ZDB_INTERNAL_CURSOR *ic = main; ic != nullptr; ic = ic->next_in_chain)
    order.push_back(ic);

  auto on_main = [main](const ZDB_INTERNAL_CURSOR *ic) {
    for (const ZDB_INTERNAL_CURSOR *m = main; m != nullptr; m = m->next_in_chain)
      if (m == ic) return true;
    return false;
  };
  std::vector<ZDB_INTERNAL_CURSOR *> created;
  std::uint32_t out = in;
  for (ZDB_INTERNAL_CURSOR *ic : order) {
    ZDB_SESSION *session = session_of(ic);
    if (tracing())
      std::fprintf(stderr, "-> EXE_TBL_CNTR on s_id %u cursor %p (%s%03d) action %s arg %d\n",
                   session->server_session_id, static_cast<void *>(ic), name, compnr,
                   zdb_table_action(code), static_cast<int>(in));
    std::uint32_t arg = in;
    if (table_request(ic, name, compnr, word, &arg, sequence) != 0) {
      int error = zdb_errno;
      if (argument != nullptr) *argument = arg;
      if (tracing())
        std::fprintf(stderr, "<- EXE_TBL_CNTR failed errno %d, arg %d\n", error,
                     static_cast<int>(arg));
      if (ic != main) {
        log_mesg(__FILE__, __LINE__, "mirror-table", 0, "error in copy db on '%s' error %d", name,
                 error);
        // Only the copies this call created are dropped again; a copy that
        // existed before the call keeps its rows.
        for (ZDB_INTERNAL_CURSOR *done : created) {
          if (zdb_server_is_audit(session_of(done)->server)) continue;
          std::uint32_t zero = 0;
          if (table_request(done, name, compnr, static_cast<std::uint32_t>(drop_table), &zero, 1) != 0)
            log_mesg(__FILE__, __LINE__, "un-CRT", 0, "undo action %d fails on '%s' (error %d)",
                     drop_table, name, zdb_errno);
        }
      }
      zdb_error(error);
      return -1;
    }
    if (code == create_table && on_main(ic)) created.push_back(ic);
    if (code == clear_table || code == lock_table || code == clr_ref_cnt)
      session->flags |= ZDB_SESSION_NO_TABLES;
    out = arg;
    if (tracing()) std::fprintf(stderr, "<- EXE_TBL_CNTR ok; arg = %d\n", static_cast<int>(arg));
  }
  if (argument != nullptr) *argument = out;
  return 0;
}
