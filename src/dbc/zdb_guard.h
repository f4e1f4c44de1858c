// The common entry of the exported calls of the database API: each runs in
// a call span, so that it starts with an empty message (zdb_msg.h), and the
// C functions over C++ code turn memory that runs out (std::bad_alloc from a
// container or a new) into error 501, never an exception through a C caller.
#pragma once

#include <new>

#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"

extern "C" int zdb_errno;

// Runs the body of an exported call; its result, or `failed` with zdb_errno
// 501 when memory ran out on the way.
template <class Result, class Body>
Result zdb_api_call_or(Result failed, Body &&body) noexcept {
  ZdbCallScope call;
  try {
    return body();
  } catch (const std::bad_alloc &) {
    zdb_errno = ZE_MEMORY;
    return failed;
  }
}

// The same for a call that returns -1 on failure.
template <class Body>
int zdb_api_call(Body &&body) noexcept {
  return zdb_api_call_or(-1, static_cast<Body &&>(body));
}
