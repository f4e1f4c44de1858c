// Entry points shared by the modules of the dump loader.
#pragma once

#include "dbc/dict/dd.h"
#include "dbc/dict/dd_dump.h"

namespace molvane::dd {

// Loads a table's dump in the current mode (ddtable after its checks).
DD_TABLE *LoadTable(const char *name);

// Parses a domain dump into a new list for the package; null (logged) when
// the dump is malformed.
DD_DOMAIN_LIST *ParseDomainDump(const DumpFile &dump, const char *package);

// Parses a table dump into table; false (logged, zdb_errno set where the
// failure has a number) when the dump cannot be loaded.
bool ParseTableDump(const DumpFile &dump, DD_TABLE *table);

// The two system domains shared by every table.
DD_DOMAIN *DlockDomain();
DD_DOMAIN *CompnrDomain();

// True when a package code may name a dump file.
bool PackageOk(const char *package);

void SetZdbErrno(int err);

}  // namespace molvane::dd
