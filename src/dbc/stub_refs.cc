// Stand-in for the library switch of referential integrity, until that part
// lands: references are on.
#include "dbc/stub_parts.h"

// Waits for referential integrity (zdb_disable_references).
bool dbc_references_disabled() { return false; }
