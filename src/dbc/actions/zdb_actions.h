// The row, table and transaction action engine inside the library: the
// internal forms of zdb_exec_row and zdb_exec_table, the buffered actions,
// the touched list of a transaction, and the questions whether a driver does
// the reference work of a table itself.
#pragma once

#include <cstdint>
#include <string>

#include <molvane/zdb_action.h>

struct DD_TABLE;
struct ZDB_CURSOR;
struct ZDB_INTERNAL_CURSOR;
struct ZDB_TABLE_SESSION;
struct ZDB_TRANS;

// Host flag bits the engine reads or sets.
inline constexpr std::uint32_t ZDB_HF_FLUSH = 0x1;
inline constexpr std::uint32_t ZDB_HF_NOT_FOUND_OK = 0x4;
inline constexpr std::uint32_t ZDB_HF_DUPLICATE_OK = 0x10;
inline constexpr std::uint32_t ZDB_HF_CHANGED_OK = 0x40;
inline constexpr std::uint32_t ZDB_HF_CONDITIONAL = 0x10000;
inline constexpr std::uint32_t ZDB_HF_CHECK_CHANGED = 0x20000;
inline constexpr std::uint32_t ZDB_HF_DLOCK_UPDATED = 0x40000;
inline constexpr std::uint32_t ZDB_HF_SERVER_CHECKS = 0x100000;
inline constexpr std::uint32_t ZDB_HF_SERVER_REFCNT = 0x200000;

// Action-word bits the engine acts on.
inline constexpr std::uint32_t ZDB_AW_RETURNS_ROW = 0x100;
inline constexpr std::uint32_t ZDB_AW_NEEDS_CURRENT = 0x400;
inline constexpr std::uint32_t ZDB_AW_LOCKED_READ = 0x1000;
inline constexpr std::uint32_t ZDB_AW_DOMAIN_CHECK = 0x10000;
inline constexpr std::uint32_t ZDB_AW_UPDATE = 0x40000;
inline constexpr std::uint32_t ZDB_AW_DELETE = 0x80000;
inline constexpr std::uint32_t ZDB_AW_NEEDS_POSITION = 0x100000;

// The company an action on the cursor acts in: `compnr`, or the cursor's
// default company for 0xFFFF. -1 with 519 and a message naming the action
// when neither gives a company from 0 to 999.
int zdb_action_compnr(ZDB_CURSOR *cursor, int compnr, const char *action_name);

// The row action on one company's chain; `row` is the row image (the whole
// row length). 0 or -1.
int zdb_exec_row_internal(ZDB_INTERNAL_CURSOR *icursor, int action, std::uint32_t flags);
int zdb_exec_row_1(ZDB_INTERNAL_CURSOR *icursor, unsigned char *row, int action,
                   std::uint32_t flags);
// The buffered actions 101 to 105 (zdb_exec_buffered.cc); `flush_now` asks
// for an immediate flush.
int zdb_exec_buffered(ZDB_INTERNAL_CURSOR *icursor, unsigned char *row, int kind,
                      std::uint32_t flags, int flush_now);
// A locked equality read on index 1 of the row's key.
int place_physic_lock(ZDB_INTERNAL_CURSOR *icursor, unsigned char *row);

// The table action on one company's chain. 0 or -1.
int zdb_exec_table_internal(ZDB_INTERNAL_CURSOR *icursor, int action, int *argument);

// Puts the table session on its transaction's touched list once; with
// `close_handles` also breaks the set reads of its internal cursors. 0 or -1.
int mark_table_touched(ZDB_TABLE_SESSION *tsession, int close_handles);

// The company-number field of a row image (u16 big-endian behind _dlock).
int get_compnr_from_row(const DD_TABLE *table, const unsigned char *row);
void put_compnr_in_row(const DD_TABLE *table, unsigned char *row, int compnr);

// Whether the driver of the internal cursor's table does the reference work
// itself: maintains the parents' counters, checks the referencing rows of a
// delete (kind 102) or update (103), carries out the cascades of a delete
// (1) or update (2). 1 yes, 0 no; the cascade question -1 on failure.
int server_updates_refcnt(ZDB_INTERNAL_CURSOR *icursor);
int server_checks_runtime(ZDB_INTERNAL_CURSOR *icursor, int kind);
int cascade_childs_in_server(ZDB_INTERNAL_CURSOR *icursor, int kind);
// True when the table has a reference with a counter (update or delete mode
// 1) that takes part under `flags`; with rows given, only one whose column
// differs between them.
bool table_has_counted_ref(const DD_TABLE *table, std::uint32_t flags,
                           const unsigned char *old_row = nullptr,
                           const unsigned char *new_row = nullptr);

// The image the table's last buffered action left in its update row data
// set, as a row image; false when there is none.
bool zdb_last_update_image(ZDB_INTERNAL_CURSOR *icursor, unsigned char *image);

// Words the refusal of a request as locked (107) for the host, from what
// the library knows: the action on the table and company of `icursor` (and
// the key, when the request had one) was refused, who holds it (another
// transaction of this program on the same driver, or another host's
// session on a driver server) and how long the request waited
// (`waited_ms`, measured around it). zdb_errno stays 107.
void zdb_name_lock_holder(ZDB_INTERNAL_CURSOR *icursor, const char *action, const std::string &key,
                          long waited_ms);
