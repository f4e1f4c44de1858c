// Traces of validated trees for golden comparisons.
#pragma once

#include <string>

class SQLVTNode;

namespace molvane::test {

// A tree trace with the process-dependent numbers (table numbers,
// company-set ids and references, parameter ids) hidden as '#' and each
// table's schema shown as "Schema: ...".
std::string Normalise(std::string const &trace);
// The trace of a node, normalised.
std::string TraceOf(SQLVTNode const *node);

}  // namespace molvane::test
