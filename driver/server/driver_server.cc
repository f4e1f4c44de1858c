// The driver server's event loop. One thread polls the listening socket
// and every client connection and moves bytes; each client connection has
// a worker thread that carries out its requests, holding the shared
// monitor (DriverMonitor) while it runs, and sends their replies as far as
// the socket takes them. So a long query of one
// host holds up no other host: its statement lets waiting threads go first
// every hundred SQLite steps, and a write that waits for another
// session's write transaction is parked in the monitor's first-come queue
// while its thread sleeps.
//
// What a client can make the server hold is bounded: 64 KiB of request
// bytes before its first session, the protocol's bound for one request
// after it, a total over all connections (--max-buffered-mib), 1 MiB of
// unsent replies before its further requests wait, a number of
// connections (--max-connections), of TCP connections that have not shown
// their token yet (a budget of their own, 2 seconds each), and 10 seconds
// for a connection that has sent no complete request while it has nothing
// left to read. A connection that passes a bound, or
// whose work runs out of memory, is ended with a logged reason, which its
// client reads in a last line ("ended: ...", SayEnded); the process goes
// on. A client that goes away takes its sessions with it:
// its running statement is interrupted, its transactions are rolled back
// and its locks released. A client that only ends its sending side (a
// half close) has the requests it sent answered first.
//
// Each new connection is admitted first (driver_peer.h, Acceptor): a peer
// the database file would not let in is refused before any request is
// read, and it has no worker thread until it is admitted.
#include "server/driver_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "locks/driver_claim.h"
#include "protocol/driver_conn.h"
#include "common/driver_log.h"
#include "locks/driver_monitor.h"
#include "protocol/driver_options.h"
#include "server/driver_peer.h"
#include "ipc/ipc_transport.h"
#include "platform/log.h"

namespace molvane::driver {

namespace {

volatile sig_atomic_t g_stop = 0;

void OnStop(int signal) { g_stop = signal; }

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(200);  // the periodic upkeep at most this often

constexpr int kBacklog = 64;
constexpr std::size_t kChunk = 1 << 16;  // bytes read or written at a time
// Request bytes a connection may have sent before its first session.
constexpr std::size_t kBeforeSession = 64 << 10;
// How long a connection may go without sending a complete request: from
// its start, and while a request of it is incomplete.
constexpr auto kRequestTime = std::chrono::seconds(10);
// Memory freed is given back to the system (malloc_trim) after a
// connection that held this many request or reply bytes at once ends, and
// after this many connections ended: the allocator keeps what it freed
// otherwise, and a burst of large requests or of connections would leave
// the server large for good.
constexpr std::size_t kTrimAfterBytes = 4 << 20;
constexpr std::size_t kTrimAfterConnections = 64;
// Blocks of this size or more are mapped on their own and unmapped when
// freed, and a heap gives back free room above this size at its top: a
// fixed size keeps the allocator from raising both to 32 and 64 MiB after
// a large block was freed (malloc_trim leaves the top of a thread's heap
// alone). The workers allocate mostly under the monitor, one at a time,
// so a few heaps serve them all: each heap keeps some free room of its
// own, and the allocator's default is eight a processor.
constexpr int kMapFrom = 1 << 20;
constexpr int kHeaps = 8;
// How long a TCP connection may take to show its token.
constexpr auto kTokenTime = std::chrono::seconds(2);
// How long the loop leaves the listening socket alone when no descriptor
// is left to accept with.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// Descriptors kept free for the work of the connections served (their
// sessions' SQLite files, spill files, the log): a new connection that
// would leave fewer below the process's limit is refused.
constexpr int kFdHeadroom = 16;

// Where the server listens.
struct Endpoint {
  bool tcp = false;
  std::string path;  // the socket path (absolute)
  int port = 0;
  std::string text;  // as a driver names it: the path, or "tcp:PORT"
};

bool ParseEndpoint(const std::string &listen, Endpoint *ep, std::string *error) {
  if (listen.empty()) {
    *error = "--listen= names no socket: give it a socket path or tcp:PORT";
    return false;
  }
  if (listen.rfind("tcp:", 0) == 0) {
    char *end = nullptr;
    long port = std::strtol(listen.c_str() + 4, &end, 10);
    if (listen.size() == 4 || listen[4] < '0' || listen[4] > '9' || *end != '\0' || port < 1 || port > 65535) {
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

// Listens on the socket path, which the caller has claimed. The socket file
// is made 0600 whatever the umask; `policy` then sets its final mode.
int OpenUnix(const Endpoint &ep, const PeerPolicy &policy, std::string *error) {
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
  mode_t umask_before = umask(0177);
  bool bound = bind(fd, sa, sizeof addr) == 0;
  umask(umask_before);
  bool secured = bound && policy.SecureSocket(ep.path, error);
  if (!secured || listen(fd, kBacklog) != 0) {
    if (!bound || secured) *error = "cannot listen on '" + ep.path + "': " + std::strerror(errno);
    if (bound) unlink(ep.path.c_str());
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

// The request state of one client connection, which its worker, the loop
// and the upkeep ask about, all under the channel's mutex (`state` is
// also set by the worker alone while it holds the monitor: an atomic).
//
//   idle/answered --(bytes or the end of input in the inbox, or held
//     requests, and fewer than kReplyLimit reply bytes unread: HasRequest)
//     --> received (TakeRequest) --> running <--> parked --> answered (a
//     reply queued) or idle (none): Finish
//   idle/answered --(the upkeep asks for a spill: spill_due)--> running
//     --> back as it was (StartSpill, EndSpill)
//
// The connection is in a request (InRequest: its worker may be inside a
// statement) from received to answered, and while a request waits for
// its worker; requests that only wait for the client to read the replies
// before them (held back) leave it quiet, so that its idle clock runs and
// its open results spill.
struct ChannelRequests {
  std::atomic<RequestState> state{RequestState::kIdle};
  std::vector<unsigned char> inbox;     // bytes read, not yet given to conn
  bool input_ended = false;             // the client ended its sending side
  bool end_taken = false;               // ... and the worker has taken that end (worker)
  bool held = false;                    // conn holds whole requests back until replies are read
  std::optional<Clock::time_point> waiting_since = Clock::now();  // no complete request since
  // Between requests (state kIdle or kAnswered, nothing in the inbox):
  Clock::time_point answered_at;        // the last answer was queued (drained_at: sent)
  bool spill_due = false;               // the worker is to spill its old results

  // True while `unread` reply bytes reach the reply limit: the worker
  // takes no further request before the client has read some.
  static bool HeldBack(std::size_t unread) { return unread >= DriverConnection::kReplyLimit; }
  // No request is received, running or parked (the state is idle or answered).
  bool Between() const {
    const RequestState s = state;
    return s == RequestState::kIdle || s == RequestState::kAnswered;
  }
  // The worker has a request to take (or the end of input to act on).
  bool HasRequest(std::size_t unread) const {
    if (HeldBack(unread)) return false;
    return !inbox.empty() || held || (input_ended && !end_taken);
  }
  // The worker has something to do: a request, or a spill between requests.
  bool Wanted(std::size_t unread) const { return spill_due || HasRequest(unread); }
  // A request is received, running or parked, or its worker is about to
  // take one.
  bool InRequest(std::size_t unread) const {
    if (!Between()) return true;
    return !HeldBack(unread) && (!inbox.empty() || held);
  }
  // Room left in the inbox, which holds at most kChunk bytes.
  std::size_t Room() const { return inbox.size() >= kChunk ? 0 : kChunk - inbox.size(); }
  // The client has sent no complete request for `limit` while it has read
  // every reply (drained at `drained_at`) and nothing is in a request.
  bool SilentFor(Clock::duration limit, Clock::time_point now, std::size_t unread,
                 Clock::time_point drained_at) const {
    return waiting_since && unread == 0 && !held && now - std::max(*waiting_since, drained_at) >= limit &&
           Between();
  }
  // Since when the client of a connection between requests has been quiet
  // for the idle limit: since its last answer was queued while it has
  // replies unread, else since it read the last of them.
  ClientQuiet Quiet(std::size_t unread, Clock::time_point drained_at) const {
    return ClientQuiet{unread > 0 ? answered_at : drained_at, unread > 0};
  }

  // Bytes the client sent; `end`: it ended its sending side.
  void Arrived(const unsigned char *bytes, std::size_t n, bool end) {
    inbox.insert(inbox.end(), bytes, bytes + n);
    if (end) input_ended = true;
  }
  // The worker takes what is in the inbox into `in` (received). True when
  // the client's input has ended with it.
  bool TakeRequest(std::vector<unsigned char> *in) {
    spill_due = false;
    in->swap(inbox);
    inbox.clear();
    end_taken = input_ended;
    state = RequestState::kReceived;
    return input_ended;
  }
  // The worker spills between requests: the connection counts as in a
  // request while it steps its statements. Returns the state to go back to.
  RequestState StartSpill() {
    spill_due = false;
    const RequestState before = state;
    state = RequestState::kRunning;
    return before;
  }
  void EndSpill(RequestState before) { state = before; }
  // The request is done, set with its reply queued (the upkeep sees either
  // the request or its answer waiting): `answered` when it answered
  // something, `held_back` when conn holds whole requests until replies are
  // read, `pending` its bytes of an incomplete request.
  void Finish(bool answered, bool held_back, std::size_t pending) {
    state = answered ? RequestState::kAnswered : RequestState::kIdle;
    if (answered) answered_at = Clock::now();
    held = held_back;
    if (answered) {
      waiting_since.reset();
      if (pending > 0) waiting_since = Clock::now();
    } else if (pending > 0 && !waiting_since) {
      waiting_since = Clock::now();
    }
  }
};

// One client connection as the loop and its worker share it. The worker
// alone uses `conn`, holding the monitor (the upkeep only between its
// requests, see Upkeep); the loop alone changes `fd` (Drop), under `mu`,
// with which the worker sends and watches; what passes between them is
// under `mu`.
struct Channel {
  int fd = -1;
  std::unique_ptr<DriverConnection> conn;
  std::thread worker;
  std::mutex mu;
  std::condition_variable cv;           // the worker has something to do
  ChannelRequests requests;             // the request state, under mu
  std::vector<unsigned char> outbox;    // replies not yet sent
  std::size_t sent = 0;                 // ... of which sent
  Clock::time_point drained_at{};       // when the last unsent reply left
  bool finished = false;                // the worker is done, conn is gone
  const Clock::time_point accepted = Clock::now();
  std::atomic<bool> cancel{false};      // the client is gone or the server stops
  std::atomic<bool> urgent{false};      // conn holds what others wait for (its next turn is urgent)
  std::size_t buffered = 0;             // conn's pending bytes and open results as counted in the total (worker)
  std::size_t peak = 0;                 // the most request or reply bytes held at once (worker)
  PeerGate gate;                        // the admission (loop)
  std::uint64_t host = 0;               // the client process (PeerProcess), 0 unknown

  // Reply bytes the client has not read yet. With mu held.
  std::size_t Unread() const { return outbox.size() - sent; }
};

bool SendLocked(Channel &ch);

// The client process at the other end of a Unix socket (the kernel names
// it), which both connections of a host that reaches the server under two
// driver names share; 0 over TCP, where nothing tells.
std::uint64_t PeerProcess(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
  sockaddr_storage addr{};
  socklen_t addr_size = sizeof addr;
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &addr_size) != 0 || addr.ss_family != AF_UNIX)
    return 0;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || cred.pid <= 0) return 0;
  return static_cast<std::uint64_t>(cred.pid);
}

// The party of a TCP client that gave the host value `value` (0 none):
// its low 61 bits beside the claimed-party bit, so that it meets neither a
// process id (a Unix peer's party) nor a connection's own party. Two hosts
// meet in one party only when their random values agree in 61 bits.
std::uint64_t ClaimedHost(std::uint64_t value) {
  return value == 0 ? 0 : DriverShared::kClaimedParty | (value & (DriverShared::kClaimedParty - 1));
}

// What the loop and the workers share.
struct Server {
  const DriverOptions &options;
  DriverShared &shared;
  DriverMonitor &monitor;
  std::size_t max_buffered;
  std::atomic<std::size_t> buffered{0};  // request bytes and open results held for all connections
  std::atomic<bool> wal_full{false};     // the WAL is past --wal-spill-mib: every open result spills
  int wake_fd = -1;                      // an eventfd: a worker has replies or is done
  const PeerPolicy *policy = nullptr;    // who is served

  // Open results opened before this time move their rest to a file.
  Clock::time_point SpillBefore(Clock::time_point now) const {
    return wal_full ? Clock::time_point::max() : now - std::chrono::seconds(options.open_result_limit);
  }
  void Wake() const {
    std::uint64_t one = 1;
    (void)!write(wake_fd, &one, sizeof one);
  }
  // The loop's log lines: the log is the library's, used under the monitor.
  void Log(int level, const std::string &text) {
    MonitorGuard guard(&monitor);
    DriverLog(__FILE__, __LINE__, level, "%s", text.c_str());
  }
};

// Before the server ends a connection for one of its bounds it tells the
// client why, as the admission's "refused: " line does: the line
// Who a connection's client is, for the log lines of the connection: the
// process the kernel names on a Unix socket, the one a TCP client names in
// its token line (its word), or nothing when neither is known.
std::string ClientOf(const Server &server, const Channel &ch) {
  const std::uint64_t pid = server.policy->tcp ? ch.gate.process() : ch.host;
  if (pid == 0) return "";
  return " (client process " + std::to_string(pid) + (server.policy->tcp ? ", as the client says)" : ")");
}

// "ended: <the server> ended the connection: <reason>" goes behind the
// replies queued, and once it has left the sending side is shut, so that
// the client reads the line and then the end of the data. With ch.mu held.
void SayEnded(const Server &server, Channel &ch, const std::string &reason) {
  if (ch.fd < 0) return;
  const PeerPolicy &policy = *server.policy;
  const std::string line = "ended: the driver server on " + (policy.tcp ? policy.listen : "'" + policy.listen + "'") +
                           " ended the connection: " + reason + "\n";
  ch.outbox.insert(ch.outbox.end(), line.begin(), line.end());
  if (SendLocked(ch) && ch.sent == ch.outbox.size()) shutdown(ch.fd, SHUT_WR);
}

// Before the worker sleeps for the next request (ch.mu held by `lock`):
// the client of a keyed exchange mostly sends it within a few tens of
// microseconds of its answer, so the worker watches the socket as a reader
// does (ipc_await_input, which stops watching where it does not pay) and
// takes what comes itself: the exchange waits neither for the loop's read
// nor for the worker's wake-up (the loop may still wake, to find nothing
// left). The bytes and the end of input are otherwise the loop's.
void Watch(Channel &ch, std::unique_lock<std::mutex> &lock) {
  // Only a client that has its answers can be about to ask again.
  const int fd = ch.fd;
  ChannelRequests &requests = ch.requests;
  if (fd < 0 || requests.input_ended || !requests.inbox.empty() || ch.Unread() > 0) return;
  lock.unlock();
  const bool came = molvane::ipc::ipc_await_input(fd);
  lock.lock();
  if (!came || ch.fd != fd || requests.input_ended || !requests.inbox.empty()) return;
  unsigned char buf[kChunk];
  ssize_t n;
  do n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  while (n < 0 && errno == EINTR);
  if (n > 0) requests.Arrived(buf, static_cast<std::size_t>(n), false);
}

// The connection's share of --max-buffered-mib: its pending request bytes
// and the memory of its open results. False when it grew past the total.
// By the worker, under the monitor.
bool Account(Server &server, Channel &ch, DriverConnection &conn) {
  const std::size_t mine = conn.pending_input() + conn.agent().ResultBytes();
  const std::size_t total = server.buffered += mine - ch.buffered;
  const bool grew = mine > ch.buffered;
  ch.buffered = mine;
  return !grew || total <= server.max_buffered;
}

// The upkeep asked for a spill between requests: the worker spills the
// connection's old open results, the connection in a request meanwhile.
// False when the connection ends (its results ran out of memory).
bool SpillBetweenRequests(Server &server, Channel &ch, RequestState before) {
  bool fits = true;
  {
    MonitorGuard guard(&server.monitor, ch.urgent);
    try {
      ch.conn->agent().SpillOpenResults(server.SpillBefore(Clock::now()));
      fits = Account(server, ch, *ch.conn);
    } catch (const std::bad_alloc &) {
      fits = false;
    }
    if (!fits)
      DriverLog(__FILE__, __LINE__, 0, "connection ended: its open results ran out of memory%s",
                ClientOf(server, ch).c_str());
  }
  std::lock_guard<std::mutex> lock(ch.mu);
  ch.requests.EndSpill(before);
  if (!fits) SayEnded(server, ch, "its open results ran out of memory");
  return fits;
}

// Carries out the requests whose bytes the worker took (`in`), from
// received to answered or idle, and queues their replies (through `out`,
// which keeps its room between requests). False when the connection ends:
// it failed, passed a bound, or its input ended (`input_ended`) and every
// whole request of it is answered.
bool RunRequests(Server &server, Channel &ch, std::vector<unsigned char> &in, std::vector<unsigned char> &out,
                 bool input_ended) {
  bool alive = true, answered = false, held = false;
  std::size_t pending = 0;
  std::string reason;
  {
    MonitorGuard guard(&server.monitor, ch.urgent);
    ch.requests.state = RequestState::kRunning;
    try {
      DriverConnection &conn = *ch.conn;
      // Results of the connection that are due to spill do so now and
      // after its requests: no other thread touches them.
      conn.agent().SpillOpenResults(server.SpillBefore(Clock::now()));
      conn.Feed(in.data(), in.size());
      in.clear();
      ch.peak = std::max(ch.peak, conn.pending_input());
      const std::uint64_t before = conn.handled();
      alive = conn.Process();
      conn.agent().SpillOpenResults(server.SpillBefore(Clock::now()));
      answered = conn.handled() != before;
      held = conn.held();
      pending = conn.pending_input();
      ch.urgent = conn.HoldsForOthers();
      if (alive && !conn.had_session() && pending > kBeforeSession) {
        reason = "it sent more than 64 KiB before its first session";
        alive = false;
      }
      if (!Account(server, ch, conn) && alive) {
        reason = "its requests and open results would take the memory held for all connections past " +
                 std::to_string(server.max_buffered >> 20) + " MiB";
        alive = false;
      }
      while (conn.has_reply()) {
        std::size_t at = out.size();
        out.resize(at + kChunk);
        out.resize(at + conn.TakeReply(out.data() + at, kChunk));
      }
      ch.peak = std::max(ch.peak, out.size());
    } catch (const std::bad_alloc &) {
      reason = "its work ran out of memory";
      alive = false;
    } catch (const std::exception &e) {
      reason = std::string("its work failed: ") + e.what();
      alive = false;
    }
    if (!reason.empty())
      LogFromPeer(__FILE__, __LINE__, 0, "connection ended: %s%s", reason.c_str(), ClientOf(server, ch).c_str());
  }
  bool loop_needed = false;
  {
    std::lock_guard<std::mutex> lock(ch.mu);
    // Set with the reply queued: the tick sees either the request or its
    // answer waiting.
    ch.requests.Finish(answered, held, pending);
    if (ch.outbox.empty()) {
      ch.outbox.swap(out);
      ch.sent = 0;
    } else {
      ch.outbox.insert(ch.outbox.end(), out.begin(), out.end());
    }
    out.clear();
    if (!reason.empty()) SayEnded(server, ch, reason);
    // The reply leaves from here when the socket takes it: the loop is
    // woken only for what is left (or a client gone), which saves each
    // exchange a thread switch.
    loop_needed = !SendLocked(ch) || ch.sent < ch.outbox.size();
  }
  if (loop_needed) server.Wake();
  // After a half close every whole request is answered; the rest of an
  // incomplete one never comes.
  return alive && !(input_ended && !held);
}

// Carries out one connection's requests as their bytes arrive, until the
// connection ends (a malformed request, a bound passed, the client gone
// or its input ended and answered) or the server stops. The connection is
// made and ended here, under the monitor: its end rolls back its sessions.
void Work(Server &server, Channel &ch) {
  {
    MonitorGuard guard(&server.monitor);
    ch.conn = std::make_unique<DriverConnection>(server.options, &server.shared);
    ch.conn->Serve([&ch] { return ch.cancel.load(); }, [&ch](RequestState s) { ch.requests.state = s; });
    ch.conn->SetHost(ch.host);
    // Open results keep in memory only what the requests of all
    // connections leave of --max-buffered-mib.
    ch.conn->agent().SetMemoryRoom([&server] {
      const std::size_t used = server.buffered;
      return used < server.max_buffered ? server.max_buffered - used : 0;
    });
  }
  std::vector<unsigned char> in, out;
  for (;;) {
    bool request = false, input_ended = false;
    RequestState before_spill = RequestState::kIdle;
    {
      std::unique_lock<std::mutex> lock(ch.mu);
      ChannelRequests &requests = ch.requests;
      if (!ch.cancel && !requests.Wanted(ch.Unread())) Watch(ch, lock);
      ch.cv.wait(lock, [&] { return ch.cancel || requests.Wanted(ch.Unread()); });
      if (ch.cancel) break;
      request = requests.HasRequest(ch.Unread());
      if (request)
        input_ended = requests.TakeRequest(&in);
      else
        before_spill = requests.StartSpill();
    }
    if (!request) {
      if (!SpillBetweenRequests(server, ch, before_spill)) break;
      continue;
    }
    // The loop reads no more while the inbox is full: it is told when
    // there is room again.
    if (in.size() >= kChunk) server.Wake();
    if (!RunRequests(server, ch, in, out, input_ended)) break;
  }
  {
    MonitorGuard guard(&server.monitor);
    const std::vector<std::uint32_t> sessions(ch.conn->sessions().begin(), ch.conn->sessions().end());
    const DriverShared::Released released = server.shared.released();
    ch.conn.reset();  // rolls back its sessions, releases their locks
    server.buffered -= ch.buffered;
    server.shared.WakeWaiters(released, sessions);
  }
  {
    std::lock_guard<std::mutex> lock(ch.mu);
    ch.finished = true;
  }
  server.Wake();
}

// The end of a TCP client's input is a half close or the end of a client
// that is gone (it died, or closed its socket): the socket looks the same
// either way until something is sent to it. So one byte of urgent data
// goes out: a client that still reads never meets it in its stream (it is
// out of band, and read past), while the system of a client that is gone
// answers it with a reset, which the loop sees at once as the hang-up of
// a Unix socket (POLLHUP, POLLERR): a request of a host that died, parked
// or running, gives up at once and its locks go. A Unix socket says so
// itself. With the channel's mutex held.
void AskWhetherGone(Channel &ch) {
  const char probe = 0;
  if (ch.fd >= 0) (void)!send(ch.fd, &probe, 1, MSG_OOB | MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Reads what the client sent into its channel's inbox, which holds at
// most kChunk bytes, past the admission's token line. False when the
// client is gone or refused.
bool ReadFrom(Server &server, Channel &ch) {
  unsigned char buf[kChunk];
  ssize_t n;
  if (!ch.gate.awaiting()) {
    // An admitted connection's worker may read too (Watch): each read and
    // its append are one step under the channel's mutex, so that the bytes
    // keep their order.
    std::lock_guard<std::mutex> lock(ch.mu);
    const std::size_t room = ch.requests.Room();
    if (room == 0) return true;
    do n = recv(ch.fd, buf, room, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    ch.requests.Arrived(buf, static_cast<std::size_t>(n), n == 0);  // a half close, or the end: see the caller
    if (n == 0 && server.policy->tcp) AskWhetherGone(ch);
    ch.cv.notify_one();
    return true;
  }
  std::size_t room;
  {
    std::lock_guard<std::mutex> lock(ch.mu);
    room = ch.requests.Room();  // only the loop adds to the inbox
    if (room == 0) return true;
  }
  do n = recv(ch.fd, buf, room, 0);
  while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
  std::size_t used = 0;
  if (n == 0 && ch.gate.awaiting()) return false;  // gone before it showed its token
  if (n > 0 && ch.gate.awaiting()) {
    MonitorGuard guard(&server.monitor);  // the gate logs a refusal
    used = ch.gate.Take(ch.fd, *server.policy, buf, static_cast<std::size_t>(n));
    if (ch.gate.refused()) return false;
  }
  std::lock_guard<std::mutex> lock(ch.mu);
  ch.requests.Arrived(buf + used, static_cast<std::size_t>(n) - used, n == 0);  // a half close, or the end
  ch.cv.notify_one();
  return true;
}

// Sends queued replies as far as the socket takes them, with the
// channel's mutex held. False when the client is gone.
bool SendLocked(Channel &ch) {
  const bool was_full = ChannelRequests::HeldBack(ch.Unread());
  while (ch.fd >= 0 && ch.sent < ch.outbox.size()) {
    ssize_t n = send(ch.fd, ch.outbox.data() + ch.sent, ch.outbox.size() - ch.sent, MSG_NOSIGNAL);
    if (n > 0) {
      ch.sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  if (ch.sent == ch.outbox.size()) {
    if (!ch.outbox.empty()) ch.drained_at = Clock::now();
    ch.outbox.clear();
    ch.sent = 0;
  } else if (ch.sent >= kChunk && 2 * ch.sent >= ch.outbox.size()) {
    ch.outbox.erase(ch.outbox.begin(), ch.outbox.begin() + static_cast<std::ptrdiff_t>(ch.sent));
    ch.sent = 0;
  }
  if (was_full && !ChannelRequests::HeldBack(ch.Unread())) ch.cv.notify_one();
  return true;
}

bool WriteTo(Channel &ch) {
  std::lock_guard<std::mutex> lock(ch.mu);
  return SendLocked(ch);
}

// Takes the client's connection away: its fd is closed, its worker
// stops what it runs (a statement is interrupted, a parked request gives
// up) and ends the connection.
void Drop(Server &server, Channel &ch) {
  {
    std::lock_guard<std::mutex> lock(ch.mu);
    if (ch.fd >= 0) close(ch.fd);
    ch.fd = -1;
    ch.cancel = true;
    ch.cv.notify_one();
  }
  server.monitor.WakeAll();  // a parked request of the connection gives up
}

// The periodic upkeep, which acts on a connection only between its
// requests (its worker may be inside a statement otherwise): idle write
// transactions end, and the workers of connections whose results are due
// to leave their snapshots (open too long, or the WAL too large) are woken
// to spill them; a worker inside a request spills its own at its end.
void Upkeep(Server &server, std::list<std::unique_ptr<Channel>> &channels, Clock::time_point now) {
  MonitorGuard guard(&server.monitor);
  DriverShared &shared = server.shared;
  server.wal_full = shared.store.WalBytes() > server.options.wal_spill;
  const Clock::time_point spill_before = server.SpillBefore(now);
  std::map<std::uint32_t, ClientQuiet> quiet;  // the sessions of connections between requests
  for (auto &c : channels) {
    std::lock_guard<std::mutex> lock(c->mu);
    if (c->conn == nullptr || c->finished || c->requests.InRequest(c->Unread())) continue;
    const ClientQuiet client = c->requests.Quiet(c->Unread(), c->drained_at);
    for (std::uint32_t id : c->conn->sessions()) quiet.emplace(id, client);
    if (c->conn->agent().HasOpenResult(spill_before)) {
      c->requests.spill_due = true;
      c->cv.notify_one();
    }
  }
  const DriverShared::Released released = shared.released();
  const std::vector<std::uint32_t> rolled_back = shared.data.OnIdleTick(shared.store, now, quiet);
  if (!rolled_back.empty())
    for (auto &c : channels)
      if (c->conn != nullptr) c->conn->RolledBack(rolled_back);
  shared.WakeWaiters(released, rolled_back);
}

// Accepts the connections waiting on the listening socket and admits
// them. A connection counts against --max-connections, and has a worker
// thread, only once it is admitted: a Unix peer at once, a TCP peer when
// its token line has come. TCP connections that have not shown their token
// yet have a small budget of their own (an eighth of --max-connections,
// 8 to 64) and kTokenTime to show it; when the budget is full the oldest of
// them leaves it (MakeRoom), so that a crowd of silent connections cannot
// keep a token holder out. Every refusal is answered "refused: "
// with the reason.
class Acceptor {
 public:
  Acceptor(Server &server, int lfd, std::uint32_t max_connections)
      : server_(server),
        lfd_(lfd),
        max_(max_connections),
        unadmitted_max_(std::clamp<std::size_t>(max_connections / 8, 8, 64)),
        spare_(open("/dev/null", O_RDONLY | O_CLOEXEC)) {}
  ~Acceptor() {
    if (spare_ >= 0) close(spare_);
  }
  Acceptor(const Acceptor &) = delete;
  Acceptor &operator=(const Acceptor &) = delete;

  // False when no descriptor was left to accept with.
  bool Accept(std::list<std::unique_ptr<Channel>> &channels) {
    std::size_t admitted = 0, unadmitted = 0;
    Count(channels, &admitted, &unadmitted);
    for (int i = 0; i < kBacklog; ++i) {
      int fd = accept4(lfd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0 && (errno == EMFILE || errno == ENFILE)) return Refuse();
      if (fd < 0) return true;
      if (!LeavesHeadroom(fd)) {
        RefuseCrowded(fd);
        continue;
      }
      out_of_fds_ = false;
      auto ch = std::make_unique<Channel>();
      ch->fd = fd;
      bool checked;
      {
        MonitorGuard guard(&server_.monitor);  // the gate logs a refusal
        checked = ch->gate.Admit(fd, *server_.policy);
        if (checked && admitted >= max_) {
          ch->gate.Refuse(fd, Full());
          checked = false;
        }
      }
      if (!checked) {
        close(fd);
        continue;
      }
      if (ch->gate.awaiting()) {
        if (unadmitted >= unadmitted_max_)
          MakeRoom(channels, &admitted);
        else
          ++unadmitted;
      } else if (Serve(*ch)) {
        ++admitted;
      } else {
        close(fd);
        continue;
      }
      channels.push_back(std::move(ch));
    }
    return true;
  }

  // A connection that has shown its token: served when there is room
  // (answered "ok", its worker started), else refused. False when it is
  // not served: the caller drops it.
  bool Admit(Channel &ch, const std::list<std::unique_ptr<Channel>> &channels) {
    std::size_t admitted = 0, unadmitted = 0;
    Count(channels, &admitted, &unadmitted);
    if (admitted < max_) return Serve(ch);
    MonitorGuard guard(&server_.monitor);
    ch.gate.Refuse(ch.fd, Full());
    return false;
  }

  // Closes the connections that did not show their token in time.
  void EndLate(std::list<std::unique_ptr<Channel>> &channels, Clock::time_point now) {
    for (auto &c : channels)
      if (c->fd >= 0 && c->gate.awaiting() && now - c->accepted >= kTokenTime)
        RefuseAndDrop(*c, Named() + " waited " +
                              std::to_string(kTokenTime.count()) + " s for the token of the connection");
  }

 private:
  static void Count(const std::list<std::unique_ptr<Channel>> &channels, std::size_t *admitted,
                    std::size_t *unadmitted) {
    for (const auto &c : channels) {
      if (c->worker.joinable())
        ++*admitted;
      else if (c->fd >= 0 && c->gate.awaiting())
        ++*unadmitted;
    }
  }
  // How the messages name the server: as the refusals of driver_peer.cc do.
  std::string Named() const {
    const PeerPolicy &policy = *server_.policy;
    return "the driver server on " + (policy.tcp ? policy.listen : "'" + policy.listen + "'");
  }
  std::string Full() const {
    return Named() + " serves " + std::to_string(max_) +
           " connections at once (--max-connections); try again later";
  }
  // Answers "ok" and starts the worker of an admitted connection.
  // The worker sends nothing before "ok": it sends under the channel's
  // mutex, held here until the answer has left.
  // The callers have counted room for it.
  bool Serve(Channel &ch) {
    std::string failed;
    {
      std::lock_guard<std::mutex> lock(ch.mu);
      ch.requests.waiting_since = Clock::now();  // the time for its first request starts
      // Over TCP the client gives the host value of its process (its token
      // line); one that gives none is a host of its own on each connection.
      ch.host = server_.policy->tcp ? ClaimedHost(ch.gate.host()) : PeerProcess(ch.fd);
      try {
        ch.worker = std::thread(Work, std::ref(server_), std::ref(ch));
        ch.gate.Open(ch.fd);
      } catch (const std::system_error &e) {
        failed = e.what();
      }
    }
    if (failed.empty()) return true;
    MonitorGuard guard(&server_.monitor);
    ch.gate.Refuse(ch.fd, Named() + " has no thread to serve the connection: " + failed);
    return false;
  }
  // The budget of unadmitted connections is full: the oldest of them
  // leaves it. Its token may have come since the loop last read (a host
  // sends it at once): then it is admitted or refused by it; a connection
  // that sent no whole token line is closed for the new one.
  void MakeRoom(std::list<std::unique_ptr<Channel>> &channels, std::size_t *admitted) {
    for (auto &c : channels) {
      if (c->fd < 0 || !c->gate.awaiting()) continue;
      if (!ReadFrom(server_, *c)) {
        Drop(server_, *c);
      } else if (c->gate.checked()) {
        if (Admit(*c, channels))
          ++*admitted;
        else
          Drop(server_, *c);
      } else {
        RefuseAndDrop(*c, Named() + " closed the connection: " + std::to_string(unadmitted_max_) +
                              " newer connections wait to show their token");
      }
      return;
    }
  }
  void RefuseAndDrop(Channel &ch, const std::string &reason) {
    {
      MonitorGuard guard(&server_.monitor);
      ch.gate.Refuse(ch.fd, reason);
    }
    Drop(server_, ch);
  }
  // Whether the descriptor just accepted leaves kFdHeadroom of them below
  // the process's limit. Descriptors are handed out lowest first, so every
  // one below it is in use: one among the last kFdHeadroom leaves fewer.
  // (Descriptors freed below it since leave room this does not see; the
  // limit itself is then met, below.)
  static bool LeavesHeadroom(int fd) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
    return static_cast<rlim_t>(fd) + kFdHeadroom < limit.rlim_cur;
  }
  // A connection that would leave too few descriptors for the work of
  // those served is told so and closed. Logged once until a connection is
  // served again.
  void RefuseCrowded(int fd) {
    if (!out_of_fds_)
      server_.Log(0, "connections refused: fewer than " + std::to_string(kFdHeadroom) +
                         " descriptors would be left below the limit of open files for the work of those served");
    out_of_fds_ = true;
    SayNoDescriptor(fd);
  }
  void SayNoDescriptor(int fd) {
    const std::string line = "refused: " + Named() + " has no descriptor left for the connection\n";
    (void)!send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    DrainInput(fd);
    close(fd);
  }
  // No descriptor is left: the spare one takes the waiting connection and
  // closes it, so that its client sees the end at once and the listening
  // socket stops being ready. False when even that failed.
  bool Refuse() {
    if (!out_of_fds_)
      server_.Log(0, std::string("connections refused: ") + std::strerror(errno));
    out_of_fds_ = true;
    if (spare_ < 0) return false;
    close(spare_);
    int fd = accept4(lfd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) SayNoDescriptor(fd);
    spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    return fd >= 0 && spare_ >= 0;
  }

  Server &server_;
  int lfd_;
  std::size_t max_;
  std::size_t unadmitted_max_;  // connections that have not shown their token yet
  int spare_;
  bool out_of_fds_ = false;  // logged once until a connection is accepted again
};

}  // namespace

bool CheckServerArguments(const std::string &listen, const DriverOptions &options, std::string *error) {
  Endpoint ep;
  if (!ParseEndpoint(listen, &ep, error)) return false;
  if (options.database.empty() || options.database == ":memory:") {
    *error = "a driver server needs a database file: molvane-driver --listen=" + listen + " DATABASE";
    return false;
  }
  return true;
}

int RunDriverServer(const std::string &listen, const DriverOptions &options, PeerPolicy policy) {
  Endpoint ep;
  std::string error;
  auto fail = [&](const std::string &text) {
    std::fprintf(stderr, "molvane-driver: %s\n", text.c_str());
    DriverLog(__FILE__, __LINE__, LOG_ERROR, "%s", text.c_str());
    return 1;
  };
  if (!CheckServerArguments(listen, options, &error) || !ParseEndpoint(listen, &ep, &error)) return fail(error);
  // SIGTERM and SIGINT are taken only inside the loop's ppoll, so a stop
  // is never missed between the check and the wait; the workers, started
  // with them blocked, never take them. They are blocked before the socket
  // listens: a stop that comes as soon as a client can connect still ends
  // the server cleanly (its socket and claim removed).
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
  auto claim = DatabaseClaim::TakeForServer(options.database, ep.text, &error);
  if (claim == nullptr) return fail(error);
  std::unique_ptr<DatabaseClaim> socket_claim;
  if (!ep.tcp && (socket_claim = DatabaseClaim::TakeForSocket(ep.path, &error)) == nullptr) return fail(error);
  if (!policy.Setup(options.database, ep.tcp, ep.text, &error)) return fail(error);
  int lfd = ep.tcp ? OpenTcp(ep, &error) : OpenUnix(ep, policy, &error);
  if (lfd < 0) {
    policy.Cleanup();
    return fail(error);
  }
  int wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd < 0) {
    close(lfd);
    if (!ep.tcp) unlink(ep.path.c_str());
    policy.Cleanup();
    return fail(std::string("eventfd: ") + std::strerror(errno));
  }

  mallopt(M_MMAP_THRESHOLD, kMapFrom);
  mallopt(M_TRIM_THRESHOLD, kMapFrom);
  mallopt(M_ARENA_MAX, kHeaps);
  DriverMonitor monitor;
  DriverShared shared;
  shared.monitor = &monitor;
  shared.store.SetPath(options.database);
  shared.store.SetBusyTime(0);  // waits are kept in the monitor's write queue
  shared.store.HoldClaim(std::move(claim));
  Server server{options, shared, monitor, options.max_buffered};
  server.wake_fd = wake_fd;
  server.policy = &policy;
  shared.store.SetIdleTransactionLimit(std::chrono::seconds(options.idle_transaction_limit));


  DriverLog(__FILE__, __LINE__, LOG_INFO, "serving '%s' on %s", options.database.c_str(),
            ep.text.c_str());
  std::list<std::unique_ptr<Channel>> channels;
  std::vector<pollfd> fds;
  std::vector<Channel *> polled;
  Acceptor acceptor(server, lfd, options.max_connections);
  Clock::time_point accept_again{}, next_tick = Clock::now();
  std::size_t ended_since_trim = 0;
  int status = 0;
  while (!g_stop) {
    const Clock::time_point now = Clock::now();
    fds.clear();
    polled.clear();
    fds.push_back(pollfd{wake_fd, POLLIN, 0});
    const bool accepting = now >= accept_again;
    fds.push_back(pollfd{accepting ? lfd : -1, POLLIN, 0});
    for (auto &c : channels) {
      if (c->fd < 0) continue;
      short events = 0;
      {
        std::lock_guard<std::mutex> lock(c->mu);
        if (!c->requests.input_ended && c->requests.Room() > 0) events |= POLLIN;
        if (c->sent < c->outbox.size()) events |= POLLOUT;
      }
      fds.push_back(pollfd{c->fd, events, 0});
      polled.push_back(c.get());
    }
    // The loop wakes at least every kTick for the time limits and the
    // store's upkeep.
    Clock::time_point until = next_tick;
    if (!accepting) until = std::min(until, accept_again);
    auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(until - now).count();
    if (wait < 0) wait = 0;
    timespec timeout{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
    int ready = molvane::ipc::ipc_await_input(fds.data(), fds.size(), &during_poll);
    if (ready == 0) ready = ppoll(fds.data(), fds.size(), &timeout, &during_poll);
    if (ready < 0 && errno != EINTR) {
      server.Log(LOG_ERROR, std::string("poll: ") + std::strerror(errno));
      status = 1;
      break;
    }
    if (g_stop) break;
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      std::uint64_t count;
      (void)!read(wake_fd, &count, sizeof count);
    }
    if (ready > 0 && accepting && (fds[1].revents & POLLIN) && !acceptor.Accept(channels))
      accept_again = Clock::now() + kAcceptPause;
    for (std::size_t i = 0; ready > 0 && i < polled.size(); ++i) {
      Channel &c = *polled[i];
      const short revents = fds[i + 2].revents;
      if (revents == 0) continue;
      // POLLHUP: the client is gone both ways (a killed host), not just
      // done sending; nobody reads what it asked for.
      bool gone = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
      if (!gone && (revents & POLLIN)) gone = !ReadFrom(server, c);
      if (!gone && c.gate.checked()) gone = !acceptor.Admit(c, channels);
      if (!gone && (revents & POLLOUT)) gone = !WriteTo(c);
      if (gone) Drop(server, c);
    }
    const Clock::time_point after = Clock::now();
    acceptor.EndLate(channels, after);
    bool trim = false;
    for (auto it = channels.begin(); it != channels.end();) {
      Channel &c = **it;
      if (!c.worker.joinable()) {  // not admitted
        if (c.fd < 0) {
          it = channels.erase(it);
          continue;
        }
        ++it;
        continue;
      }
      bool finished, drained, flush, late = false;
      {
        std::lock_guard<std::mutex> lock(c.mu);
        finished = c.finished;
        drained = c.sent == c.outbox.size();
        flush = c.requests.input_ended;  // a half-closed client still reads its answers
        // The time runs only while the connection waits for the client to
        // send, not while its whole requests wait for it to read.
        late = c.requests.SilentFor(kRequestTime, after, c.Unread(), c.drained_at);
      }
      // Replies a worker could not send wait for POLLOUT: the worker woke
      // the loop, and the next poll asks for it.
      if (late && c.fd >= 0) {
        const std::string reason =
            "it sent no complete request within " + std::to_string(kRequestTime.count()) + " seconds";
        {
          MonitorGuard guard(&monitor);
          LogFromPeer(__FILE__, __LINE__, 0, "connection ended: %s%s", reason.c_str(), ClientOf(server, c).c_str());
        }
        {
          std::lock_guard<std::mutex> lock(c.mu);
          SayEnded(server, c, reason);
        }
        Drop(server, c);
      }
      if (finished && (drained || !flush || c.fd < 0)) {
        c.worker.join();
        if (c.peak >= kTrimAfterBytes || ++ended_since_trim >= kTrimAfterConnections) trim = true;
        if (c.fd >= 0) close(c.fd);
        it = channels.erase(it);
        continue;
      }
      ++it;
    }
    if (trim) {
      malloc_trim(0);
      ended_since_trim = 0;
    }
    if (after >= next_tick) {
      Upkeep(server, channels, after);
      next_tick = after + kTick;
    }
  }
  // Every worker stops what it runs and rolls back what is open; then each
  // served host is told why its connection ends, behind the replies
  // queued for it (the "ended: " line its library shows).
  for (auto &c : channels) {
    std::lock_guard<std::mutex> lock(c->mu);
    c->cancel = true;
    c->cv.notify_one();
  }
  monitor.WakeAll();
  for (auto &c : channels)
    if (c->worker.joinable()) c->worker.join();
  const std::string reason = status != 0 ? "its poll failed, and it stopped"
                             : g_stop == SIGINT ? "it was stopped (SIGINT)"
                                                : "it was stopped (SIGTERM)";
  for (auto &c : channels) {
    std::lock_guard<std::mutex> lock(c->mu);
    if (c->fd < 0) continue;
    if (!c->gate.awaiting()) SayEnded(server, *c, reason);
    close(c->fd);
    c->fd = -1;
  }
  channels.clear();
  close(wake_fd);
  close(lfd);
  if (!ep.tcp) unlink(ep.path.c_str());
  policy.Cleanup();
  DriverLog(__FILE__, __LINE__, LOG_INFO, "server on %s stopped", ep.text.c_str());
  return status;
}

}  // namespace molvane::driver
