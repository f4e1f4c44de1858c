// The driver's reader of row data sets: the byte stream that EXE_UPDATE
// carries per table (u32 data length, u32 row count, the encoded rows).
//
// Rows are encoded as differences against the row before: an ordinal, then
// items of u16 column number, flag byte and value for the columns that
// changed; the last item's flag has bit 16. The decoder keeps the row it
// decoded last and applies each row's items to it. It trusts nothing: a
// column number out of order, a value longer than its column, a cut-off
// row or a row count that disagrees with the data makes the stream
// malformed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/driver_wire.h"

namespace molvane::driver {

// Value kinds of a row data set column.
enum RdsCode : std::uint32_t {
  kRdsByte = 1,
  kRdsShort = 2,
  kRdsLong = 3,
  kRdsFloat = 4,
  kRdsDouble = 5,
  kRdsString = 6,
  kRdsLongString = 7,  // sent without trailing blanks
  kRdsRaw = 8,
  kRdsLongRaw = 9,     // sent without trailing 0 bytes
};

// Column states as the flag bytes carry them.
enum RdsState : std::uint8_t {
  kRdsValue = 1,
  kRdsClear = 2,
  kRdsNull = 4,
  kRdsLast = 16,
  kRdsUnref = 64,
};

struct RdsColumnSpec {
  std::uint32_t code = kRdsLong;
  std::uint16_t size = 4;    // bytes of one element
  std::uint16_t count = 1;   // elements
  std::uint32_t offset = 0;  // in the decoded row
};

// The column of a dictionary column of the given type (the dictionary's
// type byte), total length and depth.
RdsColumnSpec RdsSpecFor(std::uint8_t type, std::uint16_t length, std::uint8_t depth);
// Gives the columns consecutive offsets from 0; the row length.
std::size_t RdsLayout(std::vector<RdsColumnSpec> &columns);

// One table's stream as received, before it is decoded.
struct RdsStream {
  std::uint32_t row_count = 0;
  std::string data;
};
// Reads the stream at `in`; Malformed when the data length exceeds `limit`.
RdsStream ReadRdsStream(WireReader &in, std::size_t limit);

// The decoded rows of a stream, one after another in one buffer; row i
// has ordinal i + 1.
struct RdsRows {
  std::size_t row_length = 0;
  std::size_t count = 0;
  std::vector<std::uint8_t> bytes;  // count rows of row_length bytes

  const std::uint8_t *row(std::size_t i) const { return bytes.data() + i * row_length; }
};

// Decodes every row. False with a reason when the stream is malformed.
bool DecodeRds(const std::vector<RdsColumnSpec> &columns, const RdsStream &stream, RdsRows *rows,
               std::string *error);

}  // namespace molvane::driver
