#include "dbc/request_inproc.h"

int dbc_run_inproc_driver(STREAM *out) {
  if (out == nullptr || !out->in_process || out->process_entry == nullptr) return 0;
  return out->process_entry(out->process_arg) < 0 ? -1 : 0;
}
