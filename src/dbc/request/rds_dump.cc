// Debug listings of row data sets on standard error. A listing reads the
// rows through the normal readers and puts the read position, the read row
// and the column states back afterwards, so a dump in the middle of a
// flush or a read changes nothing.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include <molvane/datetime.h>

#include "dbc/request/rds.h"
#include "platform/numbers.h"

namespace {

std::int32_t get_i32(const unsigned char *p) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) |
                                   (p[2] << 8) | p[3]);
}

// Prints one element of a column's value in the form of its kind.
void print_value(const RDS_COLUMN &c, const unsigned char *value, int bytes, bool separator) {
  const char *end = separator ? " " : "";
  switch (c.code) {
    case RDS_BYTE: std::fprintf(stderr, "%d%s", value[0], end); break;
    case RDS_SHORT:
      std::fprintf(stderr, "%d%s", static_cast<int16_t>((value[0] << 8) | value[1]), end);
      break;
    case RDS_LONG: std::fprintf(stderr, "%d%s", get_i32(value), end); break;
    case RDS_FLOAT: std::fprintf(stderr, "%f%s", float_out(value), end); break;
    case RDS_DOUBLE: std::fprintf(stderr, "%f%s", double_out(value), end); break;
    case RDS_STRING:
    case RDS_LSTRING:
      std::fprintf(stderr, "%.*s%s", bytes, reinterpret_cast<const char *>(value), end);
      break;
    default: {
      std::vector<char> hex(2 * static_cast<size_t>(bytes) + 1, '\0');
      raw_to_hex(hex.data(), value, bytes);
      std::fprintf(stderr, "%s%s", hex.data(), end);
      break;
    }
  }
}

bool print_state(std::uint8_t state, bool reduced) {
  if (state & RDS_ST_CLEAR) std::fputs(reduced ? "CLEAR" : "<clear> ", stderr);
  else if (state & RDS_ST_NULL) std::fputs(reduced ? "NULL" : "<null> ", stderr);
  else if (state & RDS_ST_UNREF) std::fputs(reduced ? "UNREF" : "<unref> ", stderr);
  else return false;
  return true;
}

// Everything a listing changes, to put back after it.
struct ReadState {
  std::int32_t data_offset, current_row;
  std::vector<unsigned char> read_row;
  std::vector<std::uint8_t> states;
  explicit ReadState(const RDS *rds)
      : data_offset(rds->data_offset), current_row(rds->current_row) {
    if (rds->read_row) read_row.assign(rds->read_row, rds->read_row + rds->row_length);
    for (int i = 0; i < rds->column_count; ++i) states.push_back(rds->columns[i].state);
  }
  void Restore(RDS *rds) const {
    rds->data_offset = data_offset;
    rds->current_row = current_row;
    if (rds->read_row) std::memcpy(rds->read_row, read_row.data(), read_row.size());
    for (int i = 0; i < rds->column_count; ++i) rds->columns[i].state = states[i];
  }
};

}  // namespace

void qpdump(int level, const char *format, ...) {
  for (int i = 0; i < level; ++i) std::fputs("   ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

void dump_rds_row(RDS *rds, const unsigned char *row) {
  for (int i = 0; i < rds->column_count; ++i) {
    const RDS_COLUMN &c = rds->columns[i];
    if ((rds->flags & RDS_ENCODED) && print_state(c.state, false)) continue;
    if (c.code == RDS_STRING || c.code == RDS_LSTRING || c.code == RDS_RAW ||
        c.code == RDS_LRAW) {
      print_value(c, row + c.offset, c.size * c.count, true);
      continue;
    }
    for (int e = 0; e < c.count; ++e) print_value(c, row + c.offset + e * c.size, c.size, true);
  }
  std::fputs("\n", stderr);
}

void dump_rds_row_reduced(RDS *rds, const unsigned char *enc, int length) {
  if (length < 4) return;
  std::fprintf(stderr, "[%d]", get_i32(enc));
  int pos = 4;
  while (length - pos >= 3) {
    int nr = (enc[pos] << 8) | enc[pos + 1];
    std::uint8_t f = enc[pos + 2];
    pos += 3;
    if (nr < 1 || nr > rds->column_count) break;
    const RDS_COLUMN &c = rds->columns[nr - 1];
    std::fprintf(stderr, " %d:", nr);
    if (f & RDS_ST_VALUE) {
      int n = c.size * c.count;
      if (c.code == RDS_LSTRING || c.code == RDS_LRAW) {
        if (length - pos < 2) break;
        n = (enc[pos] << 8) | enc[pos + 1];
        pos += 2;
      }
      if (n > length - pos) break;
      if (c.code == RDS_STRING || c.code == RDS_LSTRING)
        std::fprintf(stderr, "%.*s", n, reinterpret_cast<const char *>(enc + pos));
      else if (c.code == RDS_RAW || c.code == RDS_LRAW || c.count > 1)
        print_value(RDS_COLUMN{RDS_RAW, 0, 0, 0, 0, 1}, enc + pos, n, false);
      else
        print_value(c, enc + pos, n, false);
      pos += n;
    } else {
      print_state(f, true);
    }
    if (f & RDS_ST_LAST) break;
  }
  std::fputs("\n", stderr);
}

void dump_rds_rows(RDS *rds, int mode) {
  if (rds == nullptr) return;
  ReadState saved(rds);
  rds_rewind(rds);
  std::vector<unsigned char> row(rds->row_length);
  if (mode == 1 || (rds->flags & RDS_INDEX)) {
    while (rds_get_seq(rds, row.data()) == 0) dump_rds_row(rds, row.data());
  } else {
    std::vector<unsigned char> enc(rds->stored_size);
    for (;;) {
      std::int32_t start = rds->data_offset;
      int length = rds->current_row < rds->row_count
                       ? rds_read_data(rds, start, enc.data(), rds->stored_size)
                       : -1;
      if (length <= 0 || rds_get_seq(rds, nullptr) != 0) break;
      dump_rds_row_reduced(rds, enc.data(), rds->data_offset - start);
    }
    std::fputs("End of RDS\n", stderr);
  }
  saved.Restore(rds);
}
