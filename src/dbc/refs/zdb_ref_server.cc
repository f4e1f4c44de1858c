// Whether a driver does the reference work of a table itself. It can when
// every table that the work reaches lives on the same driver as the table:
// then the row actions tell it so in the host flags (0x100000, 0x200000) or
// send whole deletes and updates (kinds 6 and 7), and the client leaves the
// parents' counters, the restricting lookups and the cascades to it. The
// answers are kept per table session.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <molvane/dd.h>

#include "dbc/compnr/compnr.h"
#include "dbc/dict/dd.h"
#include "dbc/refs/refs.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

constexpr std::uint8_t kYes = 1, kNo = 2;
constexpr std::size_t kMaxCascadeTables = 2000;
constexpr int kModeCounted = 1, kModeCascade = 2, kModeNullify = 3, kModeRestricted = 4;

// The questions below never change the caller's error.
class KeepErrno {
 public:
  KeepErrno() : saved_(zdb_errno) {}
  ~KeepErrno() { zdb_errno = saved_; }
  KeepErrno(const KeepErrno &) = delete;
  KeepErrno &operator=(const KeepErrno &) = delete;

 private:
  int saved_;
};

// The read driver of a table in the physical company that the logical
// company maps to; null when there is none.
const SERVER_REC *driver_of(const char *table, int logical) {
  int physical = compnrLogicToPhysic(compnrGetCompnrData(table), logical);
  if (physical < 0 || physical > 999) return nullptr;
  return get_dbc_read_driver(table, physical);
}

const SERVER_REC *own_driver(const ZDB_INTERNAL_CURSOR *ic) {
  return get_dbc_read_driver(ic->tsession->key->table->name, ic->company->physical);
}

std::string table_of_column(const char *column_name) {
  char buf[9] = {};
  ddtablename_from_columnname(column_name, buf);
  return std::string(buf, strnlen(buf, 8));
}

int mode_for(std::uint16_t mode, bool deleting) {
  return deleting ? DD_REFMODE_DELETE(mode) : DD_REFMODE_UPDATE(mode);
}

bool same_driver(const SERVER_REC *own, const std::string &table, int logical) {
  const SERVER_REC *other = driver_of(table.c_str(), logical);
  return own != nullptr && other == own;
}

int physical_of(const char *table, int logical) {
  return compnrLogicToPhysic(compnrGetCompnrData(table), logical);
}

// True when the child table is on the driver in every company in which
// its rows may reference a parent row of the physical company; `each`
// gets those companies.
template <typename Each>
bool children_on(const SERVER_REC *own, const DD_TABLE *parent, int physical, const DD_REFBY &refby,
                 Each each) {
  const std::string child = table_of_column(refby.column_name);
  for (int company : dbc_child_companies(parent, physical, child.c_str())) {
    // A reference of the physical mode holds only inside one physical company.
    if ((refby.mode & DD_REFMODE_PHYSICAL) && company != physical) continue;
    if (!same_driver(own, child, company)) return false;
    each(child, company);
  }
  return true;
}

bool any_refby_with_mode(const DD_TABLE *table, bool deleting, int low, int high) {
  for (int i = 0; i < table->refby_count; ++i) {
    int mode = mode_for(table->refby[i].mode, deleting);
    if (mode >= low && mode <= high) return true;
  }
  return false;
}

// Walks the cascades that start at `root` and the work they bring to each
// table they reach: a child deleted by a cascade lowers the counters of its
// own counted parents and looks up its own restricting children; a child
// changed by a key cascade or a nullify has its other references checked
// and, when its key changes with them, is cascaded to in turn (as an
// update, whatever started it). Children are reached in every company in
// which they may reference the row. The driver can do all of it only when
// every one of those tables is its own; false when one is not or a table on
// the way has no dictionary, -1 when the table list overflows.
int cascades_stay(const DD_TABLE *root, const SERVER_REC *own, int logical, bool deleting) {
  struct Reached {
    std::string table;
    int logical;
    bool deleted;
  };
  std::vector<Reached> seen{{std::string(root->name, strnlen(root->name, 8)), logical, deleting}};
  for (std::size_t next = 0; next < seen.size(); ++next) {
    const Reached here = seen[next];
    const DD_TABLE *table = dd_table_or_throw(here.table.c_str());
    if (table == nullptr) return 0;
    const int physical = physical_of(table->name, here.logical);
    if (next > 0) {
      for (int i = 0; i < table->ref_count; ++i) {
        const DD_REF &ref = table->refs[i];
        const bool counted = DD_REFMODE_DELETE(ref.mode) == kModeCounted ||
                             DD_REFMODE_UPDATE(ref.mode) == kModeCounted;
        const int company = (ref.mode & DD_REFMODE_PHYSICAL) ? physical : here.logical;
        if ((!here.deleted || counted) && !same_driver(own, table_of_column(ref.ref_column), company))
          return 0;
      }
    }
    bool full = false;
    for (int i = 0; i < table->refby_count && !full; ++i) {
      const DD_REFBY &refby = table->refby[i];
      int mode = mode_for(refby.mode, here.deleted);
      if (mode != kModeCascade && mode != kModeNullify && (next == 0 || mode != kModeRestricted))
        continue;
      const bool deleted = here.deleted && mode == kModeCascade;
      bool stays = children_on(own, table, physical, refby, [&](const std::string &child, int company) {
        if (mode == kModeRestricted || full) return;
        if (std::any_of(seen.begin(), seen.end(), [&](const Reached &r) {
              return r.table == child && r.logical == company && r.deleted == deleted;
            }))
          return;
        if (seen.size() == kMaxCascadeTables) {
          full = true;
          return;
        }
        seen.push_back({child, company, deleted});
      });
      if (!stays) return 0;
    }
    if (full) {
      log_mesg(__FILE__, __LINE__, "Table list", 0, "Used table list exceeded");
      return -1;
    }
  }
  return 1;
}

}  // namespace

bool table_has_counted_ref(const DD_TABLE *table, std::uint32_t flags,
                           const unsigned char *old_row, const unsigned char *new_row) {
  for (int i = 0; i < table->ref_count; ++i) {
    const DD_REF &ref = table->refs[i];
    if ((ref.mode & DD_REFMODE_CONDITIONAL) && !(flags & ZDB_HF_CONDITIONAL)) continue;
    if (DD_REFMODE_UPDATE(ref.mode) != kModeCounted && DD_REFMODE_DELETE(ref.mode) != kModeCounted)
      continue;
    if (old_row == nullptr || new_row == nullptr || ref.column == nullptr ||
        compare_column(old_row, new_row, ref.column) != 0)
      return true;
  }
  return false;
}

int server_updates_refcnt(ZDB_INTERNAL_CURSOR *icursor) {
  if (dbc_references_disabled()) return 1;
  // A chain with references off (a parent reached by the reference work,
  // a row written back with its own counter) asks no counting of anyone.
  if (references_off(icursor)) return 0;
  ZDB_TABLE_SESSION *ts = icursor->tsession;
  if (ts->refcnt_in_server == 0) {
    KeepErrno keep;
    const DD_TABLE *table = ts->key->table;
    const SERVER_REC *own = own_driver(icursor);
    bool all = own != nullptr;
    for (int i = 0; all && i < table->ref_count; ++i)
      all = same_driver(own, table_of_column(table->refs[i].ref_column), icursor->company->logical);
    ts->refcnt_in_server = all ? kYes : kNo;
  }
  return ts->refcnt_in_server == kYes ? 1 : 0;
}

int server_checks_runtime(ZDB_INTERNAL_CURSOR *icursor, int kind) {
  if (dbc_references_disabled()) return 1;
  ZDB_TABLE_SESSION *ts = icursor->tsession;
  const bool deleting = kind == 102;
  std::uint8_t &answer = ts->checks_in_server[deleting ? 0 : 1];
  if (answer == 0) {
    KeepErrno keep;
    const DD_TABLE *table = ts->key->table;
    const SERVER_REC *own = nullptr;
    bool all = true;
    for (int i = 0; all && i < table->refby_count; ++i) {
      if (mode_for(table->refby[i].mode, deleting) != kModeRestricted) continue;
      if (own == nullptr && (own = own_driver(icursor)) == nullptr) all = false;
      else all = children_on(own, table, icursor->company->physical, table->refby[i],
                             [](const std::string &, int) {});
    }
    answer = all ? kYes : kNo;
  }
  return answer == kYes ? 1 : 0;
}

int cascade_childs_in_server(ZDB_INTERNAL_CURSOR *icursor, int kind) {
  if (dbc_references_disabled()) return 1;
  ZDB_TABLE_SESSION *ts = icursor->tsession;
  const DD_TABLE *table = ts->key->table;
  const bool deleting = kind == 1;
  if (!any_refby_with_mode(table, deleting, kModeCascade, kModeNullify)) return 1;
  std::uint8_t &answer = ts->cascade_in_server[deleting ? 0 : 1];
  if (answer == 0) {
    int stays;
    {
      KeepErrno keep;
      const SERVER_REC *own = own_driver(icursor);
      stays = own == nullptr ? 0 : cascades_stay(table, own, icursor->company->logical, deleting);
    }
    if (stays < 0) {
      zdb_error(ZE_ILLEGAL_STATE);
      return -1;
    }
    answer = stays == 1 ? kYes : kNo;
  }
  return answer == kYes ? 1 : 0;
}
