// The round trip of one request, and the resend of dictionaries that a 513
// reply asks for.
//
// A request is written from the request block into the driver's output
// stream and flushed once; for a driver library loaded into this process the
// driver's processing entry runs next; then the reply is read back into the
// block. The retval becomes zdb_errno. A 513 reply lists the tables whose
// dictionaries the driver lacks: the client sends them and repeats the
// request from its saved fields, at most ZDB_MAX_DD_RESENDS times, so that a
// driver that keeps answering 513 cannot hang the host.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

#include <molvane/zdb.h>

#include "dbc/request/request_block.h"
#include "dbc/request/request_wire.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "ipc/attach.h"
#include "platform/chkpnt.h"
#include "platform/log.h"
#include "sql/common/table_writes.h"

namespace {

const ZDB_WRITER *g_writers = nullptr;
const ZDB_READER *g_readers = nullptr;

const char *checkpoint_file() {
  static char name[32] = {};
  if (name[0] == '\0') std::snprintf(name, sizeof name, "db.%d", static_cast<int>(getpid()));
  return name;
}

bool tracing() { return (dbc_state().debug & ZDB_DEBUG_REQUESTS) != 0; }

// A failed step leaves the number it set, or the communication error.
int fail_step() {
  if (zdb_errno == 0) zdb_errno = ZE_COMMUNICATION;
  return -1;
}

// A driver server that ended the connection said why in its last line
// (the stream logged it): the message text of the call says it too.
void note_ended(const ZDB_SERVER *server) {
  const char *reason = ipc_ended_reason(server->in);
  if (*reason != '\0') add_zdb_msg(reason);
}

// A failed step that leaves the driver's streams out of step: a request half
// sent, or a reply cut short or refused before its end. The streams are
// closed rather than read on: every later request to the driver fails with
// the communication error instead of taking leftovers for a reply.
int fail_and_close(ZDB_SERVER *server, int slot) {
  note_ended(server);
  // A driver whose connection ended (its replies at their end, its
  // requests refused by a closed peer) is gone, not out of step: its
  // disconnection handler says so, and a driver that ended at start, why.
  const STREAM *in = server->in, *out = server->out;
  const bool gone = (in != nullptr && (in->disconnect_reported || in->eof)) ||
                    (out != nullptr && out->error && (out->err_no == EPIPE || out->err_no == ECONNRESET));
  if (!gone)
    log_mesg(__FILE__, __LINE__, "Request", 0, "%s: driver streams out of step, connection to the driver closed",
             dbc_request_name(slot));
  zdb_note_lost_driver(server);
  // What the transactions wrote there died with the connection.
  SQLTableWrites::NoteAll();
  zdb_close_server_streams(server);
  zdb_errno = ZE_COMMUNICATION;
  return -1;
}

// Runs a writer or reader; memory that runs out on the way is its failure
// with 501 (the caller then deals with the stream it left behind).
int call_step(int (*step)(ZDB_REQUEST *, STREAM *), ZDB_REQUEST *req, STREAM *stream) {
  try {
    return step(req, stream);
  } catch (const std::bad_alloc &) {
    zdb_errno = ZE_MEMORY;
    return -1;
  }
}

// A failed step: the streams are closed when one of them is in error.
int fail_and_close_on_stream_error(ZDB_SERVER *server, int slot) {
  if (stream_error(server->in) || stream_error(server->out)) return fail_and_close(server, slot);
  note_ended(server);
  return fail_step();
}

}  // namespace

int zdb_init_commu() {
  g_writers = client_send_commu_funcs();
  g_readers = client_get_commu_funcs();
  return g_writers != nullptr && g_readers != nullptr ? 0 : -1;
}

int zdb_commu(ZDB_SERVER *server) {
  ZDB_REQUEST *req = &dbc_request();
  int slot = req->code & 0xFF;
  if (g_writers == nullptr) zdb_init_commu();
  if (slot >= ZDB_REQUEST_COUNT || !zdb_server_attached(server)) {
    log_mesg(__FILE__, __LINE__, "Request", 0, "request %d to %s driver", req->code,
             zdb_server_attached(server) ? "a" : "an unattached");
    zdb_errno = slot >= ZDB_REQUEST_COUNT ? ZE_ILLEGAL_ARGUMENT : ZE_COMMUNICATION;
    return -1;
  }
  if (tracing()) std::fprintf(stderr, "-> %s\n", dbc_request_name(slot));

  // Both buffers first: a request must not go out without room to read
  // its reply, nor stop before its first byte for want of a buffer.
  if (stream_reserve_buffers(server->out) != 0 || stream_reserve_buffers(server->in) != 0) {
    zdb_errno = ZE_MEMORY;
    return -1;
  }
  zdb_errno = 0;
  const long start = stream_stell(server->out);
  if (call_step(g_writers[slot], req, server->out) != 0) {
    // A request abandoned half written (out of memory, a refused field)
    // must not reach the driver ahead of the next one: its bytes are taken
    // back, or the connection is closed when some went out already.
    const long written = stream_stell(server->out) - start;
    if (!stream_error(server->out) &&
        (written <= 0 || stream_unwrite(server->out, static_cast<std::size_t>(written)) == 0))
      return fail_step();
    const int error = zdb_errno;
    fail_and_close(server, slot);
    if (error != 0) zdb_errno = error;
    return -1;
  }
  if (sflush(server->out) != 0) return fail_and_close_on_stream_error(server, slot);

  CHKPNT_TIMER timer{};
  ChkpntStart(&timer);
  if (ipc_process_request(server->out) != 0) return fail_and_close_on_stream_error(server, slot);
  if (call_step(g_readers[slot], req, server->in) != 0) {
    // A reader that ran out of memory stopped inside its reply.
    if (zdb_errno == ZE_MEMORY) wire_abandon(server->in);
    const int error = zdb_errno;
    fail_and_close_on_stream_error(server, slot);
    if (error == ZE_MEMORY) zdb_errno = error;
    return -1;
  }
  if (timer.started)
    ChkpntStop(&timer, checkpoint_file(), "DBC request type %2d: retval = %d", slot, req->retval);

  if (tracing()) std::fprintf(stderr, "<- %s retval %d\n", dbc_request_name(slot), req->retval);
  zdb_errno = req->retval;
  // A driver answers 510 itself only for a transaction it ended (a driver
  // server's rollback of an idle one, SQLite's own rollback): what the
  // transaction wrote is undone, so what a query keeps of any table is stale.
  if (req->retval == ZE_COMMUNICATION) SQLTableWrites::NoteAll();
  return req->retval > 0 ? -1 : 0;
}

int zdb_commu_dd(ZDB_SESSION *session, int compnr_override) {
  // The dictionaries go out through the same request block: keep the
  // request and put it back before every repeat.
  const DbcRequestCopy saved;
  for (int repeat = 0;; ++repeat) {
    int rc = zdb_commu(session->server);
    ZDB_REQUEST &req = dbc_request();
    // A driver that answered 510 itself (its connection stands) ended the
    // session's transaction, or SQLite rolled it back: the driver says why.
    if (rc != 0 && req.retval == ZE_COMMUNICATION && zdb_errno == ZE_COMMUNICATION &&
        zdb_server_attached(session->server)) {
      zdb_note_driver_reason(session->server, ZE_COMMUNICATION);
      return -1;
    }
    // Only a reply read whole asks for dictionaries: a reader that failed
    // after the retval leaves its own error in zdb_errno, and the stream is
    // out of step, so nothing is repeated.
    if (rc == 0 || req.retval != ZE_NO_DD || zdb_errno != ZE_NO_DD) return rc;
    if (repeat == ZDB_MAX_DD_RESENDS) {
      log_mesg(__FILE__, __LINE__, "NO DD", 0,
               "%s: driver still lacks dictionaries after %d resends",
               dbc_request_name(req.code), ZDB_MAX_DD_RESENDS);
      zdb_errno = ZE_NO_DD;
      return -1;
    }
    unsigned char list[DBC_RECV_BUF_SIZE];
    std::uint32_t count = req.dd_list.count;
    std::copy_n(req.dd_list.entries, count * DD_LIST_ENTRY_SIZE, list);
    if (zdb_send_dd_to_server(session, count, list, compnr_override) != 0) return -1;
    saved.Restore();
    if ((dbc_request().code & 0xFF) == EXE_UPDATE) dbc_request().update.count = 0;
  }
}
