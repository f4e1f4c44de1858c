// The company mappings the driver holds, one per client environment string
// (the "<zuv>@<host> <file time>" a client names in ATT_SERVER and at the
// head of its SEND_COMPNR payload). A driver serves the clients of several
// installations; until it holds the mapping of a client's environment it
// answers that client's ATT_SERVER and ATT_SESSION with 519, and the client
// then sends the mapping. The mappings are kept for the life of the driver
// process and shared by its connections.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/driver_wire.h"

namespace molvane::driver {

// The logical companies stored in one physical company.
struct CompnrPhysical {
  std::uint16_t physical;
  std::vector<std::uint16_t> logical;
};

// The mapping of one table-name prefix (0, 2, 5 or 8 characters).
struct CompnrSpec {
  std::string name;
  std::vector<CompnrPhysical> entries;
};

struct CompnrMap {
  std::string env;
  std::vector<CompnrSpec> specs;

  // The physical company of a logical one for a table: the mapping of the
  // longest prefix that covers the table name; unchanged when not mapped.
  int Physical(const std::string &table, int logical) const;
  // The logical companies that mapping stores in a physical company; empty
  // when it names none.
  std::vector<int> Logicals(const std::string &table, int physical) const;

 private:
  const CompnrSpec *SpecOf(const std::string &table) const;
};

// Reads a SEND_COMPNR payload (after the request code); Malformed on a
// count or text beyond its bound, NeedMore while incomplete.
CompnrMap ReadCompnrMap(WireReader &in);

// The process-wide mappings by environment string.
const CompnrMap *FindCompnrMap(const std::string &env);
void KeepCompnrMap(CompnrMap map);
// Forgets every mapping (tests).
void ForgetCompnrMaps();

}  // namespace molvane::driver
