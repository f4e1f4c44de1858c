// Transactions (ZDB_TRANS, "sessions" in the API's words) and the
// process-wide state of the database client: error word, logon flag,
// transaction ids, transaction and driver lists, debug word.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "dbc/request/request_codes.h"

struct ZDB_SESSION;
struct ZDB_SERVER;
struct ZDB_CURSOR;
struct ZDB_TABLE_SESSION;

// One audited table touched by a commit, as the driver's commit reply lists it.
struct ZDB_AUDIT_ENTRY {
  char table[ZDB_AUDIT_NAME_MAX + 1];
  std::uint16_t compnr;
  std::uint16_t seqn;
  std::uint32_t value;
};

inline constexpr int ZDB_MAX_TRANS = 255;

struct ZDB_TRANS {
  ZDB_TRANS *next = nullptr;               // transaction list, newest first
  ZDB_SESSION *sessions = nullptr;         // linked through next_in_trans
  ZDB_CURSOR *cursors = nullptr;           // cursors opened by zdb_open
  int id = 0;                              // 1..255
  char name[ZDB_TRANS_NAME_MAX + 1] = {};  // at most 15 characters
  int detail_error = 0;                    // last failed buffered update, 0 none
  char detail_table[8] = {};
  std::uint16_t detail_compnr = 0;
  std::string detail_extra;                // extra text of that failure
  bool has_detail_extra = false;
  std::uint32_t update_seq = 0;            // number of the next buffered action
  int default_query_timeout = 0;           // seconds
  std::uint32_t audit_values[3] = {};      // of the last commit reply
  std::deque<ZDB_AUDIT_ENTRY> audit_list;  // newest first
  // Table sessions that took buffered updates, a clear or a lock in this
  // transaction; emptied by every commit and abort.
  std::vector<ZDB_TABLE_SESSION *> touched;
  // A driver that held changes of this transaction was lost: its changes
  // are gone, so every commit is refused until the transaction is aborted.
  bool lost_driver = false;
};

// Process-wide state. One instance; no thread touches it concurrently.
struct DBC_STATE {
  bool logged_on = false;
  char user[ZDB_USER_NAME_MAX + 1] = {};
  bool id_in_use[ZDB_MAX_TRANS + 1] = {};  // index 1..255
  ZDB_TRANS *trans_list = nullptr;         // owns its records
  ZDB_SERVER *server_list = nullptr;       // owns its records
  int debug = 0;                           // zdb_debug
  int server_schedule_limit = 3;
  void (*profile_callback)(int) = nullptr;
};

DBC_STATE &dbc_state();

// 0 and zdb_errno 0 when logged on; else zdb_errno 508, a message that
// says so, and -1.
int zdb_start();
void zdb_error(int number);
// 1 when the id is not in use; 2 when in use without a record; 0 and the
// record otherwise.
int zdb_get_trans(int id, ZDB_TRANS **trans);
// Refuses a transaction id that is not in use: 518, and a message (logged)
// that names the id.
void zdb_invalid_trans(int id);
// 0 when a call may use the transaction id: logged on (else 508) and the id
// in use (else 518); the refusal's message says which.
int zdb_check_trans_id(int id);
// The record of an id in use (created when missing); null with 518 or 501.
ZDB_TRANS *zdb_get_trans_by_id(int id);
// The default query time-out of a transaction (0 none); -1, silently, for
// an id not in use.
int zdb_get_default_query_timeout(int id, int *seconds);
void zdb_set_profile_callback(void (*callback)(int));
int zdb_schedule();
// The connection to the driver was lost: every transaction that changed
// something on one of its sessions is marked lost_driver.
void zdb_note_lost_driver(const ZDB_SERVER *server);

// True when `name` names the transaction: both are compared cut to the 15
// characters a transaction name keeps.
bool zdb_trans_name_equal(const ZDB_TRANS *trans, const char *name);
