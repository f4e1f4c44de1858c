// Flags and names of the row, table and transaction action codes. The action
// word sent to a driver is the flags of a code OR the code (low byte).
#pragma once

#include <cstdint>

#include <molvane/zdb.h>

// The flags of a code. A code outside the accepted range (row: 1 and up;
// table: 1..26; transaction: 1..16) writes a "Wrong command" line to
// standard error and yields 0; a code inside the range without a row
// yields 0 silently.
std::uint32_t type_commu_row_action(int code);
std::uint32_t type_commu_table_action(int code);
std::uint32_t type_commu_db_action(int code);

// The action word of a code: its flags OR the code.
inline std::uint32_t row_action_word(int code) { return type_commu_row_action(code) | code; }
inline std::uint32_t table_action_word(int code) { return type_commu_table_action(code) | code; }
inline std::uint32_t db_action_word(int code) { return type_commu_db_action(code) | code; }
