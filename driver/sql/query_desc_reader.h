// Reads a query description or a DELETE/UPDATE request from its token
// string. The reader trusts nothing: every item is checked for its kind
// and its bounds by the token string, every count against the bytes left,
// and nesting is limited, so that a malformed description raises
// SQLExUnknownNetWorkToken (naming what was wrong) instead of reading past
// its end or recursing without bound.
#pragma once

#include "sql/query_desc.h"
#include "sql/agent/token_string.h"

namespace molvane::driver {

// The table of numbered texts that text content reads.
inline constexpr char kTextTable[] = "tttxt010";

// Deepest nesting of row sources, conditions and expressions accepted: a
// little above the 1,000 levels of the deepest statement the SQL parser
// accepts, so that whatever the library ships can be read. Each level costs
// the reader and the translator a few stack frames.
inline constexpr int kMaxDescriptionDepth = 1100;

// Reads the description that starts at the token string's read offset and
// runs to its end. Throws SQLExUnknownNetWorkToken when it is malformed or
// when bytes are left over.
QueryDesc ReadQueryDesc(const SQLTokenString &ts);

}  // namespace molvane::driver
