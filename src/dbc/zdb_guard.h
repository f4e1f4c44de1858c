// The exported calls of the database API are C functions over C++ code:
// memory that runs out (std::bad_alloc from a container or a new) comes back
// as error 501 and -1, never as an exception through a C caller.
#pragma once

#include <new>

#include "dbc/zdb_errors.h"

extern "C" int zdb_errno;

// Runs the body of an exported call; its result, or -1 with zdb_errno 501
// when memory ran out on the way.
template <class Body>
int zdb_api_call(Body &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    zdb_errno = ZE_MEMORY;
    return -1;
  }
}
