// Stand-ins for the checkpoint timing, binary trace, shared memory and data
// dictionary calls of the database client, until those parts land.
#include "dbc/stub_parts.h"

// Waits for platform/chkpnt.h (ChkpntStart, ChkpntStop).
void dbc_chkpnt_start() {}
void dbc_chkpnt_stop(const char *, int, int) {}

// Waits for platform/blat.h: no trace class is switched on.
void blat_initiate() {}
int blat_get_state(int) { return 0; }
void blat_sess_start(const char *, int) {}
void blat_sess_rename(const char *, int) {}
void blat_sess_stop(int) {}

// Waits for the shared-memory stand-in: linking always succeeds.
int link_shm() { return 0; }

// Waits for dbc/dd.h: the dictionary mode word only.
namespace {
int g_dd_mode = 1;
}
void init_local_dd() { g_dd_mode = 1; }
void init_dd_mode(int mode) {
  if (mode == 1 || mode == 3) g_dd_mode = mode;
}
int get_dd_mode() { return g_dd_mode; }
// Waits for dbc/dd.h (ddtable): no table is known.
const DD_TABLE *dbc_dd_table(const char *) { return nullptr; }
