// A driver server's bounds on connections, memory and requests, and how it
// ends a connection: requests left unfinished, descriptors near their
// limit, the connection caps and a silent crowd over TCP, a half-closed
// client, trace settings it refuses, and the reason a host hears (in its
// message text and its log) when the server ends its connection.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <molvane/dd.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>

#include "dbc/dict/dd.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/zdb_errors.h"
#include "host_server.h"

namespace {

using molvane::test::Address;
using molvane::test::Admission;
using molvane::test::CpuMs;
using molvane::test::Dial;
using molvane::test::DialSilent;
using molvane::test::DialWithSession;
using molvane::test::EndsWithin;
using molvane::test::HostServer;
using molvane::test::kVersionRequest;
using molvane::test::Process;
using molvane::test::ReadAll;
using molvane::test::RssKiB;
using molvane::test::SendUnfinished;

const char kSales[] = "exdep010001: Refcntd=0 Refcntu=0 budget=";

// Connections that never log on and announce a 64 MiB request are ended
// once they have sent 64 KiB: the server stays small and serves a host.
TEST_P(HostServer, UnfinishedLargeRequestsAreEndedAndTheServerStaysSmall) {
  const std::string secret = root_.path() + "/main.db.secret";
  std::vector<int> fds;
  for (int i = 0; i < 8; ++i) {
    int fd = Dial(listen_, secret);
    ASSERT_GE(fd, 0);
    fds.push_back(fd);
    EXPECT_LT(SendUnfinished(fd, 60u << 20), 8u << 20) << "connection " << i;
    const std::string got = ReadAll(fd, 5000);
    EXPECT_EQ(got, EndedLine("it sent more than 64 KiB before its first session")) << "connection " << i;
  }
  EXPECT_LT(RssKiB(server_->pid()), 100 * 1024);
  auto a = Host();
  EXPECT_EQ(a->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  for (int fd : fds) close(fd);
}

// Connections that end in the middle of a request give its bytes back to
// the budget of all connections, and the memory back to the system.
TEST_P(HostServer, UnfinishedRequestsThatEndGiveTheirBytesAndMemoryBack) {
  const std::string secret = root_.path() + "/main.db.secret";
  setenv("ZUV_LOG", (root_.path() + "/log").c_str(), 1);
  Restart({"--max-buffered-mib=2"});
  for (int i = 0; i < 20; ++i) {
    int fd = DialWithSession(listen_, secret);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(SendUnfinished(fd, 1u << 20), 1u << 20) << "connection " << i;
    close(fd);
  }
  usleep(500000);
  int fd = DialWithSession(listen_, secret);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(SendUnfinished(fd, 3u << 19), 3u << 19) << "1.5 MiB of 2 MiB after twenty ended";
  EXPECT_FALSE(EndsWithin(fd, 500)) << "the connection was ended";
  // Past the budget a connection is ended, and the log says why.
  int over = DialWithSession(listen_, secret);
  ASSERT_GE(over, 0);
  SendUnfinished(over, 1u << 20);
  EXPECT_TRUE(EndsWithin(over, 5000)) << "a connection past the budget goes on";
  EXPECT_EQ(ReadAll(over, 5000), EndedLine("its requests and open results would take the memory held for all "
                                           "connections past 2 MiB"));
  close(over);
  close(fd);
  EXPECT_EQ(Host()->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  // The log names the client's process where the kernel does (a Unix
  // peer); this TCP client named none.
  EXPECT_NE(root_.ReadFile("log/molvane-driver.log")
                .find("connection ended: its requests and open results would take the memory held for all "
                      "connections past 2 MiB" +
                      (GetParam() ? std::string("\n") : " (client process " + std::to_string(getpid()) + ")\n")),
            std::string::npos);

  // The memory of four requests of 60 MiB held at once is given back once
  // they end (a sanitizer's quarantine would keep it: it is made small).
  const char *asan = std::getenv("ASAN_OPTIONS");
  const std::string before = asan != nullptr ? asan : "";
  setenv("ASAN_OPTIONS", (before + ":quarantine_size_mb=1").c_str(), 1);
  Restart({});
  setenv("ASAN_OPTIONS", before.c_str(), 1);
  std::vector<int> fds;
  for (int i = 0; i < 4; ++i) {
    fds.push_back(DialWithSession(listen_, secret));
    ASSERT_GE(fds.back(), 0);
    EXPECT_EQ(SendUnfinished(fds.back(), 60u << 20), 60u << 20) << "connection " << i;
  }
  EXPECT_GT(RssKiB(server_->pid()), 240 * 1024);
  for (int each : fds) close(each);
  long rss = 0;
  for (int i = 0; i < 50 && (rss = RssKiB(server_->pid())) >= 100 * 1024; ++i) usleep(100000);
  EXPECT_LT(rss, 100 * 1024) << "KiB after the requests ended";
}

// With its descriptors near their limit the server refuses new hosts at
// once, without spinning on the listening socket, and keeps the
// descriptors that the work of the hosts it serves needs: a host served
// before opens another session. It keeps exactly 16 descriptors free: the
// highest a connection is served on is the limit less 17. Once descriptors
// are free again new hosts are served.
TEST_P(HostServer, OutOfDescriptorsTheServerRefusesNewHostsWithoutSpinning) {
  auto served = Host();
  EXPECT_EQ(served->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  constexpr int kLimit = 64;
  const std::string limit = "prlimit --pid " + std::to_string(server_->pid()) + " --nofile=" +
                            std::to_string(kLimit) + ":" + std::to_string(kLimit);
  ASSERT_EQ(std::system(limit.c_str()), 0);
  // Each connection asks something, so that none is ended as idle; one
  // the server has refused already may take the request no more.
  std::vector<int> fds;
  for (int i = 0; i < kLimit + 16; ++i) {
    int fd = Dial(listen_, root_.path() + "/main.db.secret", false);
    if (fd < 0) continue;
    fds.push_back(fd);
    (void)!send(fd, kVersionRequest, sizeof kVersionRequest, MSG_NOSIGNAL);
  }
  usleep(500000);
  const long before = CpuMs(server_->pid());
  usleep(3000000);
  EXPECT_LT(CpuMs(server_->pid()) - before, 600) << "ms of CPU in 3 s with no descriptor left";
  int highest_socket = -1;
  for (const auto &entry : std::filesystem::directory_iterator("/proc/" + std::to_string(server_->pid()) + "/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.rfind("socket:", 0) == 0)
      highest_socket = std::max(highest_socket, std::atoi(entry.path().filename().c_str()));
  }
  EXPECT_EQ(highest_socket, kLimit - 17);
  // The connections taken without a descriptor to serve them are told why.
  int told = 0;
  for (int fd : fds) {
    const std::string got = ReadAll(fd, 100);
    told += got.rfind("refused: ", 0) == 0 && got.find(" has no descriptor left for the connection\n") != std::string::npos;
  }
  EXPECT_GT(told, 0);
  auto late = std::make_unique<Process>(std::vector<std::string>{
      std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host", "--zuv", root_.path(), "--script", "-"});
  EXPECT_EQ(late->Do("logon demo"), "logged on as demo");
  std::string refused = late->Do("read exdep010 1 code=SALES");
  EXPECT_EQ(refused.rfind("error ", 0), 0u) << "'" << refused << "': the host waits";
  EXPECT_EQ(served->Do("start u"), "transaction u id 2");
  EXPECT_EQ(served->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  for (int fd : fds) close(fd);
  std::string row;
  for (int i = 0; i < 50 && row.rfind(kSales, 0) != 0; ++i) {
    auto a = Host();
    row = a->Do("read exdep010 1 code=SALES");
    if (row.rfind(kSales, 0) != 0) usleep(100000);
  }
  EXPECT_EQ(row.rfind(kSales, 0), 0u);
}

// A connection refused at a cap is told why, and the host says it: with
// --max-connections=2 two hosts are served and a third is refused until
// one of them goes. Over TCP a crowd of connections that never show the
// token has a budget of its own: against --max-connections=50, 60 of them
// keep no token holder out, and those closed for newer ones or for their
// silence are answered with the reason.
TEST_P(HostServer, CapsRefuseWithTheirReasonAndASilentCrowdKeepsNoTokenHolderOut) {
  Restart({"--max-connections=2"});
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(b->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  auto c = Host();
  const std::string refused = c->Do("read exdep010 1 code=SALES");
  EXPECT_EQ(refused.rfind("error 505 (", 0), 0u) << refused;
  const std::string where = GetParam() ? listen_ : "'" + listen_ + "'";
  EXPECT_NE(refused.find("the driver server on " + where +
                         " serves 2 connections at once (--max-connections); try again later"),
            std::string::npos)
      << refused;
  a.reset();
  std::string row;
  for (int i = 0; i < 50 && row.rfind(kSales, 0) != 0; ++i) {
    row = c->Do("read exdep010 1 code=SALES");
    if (row.rfind(kSales, 0) != 0) usleep(100000);
  }
  EXPECT_EQ(row.rfind(kSales, 0), 0u) << row;
  b.reset();
  c.reset();
  if (!GetParam()) return;

  Restart({"--max-connections=50"});
  for (int round = 0; round < 3; ++round) {
    std::vector<int> silent;
    for (int i = 0; i < 60; ++i) {
      silent.push_back(DialSilent(listen_));
      ASSERT_GE(silent.back(), 0);
    }
    const auto start = std::chrono::steady_clock::now();
    auto host = Host();
    EXPECT_EQ(host->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u) << "round " << round;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6)) << "round " << round;
    // The first was closed for newer ones, the last for its silence.
    EXPECT_EQ(Admission(silent.front()).rfind("refused: the driver server on " + listen_ + " closed the connection: ", 0),
              0u);
    EXPECT_EQ(Admission(silent.back()),
              "refused: the driver server on " + listen_ + " waited 2 s for the token of the connection");
    for (int fd : silent) close(fd);
  }
  // A token holder that connects just before a crowd that fills the budget
  // is the oldest when room is made: its token, sent at once, is read
  // then, and it is served.
  for (int round = 0; round < 3; ++round) {
    const int early = Dial(listen_, root_.path() + "/main.db.secret", false);
    ASSERT_GE(early, 0);
    std::vector<int> silent;
    for (int i = 0; i < 60; ++i) silent.push_back(DialSilent(listen_));
    EXPECT_EQ(Admission(early), "ok") << "round " << round;
    ASSERT_EQ(send(early, kVersionRequest, sizeof kVersionRequest, MSG_NOSIGNAL),
              static_cast<ssize_t>(sizeof kVersionRequest));
    EXPECT_EQ(ReadAll(early, 1000).find("msqlite SQLite "), 2u) << "round " << round;
    close(early);
    for (int fd : silent) close(fd);
  }
}

// Requests that arrive with the end of the client's input (a half close)
// are answered before the server ends the connection: a few, and as many as
// give more than the 1 MiB of answers the server holds for a client before
// it reads no more of its requests.
TEST_P(HostServer, RequestsOfAHalfClosedClientAreAnswered) {
  for (const std::size_t count : {std::size_t{3}, std::size_t{40000}}) {
    SCOPED_TRACE(count);
    int fd = Dial(listen_, root_.path() + "/main.db.secret");
    ASSERT_GE(fd, 0);
    std::string requests;
    for (std::size_t i = 0; i < count; ++i) requests.append(kVersionRequest, sizeof kVersionRequest);
    // The requests the server does not read yet wait in the sockets'
    // buffers.
    for (std::size_t sent = 0; sent < requests.size();) {
      const ssize_t n = send(fd, requests.data() + sent, requests.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      pollfd p{fd, POLLOUT, 0};
      ASSERT_TRUE(n < 0 && errno == EAGAIN && poll(&p, 1, 20000) == 1) << sent << " of " << requests.size();
    }
    ASSERT_EQ(shutdown(fd, SHUT_WR), 0);
    // Read slowly, up to the server's end of the connection: the worker is
    // done with the last request long before its answers have left. Over
    // TCP the server's probe of the half close (a byte of urgent data) may
    // wake the poll with nothing in the stream to read yet.
    std::string got;
    char buf[4096];
    for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
      usleep(200);
    }
    close(fd);
    ASSERT_GE(got.size(), 2u);
    const std::size_t one = 2 + (static_cast<unsigned char>(got[0]) << 8 | static_cast<unsigned char>(got[1])) + 4;
    EXPECT_EQ(got.size(), count * one);
    EXPECT_GT(count * one, count > 3 ? std::size_t{1} << 20 : 0);
    EXPECT_EQ(got.substr(2, 15), "msqlite SQLite ");
  }
}

// A server takes no client's trace settings: the tracer is the process's,
// and its file would be opened as the server's user where the client says.
TEST_P(HostServer, TraceSettingsOfAClientAreRefused) {
  int fd = Dial(listen_, root_.path() + "/main.db.secret");
  ASSERT_GE(fd, 0);
  const std::string settings = "all\n" + root_.path() + "/chosen.trace";
  std::string request = {7, 0, 0, 0, 1, 0, static_cast<char>(settings.size())};
  request += settings;
  request.append(kVersionRequest, sizeof kVersionRequest);
  ASSERT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  std::string got;
  char buf[512];
  for (pollfd p{fd, POLLIN, 0}; got.size() < 6 + 2 && poll(&p, 1, 5000) == 1;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  ASSERT_GE(got.size(), 6u);
  EXPECT_EQ(got.substr(0, 6), std::string({0, 0, 0, 0, 0, static_cast<char>(ZE_ILLEGAL_ARGUMENT)}));
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/chosen.trace"));
}

int g_lost = 0;
void CountLoss(STREAM *) { ++g_lost; }

// A program whose disconnection handler lets it go on finds why a driver
// server ended its connection between two requests in the message text of
// the call that failed (get_zdb_msg), also where its request could not be
// sent: a proxy between the program and the server ends the connection as
// the server does at a bound (the last line, then the end; over TCP a
// reset, as from a server that closes with input unread, so that the
// program's send fails there too).
TEST_P(HostServer, AConnectionEndedBetweenRequestsSaysWhyInTheMessageOfTheFailedCall) {
  const std::string reason = "the driver server on " + listen_ + " ended the connection: the test's reason";
  const bool tcp = GetParam();
  int listener = socket(tcp ? AF_INET : AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  const std::string proxy_path = root_.path() + "/proxy.sock";
  Address at(tcp ? "tcp:0" : proxy_path);
  ASSERT_EQ(bind(listener, at.get(), at.size), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  getsockname(listener, reinterpret_cast<sockaddr *>(&bound), &size);
  root_.WriteFile("lib/ipc_info", tcp ? "msqlite tcp " + std::to_string(ntohs(bound.sin_port)) + " main.db.secret\n"
                                      : "msqlite unix proxy.sock\n");
  std::atomic<bool> end{false};
  std::thread proxy([&] {
    pollfd l{listener, POLLIN, 0};
    if (poll(&l, 1, 20000) != 1) return;
    int host = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    int server = molvane::test::DialSilent(listen_);  // the host's own token line goes through
    char buf[1 << 16];
    for (bool open = host >= 0 && server >= 0; open && !end;) {
      pollfd p[2] = {{host, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(p, 2, 20) <= 0) continue;
      for (int i = 0; i < 2 && open; ++i) {
        if ((p[i].revents & (POLLIN | POLLHUP)) == 0) continue;
        const ssize_t n = read(p[i].fd, buf, sizeof buf);
        open = n > 0 && write(p[1 - i].fd, buf, static_cast<std::size_t>(n)) == n;
      }
    }
    const std::string line = "ended: " + reason + "\n";
    const int one = 1;  // the line leaves before the reset, which would drop it
    if (tcp) setsockopt(host, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    (void)!write(host, line.data(), line.size());
    if (tcp) {
      const linger reset{1, 0};
      setsockopt(host, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    } else {
      shutdown(host, SHUT_WR);
    }
    close(host);
    close(server);
  });
  ASSERT_EQ(zdb_init_api("ended", nullptr, 0, 0), 0);
  ASSERT_EQ(zdb_logon("demo"), 0);
  zdb_set_server_death_handler(CountLoss);
  const int trans = zdb_start_session("t");
  ZDB_CURSOR *cursor = nullptr;
  static unsigned char row[DD_MAX_ROW_LENGTH];
  ASSERT_EQ(zdb_open(&cursor, "exdep010", 1, row, 0, trans), 0) << get_zdb_msg();
  int count = 0;
  ASSERT_EQ(zdb_exec_table(cursor, nr_rows, &count, 1), 0) << get_zdb_msg();
  EXPECT_EQ(count, 1);
  end = true;
  proxy.join();
  close(listener);
  EXPECT_NE(zdb_exec_table(cursor, nr_rows, &count, 1), 0);
  EXPECT_NE(zdb_errno, 0);
  EXPECT_EQ(g_lost, 1);
  EXPECT_NE(std::string(get_zdb_msg()).find(reason), std::string::npos) << get_zdb_msg();
  zdb_logoff();
}

// A connection the server ends for one of its bounds is told why in a last
// line, and the host writes the reason into its log before its
// disconnection handling: a host whose request stops half way (a proxy
// between it and the server passes on only its first byte) hears after
// 10 s that it sent no complete request in time.
TEST_P(HostServer, ConnectionEndedForABoundTellsTheHostWhy) {
  const std::string logs = root_.path() + "/log";
  setenv("ZUV_LOG", logs.c_str(), 1);
  const std::string proxy_path = root_.path() + "/proxy.sock";
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Address proxy_address(proxy_path);
  ASSERT_EQ(bind(listener, proxy_address.get(), proxy_address.size), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  root_.WriteFile("lib/ipc_info", "msqlite unix proxy.sock\n");
  std::atomic<bool> hold{false};
  std::thread proxy([&] {
    const int host = accept(listener, nullptr, nullptr);
    const int server = Dial(listen_, root_.path() + "/main.db.secret");
    if (host < 0 || server < 0 || send(host, "ok\n", 3, MSG_NOSIGNAL) != 3) return;
    fcntl(server, F_SETFL, 0);
    bool held = false;
    for (;;) {
      pollfd p[2] = {{host, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(p, 2, 30000) <= 0) break;
      char buf[1 << 16];
      if (p[1].revents != 0) {
        const ssize_t n = read(server, buf, sizeof buf);
        if (n <= 0 || send(host, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
      }
      if (p[0].revents != 0) {
        const ssize_t n = read(host, buf, sizeof buf);
        if (n <= 0) break;
        // Once held, the server gets the first byte of the host's request.
        const ssize_t passed = !hold ? n : held ? 0 : 1;
        held = held || hold;
        if (passed > 0 && send(server, buf, static_cast<std::size_t>(passed), MSG_NOSIGNAL) != passed) break;
      }
    }
    close(server);
    close(host);
  });
  auto a = Host();
  EXPECT_EQ(a->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  hold = true;
  EXPECT_EQ(a->Do("read exdep010 1 code=SALES"), "");
  proxy.join();
  close(listener);
  std::ifstream host_log(logs + "/molvane-host.log");
  const std::string logged((std::istreambuf_iterator<char>(host_log)), std::istreambuf_iterator<char>());
  const std::string why = "driver msqlite: the driver server on " +
                          (GetParam() ? listen_ : "'" + listen_ + "'") +
                          " ended the connection: it sent no complete request within 10 seconds";
  EXPECT_NE(logged.find(why), std::string::npos) << logged;
  EXPECT_LT(logged.find(why), logged.find("Detected server disconnection")) << logged;

  // Between its requests: the rest of a host's open result, which no file
  // can hold (TMPDIR names no folder), takes the memory held for all
  // connections; the server ends the connection, and the host reads why
  // before it reports the loss at its next request.
  const std::string later_logs = root_.path() + "/log2";
  setenv("ZUV_LOG", later_logs.c_str(), 1);
  setenv("TMPDIR", (root_.path() + "/no-such-folder").c_str(), 1);
  Restart({"--max-buffered-mib=1", "--open-result-limit=1"});
  unsetenv("TMPDIR");
  root_.WriteFile("lib/ipc_info", GetParam() ? "msqlite tcp " + listen_.substr(4) + " main.db.secret\n"
                                             : "msqlite unix run.sock\n");
  Fill(299);  // 90,000 rows of some 40 bytes in the result
  auto b = Host();
  EXPECT_EQ(b->Do("sql prepare q SELECT x.code, y.code, x.name, y.name FROM exdep010 x, exdep010 y"),
            "prepared q: select");
  EXPECT_EQ(b->Do("sql exec q 1"), "executed q");
  ASSERT_TRUE(b->Send("sql fetch q 1"));
  EXPECT_EQ(Result(*b), "(1 row)");
  const std::string ended = "connection ended: its open results ran out of memory";
  for (int i = 0; i < 6000 && root_.ReadFile("log2/molvane-driver.log").find(ended) == std::string::npos; ++i)
    usleep(10000);
  ASSERT_NE(root_.ReadFile("log2/molvane-driver.log").find(ended), std::string::npos);
  EXPECT_TRUE(b->Send("sql fetch q"));
  EXPECT_EQ(b->Stop(0), 1);
  const std::string host_logged = root_.ReadFile("log2/molvane-host.log");
  const std::string reason = "driver msqlite: the driver server on " +
                             (GetParam() ? listen_ : "'" + listen_ + "'") +
                             " ended the connection: its open results ran out of memory\n";
  EXPECT_NE(host_logged.find(reason), std::string::npos) << host_logged;
  EXPECT_LT(host_logged.find(reason), host_logged.find("Detected server disconnection")) << host_logged;
}

// The bound of a wait starts again whenever what it waits for changes
// hands: a third host behind two short holders of a row, which together
// hold it longer than one bound, is given the row; and a clear or drop
// that waited for a row's holder holds the table from then on, while it
// waits for the write transaction, so that no row of it goes to another
// host meanwhile.
TEST_P(HostServer, AWaitOutlastsOneBoundWhileItsRowChangesHandsAndAWaitedClearKeepsItsTable) {
  Restart({"--lock-wait-ms=2000"});
  auto a = Host(), b = Host(), c = Host();
  ASSERT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind("exdep010001: ", 0), 0u);
  ASSERT_TRUE(b->Send("lockread exdep010 1 code=SALES"));
  usleep(100000);
  ASSERT_TRUE(c->Send("lockread exdep010 1 code=SALES"));
  usleep(1300000);
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line().rfind("exdep010001: ", 0), 0u);
  usleep(1400000);
  EXPECT_FALSE(c->HasOutput()) << "the third waiter's bound did not start again when the row changed hands";
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(c->Line().rfind("exdep010001: ", 0), 0u);
  EXPECT_EQ(c->Do("commit"), "committed");
  for (const char *action : {"clear", "drop"}) {
    SCOPED_TRACE(action);
    auto w = Host();
    const std::string row = std::string("exdep010 1 code=H") + action[0];
    ASSERT_EQ(a->Do("insert " + row), "buffered insert on exdep010001");
    ASSERT_EQ(a->Do("commit"), "committed");
    ASSERT_EQ(a->Do("lockread " + row).rfind("exdep010001: ", 0), 0u);
    ASSERT_TRUE(b->Send(std::string("table ") + action + " exdep010 1"));
    usleep(200000);
    ASSERT_EQ(w->Do("table create exemp010 1"), "exemp010001: create_table");  // w holds the write transaction
    EXPECT_EQ(a->Do("commit"), "committed");  // b takes the table, then waits for w's write transaction
    usleep(200000);
    ASSERT_TRUE(c->Send("lockread exdep010 1 code=SALES"));
    usleep(300000);
    EXPECT_FALSE(c->HasOutput()) << "a row of the table went to another host while the " << action << " waited";
    EXPECT_EQ(w->Do("abort"), "aborted");
    EXPECT_EQ(b->Line(), std::string("exdep010001: ") + action + "_table");
    EXPECT_EQ(b->Do("abort"), "aborted");
    EXPECT_EQ(c->Line().rfind("exdep010001: ", 0), 0u);
    EXPECT_EQ(c->Do("abort"), "aborted");
  }
}

}  // namespace
