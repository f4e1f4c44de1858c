// Row data sets as the driver receives them with EXE_UPDATE: the first byte
// gives the number of columns (1 to 16), then three bytes per column (value
// kind 1 to 9, element size, element count); the rest is the stream (u32
// data length, u32 row count, the encoded rows). The decoder trusts nothing:
// whatever the stream, it must refuse or decode within the row.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "store/rds_decode.h"

namespace drv = molvane::driver;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t columns = 1 + data[0] % 16;
  if (size < 1 + 3 * columns) return 0;
  std::vector<drv::RdsColumnSpec> specs;
  for (std::size_t i = 0; i < columns; ++i) {
    const std::uint8_t *c = data + 1 + 3 * i;
    drv::RdsColumnSpec spec;
    spec.code = 1 + c[0] % 9;
    spec.size = static_cast<std::uint16_t>(1 + c[1]);
    spec.count = static_cast<std::uint16_t>(1 + c[2] % 4);
    specs.push_back(spec);
  }
  drv::RdsLayout(specs);
  const std::size_t used = 1 + 3 * columns;
  drv::WireReader in(data + used, size - used);
  try {
    const drv::RdsStream stream = drv::ReadRdsStream(in, 1 << 20);
    drv::RdsRows rows;
    std::string error;
    drv::DecodeRds(specs, stream, &rows, &error);
  } catch (drv::Malformed const &) {
  } catch (drv::NeedMore const &) {
  }
  return 0;
}
