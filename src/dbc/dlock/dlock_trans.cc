// Delayed locks and transactions. Every store that holds memory of its
// transaction's memory group is listed under the transaction, so that the
// end of the transaction reaches each of them, whether or not a cursor is
// still open on its table, before the group is freed with everything in it.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"
#include "platform/mal.h"

namespace {

constexpr std::size_t kGroupBlockSize = 4096;

struct TransDlocks {
  int group = 0;                    // memory group, 0 while none is reserved
  std::vector<ZDB_DLOCK *> stores;  // stores made on the transaction's table sessions
};

std::unordered_map<const ZDB_TRANS *, TransDlocks> &Registry() {
  static std::unordered_map<const ZDB_TRANS *, TransDlocks> registry;
  return registry;
}

}  // namespace

int dlock_trans_group(ZDB_TRANS *trans) {
  TransDlocks &t = Registry()[trans];
  if (t.group == 0) {
    const int group = mal_reserve_id(0, kGroupBlockSize);
    if (group <= 0) {
      log_mesg(__FILE__, __LINE__, "dlock", 0, "Reserving the Dlock memory group failed (%d)",
               group);
      zdb_error(ZE_ALLOCATION);
      return -1;
    }
    t.group = group;
  }
  return t.group;
}

void dlock_trans_join(ZDB_DLOCK *dlock) {
  std::vector<ZDB_DLOCK *> &stores = Registry()[dlock->trans].stores;
  if (std::find(stores.begin(), stores.end(), dlock) == stores.end()) stores.push_back(dlock);
}

void dlock_trans_leave(ZDB_DLOCK *dlock) {
  auto it = Registry().find(dlock->trans);
  if (it == Registry().end()) return;
  std::vector<ZDB_DLOCK *> &stores = it->second.stores;
  stores.erase(std::remove(stores.begin(), stores.end(), dlock), stores.end());
  if (stores.empty()) {
    if (it->second.group != 0) mal_free_id(it->second.group);
    Registry().erase(it);
  }
}

int dlock_on_transaction_end(ZDB_TRANS *trans, int action) {
  if (trans == nullptr) return 0;
  const auto found = Registry().find(trans);
  const bool has_group = found != Registry().end() && found->second.group != 0;
  // Cursors forget their current delayed-lock ids and row and table locks.
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans)
    release_session_locks(s, has_group ? 1 : 0);
  const auto it = Registry().find(trans);
  if (it == Registry().end()) return 0;

  TransDlocks &t = it->second;
  const std::vector<ZDB_DLOCK *> stores = t.stores;
  if (t.group != 0) {
    for (ZDB_DLOCK *dlock : stores) dlock_store_release(dlock);
    mal_free_id(t.group);
    t.group = 0;
  }
  for (ZDB_DLOCK *dlock : stores) dlock_store_forget_memory(dlock);

  if (action == abort_trans) {
    for (ZDB_DLOCK *dlock : stores) dlock->store->cr_id = 0;
  } else if (action == commit_trans) {
    // The commit-resistant row comes back under its own id in the new
    // generation, and stays commit-resistant.
    for (ZDB_DLOCK *dlock : stores) {
      DLOCK_HDR *hdr = dlock->store;
      if (hdr->cr_id == 0) continue;
      if (hdr->saved_row == nullptr) {
        hdr->cr_id = 0;
        continue;
      }
      hdr->start = hdr->cr_id - 1;
      if (dlock_store_put(dlock, hdr->saved_row) != static_cast<int>(hdr->cr_id)) {
        log_mesg(__FILE__, __LINE__, "dlock", 0,
                 "Keeping the commit-resistant row of %s%03d failed (id %u)", dlock->table->name,
                 dlock->compnr, hdr->cr_id);
        hdr->cr_id = 0;
      }
    }
  }
  return 0;
}
