// The generated SELECT of a set read, its parameter binds, the lowest and
// highest values that first and last reads start from, and the current
// position (the current key) of a per-company record.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <molvane/datetime.h>

#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/setread/sql_calls.h"
#include "dbc/setread/ssts.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"
#include "text/tss.h"

namespace {

constexpr const char *kSource = "\\db\\lib\\dbc\\C_SSTS";

void put_be(unsigned char *p, std::uint32_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (width - 1 - i)));
}

// The elementary columns of an index: combined parts stand for their
// members.
std::vector<DD_COLUMN *> key_columns(const DD_KEY *key) {
  std::vector<DD_COLUMN *> list(DD_MAX_LIST + 1, nullptr);
  list_all_columns(key->parts, list.data());
  list.resize(static_cast<std::size_t>(get_nr_columns(list.data())));
  return list;
}

const DD_KEY *key_or_fail(const DD_TABLE *table, int index_nr) {
  const DD_KEY *key = key_desc(table, index_nr);
  if (key == nullptr) {
    log_mesg(kSource, __LINE__, "Key desc", 0, "Get key desription failed");
    zdb_error(ZE_ILLEGAL_STATE);
  }
  return key;
}

void append_placeholders(std::string &text, int first, std::size_t count) {
  std::string list;
  for (std::size_t i = 0; i < count; ++i) {
    list += ':';
    list += std::to_string(first + i);
    list += ", ";
  }
  if (list.size() >= 2) list.resize(list.size() - 2);
  text += list;
}

void append_order(std::string &text, const std::vector<DD_COLUMN *> &columns, const char *order) {
  std::string list;
  for (const DD_COLUMN *c : columns) list += std::string(" ") + c->name + " " + order + ", ";
  if (list.size() >= 2) list.resize(list.size() - 2);
  text += list;
}

const DD_TABLE *table_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->key->table; }

}  // namespace

bool ssts_build_select(const DD_TABLE *table, int index_nr, const char *op, const char *order,
                       std::uint32_t direction, int rows, std::string *text) {
  const DD_KEY *key = key_or_fail(table, index_nr);
  if (key == nullptr) return false;
  const std::vector<DD_COLUMN *> parts = key_columns(key);
  const bool with_primary = key->duplicates && (direction & SSTS_DIR_RELATIVE);
  std::vector<DD_COLUMN *> primary;
  if (key->duplicates) {
    const DD_KEY *first = key_or_fail(table, 1);
    if (first == nullptr) return false;
    primary = key_columns(first);
  }
  const std::string t(table->name, strnlen(table->name, 8));
  const std::string n = std::to_string(index_nr);
  std::string s = "SELECT " + t + ".* FROM " + t + " ";
  s += "WHERE " + t + "._index" + n + " " + op + " { ";
  append_placeholders(s, 1, parts.size());
  s += " } ";
  const int after = static_cast<int>(parts.size()) + 1;
  if (with_primary) {
    if ((direction & ~SSTS_DIR_CONTINUED) == (SSTS_DIR_RELATIVE | SSTS_DIR_EQUAL)) {
      s += "AND " + t + "._index1 " + op[0] + " { ";
      append_placeholders(s, after, primary.size());
      s += " } ";
    } else {
      s += "OR ( " + t + "._index" + n + " = { ";
      append_placeholders(s, 1, parts.size());
      s += " } AND " + t + "._index1 " + op + " {";
      append_placeholders(s, after, primary.size());
      s += " } ) ";
    }
  }
  if (order != nullptr) {
    s += "ORDER BY ";
    append_order(s, parts, order);
    if (key->duplicates) {
      s += ", ";
      append_order(s, primary, order);
    }
  }
  s += " AS SET WITH " + std::to_string(rows) + " ROWS";
  *text = std::move(s);
  return true;
}

int ssts_extreme_value(const DD_COLUMN *column, unsigned char *row, bool high) {
  const int depth = column->depth > 0 ? column->depth : 1;
  const int width = column->length / depth;
  unsigned char *p = row + column->offset;
  for (int e = 0; e < depth; ++e, p += width) {
    switch (column->type) {
      case DDT_BYTE:
      case DDT_ENUM:
        // One unsigned byte: the values run from 0 to 255.
        p[0] = high ? 0xFF : 0x00;
        break;
      case DDT_SHORT: put_be(p, high ? 0x7FFF : 0x8000, 2); break;
      case DDT_LONG: case DDT_LONG_U: case DDT_LONG_V: case DDT_SET:
        put_be(p, high ? 0x7FFFFFFFu : 0x80000000u, 4);
        break;
      case DDT_FLOAT: float_in(high ? 1.0e32 : -1.0e32, p); break;
      case DDT_DOUBLE: {
        const std::uint64_t bits = high ? 0x4FB61BCCA71196A7ull : 0xCFB61BCCA71196A7ull;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        double_in(value, p);
        break;
      }
      case DDT_STRING:
        TssStringSetUltim(reinterpret_cast<char *>(p), width, high ? 2 : 6);
        break;
      case DDT_MBSTRING:
        TssStringSetUltim(reinterpret_cast<char *>(p), width, high ? 0 : 4);
        break;
      case DDT_DATE: put_be(p, high ? 0x0037B9DBu : 0u, 4); break;
      case DDT_TIME: put_be(p, high ? 0x7FFFFFFFu : 0u, 4); break;
      default:
        log_mesg(kSource, __LINE__, "Illegal type", 0, "Illegal column type %d specified for %s",
                 column->type, column->name);
        zdb_error(ZE_ILLEGAL_STATE);
        return 1;
    }
  }
  return 0;
}

int set_ssts_curr_info(int mode, ZDB_INTERNAL_CURSOR *icursor, unsigned char *row) {
  ZDB_COMPANY *company = icursor->company;
  const DD_TABLE *table = table_of(icursor);
  const DD_KEY *key = key_or_fail(table, company->index_nr);
  if (key == nullptr) return 1;
  const DD_KEY *primary = nullptr;
  if (company->index_dup && (primary = key_or_fail(table, 1)) == nullptr) return 1;
  std::vector<unsigned char> *keys = company->key_buf;
  switch (mode) {
    case 1:
      zdb_extract_key(keys[0].data(), row, key);
      if (primary != nullptr) zdb_extract_key(keys[1].data(), row, primary);
      return 0;
    case 2:
      zdb_fill_key(row, keys[0].data(), key);
      if (primary != nullptr) zdb_fill_key(row, keys[1].data(), primary);
      put_dlock_in_row(table, row, company->dlock_id);
      return 0;
    case 3:
    case 4:
      for (const DD_COLUMN *c : key_columns(key))
        if (ssts_extreme_value(c, row, mode == 4) != 0) return 1;
      return 0;
    default:
      zdb_error(ZE_ILLEGAL_ARGUMENT);
      return 1;
  }
}

// Binds the parts of the current index and, for a relative read on an index
// with duplicates, those of index 1, numbered from 1; values from the row.
int ssts_bind(QPCStatement *statement, ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row,
              std::uint32_t direction) {
  ZDB_COMPANY *company = icursor->company;
  const DD_TABLE *table = table_of(icursor);
  const DD_KEY *key = key_or_fail(table, company->index_nr);
  if (key == nullptr) return 1;
  std::vector<DD_COLUMN *> columns = key_columns(key);
  if (key->duplicates && (direction & SSTS_DIR_RELATIVE)) {
    const DD_KEY *primary = key_or_fail(table, 1);
    if (primary == nullptr) return 1;
    for (DD_COLUMN *c : key_columns(primary)) columns.push_back(c);
  }
  int number = 1;
  for (const DD_COLUMN *c : columns) {
    int rc = dbc_sql_bind_column(statement, number++, c, row + c->offset, SQL_TYPE_STRING);
    if (rc == -2) {
      log_mesg(kSource, __LINE__, "Illegal type", 0, "Unimplemented type %d in ssts_bind",
               c->type);
      zdb_error(ZE_ILLEGAL_STATE);
    }
    if (rc != 0) return 1;
  }
  return 0;
}
