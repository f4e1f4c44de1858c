#include "store/rds_decode.h"

#include <cstring>

namespace molvane::driver {

namespace {

// Dictionary type bytes that decide a column's kind.
enum : std::uint8_t {
  kTypeByte = 1, kTypeShort = 2, kTypeFloat = 4, kTypeDouble = 5, kTypeString = 6,
  kTypeEnum = 11, kTypeMbString = 14, kTypeRaw = 15,
};

class Cursor {
 public:
  Cursor(const std::string &data) : p_(reinterpret_cast<const std::uint8_t *>(data.data())),
                                    left_(data.size()) {}
  bool Take(std::size_t n, const std::uint8_t **at) {
    if (left_ < n) return false;
    *at = p_;
    p_ += n;
    left_ -= n;
    return true;
  }
  bool U16(unsigned *v) {
    const std::uint8_t *at;
    if (!Take(2, &at)) return false;
    *v = (at[0] << 8) | at[1];
    return true;
  }
  bool U32(std::uint32_t *v) {
    unsigned hi, lo;
    if (!U16(&hi) || !U16(&lo)) return false;
    *v = (static_cast<std::uint32_t>(hi) << 16) | lo;
    return true;
  }
  std::size_t left() const { return left_; }

 private:
  const std::uint8_t *p_;
  std::size_t left_;
};

bool Fail(std::string *error, std::uint32_t row, const char *what) {
  *error = "row " + std::to_string(row) + ": " + what;
  return false;
}

}  // namespace

RdsColumnSpec RdsSpecFor(std::uint8_t type, std::uint16_t length, std::uint8_t depth) {
  RdsColumnSpec c;
  c.count = depth > 0 ? depth : 1;
  std::uint16_t element = static_cast<std::uint16_t>(length / c.count);
  bool single = c.count == 1;
  switch (type) {
    case kTypeByte: case kTypeEnum: c.code = kRdsByte; c.size = 1; break;
    case kTypeShort: c.code = kRdsShort; c.size = 2; break;
    case kTypeFloat: c.code = kRdsFloat; c.size = 4; break;
    case kTypeDouble: c.code = kRdsDouble; c.size = 8; break;
    case kTypeString: case kTypeMbString:
      c.code = single && element > 8 ? kRdsLongString : kRdsString;
      c.size = element;
      break;
    case kTypeRaw:
      c.code = single && element > 8 ? kRdsLongRaw : kRdsRaw;
      c.size = element;
      break;
    default: c.code = kRdsLong; c.size = 4; break;
  }
  return c;
}

std::size_t RdsLayout(std::vector<RdsColumnSpec> &columns) {
  std::size_t offset = 0;
  for (auto &c : columns) {
    c.offset = static_cast<std::uint32_t>(offset);
    offset += static_cast<std::size_t>(c.size) * c.count;
  }
  return offset;
}

RdsStream ReadRdsStream(WireReader &in, std::size_t limit) {
  RdsStream s;
  std::uint32_t length = in.U32();
  if (length == 0) return s;
  s.row_count = in.U32();
  s.data = in.Bytes(length, limit);
  return s;
}

bool DecodeRds(const std::vector<RdsColumnSpec> &columns, const RdsStream &stream, RdsRows *rows,
               std::string *error) {
  std::size_t row_length = 0;
  for (const auto &c : columns)
    row_length = std::max<std::size_t>(row_length, c.offset + std::size_t{c.size} * c.count);
  rows->row_length = row_length;
  rows->count = 0;
  rows->bytes.clear();
  std::vector<std::uint8_t> current(row_length, 0);
  Cursor in(stream.data);
  // Every row takes at least 7 bytes, which bounds what a lying count can cost.
  if (stream.row_count > stream.data.size() / 7 + 1)
    return Fail(error, 0, "row count beyond the data");
  // Room for the rows the count announces, up to a bound: a count that the
  // data does not bear out costs no more than that.
  constexpr std::size_t kReservedBytes = std::size_t{16} << 20;
  rows->bytes.reserve(std::min<std::size_t>(std::size_t{stream.row_count} * row_length, kReservedBytes));
  for (std::uint32_t r = 1; r <= stream.row_count; ++r) {
    std::uint32_t ordinal;
    if (!in.U32(&ordinal)) return Fail(error, r, "no ordinal");
    if (ordinal != r) return Fail(error, r, "ordinal out of sequence");
    unsigned pending;
    if (!in.U16(&pending)) return Fail(error, r, "no column number");
    bool ended = false;
    for (std::size_t i = 1; i <= columns.size() && !ended; ++i) {
      if (i != pending) continue;
      const RdsColumnSpec &c = columns[i - 1];
      const std::uint8_t *at;
      if (!in.Take(1, &at)) return Fail(error, r, "no flag byte");
      std::uint8_t f = *at;
      if (f & kRdsValue) {
        std::size_t bytes = std::size_t{c.size} * c.count, n = bytes;
        bool trimmed = c.code == kRdsLongString || c.code == kRdsLongRaw;
        if (trimmed) {
          unsigned length;
          if (!in.U16(&length)) return Fail(error, r, "no value length");
          if (length > bytes) return Fail(error, r, "value longer than its column");
          n = length;
        }
        if (!in.Take(n, &at)) return Fail(error, r, "value cut off");
        std::uint8_t *target = current.data() + c.offset;
        std::memcpy(target, at, n);
        std::memset(target + n, c.code == kRdsLongString ? ' ' : 0, bytes - n);
      }
      if (f & kRdsLast) {
        ended = true;
      } else if (!in.U16(&pending)) {
        return Fail(error, r, "no column number");
      }
    }
    if (!ended) return Fail(error, r, "column number out of order");
    rows->bytes.insert(rows->bytes.end(), current.begin(), current.end());
    ++rows->count;
  }
  if (in.left() != 0) return Fail(error, stream.row_count, "bytes behind the last row");
  return true;
}

}  // namespace molvane::driver
