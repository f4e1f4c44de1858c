// Cursors (ZDB_CURSOR), their internal cursors per company and per driver
// copy, the table sessions that hold them on driver sessions, and binds.
//
// A cursor opened by zdb_open serves any number of company numbers. For each
// company it meets it keeps one chain of internal cursors, one per driver
// group (copy) that serves the table there; the chain shares one per-company
// record (ZDB_COMPANY) with the mapped company number, the row buffer and the
// read driver. Every internal cursor also sits on a table session: one table
// in one physical company on one driver session, which holds the delayed
// locks and the flags of that table there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <molvane/zdb_cursor.h>

#include "dbc/dlock/dlock.h"
#include "dbc/refs/ref_info.h"
#include "dbc/setread/ssts_info.h"

struct DD_TABLE;
struct DD_COLUMN;
struct ZDB_TRANS;
struct ZDB_SESSION;
struct ZDB_SERVER;
struct RDS;

// One bound program variable (made by zdb_open from a host descriptor).
struct ZDB_BIND {
  void *address;
  std::uint16_t length;      // string types: bytes copied; else the descriptor length
  std::uint16_t row_offset;  // the column's offset in the row
  std::uint8_t column_type;  // 7, 8, 9, 10, 12 taken as 3 and 11 as 1
  std::uint8_t host_type;    // mapped the same way
  std::uint8_t depth;        // smaller of the descriptor's and the column's depth
  std::uint8_t precision[2]; // float columns: the rounding bytes of the domain
  std::uint16_t column_element;  // bytes of one element in the row
  std::uint16_t host_element;    // bytes of one element of the variable
};

// A table in a physical company, process-wide and never freed; table
// sessions are matched by its address.
struct ZDB_TABLE_COMPNR {
  ZDB_TABLE_COMPNR *next;
  const DD_TABLE *table;
  int compnr;  // physical
};

// Table-session flags.
inline constexpr std::uint8_t ZDB_TS_LOCKED = 0x01;   // the table is locked
inline constexpr std::uint8_t ZDB_TS_TOUCHED = 0x02;  // the table was used
inline constexpr std::uint8_t ZDB_TS_PENDING = 0x04;  // buffered updates wait for the flush

struct ZDB_INTERNAL_CURSOR;

// One table in one physical company on one driver session.
struct ZDB_TABLE_SESSION {
  ZDB_TABLE_SESSION *next = nullptr;           // the session's list
  ZDB_INTERNAL_CURSOR *open = nullptr;         // open internal cursors
  ZDB_INTERNAL_CURSOR *waiting = nullptr;      // closes that wait for the next flush
  ZDB_SESSION *session = nullptr;
  ZDB_TABLE_COMPNR *key = nullptr;
  ZDB_DLOCK dlock;                             // delayed locks of the table here
  std::uint8_t flags = 0;                      // ZDB_TS_*
  // Cached answers of the questions whether the driver does the reference
  // work itself (0 not asked yet, 1 yes, 2 no); by kind: [0] delete, [1] update.
  std::uint8_t refcnt_in_server = 0;
  std::uint8_t checks_in_server[2] = {};
  std::uint8_t cascade_in_server[2] = {};
};

// The buffered updates of one table and company in a transaction, shared by
// every chain that writes them.
struct ZDB_UPDATE_HOLDER {
  int refs = 0;
  RDS *rds[2] = {};  // old and new images (made by the row data set)
};

// The record one chain of internal cursors shares.
struct ZDB_COMPANY {
  int logical = 0;                     // as the host named it
  int physical = 0;                    // after mapping
  ZDB_BIND *binds = nullptr;           // the cursor's binds (or the host row)
  int bind_count = 0;
  std::vector<unsigned char> row;      // the table's row length (up to _compnr)
  ZDB_INTERNAL_CURSOR *head = nullptr; // the chain head in the cursor's list
  ZDB_INTERNAL_CURSOR *read = nullptr; // the internal cursor that reads
  ZDB_INTERNAL_CURSOR *audit = nullptr;  // chain on audit drivers
  ZDB_UPDATE_HOLDER *updates = nullptr;
  std::uint8_t row_state = 0;          // ZDB_ROW_* of the row actions
  int dlock_id = 0;                    // delayed-lock id of the current row
  int index_nr = 1;                    // current index of the positioning reads
  std::uint8_t index_dup = 0;          // the current index allows duplicates
  std::string ref_error;               // text of the last reference error
  bool waiting = false;                // the chain's close waits for the flush
  std::vector<unsigned char> key_buf[2];  // set-read key buffers
  SSTS_INFO ssts;                      // the set reads
  ZDB_REFS refs;                       // the reference entries
};

// Current-row state of a per-company record.
inline constexpr std::uint8_t ZDB_ROW_CURRENT = 0x01;       // a current record
inline constexpr std::uint8_t ZDB_ROW_LOCKED = 0x02;        // the current row is locked
inline constexpr std::uint8_t ZDB_ROW_TABLE_LOCKED = 0x04;  // lock_table in this transaction
inline constexpr std::uint8_t ZDB_ROW_POSITION = 0x08;      // a current position

inline constexpr std::uint8_t ZDB_ICURSOR_VALID = 255;

struct ZDB_INTERNAL_CURSOR {
  ZDB_INTERNAL_CURSOR *next_in_ts = nullptr;    // the table session's list
  ZDB_INTERNAL_CURSOR *next_in_chain = nullptr; // main chain or audit chain
  ZDB_TABLE_SESSION *tsession = nullptr;
  ZDB_COMPANY *company = nullptr;
  ZDB_INTERNAL_CURSOR *next_head = nullptr;     // next chain head of the cursor
  ZDB_CURSOR *cursor = nullptr;                 // owner; null while the close waits
  std::uint8_t state = ZDB_ICURSOR_VALID;       // 0 once closed
};

struct ZDB_CURSOR {
  ZDB_CURSOR *next = nullptr;             // the transaction's cursor list
  ZDB_INTERNAL_CURSOR *heads = nullptr;   // one chain head per company, newest first
  const DD_TABLE *table = nullptr;
  ZDB_TRANS *trans = nullptr;
  ZDB_BIND *binds = nullptr;              // owned; null without binds
  void *host_row = nullptr;               // the host's row buffer when there are no binds
  ZDB_BIND *company_bind = nullptr;       // the bind of the company-number column
  int bind_count = 0;
  std::int16_t default_compnr = 0;
};

// The entry check of a call that takes an internal cursor from the host: 0
// for one that is alive; else -1 with 509 and the message, naming `call`.
// The handle is never read unless alive.
int zdb_check_internal_cursor(const ZDB_INTERNAL_CURSOR *icursor, const char *call);
// Enters a cursor into the table of open handles (zdb_open does; so does a
// test for a cursor it made itself), and takes it out again. Registering
// throws std::bad_alloc when memory runs out.
void zdb_register_cursor(const ZDB_CURSOR *cursor);
void zdb_unregister_cursor(const ZDB_CURSOR *cursor);
// The entry check of every call that takes a cursor handle: 0 for a cursor
// that zdb_open returned and that is still open; else -1 with 509 and a
// message, naming `call`, that says why (the whole message): a null cursor,
// one that zdb_logoff closed, or one that is not open. The handle is never
// read unless open.
int zdb_check_cursor(const ZDB_CURSOR *cursor, const char *call);
// Closes an open cursor and its internal cursors; the handle is gone. At
// logoff the handle is remembered as closed there, so that a later call
// given it says so. 0 or -1.
int zdb_close_cursor(ZDB_CURSOR *cursor, bool at_logoff);

// The chain of a company on a cursor, opened on first use. 0 or -1.
int zdb_get_internal_cursor(ZDB_INTERNAL_CURSOR **result, ZDB_CURSOR *cursor, int compnr);
// Closes one chain (or moves it to the waiting closes while buffered updates
// are pending). 0 or -1.
int zdb_close_internal(ZDB_INTERNAL_CURSOR *icursor);
// 0 when every internal cursor of the chain from icursor (and of its audit
// chain) is valid; else -1 with 509.
int zdb_cursor_check(ZDB_INTERNAL_CURSOR *icursor);
// The check at an internal cursor's first use: its physical company number
// lies in 0..999. 0, or -1 with 519.
int zdb_attach_cursor(ZDB_INTERNAL_CURSOR *icursor);
// Drops the buffered updates of a chain's holder.
void zdb_detach_cursor(ZDB_INTERNAL_CURSOR *icursor);
// Chooses a session for every driver group of the table in the company,
// without opening internal cursors. 0, or -1 (505 unless a cause was set).
int zdb_start_drivers_for_table(const DD_TABLE *table, int compnr, int trans_id);
// Transaction end on a session: the per-company records of its table
// sessions forget their current delayed-lock id, row lock and table lock;
// with `release` set their delayed locks are released too. 0 or -1.
int release_session_locks(ZDB_SESSION *session, int release);

// Closes the internal cursors still open on a session's table sessions and
// frees the table sessions with their delayed locks; 0 or -1.
int dbc_release_table_sessions(ZDB_SESSION *session);
// True when a table session of the session still has an open internal cursor.
bool dbc_session_has_open_cursor(ZDB_SESSION *session);

// The company number through the company bind, or through the row (the
// _compnr field) when the cursor has no binds; 0xFFFF when neither holds it.
int get_compnr_from_bind(ZDB_CURSOR *cursor);
void put_compnr_in_bind(ZDB_CURSOR *cursor, int compnr);
// The cursor's default company number, -1 without a cursor.
int zdb_compnr_from_cursor(ZDB_CURSOR *cursor);
const char *get_table_name_from_maincursor(ZDB_CURSOR *cursor);
// Compares two values of one column (zdb_compare_cols).
int col_compare(const unsigned char *a, const unsigned char *b, DD_COLUMN *column);

// The table-company key of a table in a physical company (made on first use).
ZDB_TABLE_COMPNR *zdb_table_compnr_key(const DD_TABLE *table, int compnr);
// The table session of a key on a session, or null.
ZDB_TABLE_SESSION *zdb_find_table_session(ZDB_SESSION *session, const ZDB_TABLE_COMPNR *key);

// Converts between the cursor's binds and a row buffer (internal forms of
// the exported calls, for a cursor that is known to be valid).
void zdb_binds_to_row(const ZDB_BIND *binds, int count, unsigned char *row);
void zdb_row_to_binds(const ZDB_BIND *binds, int count, const unsigned char *row);
