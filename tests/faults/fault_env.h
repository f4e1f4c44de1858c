// The environment the fault tests run in: the reference driver as a child
// process over the fixture dictionary, rows put in through molvane-host
// (away from the allocations a test fails), and SQL host callbacks that
// allocate nothing, so that every allocation a test counts is the library's.
#pragma once

#include <string>

#include "support/test_env.h"

namespace molvane::test {

// Lays out the fixture environment in `root`, with the reference driver as a
// child process on main.db, and points the library at it. A driver that goes
// away is the host's to handle: this host carries on.
void UseDriverEnvironment(const ScratchDir &root);

// Commits departments A and B (and C when `third_department`) and four
// employees, of whom 2, 3 and 4 earn more than 150. Returns what the host
// printed: empty when everything went in.
std::string InsertStaff(const ScratchDir &root, bool third_department = false);

// The external-variable callbacks of the sql_* calls, answered from static
// storage.
void InstallQuietHostCallbacks();

}  // namespace molvane::test
