// Encoded rows of an update-action RDS.
//
// A row is written as its ordinal (u32 big-endian) and a list of items, one
// per column that changed against the row put before: u16 column number
// (1-based), a flag byte (the column state; bit 1 means a value follows),
// and the value. Long strings lose their trailing blanks and long raw
// values their trailing 0 bytes, each then carrying a u16 length. The last
// item's flag byte gets bit 16; a row with no item is the three bytes
// 0x00 0x01 0x30. The first row after a reset carries every column, so a
// reader needs no state beyond the row it decoded last.
#include <cstring>
#include <vector>

#include "dbc/request/rds.h"
#include "platform/log.h"

namespace {

constexpr std::uint8_t kStateBits = RDS_ST_VALUE | RDS_ST_CLEAR | RDS_ST_NULL | RDS_ST_UNREF;

void put_u16(unsigned char *p, unsigned v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
void put_u32(unsigned char *p, std::uint32_t v) {
  put_u16(p, v >> 16);
  put_u16(p + 2, v & 0xFFFF);
}
unsigned get_u16(const unsigned char *p) { return (p[0] << 8) | p[1]; }
std::uint32_t get_u32(const unsigned char *p) {
  return (static_cast<std::uint32_t>(get_u16(p)) << 16) | get_u16(p + 2);
}

bool is_long(const RDS_COLUMN &c) { return c.code == RDS_LSTRING || c.code == RDS_LRAW; }

// Bytes of a long value without its trailing pad bytes.
int trimmed_length(const RDS_COLUMN &c, const unsigned char *value) {
  unsigned char pad = c.code == RDS_LSTRING ? ' ' : 0;
  int n = c.size;
  while (n > 0 && value[n - 1] == pad) --n;
  return n;
}

int bad_row(RDS *rds, const char *what) {
  log_mesg(__FILE__, __LINE__, "rds", 0, "row %d of the row data set does not decode: %s",
           rds->current_row + 1, what);
  return -1;
}

}  // namespace

namespace {

// Whether n bytes at a and b are equal; the common small widths without a
// call.
bool same_bytes(const unsigned char *a, const unsigned char *b, int n) {
  switch (n) {
    case 1: return a[0] == b[0];
    case 2: return a[0] == b[0] && a[1] == b[1];
    case 4: {
      std::uint32_t x, y;
      std::memcpy(&x, a, 4);
      std::memcpy(&y, b, 4);
      return x == y;
    }
    case 8: {
      std::uint64_t x, y;
      std::memcpy(&x, a, 8);
      std::memcpy(&y, b, 8);
      return x == y;
    }
    default: return std::memcmp(a, b, static_cast<std::size_t>(n)) == 0;
  }
}

// Encodes `row` against the row put before into `out` and notes in
// *changed the columns it carries, leaving the set as it was: a row that
// cannot be stored changes nothing.
int encode_row(const RDS *rds, const unsigned char *row, unsigned char *out, std::vector<int> *changed) {
  const bool first = rds->row_count == 0;
  changed->clear();
  put_u32(out, static_cast<std::uint32_t>(rds->row_count + 1));
  int pos = 4, last_flag = -1;
  for (int i = 0; i < rds->column_count; ++i) {
    const RDS_COLUMN &c = rds->columns[i];
    std::uint8_t state = c.state & ~RDS_ST_LAST;
    int bytes = c.size * c.count;
    const unsigned char *value = row + c.offset;
    if (state & RDS_ST_VALUE) {
      if (!first && (c.prev_state & kStateBits) == RDS_ST_VALUE &&
          same_bytes(value, rds->work_row + c.offset, bytes))
        continue;
      put_u16(out + pos, i + 1);
      last_flag = pos + 2;
      out[pos + 2] = state;
      pos += 3;
      if (is_long(c)) {
        int n = trimmed_length(c, value);
        put_u16(out + pos, n);
        std::memcpy(out + pos + 2, value, n);
        pos += 2 + n;
      } else {
        std::memcpy(out + pos, value, bytes);
        pos += bytes;
      }
      changed->push_back(i);
    } else if (first || c.prev_state != state) {
      put_u16(out + pos, i + 1);
      last_flag = pos + 2;
      out[pos + 2] = state;
      pos += 3;
      changed->push_back(i);
    }
  }
  if (last_flag < 0) {
    out[pos++] = 0x00;
    out[pos++] = 0x01;
    out[pos++] = 0x30;
  } else {
    out[last_flag] |= RDS_ST_LAST;
  }
  return pos;
}

// Makes `row` the row put before, for the columns encode_row noted.
void keep_row(RDS *rds, const unsigned char *row, const std::vector<int> &changed) {
  for (int i : changed) {
    RDS_COLUMN &c = rds->columns[i];
    c.prev_state = c.state & ~RDS_ST_LAST;
    if (c.prev_state & RDS_ST_VALUE) std::memcpy(rds->work_row + c.offset, row + c.offset, c.size * c.count);
  }
}

}  // namespace

int rds_put_seq(RDS *rds, const unsigned char *row) {
  if (rds == nullptr || !(rds->flags & RDS_ENCODED) || (rds->flags & RDS_INDEX)) return -1;
  // One room for every row: a buffered row costs no allocation.
  static thread_local std::vector<unsigned char> out;
  static thread_local std::vector<int> changed;
  out.resize(rds->stored_size);
  int n = encode_row(rds, row, out.data(), &changed);
  if (rds_write_data(rds, rds->data_length, out.data(), n) != 0) return -1;
  keep_row(rds, row, changed);
  ++rds->row_count;
  return 0;
}

void rds_rewind(RDS *rds) {
  rds->current_row = 0;
  rds->data_offset = 0;
  if (rds->read_row != nullptr) std::memset(rds->read_row, 0, rds->row_length);
}

// Decodes the row at the data offset into the read row; the bytes consumed,
// 0 at an end mark, or -1.
static int decode_row(RDS *rds, const unsigned char *enc, int length) {
  if (length < 4) return bad_row(rds, "no ordinal");
  if (get_u32(enc) == 0) return 0;
  int pos = 4;
  if (length - pos < 2) return bad_row(rds, "no column number");
  unsigned pending = get_u16(enc + pos);
  pos += 2;
  for (int i = 1; i <= rds->column_count; ++i) {
    if (static_cast<unsigned>(i) != pending) continue;
    RDS_COLUMN &c = rds->columns[i - 1];
    if (length - pos < 1) return bad_row(rds, "no flag byte");
    std::uint8_t f = enc[pos++];
    if (f & kStateBits)
      c.state = f;
    else
      c.state |= f;
    if (f & RDS_ST_VALUE) {
      unsigned char *target = rds->read_row + c.offset;
      int bytes = c.size * c.count;
      int n = bytes;
      if (is_long(c)) {
        if (length - pos < 2) return bad_row(rds, "no value length");
        n = static_cast<int>(get_u16(enc + pos));
        pos += 2;
        if (n > bytes) return bad_row(rds, "value longer than its column");
      }
      if (length - pos < n) return bad_row(rds, "value cut off");
      std::memcpy(target, enc + pos, n);
      std::memset(target + n, c.code == RDS_LSTRING ? ' ' : 0, bytes - n);
      pos += n;
    }
    if (f & RDS_ST_LAST) return pos;
    if (length - pos < 2) return bad_row(rds, "no column number");
    pending = get_u16(enc + pos);
    pos += 2;
  }
  return bad_row(rds, "column number out of order");
}

int rds_get_seq(RDS *rds, unsigned char *buffer) {
  if (rds == nullptr) return -1;
  if (rds->current_row >= rds->row_count) return 1;
  if (rds->flags & RDS_INDEX) {
    unsigned char *target = buffer;
    std::vector<unsigned char> scratch;
    if (target == nullptr) {
      scratch.resize(rds->row_length);
      target = scratch.data();
    }
    if (rds_get_idx_row(rds, rds->current_row, target) != 0) return -1;
    ++rds->current_row;
    return 0;
  }
  std::vector<unsigned char> enc(rds->stored_size);
  int length = rds_read_data(rds, rds->data_offset, enc.data(), rds->stored_size);
  if (length < 0) return bad_row(rds, "no data");
  int used = decode_row(rds, enc.data(), length);
  if (used <= 0) return used == 0 ? 1 : -1;
  rds->data_offset += used;
  ++rds->current_row;
  if (buffer != nullptr) std::memcpy(buffer, rds->read_row, rds->row_length);
  return 0;
}

void rds_get_expand_row(RDS *rds, unsigned char *buffer) {
  if (rds->row_count == 0 || rds->work_row == nullptr)
    std::memset(buffer, 0, rds->row_length);
  else
    std::memcpy(buffer, rds->work_row, rds->row_length);
}
