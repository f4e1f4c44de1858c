// The DD_INFO_TABLE description of one table: its stored columns in
// row-offset order, then combined columns, keys and the group list by
// position in that column list, then the references a driver needs to keep
// reference counters. Positions are found by row offset.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/refs/refs.h"
#include "dbc/request/request_payloads.h"
#include "dbc/request/request_wire.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"
#include "platform/mal.h"

namespace {

// Names are sent with an upper-case first letter for tables of the new
// dictionary (mode 3).
std::string wire_name(const char *name) {
  std::string s(name);
  if (get_dd_mode() == 3 && !s.empty())
    s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  return s;
}

class ColumnPositions {
 public:
  explicit ColumnPositions(DD_COLUMN **list) {
    for (DD_COLUMN **c = list; c != nullptr && *c != nullptr; ++c) columns_.push_back(*c);
  }
  const std::vector<DD_COLUMN *> &columns() const { return columns_; }
  // Position of the stored column at the offset; -1 (logged, 512) when none.
  int Find(std::uint16_t offset) const {
    for (std::size_t i = 0; i < columns_.size(); ++i)
      if (columns_[i]->offset == offset) return static_cast<int>(i);
    zdb_error(ZE_DD_CORRUPT);
    log_mesg(__FILE__, __LINE__, "DD corrupt", 0, "Cannot find column with offset %d", offset);
    return -1;
  }

 private:
  std::vector<DD_COLUMN *> columns_;
};

bool sent_refby(std::uint16_t mode) {
  unsigned del = mode & 0xE0, upd = mode & 0x1C;
  return del == 0x40 || del == 0x60 || del == 0x80 || upd == 0x10 || upd == 0x08 || upd == 0x0C;
}

// Bits of the key column's reference kinds: 1 a counted update reference,
// 2 a counted delete reference.
std::uint16_t key_ref_kinds(const DD_TABLE *table) {
  if (table->key_column == nullptr) return 0;
  std::uint16_t kinds = 0;
  for (int i = 0; i < table->refby_count && kinds != 3; ++i) {
    std::uint16_t mode = table->refby[i].mode;
    if ((mode & 0x1C) == 4) kinds |= 1;
    if ((mode & 0xE0) == 0x20) kinds |= 2;
  }
  return kinds;
}

std::uint16_t group_words(const std::uint16_t *groups) {
  if (groups == nullptr) return 0;
  std::uint32_t words = 1;
  for (std::uint16_t g = 0, at = 1; g < groups[0]; ++g) {
    words += 1u + groups[at];
    at = static_cast<std::uint16_t>(at + 1 + groups[at]);
  }
  return static_cast<std::uint16_t>(words);
}

int put_positions(STREAM *out, const ColumnPositions &pos, DD_COLUMN *const *list) {
  std::vector<std::uint16_t> found;
  for (DD_COLUMN *const *c = list; c != nullptr && *c != nullptr; ++c) {
    int p = pos.Find((*c)->offset);
    if (p < 0) return -1;
    found.push_back(static_cast<std::uint16_t>(p));
  }
  if (wire_put_u16(out, static_cast<std::uint16_t>(found.size()))) return -1;
  for (std::uint16_t p : found)
    if (wire_put_u16(out, p)) return -1;
  return 0;
}

}  // namespace

int dbc_write_dd_info(STREAM *out, const DD_TABLE *table, std::uint16_t compnr) {
  if (table == nullptr) {
    zdb_error(ZE_NO_DD);
    return -1;
  }
  DD_COLUMN **sorted = sort_columns_by_offset(table, nullptr);
  if (sorted == nullptr) {
    zdb_error(ZE_MEMORY);
    return -1;
  }
  ColumnPositions pos(sorted);
  mal_free(sorted);

  std::vector<const DD_COLUMN *> combined;
  for (int i = 0; i < table->column_count; ++i) {
    const DD_COLUMN *c = &table->columns[i];
    if (c->type == DDT_COMBINED && c->members != nullptr && c->members[0] != nullptr)
      combined.push_back(c);
  }
  bool refs = !dbc_references_disabled();
  std::vector<const DD_REFBY *> refby;
  if (refs)
    for (int i = 0; i < table->refby_count; ++i)
      if (sent_refby(table->refby[i].mode)) refby.push_back(&table->refby[i]);

  char name[9] = {};
  std::strncpy(name, wire_name(table->name).c_str(), 8);
  if (wire_put_bytes(out, name, sizeof name) ||
      wire_put_u16(out, static_cast<std::uint16_t>(pos.columns().size())) ||
      wire_put_u16(out, static_cast<std::uint16_t>(combined.size())) ||
      wire_put_u16(out, table->key_count) || wire_put_u16(out, group_words(table->groups)) ||
      wire_put_u16(out, compnr) || wire_put_u16(out, static_cast<std::uint16_t>(refby.size())) ||
      wire_put_u16(out, refs ? static_cast<std::uint16_t>(table->ref_count) : 0) ||
      wire_put_u16(out, refs ? key_ref_kinds(table) : 0))
    return -1;

  for (const DD_COLUMN *c : pos.columns()) {
    const char *point = std::strchr(c->name, '.');
    std::uint8_t dom[2] = {};
    if (c->domain != nullptr) {
      dom[0] = c->domain->digits_before;
      dom[1] = c->domain->digits_after;
    }
    if (wire_put_text(out, point != nullptr ? point + 1 : c->name) || wire_put_u16(out, c->length) ||
        wire_put_u16(out, c->offset) || wire_put_u8(out, c->type) || wire_put_u8(out, c->flags) ||
        wire_put_u8(out, c->depth) || wire_put_bytes(out, dom, sizeof dom))
      return -1;
  }
  for (const DD_COLUMN *c : combined) {
    const char *point = std::strchr(c->name, '.');
    if (wire_put_text(out, point != nullptr ? point + 1 : c->name) ||
        put_positions(out, pos, c->members))
      return -1;
  }
  for (int k = 0; k < table->key_count; ++k) {
    const DD_KEY &key = table->keys[k];
    // Key parts that are combined columns stand for their stored members.
    std::vector<DD_COLUMN *> parts;
    for (DD_COLUMN **p = key.parts; p != nullptr && *p != nullptr; ++p) {
      DD_COLUMN **expanded = list_index_columns(*p, nullptr);
      if (expanded == nullptr) {
        zdb_error(ZE_MEMORY);
        return -1;
      }
      for (DD_COLUMN **e = expanded; *e != nullptr; ++e) parts.push_back(*e);
      mal_free(expanded);
    }
    parts.push_back(nullptr);
    if (wire_put_u8(out, key.index_nr) || wire_put_u8(out, key.duplicates) ||
        wire_put_u8(out, key.a_digit) || put_positions(out, pos, parts.data()))
      return -1;
  }
  if (const std::uint16_t *g = table->groups; g != nullptr) {
    if (wire_put_u16(out, g[0])) return -1;
    for (std::uint16_t i = 0, at = 1; i < g[0]; ++i) {
      std::uint16_t count = g[at];
      if (wire_put_u16(out, count)) return -1;
      for (std::uint16_t m = 0; m < count; ++m) {
        std::uint16_t index = g[at + 1 + m];
        if (index >= table->column_count) {
          zdb_error(ZE_DD_CORRUPT);
          log_mesg(__FILE__, __LINE__, "DD corrupt", 0, "group member %d beyond the columns", index);
          return -1;
        }
        int p = pos.Find(table->columns[index].offset);
        if (p < 0 || wire_put_u16(out, static_cast<std::uint16_t>(p))) return -1;
      }
      at = static_cast<std::uint16_t>(at + 1 + count);
    }
  }
  for (const DD_REFBY *r : refby)
    if (wire_put_text(out, wire_name(r->column_name).c_str()) || wire_put_u16(out, r->mode))
      return -1;
  if (refs) {
    for (int i = 0; i < table->ref_count; ++i) {
      const DD_REF &r = table->refs[i];
      if (wire_put_text(out, wire_name(r.column_name).c_str()) ||
          wire_put_text(out, wire_name(r.ref_column).c_str()) || wire_put_u16(out, r.mode))
        return -1;
    }
  }
  return 0;
}
