// Transaction-notification rows: after a commit whose reply listed audited
// tables, one row per listed table goes into ttaud110, so that the audit
// side can tie its records to the transaction that made them.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dbc/audit/auditcols.h"
#include "dbc/session/dbc_settings.h"
#include "dbc/dict/dd.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "molvane/zdb.h"
#include "platform/log.h"
#include "platform/user.h"

namespace {

constexpr const char *kKeyword = "audit_write_tnr";

// Copies text blank-padded (and cut) to width characters, with a NUL.
void Padded(char *field, size_t width, const char *text) {
  std::snprintf(field, width + 1, "%-*.*s", static_cast<int>(width), static_cast<int>(width), text);
}

constexpr AUDIT_TNR_BIND kBinds[AUDIT_TNR_BINDS] = {
    {"ttaud110.trid", DDT_STRING, 20, offsetof(AUDIT_TNR_ROW, trid)},
    {"ttaud110.tsnr", DDT_SHORT, 2, offsetof(AUDIT_TNR_ROW, tsnr)},
    {"ttaud110.sess", DDT_STRING, 13, offsetof(AUDIT_TNR_ROW, sess)},
    {"ttaud110.user", DDT_STRING, 8, offsetof(AUDIT_TNR_ROW, user)},
    {"ttaud110.comt", DDT_TIME, 4, offsetof(AUDIT_TNR_ROW, comt)},
    {"ttaud110.tabl", DDT_STRING, 8, offsetof(AUDIT_TNR_ROW, tabl)},
    {"ttaud110.comp", DDT_SHORT, 2, offsetof(AUDIT_TNR_ROW, comp)},
    {"ttaud110.seqn", DDT_SHORT, 2, offsetof(AUDIT_TNR_ROW, seqn)},
    {"ttaud110.trof", DDT_LONG, 4, offsetof(AUDIT_TNR_ROW, trof)},
    {"ttaud110._compnr", DDT_SHORT, 2, offsetof(AUDIT_TNR_ROW, compnr)},
};

// Empties the transaction's list when the write ends, whatever its outcome.
class ListClear {
 public:
  explicit ListClear(ZDB_TRANS *trans) : trans_(trans) {}
  ~ListClear() { trans_->audit_list.clear(); }
  ListClear(const ListClear &) = delete;
  ListClear &operator=(const ListClear &) = delete;

 private:
  ZDB_TRANS *trans_;
};

}  // namespace

const AUDIT_TNR_BIND *audit_tnr_binds() { return kBinds; }

void audit_tnr_fill_transaction(AUDIT_TNR_ROW *row, const ZDB_TRANS *trans) {
  std::snprintf(row->trid, sizeof row->trid, "%10d%010d", static_cast<int>(trans->audit_values[0]),
                static_cast<int>(trans->audit_values[1]));
  Padded(row->sess, 13, trans->name);
  Padded(row->user, 8, user_info.user_name);
  row->comt = static_cast<int32_t>(trans->audit_values[2]);
}

void audit_tnr_fill_entry(AUDIT_TNR_ROW *row, const ZDB_AUDIT_ENTRY *entry, int tsnr) {
  row->tsnr = static_cast<int16_t>(tsnr);
  row->comp = static_cast<int16_t>(entry->compnr);
  row->seqn = static_cast<int16_t>(entry->seqn);
  row->trof = static_cast<int32_t>(entry->value);
  // A listed name can be longer than the column: it is cut to the column's 8.
  Padded(row->tabl, 8, entry->table);
  row->tabl[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(row->tabl[0])));
}

int audit_write_tnr(ZDB_TRANS *trans) {
  ListClear clear(trans);
  if (trans->audit_list.empty() || !is_GTEQ_dt_release()) return 1;
  if (dbc_state().debug & ZDB_DEBUG_REQUESTS) std::fprintf(stderr, "write transaction-notifications\n");
  if (dd_table_or_throw("ttaud110") == nullptr) {
    log_mesg(__FILE__, __LINE__, kKeyword, 0,
             "DD of ttaud110 not found;\nCan't create transaction notification; ABORT");
    zdb_errno = ZE_TNR_FAILED;
    return -1;
  }
  std::vector<AUDIT_TNR_ROW> rows(trans->audit_list.size());
  std::vector<int> compnrs(rows.size());
  bool per_compnr = dbc_settings().audit_per_compnr != 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const ZDB_AUDIT_ENTRY &entry = trans->audit_list[i];
    audit_tnr_fill_transaction(&rows[i], trans);
    audit_tnr_fill_entry(&rows[i], &entry, static_cast<int>(i + 1));
    compnrs[i] = per_compnr ? entry.compnr : 0;
    rows[i].compnr = static_cast<int16_t>(compnrs[i]);
  }
  if (audit_tnr_insert(trans, rows.data(), static_cast<int>(rows.size()), compnrs.data()) != 0)
    return -1;
  return 1;
}
