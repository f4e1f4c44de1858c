// The circle check walks the waits under way from the sessions a new wait
// would wait for, party by party, asking each wait for its blockers as they
// stand; it reaches the new wait's own party exactly when the wait would
// close a circle. A party is visited once, so a check costs the waits
// under way, not the paths through them.
#include "locks/driver_waits.h"

#include <algorithm>
#include <unordered_map>

namespace molvane::driver {

std::uint64_t WaitsFor::Begin(std::uint32_t session, Blockers blockers) {
  const std::uint64_t id = next_++;
  waits_.emplace(id, Wait{session, std::move(blockers)});
  return id;
}

void WaitsFor::End(std::uint64_t wait) { waits_.erase(wait); }

std::vector<std::uint32_t> WaitsFor::Circle(std::uint32_t session,
                                            const std::vector<std::uint32_t> &blockers) const {
  const Party me = party_of_(session);
  // The session each party was reached through (the one a wait waits
  // for), and the session its waiting party was reached through (kFirst
  // for the new wait's own blockers).
  struct Reached {
    std::uint32_t via;
    std::uint32_t from;
  };
  constexpr std::uint32_t kFirst = ~std::uint32_t{0};
  std::unordered_map<Party, Reached> reached;
  std::vector<Party> next;
  auto path = [&](std::uint32_t last) {
    std::vector<std::uint32_t> circle{last};
    for (std::uint32_t at = last;;) {
      const std::uint32_t from = reached.at(party_of_(at)).from;
      if (from == kFirst) break;
      circle.push_back(from);
      at = from;
    }
    std::reverse(circle.begin(), circle.end());
    return circle;
  };
  for (std::uint32_t b : blockers) {
    const Party p = party_of_(b);
    if (p == me) return {b};
    if (reached.emplace(p, Reached{b, kFirst}).second) next.push_back(p);
  }
  // Breadth first: the shortest circle is the one named.
  for (std::size_t i = 0; i < next.size(); ++i) {
    const Party at = next[i];
    const std::uint32_t via = reached.at(at).via;
    for (const auto &[id, wait] : waits_) {
      if (party_of_(wait.session) != at) continue;
      for (std::uint32_t b : wait.blockers()) {
        const Party p = party_of_(b);
        if (p == me) return path(via);
        if (reached.emplace(p, Reached{b, via}).second) next.push_back(p);
      }
    }
  }
  return {};
}

}  // namespace molvane::driver
