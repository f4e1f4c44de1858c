// The reference driver's request readers: the input is what a client sends
// on a fresh connection to a driver over an in-memory database. A request
// that breaks the protocol ends the connection, never the process.
#include <string>
#include <vector>

#include "protocol/driver_conn.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool ready = [] {
    molvane::fuzz::ScratchRoot();
    return true;
  }();
  (void)ready;
  molvane::driver::DriverConnection conn({":memory:"});
  // Fed in two parts, as a socket may deliver it.
  const std::size_t half = size / 2;
  conn.Feed(data, half);
  conn.Process();
  conn.Feed(data + half, size - half);
  conn.Process();
  std::vector<unsigned char> reply(4096);
  while (conn.has_reply()) conn.TakeReply(reply.data(), reply.size());
  return 0;
}
