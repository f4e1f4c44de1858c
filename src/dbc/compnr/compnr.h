// Company-number mapping: logical company numbers that share the rows of a
// physical company, per table-name prefix, from lib/compnr<release>. The
// records it is made of are in compnr_records.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dbc/compnr/compnr_records.h"

struct stream;
typedef struct stream STREAM;

// The environment string "<zuv>@<host> <file time>" that names the mapping;
// loads the mapping on first use. Empty when the host name cannot be had.
const char *compnrGetEnv();

// The map of the longest spec covering the table (the name cut to 8, 5, 2
// and 0 characters); the empty map when none does.
const COMPNR_MAP *compnrGetCompnrData(const char *table);

// The physical number of a logical one (unchanged when not mapped); -2 for a
// map that is not one.
int compnrLogicToPhysic(const COMPNR_MAP *map, int logical);

// The logical numbers stored in a physical company: their count, and the
// array in *list (null when none).
int compnrGetLogicCompnrs(const COMPNR_MAP *map, int physical, const uint16_t **list);

// 1 when the number is not mapped to another company, else 0.
int compnrIsPhysic(const COMPNR_MAP *map, int number);

// 0 when the mapping is present, or found in shared memory under `env`.
int compnrInit(const char *env);

// Debug listing of the mapping on standard output.
void compnrPrintData();

// Writes the SEND_COMPNR payload: the environment string, then every spec
// with its physical entries. 0, or -1 when a write fails.
int dbc_send_compnrs(STREAM *stream);
