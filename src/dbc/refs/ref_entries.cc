// The reference entries of a per-company record, the cursors that the
// reference work opens on other tables, the library switch, the error texts
// of the references and small helpers on packed keys.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/zdb.h>
#include <molvane/zdb_refs.h>

#include "dbc/compnr/compnr.h"
#include "dbc/dict/dd.h"
#include "dbc/refs/refs.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_trans.h"
#include "platform/env.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

constexpr int kDebugRefs = 8;
constexpr long kLibraryDebugRefs = 0x100;
constexpr int kDetailMax = 2048;

bool g_disabled = false;

bool tracing() {
  return (dbc_state().debug & kDebugRefs) != 0 || (al_debug_level() & kLibraryDebugRefs) != 0;
}

struct RefCursorRecord {
  ZDB_REF_CURSOR shared;
  const DD_TABLE *table = nullptr;
  int trans_id = 0;
};

std::vector<std::unique_ptr<RefCursorRecord>> &ref_cursors() {
  static auto *list = new std::vector<std::unique_ptr<RefCursorRecord>>;
  return *list;
}

std::string table_name(const char *full_name) {
  return std::string(full_name, strnlen(full_name, 8));
}

const DD_TABLE *table_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->key->table; }

int build_from(ZDB_INTERNAL_CURSOR *ic) {
  ZDB_COMPANY *company = ic->company;
  const DD_TABLE *table = table_of(ic);
  std::vector<ZDB_REF_ENTRY> entries;
  for (int i = 0; i < table->column_count; ++i) {
    const DD_COLUMN &c = table->columns[i];
    if (!(c.flags & DDF_REFERS)) continue;
    const DD_REF *ref = ddfrom_ref(c.name);
    if (ref == nullptr) return zdb_reference_error(ic, ZE_REF_UNDEFINED, "%s", c.name);
    ZDB_REF_ENTRY entry;
    entry.ref = ref;
    entry.compnr = static_cast<std::uint16_t>(
        (ref->mode & DD_REFMODE_PHYSICAL) ? company->physical : company->logical);
    entries.push_back(entry);
  }
  company->refs.from = std::move(entries);
  company->refs.built |= ZDB_REFS_FROM_BUILT;
  return 0;
}

int build_to(ZDB_INTERNAL_CURSOR *ic) {
  ZDB_COMPANY *company = ic->company;
  const DD_TABLE *table = table_of(ic);
  std::vector<ZDB_REF_ENTRY> entries;
  for (int i = 0; i < table->refby_count; ++i) {
    const DD_REFBY &refby = table->refby[i];
    const std::string child = table_name(refby.column_name);
    const DD_REF *ref = dd_table_or_throw(child.c_str()) != nullptr ? ddfrom_ref(refby.column_name) : nullptr;
    if (ref != nullptr && table->key_column != nullptr &&
        std::strncmp(ref->ref_column, table->key_column->name, sizeof ref->ref_column) != 0)
      continue;
    for (int compnr : dbc_child_companies(table, company->physical, child.c_str())) {
      ZDB_REF_ENTRY entry;
      entry.ref = ref;
      entry.refby = &refby;
      entry.compnr = static_cast<std::uint16_t>(compnr);
      if ((refby.mode & DD_REFMODE_PHYSICAL) && compnr != company->physical)
        entry.flags |= ZDB_REF_ENTRY_IGNORED;
      entries.push_back(entry);
    }
  }
  company->refs.to = std::move(entries);
  company->refs.built |= ZDB_REFS_TO_BUILT;
  return 0;
}

void release_entries(std::vector<ZDB_REF_ENTRY> &entries) {
  for (ZDB_REF_ENTRY &e : entries) {
    if (e.foreign != nullptr) dbc_release_ref_cursor(e.foreign);
    e.foreign = nullptr;
  }
}

}  // namespace

// The child companies whose rows may reference a parent row of the
// physical company: the child's mapping of that company and of every
// logical company stored in it.
std::vector<int> dbc_child_companies(const DD_TABLE *parent, int physical, const char *child) {
  const COMPNR_MAP *parent_map = compnrGetCompnrData(parent->name);
  const COMPNR_MAP *child_map = compnrGetCompnrData(child);
  std::vector<int> result;
  auto add = [&](int logical) {
    int c = compnrLogicToPhysic(child_map, logical);
    if (c < 0 || c > 999) return;
    for (int known : result)
      if (known == c) return;
    result.push_back(c);
  };
  add(physical);
  const std::uint16_t *list = nullptr;
  int n = compnrGetLogicCompnrs(parent_map, physical, &list);
  for (int i = 0; list != nullptr && i < n; ++i) add(list[i]);
  return result;
}

extern "C" void zdb_disable_references(void) { g_disabled = true; }

bool dbc_references_disabled() { return g_disabled; }

void disable_all_references(ZDB_INTERNAL_CURSOR *icursor) {
  if (icursor != nullptr && icursor->company != nullptr) icursor->company->refs.off = true;
}

bool references_off(const ZDB_INTERNAL_CURSOR *icursor) {
  return g_disabled || icursor->company->refs.off;
}

const char *zdb_get_ref_error(ZDB_INTERNAL_CURSOR *icursor) {
  if (icursor == nullptr || icursor->company == nullptr) return "";
  return icursor->company->ref_error.c_str();
}

int zdb_reference_error(ZDB_INTERNAL_CURSOR *icursor, int error, const char *format, ...) {
  char detail[kDetailMax];
  va_list args;
  va_start(args, format);
  std::vsnprintf(detail, sizeof detail, format, args);
  va_end(args);
  const char *wrapper = nullptr;
  switch (error) {
    case ZE_REF_UNMAPPABLE: wrapper = "Unmappable error for reference %s"; break;
    case ZE_REF_UNDEFINED: wrapper = "Undefined reference for column %s"; break;
    case ZE_REF_STILL_REFERENCED: wrapper = "There are still references for this table (%s)"; break;
    case ZE_REF_NO_PARENT: wrapper = "Reference does not exist: %s"; break;
    case ZE_REF_NO_PARENT_TABLE: wrapper = "Parent table not found for reference %s"; break;
    case ZE_REF_NO_COUNTERS: wrapper = "No reference counter(s) in table %s"; break;
    case ZE_REF_COUNTER_UPDATE: wrapper = "Error in update reference counter %s"; break;
    default: break;
  }
  std::string text;
  if (wrapper != nullptr) {
    char wrapped[kDetailMax + 64];
    std::snprintf(wrapped, sizeof wrapped, wrapper, detail);
    text = wrapped;
  } else {
    text = detail;
  }
  const DD_TABLE *table = icursor != nullptr ? table_of(icursor) : nullptr;
  if (icursor != nullptr) icursor->company->ref_error = text;
  set_zdb_msg("%s", text.c_str());
  zdb_error(error == 107 ? ZE_REF_LOCKED : error);
  if (tracing())
    std::fprintf(stderr, "Cursor %s (error %d): >>%s<<\n", table != nullptr ? table->name : "",
                 error, text.c_str());
  return -1;
}

int dbc_build_ref_entries(ZDB_INTERNAL_CURSOR *icursor) {
  ZDB_REFS &refs = icursor->company->refs;
  try {
    if (!(refs.built & ZDB_REFS_FROM_BUILT) && build_from(icursor) != 0) return -1;
    if (!(refs.built & ZDB_REFS_TO_BUILT) && build_to(icursor) != 0) return -1;
  } catch (const std::bad_alloc &) {
    return zdb_reference_error(icursor, ZE_MEMORY, "Not enough memory for references");
  }
  return 0;
}

void dbc_release_ref_entries(ZDB_COMPANY *company) {
  release_entries(company->refs.from);
  release_entries(company->refs.to);
}

ZDB_REF_CURSOR *dbc_acquire_ref_cursor(const DD_TABLE *table, int compnr, int trans_id,
                                       bool references) {
  for (auto &r : ref_cursors()) {
    if (r->table == table && r->shared.compnr == compnr && r->trans_id == trans_id &&
        r->shared.references == references) {
      ++r->shared.uses;
      if (dbc_state().debug & kDebugRefs)
        std::fprintf(stderr, "RefCursor found for %s (total %d)\n", table->name, r->shared.uses);
      return &r->shared;
    }
  }
  if (dbc_state().debug & kDebugRefs) std::fprintf(stderr, "No RefCursor found for %s\n", table->name);
  ZDB_TRANS *trans = zdb_get_trans_by_id(trans_id);
  if (trans == nullptr) return nullptr;
  auto record = std::unique_ptr<RefCursorRecord>(new (std::nothrow) RefCursorRecord);
  auto *cursor = new (std::nothrow) ZDB_CURSOR;
  if (!record || cursor == nullptr) {
    delete cursor;
    zdb_error(ZE_MEMORY);
    return nullptr;
  }
  record->table = table;
  record->trans_id = trans_id;
  record->shared.row.assign(static_cast<std::size_t>(table->row_length) + 1, 0);
  record->shared.compnr = compnr;
  record->shared.uses = 1;
  record->shared.references = references;
  cursor->table = table;
  cursor->trans = trans;
  cursor->host_row = record->shared.row.data();
  cursor->default_compnr = static_cast<std::int16_t>(compnr);
  record->shared.cursor = cursor;
  ref_cursors().push_back(std::move(record));
  return &ref_cursors().back()->shared;
}

ZDB_INTERNAL_CURSOR *dbc_ref_chain(ZDB_REF_CURSOR *ref_cursor) {
  ZDB_INTERNAL_CURSOR *ic = nullptr;
  if (zdb_get_internal_cursor(&ic, ref_cursor->cursor, ref_cursor->compnr) != 0) return nullptr;
  if (!ref_cursor->references) disable_all_references(ic);
  return ic;
}

void dbc_release_ref_cursor(ZDB_REF_CURSOR *ref_cursor) {
  auto &list = ref_cursors();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (&(*it)->shared != ref_cursor) continue;
    if (--ref_cursor->uses > 0) return;
    std::unique_ptr<RefCursorRecord> record = std::move(*it);
    list.erase(it);
    ZDB_CURSOR *cursor = record->shared.cursor;
    int saved = zdb_errno;
    while (ZDB_INTERNAL_CURSOR *head = cursor->heads) {
      cursor->heads = head->next_head;
      head->next_head = nullptr;
      zdb_close_internal(head);
    }
    zdb_errno = saved;
    delete cursor;
    return;
  }
  log_mesg(__FILE__, __LINE__, "Undefined cursor", 0, "ref_cursor %p not found\n",
           static_cast<void *>(ref_cursor));
  zdb_error(ZE_ILLEGAL_STATE);
}

std::vector<DD_COLUMN *> dbc_columns_of(const DD_COLUMN *column) {
  std::vector<DD_COLUMN *> list(DD_MAX_LIST + 1, nullptr);
  if (list_column_columns(column, list.data()) == nullptr) return {};
  list.resize(static_cast<std::size_t>(get_nr_columns(list.data())));
  return list;
}

std::string dbc_key_text(const std::vector<DD_COLUMN *> &columns, const unsigned char *key) {
  std::string text;
  for (const DD_COLUMN *c : columns) {
    if (!text.empty()) text += ", ";
    const unsigned char *p = key;
    key += c->length;
    char buf[64];
    switch (c->type) {
      case DDT_BYTE: case DDT_ENUM: std::snprintf(buf, sizeof buf, "%u", p[0]); text += buf; break;
      case DDT_SHORT:
        std::snprintf(buf, sizeof buf, "%d", static_cast<std::int16_t>((p[0] << 8) | p[1]));
        text += buf;
        break;
      case DDT_LONG: case DDT_DATE: case DDT_TIME: case DDT_LONG_U: case DDT_LONG_V: case DDT_SET:
        std::snprintf(buf, sizeof buf, "%d",
                      static_cast<std::int32_t>((std::uint32_t{p[0]} << 24) | (p[1] << 16) |
                                                (p[2] << 8) | p[3]));
        text += buf;
        break;
      case DDT_FLOAT: std::snprintf(buf, sizeof buf, "%g", float_out(p)); text += buf; break;
      case DDT_DOUBLE: std::snprintf(buf, sizeof buf, "%g", double_out(p)); text += buf; break;
      case DDT_STRING: case DDT_MBSTRING: {
        std::size_t n = c->length;
        while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0')) --n;
        text.append(reinterpret_cast<const char *>(p), n);
        break;
      }
      default:
        for (int i = 0; i < c->length; ++i) {
          std::snprintf(buf, sizeof buf, "%02x", p[i]);
          text += buf;
        }
        break;
    }
  }
  return text;
}

int dbc_chk_key_filled(const std::vector<DD_COLUMN *> &columns, const unsigned char *key) {
  for (const DD_COLUMN *c : columns) {
    const unsigned char *p = key;
    key += c->length;
    bool empty = true;
    switch (c->type) {
      case DDT_BYTE: case DDT_SHORT: case DDT_LONG: case DDT_DATE: case DDT_TIME: case DDT_LONG_U:
      case DDT_LONG_V: case DDT_ENUM: case DDT_SET: case DDT_RAW:
        for (int i = 0; i < c->length && empty; ++i) empty = p[i] == 0;
        break;
      case DDT_FLOAT: empty = float_out(p) == 0.0; break;
      case DDT_DOUBLE: empty = double_out(p) == 0.0; break;
      case DDT_STRING: case DDT_MBSTRING:
        for (int i = 0; i < c->length && empty; ++i) empty = p[i] == ' ' || p[i] == 0;
        break;
      default:
        zdb_error(ZE_ILLEGAL_STATE);
        log_mesg(__FILE__, __LINE__, "dbc_chk_key_filled", 0, "unknown type in dbc_chk_key_filled 0%o\n",
                 c->type);
        return -1;
    }
    if (empty) return 0;
  }
  return 1;
}

int nullify_key(const std::vector<DD_COLUMN *> &columns, unsigned char *key) {
  for (const DD_COLUMN *c : columns) {
    unsigned char *p = key;
    key += c->length;
    const int depth = c->depth > 0 ? c->depth : 1;
    const int width = c->length / depth;
    switch (c->type) {
      case DDT_BYTE: case DDT_SHORT: case DDT_LONG: case DDT_DATE: case DDT_TIME: case DDT_LONG_U:
      case DDT_LONG_V: case DDT_ENUM: case DDT_SET: case DDT_RAW:
        std::memset(p, 0, c->length);
        break;
      case DDT_FLOAT:
        for (int e = 0; e < depth; ++e) float_in(0.0, p + e * width);
        break;
      case DDT_DOUBLE:
        for (int e = 0; e < depth; ++e) double_in(0.0, p + e * width);
        break;
      case DDT_STRING: case DDT_MBSTRING:
        std::memset(p, ' ', c->length);
        break;
      default:
        zdb_error(ZE_ILLEGAL_STATE);
        log_mesg(__FILE__, __LINE__, "nullify_key", 0, "unknown type in nullify_key 0%o\n", c->type);
        return -1;
    }
  }
  return 0;
}
