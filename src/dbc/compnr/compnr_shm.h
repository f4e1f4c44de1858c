// The copy of the company mapping kept in the shared segment for other
// processes of the same environment.
#pragma once

#include "dbc/compnr/compnr_records.h"

// The list of specs stored in the shared segment under the environment string,
// or null (not in use, not linked, absent).
COMPNR_SPEC *compnr_shm_lookup(const char *env);

// Copies the list of specs into the shared segment under the environment string
// and returns the copy, or null when shared memory is not in use or the
// store failed (after one failure the client stops trying).
COMPNR_SPEC *compnr_shm_store(const char *env, const COMPNR_SPEC *specs);
