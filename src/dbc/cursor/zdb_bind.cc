// Binds: program variables that stand for columns of a cursor's row, and
// their conversion to and from the row image.
//
// The row side keeps the dictionary's layout (integers big-endian, floating
// values in their stored byte order, texts blank-padded); the variable side
// holds native values. Integer variables and columns of different widths
// narrow to the low bytes and widen with the sign of the variable's type; a
// float column takes a double variable after rounding to the domain's
// precision, and the other way round. An array binds element by element up
// to the smaller of the two depths.
#include <cstdio>
#include <cstring>
#include <string>

#include <molvane/datetime.h>
#include <molvane/dd.h>
#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"
#include "platform/numbers.h"

namespace {

// Column types that bind as another: dates, times, the long types and sets
// as 32-bit integers, enumerations as bytes.
int map_type(int type) {
  switch (type) {
    case DDT_DATE: case DDT_TIME: case DDT_LONG_U: case DDT_LONG_V: case DDT_SET:
      return DDT_LONG;
    case DDT_ENUM:
      return DDT_BYTE;
    default:
      return type;
  }
}

bool is_integer(int type) { return type >= DDT_BYTE && type <= DDT_LONG; }
bool is_float(int type) { return type == DDT_FLOAT || type == DDT_DOUBLE; }
bool is_string(int type) { return type == DDT_STRING || type == DDT_MBSTRING || type == DDT_RAW; }

// Bytes of one element of a variable of a mapped type (strings: the length).
int host_element_size(int type, int length) {
  switch (type) {
    case DDT_BYTE: return 1;
    case DDT_SHORT: return 2;
    case DDT_LONG: return 4;
    case DDT_FLOAT: return 4;
    case DDT_DOUBLE: return 8;
    default: return length;
  }
}

std::int32_t get_host_int(const unsigned char *p, int type) {
  switch (type) {
    case DDT_BYTE: return *p;
    case DDT_SHORT: { std::int16_t v; std::memcpy(&v, p, 2); return v; }
    default: { std::int32_t v; std::memcpy(&v, p, 4); return v; }
  }
}

void put_host_int(unsigned char *p, int type, std::int32_t value) {
  switch (type) {
    case DDT_BYTE: *p = static_cast<unsigned char>(value); break;
    case DDT_SHORT: { auto v = static_cast<std::int16_t>(value); std::memcpy(p, &v, 2); break; }
    default: std::memcpy(p, &value, 4); break;
  }
}

// Row integers: a byte and a 16-bit column are unsigned / signed as stored.
std::int32_t get_row_int(const unsigned char *p, int type) {
  switch (type) {
    case DDT_BYTE: return *p;
    case DDT_SHORT: return static_cast<std::int16_t>((p[0] << 8) | p[1]);
    default:
      return static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 24) |
                                        (static_cast<std::uint32_t>(p[1]) << 16) |
                                        (static_cast<std::uint32_t>(p[2]) << 8) | p[3]);
  }
}

void put_row_int(unsigned char *p, int type, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  switch (type) {
    case DDT_BYTE: p[0] = static_cast<unsigned char>(v); break;
    case DDT_SHORT: p[0] = static_cast<unsigned char>(v >> 8); p[1] = static_cast<unsigned char>(v); break;
    default:
      p[0] = static_cast<unsigned char>(v >> 24);
      p[1] = static_cast<unsigned char>(v >> 16);
      p[2] = static_cast<unsigned char>(v >> 8);
      p[3] = static_cast<unsigned char>(v);
      break;
  }
}

// The host's byte widens zero-extended, its 16-bit value sign-extended.
std::int32_t widen(std::int32_t value, int host_type) {
  if (host_type == DDT_BYTE) return value & 0xFF;
  if (host_type == DDT_SHORT) return static_cast<std::int16_t>(value);
  return value;
}

void element_to_row(const ZDB_BIND &b, const unsigned char *var, unsigned char *row) {
  if (is_integer(b.column_type)) {
    put_row_int(row, b.column_type, widen(get_host_int(var, b.host_type), b.host_type));
  } else if (b.column_type == b.host_type && is_float(b.column_type)) {
    std::memcpy(row, var, b.column_type == DDT_FLOAT ? 4 : 8);
  } else if (b.column_type == DDT_FLOAT) {
    double v;
    std::memcpy(&v, var, 8);
    float_in(b_round(v, b.precision), row);
  } else if (b.column_type == DDT_DOUBLE) {
    float v;
    std::memcpy(&v, var, 4);
    double_in(b_round(v, b.precision), row);
  } else {
    std::memcpy(row, var, b.length);
    // A shorter variable fills the column: texts with blanks, raw bytes with 0.
    if (b.length < b.column_element)
      std::memset(row + b.length, b.column_type == DDT_RAW ? 0 : ' ', b.column_element - b.length);
  }
}

void element_to_var(const ZDB_BIND &b, const unsigned char *row, unsigned char *var) {
  if (is_integer(b.column_type)) {
    std::int32_t v = get_row_int(row, b.column_type);
    if (b.column_type == DDT_SHORT && b.host_type == DDT_LONG) v = static_cast<std::int16_t>(v);
    put_host_int(var, b.host_type, v);
  } else if (b.column_type == b.host_type && is_float(b.column_type)) {
    std::memcpy(var, row, b.column_type == DDT_FLOAT ? 4 : 8);
  } else if (b.column_type == DDT_FLOAT) {
    double v = float_out(row);
    std::memcpy(var, &v, 8);
  } else if (b.column_type == DDT_DOUBLE) {
    auto v = static_cast<float>(double_out(row));
    std::memcpy(var, &v, 4);
  } else {
    std::memcpy(var, row, b.length);
    // A longer variable is filled to its own length, so that nothing of
    // its earlier value stays behind the column's text.
    if (b.length < b.host_element)
      std::memset(var + b.length, b.column_type == DDT_RAW ? 0 : ' ', b.host_element - b.length);
  }
}

// Refuses bind `index` (from 0) with 504; the message names the bind, the
// column and the reason, for the host and the log.
int refuse_column(int index, const char *column, const char *why) {
  zdb_error(ZE_BAD_COLUMN);
  reset_zdb_msg();
  set_zdb_msg_logged("zdb_open", 0, "Invalid column '%s' in bind %d: %s", column, index + 1, why);
  return -1;
}

// The name of a type code, for messages.
const char *type_name(int type) {
  static const char *const kNames[] = {"none",  "byte", "short", "long", "float", "double",
                                       "string", "date", "time", "long", "long", "enum",
                                       "set",   "combined", "multibyte string", "raw"};
  return type >= 0 && type <= DDT_RAW ? kNames[type] : "unknown";
}

}  // namespace

int zdb_make_bind(const DD_TABLE *table, const ZDB_HOST_BIND &desc, int index, ZDB_BIND *bind) {
  char name[sizeof desc.column + 1];
  std::memcpy(name, desc.column, sizeof desc.column);
  name[sizeof desc.column] = '\0';
  if (desc.address == nullptr) {
    zdb_error(ZE_NULL_VARIABLE);
    reset_zdb_msg();
    set_zdb_msg_logged("zdb_open", 0, "Bind %d (column '%s') has no variable address", index + 1,
                       name);
    return -1;
  }
  if (std::strchr(name, '.') == nullptr) {
    return refuse_column(index, name, "a bind names its column in full, \"table.column\"");
  }
  const DD_COLUMN *column = dd_column_or_throw(name);
  if (column == nullptr) return refuse_column(index, name, "no such column in the dictionary");
  // A column of another table would land at that table's offsets.
  if (std::strncmp(column->name, table->name, 8) != 0 || column->name[8] != '.')
    return refuse_column(index, name, "not a column of the cursor's table");
  int column_type = map_type(column->type);
  int host_type = map_type(desc.type);
  if (column_type == 0 || column->type == DDT_COMBINED)
    return refuse_column(index, name, "a combined column cannot be bound; bind its parts");
  bool pair_ok = column_type == host_type || (is_integer(column_type) && is_integer(host_type)) ||
                 (is_float(column_type) && is_float(host_type));
  if (!pair_ok || desc.type == 0 || desc.type > DDT_RAW) {
    char why[160];
    std::snprintf(why, sizeof why,
                  "a variable of type %d (%s) does not fit a column of type %d (%s)", desc.type,
                  type_name(desc.type), column->type, type_name(column->type));
    return refuse_column(index, name, why);
  }

  int column_depth = column->depth == 0 ? 1 : column->depth;
  int host_depth = desc.depth == 0 ? 1 : desc.depth;
  bind->address = desc.address;
  bind->row_offset = column->offset;
  bind->column_type = static_cast<std::uint8_t>(column_type);
  bind->host_type = static_cast<std::uint8_t>(host_type);
  bind->depth = static_cast<std::uint8_t>(host_depth < column_depth ? host_depth : column_depth);
  bind->column_element = static_cast<std::uint16_t>(column->length / column_depth);
  bind->host_element = static_cast<std::uint16_t>(host_element_size(host_type, desc.length));
  bind->length = desc.length;
  if (is_string(column_type) && bind->column_element < desc.length) bind->length = bind->column_element;
  bind->precision[0] = bind->precision[1] = 0;
  if (is_float(column_type) && column->domain != nullptr) {
    bind->precision[0] = column->domain->digits_before;
    bind->precision[1] = column->domain->digits_after;
  }
  if (is_string(column_type) && desc.length == 0)
    return refuse_column(index, name, "a string or raw variable needs its length");
  return 0;
}

void zdb_binds_to_row(const ZDB_BIND *binds, int count, unsigned char *row) {
  for (int i = 0; i < count; ++i) {
    const ZDB_BIND &b = binds[i];
    const auto *var = static_cast<const unsigned char *>(b.address);
    for (int e = 0; e < b.depth; ++e)
      element_to_row(b, var + e * b.host_element, row + b.row_offset + e * b.column_element);
  }
}

void zdb_row_to_binds(const ZDB_BIND *binds, int count, const unsigned char *row) {
  for (int i = 0; i < count; ++i) {
    const ZDB_BIND &b = binds[i];
    auto *var = static_cast<unsigned char *>(b.address);
    for (int e = 0; e < b.depth; ++e)
      element_to_var(b, row + b.row_offset + e * b.column_element, var + e * b.host_element);
  }
}
