// Stream operations of process connections. Each stream of a connection
// holds one "side" record that shares the connection; the connection is
// released with the last side. Closing the output side ends the sending
// direction only (the request pipe is closed, a socket shut down for
// writing), so that the driver sees the end of its input while replies can
// still be read. In-process, bytes go to and come from the driver
// library's entry points, and a read that finds no reply runs the
// processing entry once more over unprocessed request bytes, so that a
// reply is never missed because a caller skipped it.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "ipc/ipc_connect.h"
#include "ipc/ipc_transport.h"
#include "platform/log.h"

namespace molvane::ipc {
namespace {

struct Side {
  std::shared_ptr<IPC_CONNECT> conn;
  bool output = false;
};

IPC_CONNECT &ConnOf(void *ctx) { return *static_cast<Side *>(ctx)->conn; }

// Before a driver server ends a connection for one of its bounds it
// sends this line with the reason (as it answers "refused: " at the
// admission), then the end of the data.
constexpr std::string_view kEndedLine = "ended: ";
// How long a read that ends with such a line waits for the end of the data.
constexpr int kEndedWaitMs = 2000;

// Notes and logs the reason of the server's "ended: " line (the line
// without its end).
void NoteEnded(IPC_CONNECT &c, std::string_view line) {
  c.ended_reason = std::string(line.substr(kEndedLine.size()));
  log_mesg(__FILE__, __LINE__, "server_death", 0, "driver %s: %s", c.driver.c_str(), c.ended_reason.c_str());
}

// Where the server's "ended: " line begins in `data`, which holds what is
// left of the connection's bytes up to their end: the line must end the
// data with its newline. npos when it is not there.
std::size_t EndedLineAt(std::string_view data) {
  if (data.empty() || data.back() != '\n') return std::string_view::npos;
  data.remove_suffix(1);
  const std::size_t at = data.rfind(kEndedLine);
  if (at == std::string_view::npos || data.find('\n', at) != std::string_view::npos) return std::string_view::npos;
  return at;
}

// The `got` bytes just read from a server end with its "ended: " line and
// the data ends there: the reason goes into the log, before the caller
// meets the end of the data (and the disconnection handling), and the line
// is taken out, so that it is never read as a reply. The bytes left.
long TakeEndedLine(IPC_CONNECT &c, const char *buf, long got) {
  if (got <= 0) return got;
  const std::string_view data(buf, static_cast<std::size_t>(got));
  const std::size_t at = EndedLineAt(data);
  if (at == std::string_view::npos) return got;
  // The end of the data, or the connection reset: a request the host sent
  // meanwhile reached a server that had ended the connection, which closed
  // it with that request unread.
  pollfd p{c.fd, POLLIN, 0};
  char next;
  if (poll(&p, 1, kEndedWaitMs) != 1) return got;
  const ssize_t more = recv(c.fd, &next, 1, MSG_PEEK | MSG_DONTWAIT);
  if (more != 0 && !(more < 0 && errno == ECONNRESET)) return got;
  NoteEnded(c, data.substr(at, data.size() - at - 1));
  return static_cast<long>(at);
}

// A request could not be sent: a server that ended the connection between
// requests has sent its "ended: " line, which is read now, before the
// caller reports the loss. Only what the connection still holds is read
// (the server has closed its end); answers the host never asked for are
// dropped with it.
void ReadEndedLine(IPC_CONNECT &c) {
  if (!c.ended_reason.empty() || c.fd < 0) return;
  std::string left;
  char buf[4096];
  for (;;) {
    const ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    left.append(buf, static_cast<std::size_t>(n));
    if (left.size() > (std::size_t{1} << 20)) left.erase(0, left.size() - 4096);  // the line is short
  }
  const std::size_t at = EndedLineAt(left);
  if (at != std::string::npos) NoteEnded(c, std::string_view(left).substr(at, left.size() - at - 1));
}

long SocketRead(void *ctx, void *buf, size_t n) {
  IPC_CONNECT &c = ConnOf(ctx);
  const long got = static_cast<long>(ipc_recv_some(c.fd, buf, n, c.sockets));
  if (c.form != IpcForm::kUnix && c.form != IpcForm::kTcp) return got;
  return TakeEndedLine(c, static_cast<const char *>(buf), got);
}

long SocketWrite(void *ctx, const void *buf, size_t n) {
  IPC_CONNECT &c = ConnOf(ctx);
  const long put = static_cast<long>(ipc_send_all(c.out_fd >= 0 ? c.out_fd : c.fd, buf, n, c.sockets));
  if (put < 0 && (c.form == IpcForm::kUnix || c.form == IpcForm::kTcp)) {
    const int error = errno;
    ReadEndedLine(c);
    errno = error;
  }
  return put;
}

// Closing the output side while the input side stays open ends the sending
// direction only, so that the peer sees the end of its input.
int SideClose(void *ctx) {
  std::unique_ptr<Side> side(static_cast<Side *>(ctx));
  IPC_CONNECT &c = *side->conn;
  if (side->output && side->conn.use_count() > 1) {
    if (c.out_fd >= 0) {
      close(c.out_fd);
      c.out_fd = -1;
    } else if (c.fd >= 0) {
      shutdown(c.fd, SHUT_WR);
    }
  }
  return 0;
}

long LibraryRead(void *ctx, void *buf, size_t n) {
  IPC_CONNECT &c = ConnOf(ctx);
  if (!c.lib_live) return 0;
  ssize_t got = c.lib->read(c.lib_conn, buf, n);
  if (got == 0 && c.lib_pending) {
    if (c.Process() != 0) return 0;
    got = c.lib->read(c.lib_conn, buf, n);
  }
  if (got < 0) return -1;
  if (static_cast<size_t>(got) > n) {
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR,
             "driver %s returned %zd bytes for a read of %zu", c.driver.c_str(), got, n);
    errno = EPROTO;
    return -1;
  }
  return static_cast<long>(got);
}

long LibraryWrite(void *ctx, const void *buf, size_t n) {
  IPC_CONNECT &c = ConnOf(ctx);
  if (!c.lib_live) {
    errno = EPIPE;
    return -1;
  }
  ssize_t put = c.lib->write(c.lib_conn, buf, n);
  if (put < 0) return -1;
  if (static_cast<size_t>(put) != n) {
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR,
             "driver %s took %zd of %zu request bytes", c.driver.c_str(), put, n);
    errno = EPROTO;
    return -1;
  }
  c.lib_pending = true;
  return static_cast<long>(put);
}

int ProcessEntry(void *arg) { return static_cast<IPC_CONNECT *>(arg)->Process(); }

const STREAM_OPS kSocketOps = {SocketRead, SocketWrite, nullptr, nullptr, SideClose, nullptr};
const STREAM_OPS kLibraryOps = {LibraryRead, LibraryWrite, nullptr, nullptr, SideClose, nullptr};

// Makes one stream over a new side of `conn`; null (errno ENOMEM) when
// memory runs out, the side then being released.
STREAM *MakeSide(const std::shared_ptr<IPC_CONNECT> &conn, bool output, const std::string &name,
                 const std::string &host) {
  auto side = std::make_unique<Side>();
  side->conn = conn;
  side->output = output;
  const STREAM_OPS *ops = conn->form == IpcForm::kLibrary ? &kLibraryOps : &kSocketOps;
  STREAM *s = stream_create(ops, side.get(), STREAM_KIND_CONN, output ? STREAM_WRITE : STREAM_READ,
                            name.c_str(), 0);
  if (s == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  side.release();  // now owned by the stream, freed by SideClose
  s->fd = conn->fd;
  if (conn->form == IpcForm::kLibrary) {
    s->in_process = 1;
    s->process_entry = ProcessEntry;
    s->process_arg = conn.get();
  }
  std::snprintf(s->host, sizeof s->host, "%s", host.c_str());
  s->conn = conn.get();
  return s;
}

}  // namespace

IPC_CONNECT::~IPC_CONNECT() {
  int e = errno;
  if (fd >= 0) close(fd);
  if (out_fd >= 0) close(out_fd);
  if (reason_fd >= 0) close(reason_fd);
  if (pid > 0) ipc_reap_child(pid, driver.c_str());
  if (lib != nullptr && lib_live) {
    lib->write(lib_conn, nullptr, 0);
    if (lib->main_loop(lib_conn) < 0) {
      log_mesg(__FILE__, __LINE__, "attach_process", LOG_WARNING,
               "driver %s failed to close its connection: %s", driver.c_str(),
               std::strerror(errno));
    }
  }
  errno = e;
}

int IPC_CONNECT::WaitChild(int *status) {
  if (pid <= 0) {
    errno = ECHILD;
    return -1;
  }
  if (!ipc_wait_child(pid, driver.c_str(), status)) {
    errno = ETIMEDOUT;
    return -1;
  }
  pid = -1;
  if (*status != -1) return 0;
  errno = ECHILD;
  return -1;
}

int IPC_CONNECT::Process() {
  if (lib == nullptr) return 0;
  if (!lib_live) {
    errno = EPIPE;
    return -1;
  }
  lib_pending = false;
  int rc = lib->main_loop(lib_conn);
  if (rc == 0) return 0;
  lib_live = false;
  if (rc < 0) {
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR, "driver %s failed: %s",
             driver.c_str(), std::strerror(errno));
  }
  errno = EPIPE;
  return -1;
}

int ipc_make_streams(std::unique_ptr<IPC_CONNECT> conn, const std::string &name,
                     const std::string &host, STREAM **streams) {
  std::shared_ptr<IPC_CONNECT> shared(std::move(conn));
  StreamPtr in(MakeSide(shared, false, name, host));  // closed should the output side throw
  STREAM *out = in != nullptr ? MakeSide(shared, true, name, host) : nullptr;
  if (out == nullptr) {
    in.reset();
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR,
             "no memory for the streams of driver %s", name.c_str());
    errno = ENOMEM;
    return -1;
  }
  streams[0] = in.release();
  streams[1] = out;
  return 0;
}

}  // namespace molvane::ipc
