// The three action code tables and their lookups.
#include "dbc/actions/action_codes.h"

#include <cstdio>
#include <span>

namespace {

struct ActionFlags {
  int code;
  std::uint32_t flags;
};

struct ActionName {
  int code;
  const char *name;
};

constexpr ActionFlags kRowFlags[] = {
    {1, 0x900},      {2, 0x7900},     {3, 0x900},      {4, 0x7900},
    {5, 0x100900},   {6, 0x107900},   {7, 0x100900},   {8, 0x107900},
    {9, 0xB00},      {10, 0x7B00},    {11, 0xB00},     {12, 0x7B00},
    {13, 0xB00},     {14, 0x7B00},    {15, 0xD00},     {16, 0x7D00},
    {17, 0xB00},     {18, 0x7B00},    {19, 0xB00},     {20, 0x7B00},
    {21, 0x86400},   {22, 0x36200},   {23, 0x57E00},   {24, 0x6B00},
    {31, 0x6900},    {32, 0x6900},    {33, 0x106900},  {34, 0x106900},
    {35, 0x6B00},    {36, 0x6B00},    {37, 0x6B00},    {38, 0x6500},
    {39, 0x6B00},    {40, 0x6B00},    {41, 0x86400},   {42, 0x56E00},
    {43, 0x6E00},    {51, 0x7900},    {52, 0x7900},    {53, 0x107900},
    {54, 0x107900},  {55, 0x7B00},    {56, 0x7B00},    {57, 0x7B00},
    {58, 0x7500},    {59, 0x7B00},    {60, 0x7B00},    {61, 0x86200},
    {62, 0x36200},   {63, 0x56200},   {64, 0x46200},
};

constexpr ActionName kRowNames[] = {
    {1, "db_first"},           {2, "db_first(locked)"},   {3, "db_last"},
    {4, "db_last(locked)"},    {5, "db_next"},            {6, "db_next(locked)"},
    {7, "db_prev"},            {8, "db_prev(locked)"},    {9, "db_gt"},
    {10, "db_gt(locked)"},     {11, "db_ge"},             {12, "db_ge(locked)"},
    {13, "db_eq"},             {14, "db_eq(locked)"},     {15, "db_curr"},
    {16, "db_curr(locked)"},   {17, "db_lt"},             {18, "db_lt(locked)"},
    {19, "db_le"},             {20, "db_le(locked)"},     {21, "db_delete"},
    {22, "db_insert"},         {23, "db_update"},         {24, "db_lock_ref"},
    {31, "db_first(delayed)"}, {32, "db_last(delayed)"},  {33, "db_next(delayed)"},
    {34, "db_prev(delayed)"},  {35, "db_gt(delayed)"},    {36, "db_ge(delayed)"},
    {37, "db_eq(delayed)"},    {38, "db_curr(delayed)"},  {39, "db_lt(delayed)"},
    {40, "db_le(delayed)"},    {41, "db_delete(delayed)"}, {42, "db_update(delayed)"},
    {43, "db_check_row_changed"}, {51, "db_first(51)"},   {52, "db_last(51)"},
    {53, "db_next(51)"},       {54, "db_prev(51)"},       {55, "db_gt(51)"},
    {56, "db_ge(51)"},         {57, "db_eq(51)"},         {58, "db_curr(51)"},
    {59, "db_lt(51)"},         {60, "db_le(51)"},         {61, "db_delete(51)"},
    {62, "db_insert(51)"},     {63, "db_update(51)"},     {64, "db_refcnt(51)"},
    {101, "insert(bfrd)"},     {102, "delete(bfrd)"},     {103, "update(bfrd)"},
    {104, "refcnt(bfrd)"},     {105, "refresh(bfrd)"},    {106, "complex_del(bfrd)"},
    {107, "complex_upd(bfrd)"}, {108, "read(bfrd)"},
};

constexpr ActionFlags kTableFlags[] = {
    {1, 0xC000}, {2, 0xC000}, {3, 0},      {4, 0xC000},  {5, 0x6000},
    {6, 0xC000}, {7, 0x6000}, {8, 0},      {9, 0xE000},  {10, 0},
    {11, 0x4000}, {12, 0x4000}, {13, 0},
};

constexpr ActionName kTableNames[] = {
    {1, "create_index"}, {2, "drop_index"},   {3, "change_order"},
    {4, "create_table"}, {5, "clear_table"},  {6, "drop_table"},
    {7, "lock_table"},   {8, "nr_rows"},      {9, "clr_ref_cnt"},
    {10, "alter_table"}, {11, "start_import"}, {12, "end_import"},
    {13, "upd_statistics"},
};

constexpr ActionFlags kDbFlags[] = {
    {1, 0}, {2, 0x8000}, {3, 0}, {4, 0}, {5, 0x8000}, {6, 0}, {7, 0}, {8, 0},
};

constexpr ActionName kDbNames[] = {
    {1, "commit_trans"},      {2, "set_readonly"},
    {3, "abort_trans"},       {4, "ERROR_prepare_commit"},
    {5, "trans_not_active"},  {6, "start_transaction"},
    {7, "audit_commit_table_action"}, {8, "audit_abort_table_action"},
    {9, "db_flush"},
};

// Name of a code that has no row: callers are meant to pass listed codes
// only, but a trace must never print a null pointer.
constexpr const char kUnknownAction[] = "unknown_action";

std::uint32_t find_flags(std::span<const ActionFlags> table, int code, int max_code,
                         int line) {
  if (code < 1 || code > max_code) {
    std::fprintf(stderr, "Wrong command in %s: %d command %d\n", __FILE__, line, code);
    return 0;
  }
  for (const ActionFlags &row : table)
    if (row.code == code) return row.flags;
  return 0;
}

const char *find_name(std::span<const ActionName> table, int code) {
  for (const ActionName &row : table)
    if (row.code == code) return row.name;
  return kUnknownAction;
}

constexpr int kRowMaxCode = 0x7FFFFFFF;
constexpr int kTableMaxCode = 26;
constexpr int kDbMaxCode = 16;

}  // namespace

std::uint32_t type_commu_row_action(int code) {
  return find_flags(kRowFlags, code, kRowMaxCode, __LINE__);
}

std::uint32_t type_commu_table_action(int code) {
  return find_flags(kTableFlags, code, kTableMaxCode, __LINE__);
}

std::uint32_t type_commu_db_action(int code) {
  return find_flags(kDbFlags, code, kDbMaxCode, __LINE__);
}

const char *zdb_row_action(int code) { return find_name(kRowNames, code); }
const char *zdb_table_action(int code) { return find_name(kTableNames, code); }
const char *zdb_db_action(int code) { return find_name(kDbNames, code); }
