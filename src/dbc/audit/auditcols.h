// Audit columns: which tables, companies and columns are logged to an audit
// driver, from $ZUV/lib/audit_cols, and the transaction-notification rows of
// table ttaud110 written when a commit touched audited tables.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ipc/stream.h"

struct ZDB_TRANS;
struct ZDB_AUDIT_ENTRY;

// Levels of the audit-columns table.
enum : uint32_t {
  AUDIT_LOG_NEVER = 0,
  AUDIT_SOME_COLUMN = 1,   // the table has logged columns
  AUDIT_LOG_CHANGED = 2,   // flag "C"
  AUDIT_LOG_ALWAYS = 3     // flag "A"
};

// Reads lib/audit_cols under the environment root (once per process: a
// later call keeps what was read). 0, or -1 on any reading or syntax failure
// (logged); a missing file means no audit columns and gives 0. Memory that
// runs out throws std::bad_alloc and leaves the file to be read again.
int audit_read_auditcols();
// 1 when the file was read (or settings received): the mechanism is on.
int audit_using_auditcols();
// The modification time of lib/audit_cols when it was read, else 0.
uint32_t auditcols_config_id();
// 1 when some key of the table's levels 3..10 for the company has a level
// above 0.
int auditcols_some_column_is_logged(const char *table, int compnr);
// 0 not logged, 1 logged when changed, 2 logged always: the highest level
// over the column's keys of levels 1..10.
int auditcols_column_is_logged(const char *table, const char *column, int compnr);

// The lookup key of a level (1..10) for a table, company and column, first
// character in lower case, in a module-wide buffer valid until the next key.
// Another level logs "Wrong level" and gives the table name.
const char *auditcols_level_key(const char *table, int compnr, const char *column, int level);
// The level stored for a key, or -1 when the key is absent.
int auditcols_key_level(const char *key);

// The AUDITCOLS payload: u32 configuration id, then per record its key with
// a NUL and its u32 level, then one NUL byte. 0, or -1 when a write fails.
int audit_send_auditcols(STREAM *out);
// Reads such a payload into the table, replacing what it held. 0, or -1
// (logged) when the payload is cut short or a key is longer than any key of
// the file can be.
int audit_receive_auditcols(STREAM *in);
// "Auditcols entries:" and one line per record.
void audit_dump_auditcols(FILE *out);
// Forgets what was read, for a test or a new environment root.
void audit_reset_auditcols();

// The values of one transaction-notification row, as bound to the columns of
// ttaud110.
struct AUDIT_TNR_ROW {
  char trid[21];      // "%10d%010d" of the commit reply's transaction id
  int16_t tsnr;       // 1, 2, ... per row of the transaction
  char sess[14];      // transaction name, blank-padded to 13
  char user[9];       // user name, blank-padded to 8
  int32_t comt;       // third number of the commit reply
  char tabl[9];       // listed table, first character in lower case, blank-padded
  int16_t comp;       // listed company number
  int16_t seqn;       // listed sequence number
  int32_t trof;       // listed 32-bit value
  int16_t compnr;     // company-number bind of the cursor
};

// One bound column of ttaud110: where its value lies in AUDIT_TNR_ROW.
struct AUDIT_TNR_BIND {
  const char *column;  // full column name
  uint16_t host_type;  // dictionary type code of the variable
  uint16_t length;     // bytes of a string variable, without its NUL
  size_t offset;       // offset of the field in AUDIT_TNR_ROW
};
inline constexpr int AUDIT_TNR_BINDS = 10;
// The ten binds of the notification cursor, in bind order.
const AUDIT_TNR_BIND *audit_tnr_binds();

// Fills the transaction part of a row (trid, user, sess, comt).
void audit_tnr_fill_transaction(AUDIT_TNR_ROW *row, const ZDB_TRANS *trans);
// Fills the part of one list entry (tsnr, comp, seqn, trof, tabl).
void audit_tnr_fill_entry(AUDIT_TNR_ROW *row, const ZDB_AUDIT_ENTRY *entry, int tsnr);

// Inserts one notification row per entry of the transaction's audit list
// into ttaud110. 1 written, or nothing to write; -1 with zdb_errno 254. The
// list is emptied in every case.
int audit_write_tnr(ZDB_TRANS *trans);
// Opens ttaud110 in the transaction and inserts the rows (company 0 for each,
// or the entry's company when audit_per_compnr is on). 0, or -1 with
// zdb_errno 254 and the log line. Built on the cursor and row actions.
int audit_tnr_insert(ZDB_TRANS *trans, const AUDIT_TNR_ROW *rows, int count,
                     const int *compnrs);
