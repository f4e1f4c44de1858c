// The records of attached drivers (ZDB_SERVER) and of the driver sessions
// that serve a transaction (ZDB_SESSION). Attachment, session choice and the
// debug dump work on these records elsewhere; the request protocol needs
// only the streams and the identifiers.
#pragma once

#include <cstdint>

#include "ipc/stream.h"

struct DRIVER_SPEC;         // one driver specification of the table definitions
struct ZDB_TABLE_SESSION;   // one table and company served on a session
struct ZDB_TRANS;

struct ZDB_SESSION;

struct ZDB_SERVER {
  ZDB_SERVER *next = nullptr;             // driver list, newest first
  ZDB_SESSION *sessions = nullptr;        // linked through next_on_server
  std::uint32_t sessions_allowed = 0;     // from the ATT_SERVER reply
  std::uint32_t sessions_in_use = 0;
  std::uint32_t pid = 0;                  // driver process id (ATT_SERVER reply)
  DRIVER_SPEC *spec = nullptr;            // the driver group member that attached
  DRIVER_SPEC *spec_list = nullptr;       // alternatives it was chosen from
  STREAM *in = nullptr;                   // none while not attached
  STREAM *out = nullptr;
  std::uint32_t level_flags = 0;          // 0x200: the driver runs in UTF-T mode
  std::uint8_t idle_limit = 0;            // zdb_schedule rounds an idle session survives
  std::uint8_t idle = 0;                  // zdb_schedule rounds without sessions
  std::uint32_t host_id = 0;
  std::uint32_t number = 0;               // process-wide counter, 1 for the first
  std::uint32_t sql_protocol = 0;         // must be 6
};

struct ZDB_SESSION {
  ZDB_SESSION *next_in_trans = nullptr;
  ZDB_SESSION *next_on_server = nullptr;
  ZDB_TRANS *trans = nullptr;
  ZDB_SERVER *server = nullptr;
  ZDB_TABLE_SESSION *table_sessions = nullptr;
  std::uint32_t server_session_id = 0;    // from the ATT_SESSION reply
  std::uint8_t flags = 0;                 // bit 1: EXE_UPDATE carries no tables
  std::uint8_t idle = 0;                  // zdb_schedule rounds without use
  std::uint32_t number = 0;               // process-wide counter, 1 for the first
};

// Closes both streams of a driver without a request: the driver did not
// answer DET_SERVER, a refused attachment is given up, or a reply was left
// unread. The driver counts as not attached from then on.
void zdb_close_server_streams(ZDB_SERVER *server);

// True when the driver's streams are open.
inline bool zdb_server_attached(const ZDB_SERVER *server) {
  return server != nullptr && server->out != nullptr && server->in != nullptr;
}
