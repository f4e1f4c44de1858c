// Set reads through generated SQL: every positioning read other than an
// equality read on index 1 runs as a kept-open SELECT ... AS SET WITH n ROWS
// over the cursor's current index, and the reads that follow in the same
// direction take the rows the set has already fetched.
#pragma once

#include <string>

#include "dbc/setread/ssts_info.h"

struct DD_TABLE;
struct DD_COLUMN;
struct ZDB_INTERNAL_CURSOR;

// Modes of ssts_call.
inline constexpr int SSTS_READ = 1;     // read the row of a positioning action
inline constexpr int SSTS_CHANGED = 2;  // a buffered change of the row was stored

// 0 success, 1 failure (zdb_errno). The callbacks the set reads need are
// installed for the call and the previous ones put back on every return.
int ssts_call(int mode, unsigned char *row, int action, ZDB_INTERNAL_CURSOR *icursor);
int ssts_read(unsigned char *row, int action, ZDB_INTERNAL_CURSOR *icursor);
// Rows per set of the statements built afterwards; returns the previous.
int ssts_set_rows(int rows);
// After an equality read on index 1: the row becomes the current position
// of an equal read.
void zdb_set_ssts_curr_info(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row);
// Mode 1 row key -> current key; 2 current key (and delayed-lock id) ->
// row; 3 lowest and 4 highest values into the index parts of the row.
// 0, or 1 with 215.
int set_ssts_curr_info(int mode, ZDB_INTERNAL_CURSOR *icursor, unsigned char *row);
// Break (and close) the eight sets; nonzero when an SQL call failed.
int break_all_sql_handle(ZDB_INTERNAL_CURSOR *icursor);
int close_all_sql_handle(ZDB_INTERNAL_CURSOR *icursor);
int close_all_sql_handle(SSTS_INFO *info);

// The SELECT text of a set: table, index, operator, order (null none),
// direction word, rows per set. False with 215 when a key is missing.
bool ssts_build_select(const DD_TABLE *table, int index_nr, const char *op, const char *order,
                       std::uint32_t direction, int rows, std::string *text);

// Binds the key values of the row for a set executed with `direction`.
// 0, or 1 (zdb_errno).
int ssts_bind(QPCStatement *statement, ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row,
              std::uint32_t direction);

// The lowest (high false) or highest value of a column, written at its
// offset in the row, every element. 0, or 1 with 215 for a column type
// without such values.
int ssts_extreme_value(const DD_COLUMN *column, unsigned char *row, bool high);
