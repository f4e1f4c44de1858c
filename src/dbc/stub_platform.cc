// Stand-ins for the data dictionary calls of the database client, until the
// dictionary lands.
#include "dbc/stub_parts.h"

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
