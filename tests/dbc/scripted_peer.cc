#include "scripted_peer.h"

namespace molvane::test {

namespace {

// The output stream appends to the peer's own vector, so what the client
// sent stays readable after the client closed the driver's streams.
long AppendSent(void *ctx, const void *buf, size_t n) {
  auto *sent = static_cast<std::vector<std::uint8_t> *>(ctx);
  const auto *p = static_cast<const std::uint8_t *>(buf);
  sent->insert(sent->end(), p, p + n);
  return static_cast<long>(n);
}

const STREAM_OPS kSentOps = {nullptr, AppendSent, nullptr, nullptr, nullptr, nullptr};

}  // namespace

ScriptedPeer::ScriptedPeer() { Reply(std::vector<std::uint8_t>{}); }

ScriptedPeer::~ScriptedPeer() {
  if (server_.in) sclose(server_.in);
  if (server_.out) sclose(server_.out);
}

void ScriptedPeer::Reply(const std::vector<std::uint8_t> &bytes) {
  if (server_.in) sclose(server_.in);
  if (server_.out) sclose(server_.out);
  sent_.clear();
  server_.in = stream_open_bytes(bytes.data(), bytes.size(), "r");
  server_.out = stream_create(&kSentOps, &sent_, STREAM_KIND_OTHER, STREAM_WRITE, "peer", 0);
}

std::vector<std::uint8_t> ScriptedPeer::Sent() {
  if (server_.out) sflush(server_.out);
  return sent_;
}

}  // namespace molvane::test
