// Callbacks 5 and 7 of the database client's own SELECT statements.
#include "dbc/setread/row_target.h"

#include <cstdint>
#include <cstring>

#include <molvane/datetime.h>
#include <molvane/dd.h>

#include "dbc/dict/dd.h"

namespace {

unsigned char *g_row = nullptr;
const DD_TABLE *g_table = nullptr;
char g_unused_handle = 0;  // handle of a select-star table: never stored into

std::uint32_t get_be(const unsigned char *p, int width) {
  std::uint32_t v = 0;
  for (int i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

void put_be(unsigned char *p, std::uint32_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (width - 1 - i)));
}

}  // namespace

char *dbc_row_create_extvar(char *name, unsigned char *kind, char **, int *const, unsigned long) {
  if (kind != nullptr && *kind == 1) {
    if (g_table == nullptr || name == nullptr || std::strlen(name) <= 9) return nullptr;
    return reinterpret_cast<char *>(ddcolumn_by_ddtable(g_table, name + 9));
  }
  return &g_unused_handle;
}

void dbc_row_put_extvar(char *var, unsigned char *data, unsigned char type, int length, int *) {
  if (type == 0 || var == nullptr || var == &g_unused_handle || g_row == nullptr ||
      data == nullptr)
    return;
  const auto *column = reinterpret_cast<const DD_COLUMN *>(var);
  unsigned char *target = g_row + column->offset;
  if (type == SQL_TYPE_STRING || type == SQL_TYPE_RAW) {
    // Never beyond the column, whatever length the value comes with.
    int n = length < 0 ? 0 : (length > column->length ? column->length : length);
    std::memcpy(target, data, static_cast<std::size_t>(n));
    return;
  }
  const int depth = column->depth > 0 ? column->depth : 1;
  const int width = column->length / depth;
  const int size = type == SQL_TYPE_REAL ? 8 : 4;
  for (int e = 0; e < depth && (e + 1) * size <= length; ++e) {
    const unsigned char *value = data + e * size;
    unsigned char *field = target + e * width;
    if (type == SQL_TYPE_INTEGER || type == SQL_TYPE_DATE || type == SQL_TYPE_TIMESTAMP) {
      std::uint32_t v = get_be(value, 4);
      switch (column->type) {
        case DDT_BYTE: case DDT_ENUM: field[0] = static_cast<unsigned char>(v); break;
        case DDT_SHORT: put_be(field, v, 2); break;
        case DDT_LONG: case DDT_DATE: case DDT_TIME: case DDT_LONG_U: case DDT_LONG_V:
        case DDT_SET:
          put_be(field, v, 4);
          break;
        default: break;
      }
    } else if (type == SQL_TYPE_REAL) {
      double v = double_out(value);
      if (column->type == DDT_FLOAT) float_in(v, field);
      else if (column->type == DDT_DOUBLE) double_in(v, field);
    }
  }
}


DbcRowTarget::DbcRowTarget(unsigned char *row, const DD_TABLE *table)
    : previous_row_(g_row), previous_table_(g_table) {
  g_row = row;
  g_table = table;
}

DbcRowTarget::~DbcRowTarget() {
  g_row = previous_row_;
  g_table = previous_table_;
}
