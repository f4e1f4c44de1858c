// The reference work around a buffered row action: before it, the parents
// of the new row must exist and no restricting child may reference the old
// row; after it, the parents' reference counters follow the change and the
// children take the cascade (delete, new key, emptied reference).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/refs/refs.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/env.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

constexpr int kNoRecord = 111;
constexpr int kDebugRefs = 8;
constexpr long kLibraryDebugRefs = 0x100;
constexpr int kCounted = 1, kCascade = 2, kNullify = 3, kRestricted = 4;
constexpr int kCheckIfFilled = 2, kNoCheck = 3;
// Counter selections of db_refcnt: delete counter up/down, update counter up/down.
constexpr std::uint32_t kDeleteUp = 0x900, kDeleteDown = 0xa00;
constexpr std::uint32_t kUpdateUp = 0x500, kUpdateDown = 0x600;

const DD_TABLE *table_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->key->table; }
int trans_id_of(const ZDB_INTERNAL_CURSOR *ic) {
  ZDB_TRANS *trans = ic->tsession->session->trans;
  return trans != nullptr ? trans->id : 0;
}

bool takes_part(std::uint16_t mode, std::uint32_t flags) {
  return !(mode & DD_REFMODE_CONDITIONAL) || (flags & ZDB_HF_CONDITIONAL);
}

// The packed values of a column of a row.
std::vector<unsigned char> packed(const std::vector<DD_COLUMN *> &columns,
                                  const unsigned char *row) {
  std::vector<DD_COLUMN *> list(columns);
  list.push_back(nullptr);
  std::vector<unsigned char> key(DD_MAX_ROW_LENGTH, 0);
  unsigned char *end = zdb_extract_cols(key.data(), row, list.data());
  key.resize(static_cast<std::size_t>(end - key.data()));
  return key;
}

// The buffered update's own error in place of 520.
int own_error(const ZDB_INTERNAL_CURSOR *ic) {
  if (zdb_errno == ZE_BUFFERED_UPDATE) {
    ZDB_TRANS *trans = ic->tsession->session->trans;
    if (trans != nullptr && trans->detail_error != 0) return trans->detail_error;
  }
  return zdb_errno;
}

void put_one(unsigned char *p) {
  p[0] = p[1] = p[2] = 0;
  p[3] = 1;
}

// The parent's internal cursor of a from-entry (made on first need).
ZDB_INTERNAL_CURSOR *parent_chain(ZDB_INTERNAL_CURSOR *ic, ZDB_REF_ENTRY &entry) {
  if (entry.foreign == nullptr) {
    char name[9] = {};
    ddtablename_from_columnname(entry.ref->ref_column, name);
    const DD_TABLE *parent = dd_table_or_throw(name);
    if (parent == nullptr) {
      zdb_reference_error(ic, ZE_REF_NO_PARENT_TABLE, "%s", entry.ref->column_name);
      return nullptr;
    }
    entry.foreign = dbc_acquire_ref_cursor(parent, entry.compnr, trans_id_of(ic), false);
    if (entry.foreign == nullptr) return nullptr;
  }
  return dbc_ref_chain(entry.foreign);
}

// One db_refcnt on the parent of `key`: with no counter selection a check
// that the parent exists. 0, or -1 with the error left in zdb_errno (not
// reported).
int parent_refcnt(ZDB_INTERNAL_CURSOR *ic, ZDB_REF_ENTRY &entry, const unsigned char *key,
                  std::uint32_t flags) {
  ZDB_INTERNAL_CURSOR *parent = parent_chain(ic, entry);
  if (parent == nullptr) return -1;
  const DD_TABLE *table = table_of(parent);
  const DD_COLUMN *column = dd_column_or_throw(entry.ref->ref_column);
  if (column == nullptr) {
    zdb_error(ZE_REF_NO_PARENT_TABLE);
    return -1;
  }
  std::vector<unsigned char> row(static_cast<std::size_t>(table->row_length) + 1, 0);
  std::vector<DD_COLUMN *> list = dbc_columns_of(column);
  list.push_back(nullptr);
  zdb_fill_cols(row.data(), key, list.data());
  if (table->refcnt_d != nullptr) put_one(row.data() + table->refcnt_d->offset);
  if (table->refcnt_u != nullptr) put_one(row.data() + table->refcnt_u->offset);
  if (zdb_exec_row_1(parent, row.data(), db_refcnt_51, flags) == 0) return 0;
  zdb_errno = own_error(ic);
  return -1;
}

bool index1_changed(const ZDB_INTERNAL_CURSOR *ic, const unsigned char *old_row,
                    const unsigned char *new_row) {
  if (old_row == nullptr || new_row == nullptr) return false;
  const DD_KEY *key = key_desc(table_of(ic), 1);
  return key != nullptr && zdb_compare_key_in_row(old_row, new_row, key) != 0;
}

// Checks that the parents of the new row exist.
int check_parents(ZDB_INTERNAL_CURSOR *ic, const unsigned char *old_row,
                  const unsigned char *new_row, int kind, std::uint32_t flags) {
  ZDB_REFS &refs = ic->company->refs;
  for (ZDB_REF_ENTRY &entry : refs.from) {
    const DD_REF *ref = entry.ref;
    if (!takes_part(ref->mode, flags) || ref == refs.ignored ||
        (entry.flags & ZDB_REF_ENTRY_IGNORED) || DD_REFMODE_CHECK(ref->mode) == kNoCheck)
      continue;
    if (kind == update_bfrd && old_row != nullptr && compare_column(old_row, new_row, ref->column) == 0)
      continue;
    std::vector<DD_COLUMN *> columns = dbc_columns_of(ref->column);
    std::vector<unsigned char> key = packed(columns, new_row);
    if (DD_REFMODE_CHECK(ref->mode) == kCheckIfFilled) {
      int filled = dbc_chk_key_filled(columns, key.data());
      if (filled < 0) return -1;
      if (filled == 0) continue;
    }
    if (parent_refcnt(ic, entry, key.data(), flags) != 0) {
      int error = zdb_errno == kNoRecord ? ZE_REF_NO_PARENT : zdb_errno;
      return zdb_reference_error(ic, error, "%s->%s [%s]", ref->column_name, ref->ref_column,
                                 dbc_key_text(columns, key.data()).c_str());
    }
  }
  return 0;
}

// The generated-SQL work on the children of one to-entry. The number of
// rows; 1 with 605 kept for a restricting child found by operations 1 and 3;
// -1 on any other failure.
int child_operation(ZDB_INTERNAL_CURSOR *ic, const ZDB_REF_ENTRY &entry,
                    const unsigned char *parent_row, const unsigned char *new_row, int operation,
                    std::uint32_t flags) {
  const DD_REF *ref = entry.ref;
  if (ref == nullptr || ref->table == nullptr) {
    log_mesg(__FILE__, __LINE__, "DD_TABLE", 0, "DD of %.8s not found\n",
             entry.refby != nullptr ? entry.refby->column_name : "");
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  const DD_COLUMN *parent_column = dd_column_or_throw(ref->ref_column);
  if (parent_column == nullptr) {
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  std::vector<DD_COLUMN *> key_columns = dbc_columns_of(ref->column);
  std::vector<unsigned char> old_key = packed(dbc_columns_of(parent_column), parent_row);
  std::vector<unsigned char> new_key;
  if (new_row != nullptr) {
    new_key = packed(dbc_columns_of(parent_column), new_row);
  } else {
    new_key.assign(old_key.size(), 0);
    if (operation == 3 && nullify_key(key_columns, new_key.data()) != 0) return -1;
  }
  ZDB_REF_CURSOR *cursor = dbc_acquire_ref_cursor(ref->table, entry.compnr, trans_id_of(ic), true);
  if (cursor == nullptr) return -1;
  ZDB_INTERNAL_CURSOR *child = dbc_ref_chain(cursor);
  int result = 0;
  if (child == nullptr) {
    result = zdb_errno == ZE_NO_TABLE ? 0 : -1;
  } else {
    ZDB_REFS &child_refs = child->company->refs;
    const DD_REF *previous = child_refs.ignored;
    child_refs.ignored = ref;
    result = refer_func(child, old_key.data(), new_key.data(), key_columns, operation, flags);
    child_refs.ignored = previous;
    if (result < 0 && zdb_errno == ZE_NO_TABLE) result = 0;
  }
  if (result < 0) {
    int error = zdb_errno;
    zdb_reference_error(ic, error, "%s->%s ; %s", ref->column_name, ref->ref_column,
                        dbc_key_text(key_columns, old_key.data()).c_str());
    if ((operation == 1 || operation == 3) && error == ZE_REF_STILL_REFERENCED) result = 1;
  }
  int error = zdb_errno;
  dbc_release_ref_cursor(cursor);
  zdb_errno = error;
  return result;
}

// No restricting child may reference the row that goes or changes its key.
int check_children(ZDB_INTERNAL_CURSOR *ic, const unsigned char *row, int kind,
                   std::uint32_t flags) {
  ZDB_REFS &refs = ic->company->refs;
  const bool deleting = kind == delete_bfrd;
  // The row is locked whether or not a restricting reference follows, so
  // that no child can come in between the lookups and the change.
  std::vector<unsigned char> locked(row, row + table_of(ic)->row_length);
  if (place_physic_lock(ic, locked.data()) != 0) return -1;
  for (const ZDB_REF_ENTRY &entry : refs.to) {
    const std::uint16_t mode = entry.refby->mode;
    int wanted = deleting ? DD_REFMODE_DELETE(mode) : DD_REFMODE_UPDATE(mode);
    if (wanted != kRestricted || !takes_part(mode, flags) ||
        (entry.flags & ZDB_REF_ENTRY_IGNORED) || (entry.ref != nullptr && entry.ref == refs.ignored))
      continue;
    if (entry.ref == nullptr) {
      if (deleting) {
        log_mesg(__FILE__, __LINE__, "ref_to_before", 0, "DD of %.8s not found\n",
                 entry.refby->column_name);
        zdb_error(ZE_ILLEGAL_STATE);
      } else {
        zdb_error(ZE_NO_DD);
      }
      return -1;
    }
    if (child_operation(ic, entry, row, nullptr, 1, flags) != 0) return -1;
  }
  return 0;
}

// Counter changes on the parents of one row: +1 or -1.
int count_parents(ZDB_INTERNAL_CURSOR *ic, ZDB_REF_ENTRY &entry, const unsigned char *row,
                  bool up, std::uint32_t flags) {
  const DD_REF *ref = entry.ref;
  if (DD_REFMODE_CHECK(ref->mode) == kNoCheck) return 0;
  std::vector<DD_COLUMN *> columns = dbc_columns_of(ref->column);
  std::vector<unsigned char> key = packed(columns, row);
  if (DD_REFMODE_CHECK(ref->mode) == kCheckIfFilled) {
    int filled = dbc_chk_key_filled(columns, key.data());
    if (filled < 0) return -1;
    if (filled == 0) return 0;
  }
  if (DD_REFMODE_DELETE(ref->mode) == kCounted) flags |= up ? kDeleteUp : kDeleteDown;
  if (DD_REFMODE_UPDATE(ref->mode) == kCounted) flags |= up ? kUpdateUp : kUpdateDown;
  if (parent_refcnt(ic, entry, key.data(), flags) == 0) return 0;
  // A parent that has gone needs no lower count.
  if (!up && (zdb_errno == kNoRecord || zdb_errno == ZE_NO_TABLE)) {
    zdb_errno = 0;
    return 0;
  }
  int error = zdb_errno == kNoRecord ? ZE_REF_NO_PARENT : zdb_errno;
  return zdb_reference_error(ic, error, "%s->%s [%s]", ref->column_name, ref->ref_column,
                             dbc_key_text(columns, key.data()).c_str());
}

int counters_after(ZDB_INTERNAL_CURSOR *ic, const unsigned char *old_row,
                   const unsigned char *new_row, int kind, std::uint32_t flags) {
  ZDB_REFS &refs = ic->company->refs;
  for (ZDB_REF_ENTRY &entry : refs.from) {
    const DD_REF *ref = entry.ref;
    if (DD_REFMODE_DELETE(ref->mode) != kCounted && DD_REFMODE_UPDATE(ref->mode) != kCounted)
      continue;
    if (!takes_part(ref->mode, flags) || ref == refs.ignored ||
        (entry.flags & ZDB_REF_ENTRY_IGNORED))
      continue;
    if (kind == insert_bfrd) {
      if (count_parents(ic, entry, new_row, true, flags) != 0) return -1;
    } else if (kind == delete_bfrd) {
      if (count_parents(ic, entry, old_row != nullptr ? old_row : new_row, false, flags) != 0)
        return -1;
    } else if (old_row != nullptr && compare_column(old_row, new_row, ref->column) != 0) {
      if (count_parents(ic, entry, old_row, false, flags) != 0 ||
          count_parents(ic, entry, new_row, true, flags) != 0)
        return -1;
    }
  }
  return 0;
}

// Lowers the row's own delete counter by the children emptied through
// counted references, and writes the row with references off.
int lower_own_counter(ZDB_INTERNAL_CURSOR *ic, const unsigned char *new_row, int emptied,
                      std::uint32_t flags) {
  const DD_TABLE *table = table_of(ic);
  if (table->refcnt_d == nullptr) {
    return zdb_reference_error(ic, ZE_REF_NO_COUNTERS, "%s", table->name);
  }
  if ((al_debug_level() & kLibraryDebugRefs) || (dbc_state().debug & kDebugRefs))
    std::fprintf(stderr, "Update refcnt '%s' because of %d nullify's\n", table->name, emptied);
  std::vector<unsigned char> row(new_row, new_row + table->row_length);
  unsigned char *p = row.data() + table->refcnt_d->offset;
  auto value = static_cast<std::int32_t>((std::uint32_t{p[0]} << 24) | (p[1] << 16) |
                                         (p[2] << 8) | p[3]);
  auto lowered = static_cast<std::uint32_t>(value - emptied);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(lowered >> (24 - 8 * i));
  ZDB_REFS &refs = ic->company->refs;
  const bool was_off = refs.off;
  refs.off = true;
  int rc = zdb_exec_row_1(ic, row.data(), db_update_51, flags);
  refs.off = was_off;
  if (rc != 0) {
    int error = own_error(ic);
    return zdb_reference_error(ic, ZE_REF_COUNTER_UPDATE, "%s (error %d)", table->name, error);
  }
  return 0;
}

int children_after(ZDB_INTERNAL_CURSOR *ic, const unsigned char *old_row,
                   const unsigned char *new_row, int kind, std::uint32_t flags) {
  ZDB_REFS &refs = ic->company->refs;
  const bool deleting = kind == delete_bfrd;
  const unsigned char *parent_row = old_row != nullptr ? old_row : new_row;
  int emptied_counted = 0;
  for (const ZDB_REF_ENTRY &entry : refs.to) {
    const std::uint16_t mode = entry.refby->mode;
    if (!takes_part(mode, flags) || (entry.flags & ZDB_REF_ENTRY_IGNORED) ||
        (entry.ref != nullptr && entry.ref == refs.ignored))
      continue;
    const int wanted = deleting ? DD_REFMODE_DELETE(mode) : DD_REFMODE_UPDATE(mode);
    int n = 0;
    if (deleting && wanted == kCascade) n = child_operation(ic, entry, parent_row, nullptr, 2, flags);
    else if (deleting && wanted == kNullify) n = child_operation(ic, entry, parent_row, nullptr, 3, flags);
    else if (!deleting && wanted == kCascade) n = child_operation(ic, entry, parent_row, new_row, 3, flags);
    else if (!deleting && wanted == kNullify) {
      n = child_operation(ic, entry, parent_row, nullptr, 3, flags);
      if (n > 0 && DD_REFMODE_DELETE(mode) == kCounted) emptied_counted += n;
    } else {
      continue;
    }
    if (n < 0 || (n == 1 && zdb_errno == ZE_REF_STILL_REFERENCED)) return -1;
  }
  if (emptied_counted > 0) return lower_own_counter(ic, new_row, emptied_counted, flags);
  return 0;
}

bool refs_apply(const ZDB_INTERNAL_CURSOR *ic, int kind) {
  return (kind == insert_bfrd || kind == delete_bfrd || kind == update_bfrd) && !references_off(ic);
}

}  // namespace

int zdb_reference_before(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *old_row,
                         const unsigned char *new_row, int kind, std::uint32_t flags) {
  if (!refs_apply(icursor, kind) || new_row == nullptr) return 0;
  if (dbc_build_ref_entries(icursor) != 0) return -1;
  if (kind != delete_bfrd && !(flags & ZDB_HF_SERVER_REFCNT) &&
      check_parents(icursor, old_row, new_row, kind, flags) != 0)
    return -1;
  if ((kind == delete_bfrd || index1_changed(icursor, old_row, new_row)) &&
      !(flags & ZDB_HF_SERVER_CHECKS) &&
      check_children(icursor, old_row != nullptr ? old_row : new_row, kind, flags) != 0)
    return -1;
  return 0;
}

int zdb_reference_after(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *old_row,
                        const unsigned char *new_row, int kind, std::uint32_t flags) {
  if (!refs_apply(icursor, kind) || new_row == nullptr) return 0;
  if (dbc_build_ref_entries(icursor) != 0) return -1;
  if (!(flags & ZDB_HF_SERVER_REFCNT) &&
      counters_after(icursor, old_row, new_row, kind, flags) != 0)
    return -1;
  if (kind == delete_bfrd || (kind == update_bfrd && index1_changed(icursor, old_row, new_row)))
    return children_after(icursor, old_row, new_row, kind, flags);
  return 0;
}

int zdb_reference_counters_after(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *old_row,
                                 const unsigned char *new_row, int kind, std::uint32_t flags) {
  if (!refs_apply(icursor, kind) || new_row == nullptr || (flags & ZDB_HF_SERVER_REFCNT)) return 0;
  if (dbc_build_ref_entries(icursor) != 0) return -1;
  return counters_after(icursor, old_row, new_row, kind, flags);
}
