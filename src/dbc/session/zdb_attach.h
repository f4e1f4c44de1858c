// Driver attachment and driver sessions: attaching a driver named by a
// driver specification (with fall-back over the alternatives of its group),
// the sessions a transaction holds on drivers, the choice of a session for a
// table, and the driver facts the host may ask for.
//
// A ZDB_SERVER is made for a group of alternative specifications and keeps
// the one that attached; sessions are matched to a group by comparing
// specification lists, so two tables served by the same group share a
// driver, and one transaction uses one session per driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ipc/stream.h"

struct DRIVER_SPEC;
struct ZDB_SERVER;
struct ZDB_SESSION;
struct ZDB_TRANS;
struct ZDB_TABLE_SESSION;
struct ZDB_TABLE_COMPNR;

// The messages of the two EXE_SYSTEM commands sent before ATT_SERVER.
inline constexpr unsigned char ZDB_CLIENT_HELLO[4] = {0x00, 0x00, 0x03, 0x82};

// Driver type of an audit driver (server_zdb_type AND 63).
inline constexpr unsigned ZDB_AUDIT_DRIVER = 8;
// Sessions allowed and idle limit of an audit driver, which is attached only
// at its first request.
inline constexpr unsigned ZDB_AUDIT_SESSIONS = 255;

// Attaches the driver through its specification: the connection, the
// disconnect handler, EXE_SYSTEM 5 and 6, ATT_SERVER with its checks,
// PERMISSION, AUDITCOLS and, when the driver lacks the company mapping,
// SEND_COMPNR. 0, or -1 with zdb_errno set and nothing left open. A driver
// whose connection ends before these are answered (it ended at start) is a
// failed attachment, 505 with how it ended in the message text; the death
// handler is given to the streams only once the attachment is complete.
int zdb_attach_server(ZDB_SERVER *server);
// Sends DET_SERVER and closes both streams. 0 (also for a driver that is not
// attached), or -1 with the streams left open.
int zdb_detach_server(ZDB_SERVER *server);
// ATT_SESSION / DET_SESSION for one driver session. 0 or -1.
int zdb_attach_session(ZDB_SESSION *session);
int zdb_detach_session(ZDB_SESSION *session);
// An EXE_SYSTEM command to a driver, attaching the driver first when it is
// not attached. The answer is left in the request block. 0 or -1.
int zdb_server_command(ZDB_SERVER *server, std::uint32_t command, const void *msg,
                       std::size_t length);
// Attaches a driver that is not attached (an audit driver at its first
// request), then opens each of its sessions. 0 (also when attached), or -1.
int zdb_attach_on_demand(ZDB_SERVER *server);

// A new session on a new driver for the group; null with zdb_errno set
// (the first error met over the alternatives, 505 when there was none).
ZDB_SESSION *get_new_zdb_server_and_session(DRIVER_SPEC *group, ZDB_TRANS *trans, int attach);
// A new session of the transaction on the driver; null with zdb_errno set.
ZDB_SESSION *get_new_zdb_session(ZDB_SERVER *server, ZDB_TRANS *trans, int attach);

// The session that serves a table in a company for the transaction on one
// driver group: a session already holding a table session for the key, else
// any session of the transaction on the group's driver, else a new session on
// a driver of the group with room, else a new driver. *tsession receives the
// table session for the key when the session has one, else null. Null with
// zdb_errno set when no driver can be attached.
ZDB_SESSION *zdb_choose_session(ZDB_TABLE_COMPNR *key, ZDB_TRANS *trans, DRIVER_SPEC *group,
                                ZDB_TABLE_SESSION **tsession);

// The SQL layers' way to a driver session of a transaction on a group.
// 0 with both outputs set, or -1.
int zdb_sql_get_server(DRIVER_SPEC *group, int trans_id, ZDB_SESSION **session,
                       ZDB_SERVER **server, int attach);

// The function every attached driver's streams call when the driver
// disconnects after its attachment.
// The default logs "Detected server disconnection" and ends the process with
// status 1; a host (or a test) may replace it. Null restores the default.
void zdb_set_server_death_handler(stream_disconnect_fn handler);

// Number of ZDB_SERVER records.
int zdb_get_nr_drivers();
// Information codes of zdb_get_db_system_info answered by the client itself.
inline constexpr int ZDB_INFO_DRIVER_NAME = 103;
inline constexpr int ZDB_INFO_DRIVER_ARGS = 104;
// Driver facts of the driver at a position (1 = head of the driver list):
// 103 its name, 104 its arguments joined by ",", any other code asked of the
// driver with EXE_SYSTEM 9. The text is cut to the buffer (NUL included).
// 0, or -1 with zdb_errno set (505 for a position out of range).
int zdb_get_db_system_info(int position, int code, char *buffer, std::size_t size);

// The driver of a driver record's specification: name, argument text and
// type word (server_zdb_type).
const char *zdb_server_name(const ZDB_SERVER *server);
const char *zdb_server_args(const ZDB_SERVER *server);
unsigned zdb_server_type(const ZDB_SERVER *server);
bool zdb_server_is_audit(const ZDB_SERVER *server);
// A driver that answered an error says why when asked: a 215 (the file is
// served by a driver server, a table's dictionary has another layout than
// the database's table), a 510 (a driver server rolled back the
// transaction). The reason goes to the message text; zdb_errno is `error`.
void zdb_note_driver_reason(ZDB_SERVER *server, int error);
// The driver's reason for the last request it refused so (empty when it
// gives none); a driver server names who held a row a locked read was
// refused for, or the circle of waits its wait would have closed.
std::string zdb_driver_reason(ZDB_SERVER *server);

// Writes the driver/session tree to standard error under a title.
void zdb_dump_server_tree(const char *title);
