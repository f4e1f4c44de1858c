// Stand-ins for referential integrity, until that part lands: references
// are on, and the client itself has no reference work to do (the reference
// decisions of the row actions still tell the driver what it must check).
#include "dbc/stub_parts.h"

// Waits for referential integrity (zdb_disable_references).
bool dbc_references_disabled() { return false; }

// Wait for the reference checks and the counter and cascade work of the
// client.
int zdb_reference_before(ZDB_INTERNAL_CURSOR *, const unsigned char *, const unsigned char *, int,
                         std::uint32_t) {
  return 0;
}
int zdb_reference_after(ZDB_INTERNAL_CURSOR *, const unsigned char *, const unsigned char *, int,
                        std::uint32_t) {
  return 0;
}
// Waits for the table handling of clear_table and drop_table: the request
// goes to the driver.
int reference_for_table_oper(ZDB_INTERNAL_CURSOR *, int, int) { return 0; }
