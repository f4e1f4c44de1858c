// The driver server's event loop: one thread polls the listening socket
// and every client connection. Each client is a DriverConnection over the
// shared state; a request that must wait for another session's write
// transaction stays in its connection's input and is tried again on every
// round (rounds are then a few milliseconds apart) until it can go on or
// its wait is over; the connection's further requests are not read
// meanwhile. Nor are they while a client's unsent replies exceed the
// connection's limit (a client that asks without reading): the kernel's
// socket buffers then stop the client, and the server's memory for it
// stays bounded. A client that goes away takes its sessions with it:
// their transactions are rolled back and their locks released.
#include "driver_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "driver_claim.h"
#include "driver_conn.h"
#include "driver_options.h"
#include "ipc/ipc_transport.h"
#include "platform/log.h"

namespace molvane::driver {

namespace {

volatile sig_atomic_t g_stop = 0;

void OnStop(int) { g_stop = 1; }

constexpr int kBacklog = 64;
constexpr int kWaitRoundMs = 2;          // rounds while a request waits for a lock
constexpr int kTickMs = 200;             // the periodic work (DataPlane::OnIdleTick) at most this often
constexpr std::size_t kChunk = 1 << 16;  // bytes read or written at a time

struct Client {
  int fd = -1;
  std::unique_ptr<DriverConnection> conn;
  std::vector<unsigned char> pending;  // reply bytes not yet sent
  std::size_t sent = 0;
  bool gone = false;
};

// Where the server listens.
struct Endpoint {
  bool tcp = false;
  std::string path;  // the socket path (absolute)
  int port = 0;
  std::string text;  // as a driver names it: the path, or "tcp:PORT"
};

bool ParseEndpoint(const std::string &listen, Endpoint *ep, std::string *error) {
  if (listen.rfind("tcp:", 0) == 0) {
    char *end = nullptr;
    long port = std::strtol(listen.c_str() + 4, &end, 10);
    if (listen.size() == 4 || *end != '\0' || port < 1 || port > 65535) {
      *error = "'" + listen + "' is not a TCP port (tcp:1 to tcp:65535)";
      return false;
    }
    ep->tcp = true;
    ep->port = static_cast<int>(port);
    ep->text = "tcp:" + std::to_string(port);
    return true;
  }
  ep->path = listen;
  if (!listen.empty() && listen[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
      *error = std::string("cannot resolve the socket path: ") + std::strerror(errno);
      return false;
    }
    ep->path = std::string(cwd) + "/" + listen;
  }
  if (listen.empty() || ep->path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    *error = "the socket path '" + listen + "' is empty or longer than 107 bytes";
    return false;
  }
  ep->text = ep->path;
  return true;
}

int OpenUnix(const Endpoint &ep, std::string *error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, ep.path.c_str(), ep.path.size() + 1);
  auto *sa = reinterpret_cast<sockaddr *>(&addr);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  // A socket file left by a server that ended without cleaning up is
  // replaced; one that a live server answers on is not.
  struct stat st {};
  if (lstat(ep.path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool live = probe >= 0 && connect(probe, sa, sizeof addr) == 0;
    if (probe >= 0) close(probe);
    if (live) {
      *error = "a server already listens on '" + ep.path + "'";
      close(fd);
      return -1;
    }
    unlink(ep.path.c_str());
  }
  if (bind(fd, sa, sizeof addr) != 0 || listen(fd, kBacklog) != 0) {
    *error = "cannot listen on '" + ep.path + "': " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

int OpenTcp(const Endpoint &ep, std::string *error) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(ep.port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never reachable from another machine
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, kBacklog) != 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(ep.port) + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

// Reads what the client sent and answers it. False when the client is gone.
bool ReadFrom(Client &c, unsigned char *buf) {
  for (int i = 0; i < 16; ++i) {
    ssize_t n = recv(c.fd, buf, kChunk, 0);
    if (n > 0) {
      c.conn->Feed(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;  // end of the connection or an error
  }
  return c.conn->Process();
}

// Sends queued replies as far as the socket takes them. False when the
// client is gone.
bool WriteTo(Client &c) {
  for (;;) {
    if (c.sent == c.pending.size()) {
      c.pending.clear();
      c.sent = 0;
      if (!c.conn->has_reply()) return true;
      c.pending.resize(kChunk);
      c.pending.resize(c.conn->TakeReply(c.pending.data(), c.pending.size()));
    }
    ssize_t n = send(c.fd, c.pending.data() + c.sent, c.pending.size() - c.sent, MSG_NOSIGNAL);
    if (n > 0) {
      c.sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

bool HasOutput(const Client &c) { return c.sent < c.pending.size() || c.conn->has_reply(); }

}  // namespace

int RunDriverServer(const std::string &listen, const std::vector<std::string> &args) {
  DriverOptions options = DriverOptions::FromArgs(args);
  Endpoint ep;
  std::string error;
  auto fail = [&](const std::string &text) {
    std::fprintf(stderr, "molvane-driver: %s\n", text.c_str());
    log_mesg(__FILE__, __LINE__, "driver", LOG_ERROR, "%s", text.c_str());
    return 1;
  };
  if (!ParseEndpoint(listen, &ep, &error)) return fail(error);
  if (options.database.empty() || options.database == ":memory:")
    return fail("a driver server needs a database file: molvane-driver --listen=" + listen + " DATABASE");
  auto claim = DatabaseClaim::TakeForServer(options.database, ep.text, &error);
  if (claim == nullptr) return fail(error);
  int lfd = ep.tcp ? OpenTcp(ep, &error) : OpenUnix(ep, &error);
  if (lfd < 0) return fail(error);

  DriverShared shared;
  shared.store.SetPath(options.database);
  shared.store.SetBusyTime(0);  // waits are kept by the connections
  shared.store.HoldClaim(std::move(claim));
  shared.store.SetIdleTransactionLimit(std::chrono::seconds(options.idle_transaction_limit));

  // SIGTERM and SIGINT are taken only inside ppoll, so a stop is never
  // missed between the check and the wait.
  struct sigaction stop {};
  stop.sa_handler = OnStop;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t blocked, during_poll;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, &during_poll);
  sigdelset(&during_poll, SIGTERM);
  sigdelset(&during_poll, SIGINT);

  log_mesg(__FILE__, __LINE__, "driver", LOG_INFO, "serving '%s' on %s", options.database.c_str(),
           ep.text.c_str());
  std::vector<std::unique_ptr<Client>> clients;
  std::vector<pollfd> fds;
  std::vector<unsigned char> buf(kChunk);
  auto last_tick = std::chrono::steady_clock::now();
  while (!g_stop) {
    bool waiting = false;
    fds.assign(1, pollfd{lfd, POLLIN, 0});
    for (const auto &c : clients) {
      short events = static_cast<short>((c->conn->wants_input() ? POLLIN : 0) | (HasOutput(*c) ? POLLOUT : 0));
      fds.push_back(pollfd{c->fd, events, 0});
      waiting = waiting || c->conn->waiting_for_lock();
    }
    timespec round{0, kWaitRoundMs * 1000000L}, tick{0, kTickMs * 1000000L};
    int ready = molvane::ipc::ipc_await_input(fds.data(), fds.size(), &during_poll);
    if (ready == 0) ready = ppoll(fds.data(), fds.size(), waiting ? &round : &tick, &during_poll);
    if (ready < 0 && errno != EINTR) return fail(std::string("poll: ") + std::strerror(errno));
    if (g_stop) break;
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      for (int i = 0; i < kBacklog; ++i) {
        int fd = accept4(lfd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        auto c = std::make_unique<Client>();
        c->fd = fd;
        c->conn = std::make_unique<DriverConnection>(args, shared);
        clients.push_back(std::move(c));
      }
    }
    for (std::size_t i = 1; ready > 0 && i < fds.size(); ++i) {
      Client &c = *clients[i - 1];
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      // A client whose requests are not taken now and that hung up cannot
      // read what it asked for.
      c.gone = (fds[i].events & POLLIN) ? !ReadFrom(c, buf.data()) : true;
    }
    // Requests that wait for a write lock are tried again: a transaction
    // may have ended in this round.
    for (auto &c : clients)
      if (!c->gone && c->conn->waiting_for_lock()) c->gone = !c->conn->Process();
    // Requests held back while a client's replies piled up go on as it
    // reads them. Held requests always leave replies to send, so that the
    // client's next read wakes the loop; each turn here answers requests
    // or leaves replies unsent.
    for (auto &c : clients) {
      if (!c->gone && !WriteTo(*c)) c->gone = true;
      while (!c->gone && c->conn->held()) {
        c->gone = !c->conn->Process() || !WriteTo(*c);
        if (HasOutput(*c)) break;
      }
    }
    // Idle write transactions end and old results leave their snapshots.
    auto now = std::chrono::steady_clock::now();
    if (now - last_tick >= std::chrono::milliseconds(kTickMs)) {
      last_tick = now;
      auto opened_before = now - std::chrono::seconds(options.open_result_limit);
      for (auto &c : clients) c->conn->agent().SpillOpenResults(opened_before);
      shared.data.OnIdleTick(shared.store, now);
    }
    for (auto it = clients.begin(); it != clients.end();) {
      if (!(*it)->gone) {
        ++it;
        continue;
      }
      close((*it)->fd);
      it = clients.erase(it);  // rolls back its sessions, releases their locks
    }
  }
  clients.clear();
  close(lfd);
  if (!ep.tcp) unlink(ep.path.c_str());
  log_mesg(__FILE__, __LINE__, "driver", LOG_INFO, "server on %s stopped", ep.text.c_str());
  return 0;
}

}  // namespace molvane::driver
