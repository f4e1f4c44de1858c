// The request procedures of the row, table and transaction actions: the
// buffered updates that leave in one EXE_UPDATE per driver session at a
// flush, single-row reads (EXE_ROW_CNTR), table actions over every copy of a
// table (EXE_TBL_CNTR), transaction actions (EXE_DB_CNTR), session and
// driver commands (EXE_SESSION, EXE_SYSTEM), SQL agent packets, table locks
// and alterations, and the details of the last failed buffered update.
//
// Each returns 0 or -1 with zdb_errno set where it says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ZDB_INTERNAL_CURSOR;
struct ZDB_SESSION;
struct ZDB_SERVER;
struct ZDB_TRANS;

// Host flags of a buffered action that send it at once.
inline constexpr std::uint32_t ZDB_FLUSH_MASK = 0x40F001;
// Header of a buffered action record: u32 kind and u32 flags, big-endian,
// then the row image up to the table's delayed-lock offset.
inline constexpr std::size_t ZDB_ACTION_HEADER = 8;
// Session flag: EXE_UPDATE carries no tables.
inline constexpr std::uint8_t ZDB_SESSION_NO_TABLES = 0x01;

// Buffers one action record (kind, flags, row) of the internal cursor's
// table and company; flushes the session's transaction when `flags` meets
// ZDB_FLUSH_MASK, when `force` is set or when ZDB_ALWAYS_FLUSH is on.
int zdb_do_exec_row(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *record,
                    std::uint32_t flags, int force);
// Sends the buffered actions of the session's transaction: one EXE_UPDATE
// per driver session that has any, sessions on audit drivers last. The row
// data sets are emptied whether the sending succeeded or not.
int flush_updates(ZDB_SESSION *session);

// Empties every row data set of the transaction (an abort); and whether any
// of them still holds a buffered action.
void zdb_drop_updates(ZDB_TRANS *trans);
bool zdb_has_pending_updates(ZDB_TRANS *trans);

// One EXE_ROW_CNTR on the internal cursor's session: `row` holds the key of
// `length` bytes and receives the row read (at most `capacity` bytes, the
// count in *length). `trace_row` is printed with debug bit 2 when not null.
int zdb_do_exec_read_eq(ZDB_INTERNAL_CURSOR *icursor, std::uint32_t read_arg, unsigned char *row,
                        std::uint16_t *length, std::size_t capacity,
                        const unsigned char *trace_row, int compnr);

// One table action on every copy of the table, from the first internal
// cursor of the main chain; *argument is sent and receives the reply's.
int zdb_do_exec_table(ZDB_INTERNAL_CURSOR *icursor, std::uint32_t action, std::uint32_t *argument);

// A transaction action on one session, and on every audit session of a
// transaction.
int zdb_do_exec_db(ZDB_SESSION *session, std::uint32_t action);
int zdb_do_audit_exec_db(ZDB_TRANS *trans, std::uint32_t action);

// A session or driver command; a non-empty answer replaces *msg and *length
// (the answer lives in the receive buffer until the next request).
int zdb_do_exec_session(ZDB_SESSION *session, std::uint32_t code, const char **msg,
                        std::uint16_t *length);
int zdb_do_exec_server(ZDB_SERVER *server, std::uint32_t code, const char **msg,
                       std::uint16_t *length);

// One SQL_MESSAGE; the reply goes to the SQL agent client's packet handler.
int zdb_sql_commu_packets(ZDB_SERVER *server, const char *packets, std::uint32_t length);

// LOCK_TABLE and ALTER_TABLE on one session: the request's result, or -1.
int dbcSessionLockTable(ZDB_SESSION *session, const char *table, int compnr, int lock_type);
int dbcSessionAlterTable(ZDB_SESSION *session, const char *table, int compnr, int argument);

// The error of the transaction's last failed buffered update (0 with
// company number 0xFFFF when there is none), with its table (8 bytes and a
// NUL), company number and extra text; any output may be null.
int zdb_get_detail_error_by_trans(ZDB_TRANS *trans, char *table, int *compnr,
                                  const char **extra);
// The message of a call that fails with 520 (a commit, a flush, an SQL
// statement that flushed first): "the update of exdep010001 failed with
// error 100 (duplicate key)" and the driver's text of it, in place of what
// the message held. Nothing changes when zdb_errno is not 520 or the
// transaction has no failed update.
void zdb_name_failed_update(const ZDB_TRANS *trans);
// A failed buffered update (520) reported as the update's own error, as row
// and table actions do: zdb_errno becomes that error, and the message the
// driver's words of the cause when it sent them (a duplicate key names its
// index and values; a refusal as locked, 107, is "Record is locked in
// TABLE: " and the driver's words of what held it), else the text of
// zdb_name_failed_update. Nothing
// changes when zdb_errno is not 520 or the transaction has no failed update.
void zdb_own_update_error(ZDB_TRANS *trans);
