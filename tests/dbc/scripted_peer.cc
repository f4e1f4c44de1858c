#include "scripted_peer.h"

namespace molvane::test {

ScriptedPeer::ScriptedPeer() { Reply(std::vector<std::uint8_t>{}); }

ScriptedPeer::~ScriptedPeer() {
  if (server_.in) sclose(server_.in);
  if (server_.out) sclose(server_.out);
}

void ScriptedPeer::Reply(const std::vector<std::uint8_t> &bytes) {
  if (server_.in) sclose(server_.in);
  if (server_.out) sclose(server_.out);
  server_.in = stream_open_bytes(bytes.data(), bytes.size(), "r");
  server_.out = stream_open_bytes(nullptr, 0, "w");
}

std::vector<std::uint8_t> ScriptedPeer::Sent() {
  sflush(server_.out);
  std::size_t n = 0;
  const unsigned char *p = stream_bytes(server_.out, &n);
  return std::vector<std::uint8_t>(p, p + n);
}

}  // namespace molvane::test
