// Attaching and detaching drivers and driver sessions.
//
// A driver is attached in a fixed order of requests: two EXE_SYSTEM commands
// that introduce the client and name the driver specification, ATT_SERVER
// (whose reply carries the driver's facts, checked against the client's SQL
// protocol and TSS mode), the user's role permissions, the audit-column
// settings for an audit driver, and the company mapping when the driver
// answered ATT_SERVER with 519 (it lacks the mapping of this client's
// environment). A driver refused on the way is detached again; its streams
// are closed even when the driver does not answer DET_SERVER, so a failed
// attachment leaves nothing open. A driver whose connection ends before the
// attachment is complete (a mistyped option on its lib/ipc_info line) is a
// failed attachment too, 505 with its exit status or signal, so that the
// next alternative is tried and the host goes on; the death handler, which
// ends the host, is installed only once the driver has served.
#include "dbc/refs/refs.h"
#include "dbc/session/zdb_attach.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dbc/audit/auditcols.h"
#include "dbc/compnr/compnr.h"
#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "ipc/attach.h"
#include "platform/blat.h"
#include "platform/log.h"
#include "text/tss.h"

extern "C" int zdb_errno;

namespace {

constexpr int kBlatSessions = 1;

bool tracing() { return (dbc_state().debug & ZDB_DEBUG_REQUESTS) != 0; }

void default_death_handler(STREAM *stream) {
  // A child driver is reaped first, so that the log has its exit status
  // or signal before the host ends.
  int status = 0;
  ipc_control(stream, IPC_WAIT_CHILD, &status);
  log_mesg(__FILE__, __LINE__, "server_death", 0, "Detected server disconnection");
  std::exit(1);
}

stream_disconnect_fn g_death_handler = default_death_handler;

// Gives up a driver whose attachment was refused: detaches it, closing its
// streams also when the detach fails, and keeps the refusal's error number.
void abandon(ZDB_SERVER *server) {
  int error = zdb_errno;
  if (zdb_detach_server(server) != 0) zdb_close_server_streams(server);
  zdb_errno = error != 0 ? error : ZE_COMMUNICATION;
}

int send_company_map(ZDB_SERVER *server) {
  if (tracing()) {
    std::fprintf(stderr, "compnr map information missing\n");
    std::fprintf(stderr, "-> SEND_COMPNR\n");
  }
  dbc_request_prepare(SEND_COMPNR);
  if (zdb_commu(server) != 0) {
    if (tracing()) std::fprintf(stderr, "<- SEND_COMPNR failed error %d\n", zdb_errno);
    return -1;
  }
  if (tracing()) std::fprintf(stderr, "<- SEND_COMPNR ok\n");
  return 0;
}

// One EXE_SYSTEM command to an attached driver.
int system_command(ZDB_SERVER *server, std::uint32_t command, const void *msg, std::size_t length) {
  if (length > 0xFFFF) {
    log_mesg(__FILE__, __LINE__, "EXE_SYSTEM", 0, "command %u: message of %zu bytes too long",
             command, length);
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return -1;
  }
  dbc_request_prepare(EXE_SYSTEM);
  ZDB_REQUEST &req = dbc_request();
  req.exe.command = command;
  req.exe.msg = static_cast<const char *>(msg);
  req.exe.msglen = static_cast<std::uint16_t>(length);
  return zdb_commu(server);
}

// The message of EXE_SYSTEM 6: the length of the driver name in one byte,
// the name, then the argument text.
bool driver_spec_message(const ZDB_SERVER *server, std::string *message) {
  const char *name = zdb_server_name(server);
  std::size_t name_len = std::strlen(name);
  if (name_len > 0xFF) {
    log_mesg(__FILE__, __LINE__, "Driver name", 0, "driver name '%.40s...' longer than 255", name);
    zdb_error(ZE_ILLEGAL_ARGUMENT);
    return false;
  }
  message->assign(1, static_cast<char>(name_len));
  message->append(name);
  message->append(zdb_server_args(server));
  return true;
}

// How the driver being attached ended, when its connection ended before
// the attachment was complete. Its streams carry start_disconnect until
// then, the death handler after: a driver that never served is an attach
// failure, not a lost driver.
struct StartEnd {
  bool ended = false;  // the connection reached its end during the attachment
  bool waited = false; // the child was reaped: status holds its wait status
  int status = 0;
  char reason[IPC_REASON_SIZE] = "";  // what the driver said of why it ended
};
StartEnd g_start_end;

void start_disconnect(STREAM *stream) {
  if (g_start_end.ended) return;
  g_start_end.ended = true;
  g_start_end.waited = ipc_control(stream, IPC_WAIT_CHILD, &g_start_end.status) == 0;
  if (g_start_end.waited) ipc_control(stream, IPC_GET_REASON, g_start_end.reason);
}

void set_disconnect(ZDB_SERVER *server, stream_disconnect_fn handler) {
  for (STREAM *stream : {server->in, server->out})
    if (stream != nullptr) ipc_control(stream, IPC_SET_DISCONNECT, reinterpret_cast<void *>(handler));
}

// A driver whose connection ended before its attachment was complete: its
// streams are closed and the call fails with 505 and how the driver ended,
// so that the next alternative is tried and the host goes on.
int ended_at_start(ZDB_SERVER *server) {
  zdb_close_server_streams(server);
  const char *name = zdb_server_name(server);
  const int status = g_start_end.status;
  // A driver that refused to start says why in a line of its own.
  const std::string why = g_start_end.waited && g_start_end.reason[0] != '\0'
                              ? std::string(": ") + g_start_end.reason
                              : std::string();
  if (!g_start_end.waited)
    set_zdb_msg("driver %s ended at start: its connection closed before the attachment was complete", name);
  else if (WIFSIGNALED(status))
    set_zdb_msg("driver %s ended at start by signal %d (%s)%s", name, WTERMSIG(status), strsignal(WTERMSIG(status)),
                why.c_str());
  else
    set_zdb_msg("driver %s ended at start with exit status %d%s", name, WEXITSTATUS(status), why.c_str());
  zdb_errno = ZE_NO_DRIVER;
  return -1;
}

// The requests of an attachment, from EXE_SYSTEM 5 on, over the open
// streams. 0, or -1 with zdb_errno set.
int attach_steps(ZDB_SERVER *server) {
  const char *name = zdb_server_name(server);
  if (system_command(server, SYS_CLIENT_HELLO, ZDB_CLIENT_HELLO, sizeof ZDB_CLIENT_HELLO) != 0) {
    abandon(server);
    return -1;
  }
  std::string spec_message;
  if (!driver_spec_message(server, &spec_message)) {
    abandon(server);
    return -1;
  }
  // The answer is the driver's warning about its database file, if any:
  // another host's driver uses it too, so that row locks do not hold
  // between the two hosts. It goes into this host's log.
  const ZDB_REQUEST &spec_reply = dbc_request();
  if (system_command(server, SYS_DRIVER_SPEC, spec_message.data(), spec_message.size()) == 0 &&
      spec_reply.exe.msglen > 0)
    log_mesg(__FILE__, __LINE__, "driver", LOG_WARNING, "driver %s: %.*s", name,
             static_cast<int>(spec_reply.exe.msglen), spec_reply.exe.msg);

  std::string server_text = std::string(qpdDDGetEnv()) + " " + name + " " + zdb_server_args(server);
  dbc_request_prepare(ATT_SERVER);
  ZDB_REQUEST &req = dbc_request();
  req.att_server.driver_nr = server->number;
  req.att_server.user = dbc_state().user;
  req.att_server.compnr_env = compnrGetEnv();
  req.att_server.no_refs = dbc_references_disabled();
  req.att_server.server_text = server_text.c_str();
  int rc = zdb_commu(server);
  // The ATT_SERVER answer itself decides whether the mapping goes out: the
  // later requests overwrite zdb_errno.
  int att_retval = req.retval;
  if (rc != 0 && att_retval != ZE_ILLEGAL_COMPNR) {
    int error = zdb_errno;
    if (tracing()) std::fprintf(stderr, "<- ATT_SERVER failed error %d => do detach\n", error);
    abandon(server);
    zdb_errno = error;
    return -1;
  }

  char host[IPC_HOST_SIZE] = {};
  if (ipc_control(server->in, IPC_GET_HOST, host) == 0) server->host_id = blat_get_hid_host(host);
  server->pid = req.att_server.pid;
  server->level_flags = req.att_server.level_flags;
  server->sessions_allowed = req.att_server.sessions_allowed;
  server->idle_limit = req.att_server.idle_limit;
  server->sql_protocol = req.att_server.sql_protocol;

  if (server->sql_protocol != ZDB_SQL_PROTOCOL) {
    if (tracing())
      std::fprintf(stderr, "<- ATT_SERVER failed; incompatible SQL protocol => do detach\n");
    abandon(server);
    zdb_errno = ZE_SQL_PROTOCOL;
    return -1;
  }
  int wanted_mode = (server->level_flags & ZDB_LEVEL_UTFT) != 0 ? 2 : 1;
  if (TssGetMode() != wanted_mode) {
    if (tracing())
      std::fprintf(stderr, "<- ATT_SERVER incompatible TssMode: id %p pid %d sessions %d level %#o\n",
                   static_cast<void *>(server), static_cast<int>(server->pid),
                   static_cast<int>(server->sessions_allowed), server->level_flags);
    log_mesg(__FILE__, __LINE__, "TssMode configuration", 0, "Incompatible TssMode for server %s\n",
             name);
    abandon(server);
    zdb_errno = ZE_TSS_MODE;
    return -1;
  }
  if (tracing())
    std::fprintf(stderr, "<- ATT_SERVER ok: id %p pid %d sessions %d level %#o SQL protocol %d\n",
                 static_cast<void *>(server), static_cast<int>(server->pid),
                 static_cast<int>(server->sessions_allowed), server->level_flags,
                 static_cast<int>(server->sql_protocol));
  if (dbc_state().debug & ZDB_DEBUG_TREE) zdb_dump_server_tree("attach server");

  dbc_request_prepare(PERMISSION);
  zdb_commu(server);
  if (audit_using_auditcols()) {
    if (zdb_server_is_audit(server)) {
      dbc_request_prepare(AUDITCOLS);
      zdb_commu(server);
    } else if (tracing()) {
      std::fprintf(stderr, "-- AUDITCOLS: auditcols not sent to server %p (not an audit server)\n",
                   static_cast<void *>(server));
    }
  }
  if (att_retval == ZE_ILLEGAL_COMPNR) return send_company_map(server);
  return 0;
}

}  // namespace

std::string zdb_driver_reason(ZDB_SERVER *server) {
  const unsigned char code[4] = {static_cast<unsigned char>(SYS_INFO_REFUSAL >> 24),
                                 static_cast<unsigned char>(SYS_INFO_REFUSAL >> 16),
                                 static_cast<unsigned char>(SYS_INFO_REFUSAL >> 8),
                                 static_cast<unsigned char>(SYS_INFO_REFUSAL)};
  const ZDB_REQUEST &req = dbc_request();
  if (system_command(server, SYS_SYSTEM_INFO, code, sizeof code) != 0 || req.exe.msglen <= 0) return {};
  return std::string(req.exe.msg, static_cast<std::size_t>(req.exe.msglen));
}

void zdb_note_driver_reason(ZDB_SERVER *server, int error) {
  const std::string reason = zdb_driver_reason(server);
  if (!reason.empty()) set_zdb_msg("%s", reason.c_str());
  zdb_errno = error;
}

const char *zdb_server_name(const ZDB_SERVER *server) {
  return server->spec != nullptr && server->spec->server->name != nullptr ? server->spec->server->name
                                                                          : "";
}

const char *zdb_server_args(const ZDB_SERVER *server) {
  return server->spec != nullptr && server->spec->server->args != nullptr ? server->spec->server->args
                                                                          : "";
}

unsigned zdb_server_type(const ZDB_SERVER *server) {
  return server->spec != nullptr ? server_zdb_type(server->spec) : 0;
}

bool zdb_server_is_audit(const ZDB_SERVER *server) {
  return (zdb_server_type(server) & kDriverTypeMask) == ZDB_AUDIT_DRIVER;
}

void zdb_set_server_death_handler(stream_disconnect_fn handler) {
  g_death_handler = handler != nullptr ? handler : default_death_handler;
}

int zdb_attach_server(ZDB_SERVER *server) {
  const char *name = zdb_server_name(server);
  errno = 0;
  STREAM *streams[2] = {};
  if (attach_process(name, streams, IPC_MODE_PAIR, 0, 0) != 0) {
    const int error = errno;
    if (tracing()) std::fprintf(stderr, "Client %s failed to connect %d\n", name, error);
    // Memory that ran out says nothing of the driver.
    zdb_error(error == ENOMEM ? ZE_MEMORY : ZE_NO_DRIVER);
    // A driver server that refused the connection said why.
    if (*ipc_attach_refusal() != '\0') set_zdb_msg("%s", ipc_attach_refusal());
    return -1;
  }
  server->in = streams[0];
  server->out = streams[1];
  g_start_end = StartEnd{};
  set_disconnect(server, start_disconnect);
  const int rc = attach_steps(server);
  // A driver that refused the client (an SQL protocol or TSS mode of its
  // own) and then went keeps its refusal.
  if (g_start_end.ended && (rc == 0 || zdb_errno == ZE_COMMUNICATION)) return ended_at_start(server);
  set_disconnect(server, g_death_handler);
  return rc;
}

void zdb_close_server_streams(ZDB_SERVER *server) {
  if (server->out != nullptr) sclose(server->out);
  if (server->in != nullptr) sclose(server->in);
  server->out = server->in = nullptr;
}

int zdb_detach_server(ZDB_SERVER *server) {
  if (tracing()) std::fprintf(stderr, "-> DET_SERVER %p\n", static_cast<void *>(server));
  if (!zdb_server_attached(server)) {
    // A half-open connection (one stream) is closed as well.
    zdb_close_server_streams(server);
    if (tracing()) std::fprintf(stderr, "<- DET_SERVER ok (driver not activated)\n");
    return 0;
  }
  dbc_request_prepare(DET_SERVER);
  if (zdb_commu(server) != 0) {
    if (tracing()) std::fprintf(stderr, "<- DET_SERVER failed error %d\n", zdb_errno);
    return -1;
  }
  if (tracing()) std::fprintf(stderr, "<- DET_SERVER ok\n");
  zdb_close_server_streams(server);
  return 0;
}

int zdb_attach_session(ZDB_SESSION *session) {
  ZDB_SERVER *server = session->server;
  ZDB_TRANS *trans = session->trans;
  if (tracing())
    std::fprintf(stderr, "-> ATT_SESSION trans_id %d name '%s' on server %p\n", trans->id,
                 trans->name, static_cast<void *>(server));
  dbc_request_prepare(ATT_SESSION);
  ZDB_REQUEST &req = dbc_request();
  req.att_session.trans_name = trans->name;
  if (zdb_commu(server) != 0 && req.retval != ZE_ILLEGAL_COMPNR) {
    if (tracing())
      std::fprintf(stderr, "<- ATT_SESSION on server %p failed, error %d\n",
                   static_cast<void *>(server), zdb_errno);
    // A session the driver refused (its file served elsewhere, a database
    // whose folder does not exist) or could not open: the driver says why.
    if (req.retval == zdb_errno && req.retval != ZE_NO_RESOURCE)
      zdb_note_driver_reason(server, req.retval);
    return -1;
  }
  int retval = req.retval;
  session->server_session_id = req.session_id;
  if (blat_get_state(kBlatSessions) & 1)
    blat_sess_zdb_start(trans->id, server->host_id, server->pid, session->server_session_id);
  if (tracing())
    std::fprintf(stderr, "<- ATT_SESSION ok s_id %d on server %p\n",
                 static_cast<int>(session->server_session_id), static_cast<void *>(server));
  if (retval == ZE_ILLEGAL_COMPNR) return send_company_map(server);
  return 0;
}

int zdb_detach_session(ZDB_SESSION *session) {
  ZDB_SERVER *server = session->server;
  int trans_id = session->trans != nullptr ? session->trans->id : 0;
  int sid = static_cast<int>(session->server_session_id);
  if (tracing())
    std::fprintf(stderr, "-> DET_SESSION t_id %d s_id %d server %p\n", trans_id, sid,
                 static_cast<void *>(server));
  if (!zdb_server_attached(server)) {
    if (tracing()) std::fprintf(stderr, "<- DET_SESSION ok (driver not activated)\n");
    return 0;
  }
  dbc_request_prepare(DET_SESSION);
  dbc_request().session_id = session->server_session_id;
  if (zdb_commu(server) != 0) {
    if (tracing())
      std::fprintf(stderr, "<- DET_SESSION s_id %d failed on server %p error %d\n", sid,
                   static_cast<void *>(server), zdb_errno);
    return -1;
  }
  if (blat_get_state(kBlatSessions) & 1)
    blat_sess_zdb_stop(trans_id, server->host_id, server->pid, session->server_session_id);
  if (tracing())
    std::fprintf(stderr, "<- DET_SESSION s_id %d ok on server %p\n", sid, static_cast<void *>(server));
  return 0;
}

int zdb_attach_on_demand(ZDB_SERVER *server) {
  if (zdb_server_attached(server)) return 0;
  if (zdb_attach_server(server) != 0) return -1;
  for (ZDB_SESSION *s = server->sessions; s != nullptr; s = s->next_on_server)
    if (zdb_attach_session(s) != 0) return -1;
  return 0;
}

int zdb_server_command(ZDB_SERVER *server, std::uint32_t command, const void *msg,
                       std::size_t length) {
  if (zdb_attach_on_demand(server) != 0) return -1;
  return system_command(server, command, msg, length);
}
