// The binary trace: fixed-layout big-endian records appended to a trace
// file in the temporary directory, per trace class switched on by the
// environment variable BLAT. docs/trace-file.md describes the file.
#pragma once

#include <cstdint>
#include <string>

#include <molvane/datetime.h>

enum BlatClass {
  BLAT_CLASS_SESSION = 1,      // transaction names and driver sessions
  BLAT_CLASS_TRANSACTION = 3,  // commits and aborts, with their duration
  BLAT_CLASS_SQL = 4,          // SQL statement actions
};

// State bits of a traced class.
enum BlatState {
  BLAT_STATE_ON = 1,         // the class is traced
  BLAT_STATE_THRESHOLD = 2,  // its duration records have a threshold
};

// SQL actions of blat_sql_action_start and blat_sql_action_end.
enum BlatSqlAction {
  BLAT_SQL_PARSE = 1,
  BLAT_SQL_EXEC = 2,
  BLAT_SQL_FETCH = 3,
  BLAT_SQL_BREAK = 4,
  BLAT_SQL_CLOSE = 5,
  BLAT_SQL_RETRY = 9,
};

// Record slots of the transaction class (blat_threshold_check).
enum BlatTransactionSlot {
  BLAT_SLOT_COMMIT = 0,
  BLAT_SLOT_ABORT = 1,
  BLAT_SLOT_ZDB_COMMIT = 3,
  BLAT_SLOT_ZDB_ABORT = 4,
};

// Reads BLAT and BLATLOG and starts the trace; may be called again to
// re-read them. BLAT lists classes separated by "," or blanks: "sess" or
// "1", "trans" or "3", "sql" or "4", or "all", each optionally followed by
// ":" and a threshold in milliseconds ("trans:250"). BLATLOG names the
// trace file (a relative name lies in the temporary directory); the
// default is "blat<pid>.trc" there.
void blat_initiate();

// The state bits of a trace class (BlatState), 0 when it is not traced.
int blat_get_state(int trace_class);

// Path of the trace file; empty when no class is traced.
std::string blat_file_name();

// The 32-bit IPv4 address of a host, as written in trace records; 0 for
// a null or empty name or a host without an address.
uint32_t blat_get_hid_host(const char *host_name);

// Session class: one record each.
void blat_sess_start(const char *name, int trans_id);
void blat_sess_rename(const char *name, int trans_id);
void blat_sess_stop(int trans_id);
void blat_sess_zdb_start(int trans_id, uint32_t host_id, uint32_t driver_pid,
                         uint32_t server_session_id);
void blat_sess_zdb_stop(int trans_id, uint32_t host_id, uint32_t driver_pid,
                        uint32_t server_session_id);

// Transaction class: each call keeps its record, timed from now, in a slot
// (commit and failed commit: BLAT_SLOT_COMMIT; abort: BLAT_SLOT_ABORT;
// driver commit and abort: BLAT_SLOT_ZDB_COMMIT, BLAT_SLOT_ZDB_ABORT).
// The transaction id is the trace id of the driver records.
void blat_trans_commit(int trans_id);
void blat_trans_abort(int trans_id);
void blat_trans_commit_failed(int trans_id);
void blat_trans_zdb_commit(int trans_id, uint32_t host_id, uint32_t driver_pid,
                           uint32_t server_session_id);
void blat_trans_zdb_abort(int trans_id, uint32_t host_id, uint32_t driver_pid,
                          uint32_t server_session_id);

// Writes the record kept in the slot of the class, with its elapsed time,
// when that time has reached the class threshold (none: always), then
// drops it. Nothing happens for an empty slot.
void blat_threshold_check(int trace_class, int slot);

// Sends a driver command (code, message, length) to a driver record;
// non-negative on success.
using BlatServerSender = int (*)(void *driver, int command, const char *message, int length);

// Installs the sender through which blat_proc_new_server reaches drivers.
void blat_set_server_sender(BlatServerSender sender);

// Hands the trace settings to a newly attached driver as driver command 1
// whose message is the BLAT text, a line feed and the trace file path. 0
// when sent or when nothing is traced, -1 when no sender is installed or
// the sender fails.
int blat_proc_new_server(void *driver);

// Applies settings received as driver command 1 in a driver process: the
// same classes are traced into the same file. 0, or -1 for a malformed
// message.
int blat_apply_settings(const char *message, int length);

// SQL class. blat_sql_info keeps the statement's session id and text for
// its later records (until its close action ends).
void blat_sql_info(uint64_t statement_id, int session_id, const char *text);
void blat_sql_action_start(uint64_t statement_id, int action);
// Writes the record of the action started with the same id and action
// (nothing when none was started), with its elapsed time, when that time
// has reached the class threshold.
void blat_sql_action_end(uint64_t statement_id, int action);
// Records the agent statement id of a table leaf being attached.
void blat_sql_netFetchId(uint64_t agent_statement_id);
