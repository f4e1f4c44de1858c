// Row and column printing for traces: each value by its column type, array
// elements one after another, combined columns through their members.
#include "dbc/dict/row_print.h"

#include <cstdio>
#include <string>

#include <molvane/datetime.h>

#include "dbc/dict/dd.h"
#include "platform/dates.h"
#include "platform/mal.h"
#include "platform/numbers.h"

namespace {

std::int32_t be32(const unsigned char *p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 24 |
                                   static_cast<std::uint32_t>(p[1]) << 16 |
                                   static_cast<std::uint32_t>(p[2]) << 8 | p[3]);
}

int element_length(const DD_COLUMN *column) {
  return column->domain != nullptr ? column->domain->length : column->length;
}

void append_value(std::string &out, const DD_COLUMN *column, const unsigned char *p) {
  char buf[64];
  int length = element_length(column);
  switch (column->type) {
    case DDT_BYTE:
    case DDT_ENUM:
      std::snprintf(buf, sizeof buf, "%d ", p[0]);
      break;
    case DDT_SHORT:
      std::snprintf(buf, sizeof buf, "%d ", static_cast<std::int16_t>(p[0] << 8 | p[1]));
      break;
    case DDT_LONG: case DDT_TIME: case DDT_LONG_U: case DDT_LONG_V: case DDT_SET:
      std::snprintf(buf, sizeof buf, "%d ", be32(p));
      break;
    case DDT_FLOAT:
      std::snprintf(buf, sizeof buf, "%f ", float_out(p));
      break;
    case DDT_DOUBLE:
      std::snprintf(buf, sizeof buf, "%f ", double_out(p));
      break;
    case DDT_STRING:
    case DDT_MBSTRING:
      out += '\'';
      out.append(reinterpret_cast<const char *>(p), static_cast<std::size_t>(length));
      out += "' ";
      return;
    case DDT_DATE:
      if (format_date(be32(p), "MMDDYYYY ", buf, sizeof buf) < 0) std::snprintf(buf, sizeof buf, "? ");
      break;
    case DDT_RAW: {
      std::string hex(static_cast<std::size_t>(2 * length), '\0');
      raw_to_hex(hex.data(), p, length);
      out += hex;
      return;
    }
    default:
      return;
  }
  out += buf;
}

void append_column(std::string &out, const DD_COLUMN *column, const unsigned char *row) {
  if (column->type == DDT_COMBINED) {
    for (DD_COLUMN **m = column->members; m != nullptr && *m != nullptr; ++m)
      append_column(out, *m, row);
    return;
  }
  const unsigned char *p = row + column->offset;
  for (int i = 0; i < column->depth; ++i, p += element_length(column)) append_value(out, column, p);
}

void emit(const char *title, const std::string &values) {
  std::fprintf(stderr, "%s %s\n", title != nullptr ? title : "", values.c_str());
}

}  // namespace

void print_row_from_table(const DD_TABLE *table, const unsigned char *row, const char *title) {
  if (table == nullptr || row == nullptr) return;
  DD_COLUMN **list = sort_columns_by_offset(table, nullptr);
  if (list == nullptr) return;
  print_row_from_column(list, row, title);
  mal_free(list);
}

void print_row_from_column(DD_COLUMN *const *columns, const unsigned char *row, const char *title) {
  std::string values;
  for (; columns != nullptr && *columns != nullptr; ++columns) append_column(values, *columns, row);
  emit(title, values);
}

void print_one_col(const DD_COLUMN *column, const unsigned char *row, const char *title) {
  std::string values;
  append_column(values, column, row);
  emit(title, values);
}

void print_one_col_index(const DD_COLUMN *column, const unsigned char *row, int index,
                         const char *title) {
  if (column->type == DDT_COMBINED) {
    std::fprintf(stderr, "Combined & Array not allowed\n");
    return;
  }
  if (index < 0 || index >= column->depth) return;
  std::string values;
  append_value(values, column, row + column->offset + index * element_length(column));
  emit(title, values);
}
