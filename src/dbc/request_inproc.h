// The in-process driver step of the round trip.
#pragma once

#include "ipc/stream.h"

// For an in-process driver connection, runs the driver's processing entry
// so that the flushed request is handled before the reply is read. 0 for
// other connections; -1 when the entry fails.
int dbc_run_inproc_driver(STREAM *out);
