// Sending the dictionaries that a 513 reply lists.
#include <cctype>
#include <cstdio>
#include <cstring>

#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"

namespace {

// True when the session's driver serves the table. A driver record made
// without a specification (attached by hand) serves every table.
bool served_by_session(const char *table, const ZDB_SESSION *session) {
  const DRIVER_SPEC *spec = session->server->spec;
  return spec == nullptr || table_in_driver(table, spec->server) != 0;
}

}  // namespace

// Puts the dictionary mode back (a mode of 0 was never set: nothing to restore).
static void restore_mode(int mode) {
  if (mode == 1 || mode == 3) init_dd_mode(mode);
}

int zdb_send_dd_to_server(ZDB_SESSION *session, std::uint32_t count,
                          const unsigned char *list, int compnr_override) {
  int saved_mode = get_dd_mode();
  for (std::uint32_t i = 0; i < count; ++i) {
    const unsigned char *entry = list + i * DD_LIST_ENTRY_SIZE;
    char name[9];
    std::memcpy(name, entry, 8);
    name[8] = '\0';
    int compnr = compnr_override >= 0 ? compnr_override : (entry[8] << 8) | entry[9];
    bool new_dd = std::isupper(static_cast<unsigned char>(name[0])) != 0;
    char lookup[9];
    std::memcpy(lookup, name, sizeof lookup);
    if (new_dd) lookup[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
    init_dd_mode(new_dd ? 3 : 1);
    const DD_TABLE *table = dd_table_or_throw(lookup);
    if (table == nullptr) {
      zdb_error(ZE_NO_DD);
      log_mesg(__FILE__, __LINE__, "NO DD", 0, "Tname '%s' not found\n", name);
      restore_mode(saved_mode);
      return -1;
    }
    if (served_by_session(lookup, session)) {
      dbc_request_prepare(DD_INFO_TABLE);
      ZDB_REQUEST &req = dbc_request();
      req.session_id = session->server_session_id;
      req.dd_info.table = table;
      req.dd_info.compnr = static_cast<std::uint16_t>(compnr);
      if (zdb_commu(session->server) != 0) {
        log_mesg(__FILE__, __LINE__, "Sending DD", 0, "Sending DD '%s' failed\n", name);
        // A driver refuses a dictionary whose layout differs from the
        // database's table; it names the difference when asked.
        if (req.retval == ZE_ILLEGAL_STATE && zdb_errno == ZE_ILLEGAL_STATE)
          zdb_note_driver_reason(session->server, ZE_ILLEGAL_STATE);
        restore_mode(saved_mode);
        return -1;
      }
    } else if (dbc_state().debug & ZDB_DEBUG_REQUESTS) {
      std::fprintf(stderr, "-- DD_INFO_TABLE: no send DD of %s to server %p level %#o\n", name,
                   static_cast<void *>(session->server), session->server->level_flags);
    }
    restore_mode(saved_mode);
  }
  return 0;
}
