// The check of a database file that `molvane-driver --check DATABASE` runs:
// SQLite's own integrity check with the driver's collations registered,
// which a plain SQLite shell lacks (it cannot read or check the collated
// key indexes without them).
#pragma once

#include <cstdio>
#include <string>

namespace molvane::driver {

// Opens the file read-only, prints the TSS modes it serves and every line
// of "PRAGMA integrity_check" to `out`, and returns 0 when SQLite says "ok",
// 1 when it finds a fault, 2 when the file cannot be opened or checked (the
// reason on `err`).
int CheckDatabase(const std::string &path, std::FILE *out, std::FILE *err);

}  // namespace molvane::driver
