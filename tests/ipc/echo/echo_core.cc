#include "echo_core.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace echo {
namespace {

void AppendFrame(std::string *out, const std::string &payload) {
  uint32_t n = static_cast<uint32_t>(payload.size());
  out->push_back(static_cast<char>(n >> 24));
  out->push_back(static_cast<char>(n >> 16));
  out->push_back(static_cast<char>(n >> 8));
  out->push_back(static_cast<char>(n));
  out->append(payload);
}

}  // namespace

void EchoConnection::Feed(const void *bytes, size_t count) {
  input_.append(static_cast<const char *>(bytes), count);
}

bool EchoConnection::Process() {
  size_t pos = 0;
  bool live = true;
  while (input_.size() - pos >= 4) {
    const auto *p = reinterpret_cast<const unsigned char *>(input_.data() + pos);
    size_t n = (size_t{p[0]} << 24) | (size_t{p[1]} << 16) | (size_t{p[2]} << 8) | p[3];
    if (n > kMaxFrame) {
      live = false;
      break;
    }
    if (input_.size() - pos - 4 < n) break;
    std::string payload = input_.substr(pos + 4, n);
    pos += 4 + n;
    if (payload == "EXIT") {
      live = false;
      break;
    }
    if (payload == "ARGS") {
      std::string joined;
      for (size_t i = 0; i < argv_.size(); ++i) joined += (i ? "\n" : "") + argv_[i];
      AppendFrame(&output_, joined);
    } else if (payload == "PID") {
      AppendFrame(&output_, std::to_string(getpid()));
    } else if (payload.rfind("ENV:", 0) == 0) {
      const char *v = std::getenv(payload.c_str() + 4);
      AppendFrame(&output_, v != nullptr ? v : "");
    } else {
      AppendFrame(&output_, payload);
    }
  }
  input_.erase(0, pos);
  return live;
}

bool WantsStartFailure(const std::vector<std::string> &argv) {
  for (const auto &a : argv) {
    if (a == "--fail-start") return true;
  }
  return false;
}

}  // namespace echo
