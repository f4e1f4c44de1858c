// Several hosts on one database through one driver server (molvane-driver
// --listen on a Unix socket under the environment root, or on a loopback
// port), molvane-host processes driven line by line: open results that
// keep the WAL bounded, statements longer than the server's limits, a
// delayed-lock conflict between hosts (201), a host killed in the middle
// of a transaction that leaves neither locks nor rows, clients that never
// read or stop reading, hosts of another table layout, the server's bounds
// on connections, memory and requests, and who it serves. A load of forked
// hosts that increment hot rows and insert rows ends with every row equal
// to what was committed. Drivers that would split the locks (a child
// driver or a second server on the served file) are refused. Locks and
// waits between hosts are in host_server_locks_test.cc.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/dd.h>
#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_detail.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/zdb_errors.h"
#include "host_server.h"

namespace {

using molvane::test::Address;
using molvane::test::Admission;
using molvane::test::ConnectsOnceStarted;
using molvane::test::CpuMs;
using molvane::test::CpuProgress;
using molvane::test::Dial;
using molvane::test::DialSilent;
using molvane::test::DialWithSession;
using molvane::test::EndsWithin;
using molvane::test::FreePort;
using molvane::test::HostServer;
using molvane::test::kVersionRequest;
using molvane::test::Process;
using molvane::test::Proxy;
using molvane::test::ReadAll;
using molvane::test::Reap;
using molvane::test::RssKiB;
using molvane::test::SendUnfinished;

const char kSales[] = "exdep010001: Refcntd=0 Refcntu=0 budget=";
// A commit refused for a row another host holds, and which update it was.
const std::string kLocked = "error 520 (buffered update failed): the update of exdep010001 failed "
                            "with error 107 (record locked): ";

// A result left open keeps no snapshot for long: once it has been open for
// longer than the open-result limit, or the WAL has grown past
// --wal-spill-mib, it moves its rest to a temporary file, so that another
// host's commits reuse the WAL instead of growing it; its rows stay those
// its Exec saw. A WAL that a reader let grow (a reader under neither
// bound) is cut back once the reader has ended.
TEST_P(HostServer, OpenResultDoesNotLetTheWalGrow) {
  constexpr std::uintmax_t kWalCut = 4 << 20;  // what a WAL is cut back to at most
  const std::string wal = root_.path() + "/main.db-wal";
  const std::string query = "SELECT code, budget FROM exdep010";
  struct Case {
    std::vector<std::string> options;
    bool spills;
  };
  const Case cases[] = {{{"--open-result-limit=1"}, true},
                        {{"--wal-spill-mib=1"}, true},
                        // Kept open as long as the commits take, however
                        // long that is on a loaded machine.
                        {{"--wal-spill-mib=1000", "--open-result-limit=100000"}, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options[0]);
    Restart(c.options);
    auto a = Host();
    if (&c == cases) {
      for (int i = 0; i < 20; ++i)
        ASSERT_EQ(a->Do("insert exdep010 1 code=D" + std::to_string(i) + " budget=7"), "buffered insert on exdep010001");
      ASSERT_EQ(a->Do("commit"), "committed");
    }
    std::vector<std::string> before, after;
    ASSERT_TRUE(a->Send("sql run 1 " + query));
    EXPECT_EQ(Result(*a, &before), "(21 rows)");
    EXPECT_EQ(a->Do("sql prepare q " + query), "prepared q: select");
    EXPECT_EQ(a->Do("sql rows q 1"), "rows per fetch q 1");
    EXPECT_EQ(a->Do("sql exec q 1"), "executed q");
    ASSERT_TRUE(a->Send("sql fetch q 1"));
    EXPECT_EQ(Result(*a, &after), "(1 row)");
    usleep(1500000);
    const std::uintmax_t largest = LargestWalWhileCommitting(wal);
    if (c.spills)
      EXPECT_LT(largest, 8u << 20);
    else
      EXPECT_GT(largest, 12u << 20);
    ASSERT_TRUE(a->Send("sql fetch q"));
    EXPECT_EQ(Result(*a, &after), "(20 rows)");
    EXPECT_EQ(after, before) << "the rows of the open result are not those its Exec saw";
    std::uintmax_t size = 0;
    for (int i = 0; i < 100 && (size = std::filesystem::file_size(wal)) > kWalCut; ++i)
      usleep(50000);
    EXPECT_LE(size, kWalCut) << "the WAL was not cut back";
  }
}

// Statements that run for seconds, longer than the server's open-result
// and idle limits, answer exactly, inside a write transaction too: the
// server's upkeep waits for the end of a request before it spills a result
// or counts the client idle, and the commit after them goes through.
TEST_P(HostServer, StatementsLongerThanTheServersLimitsAnswerExactly) {
  constexpr int kRows = 130;  // some 2.2 million triples: seconds of work
  Restart({"--open-result-limit=1", "--idle-transaction-limit=1"});
  Fill(kRows);
  // The budgets: SALES 1, Q<i> i, and NEW (inserted inside the
  // transaction) 2.
  std::vector<int> budgets{1, 2};
  for (int i = 0; i < kRows; ++i) budgets.push_back(i);
  auto triples = [&](int sum) {
    int n = 0;
    for (int x : budgets)
      for (int y : budgets)
        for (int z : budgets) n += x + y + z == sum;
    return n;
  };
  const std::string from = " FROM exdep010 x, exdep010 y, exdep010 z WHERE x.budget + y.budget + z.budget = ";
  auto a = Host();
  // The answers take as long as the server's work: on a loaded machine,
  // far longer than on an idle one.
  a->WaitWhile(CpuProgress({server_->pid(), a->pid()}));
  EXPECT_EQ(a->Do("insert exdep010 1 code=NEW budget=2"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  // A count whose only step takes seconds.
  std::vector<std::string> rows;
  ASSERT_TRUE(a->Send("sql run 1 SELECT COUNT(*) :n" + from + "30"));
  EXPECT_EQ(Result(*a, &rows), "(1 row)");
  EXPECT_EQ(rows, std::vector<std::string>{std::to_string(triples(30))});
  // A result whose rows come slowly, fetched in requests of seconds.
  EXPECT_EQ(a->Do("sql prepare q SELECT x.code" + from + "150"), "prepared q: select");
  EXPECT_EQ(a->Do("sql rows q 2000"), "rows per fetch q 2000");
  EXPECT_EQ(a->Do("sql exec q 1"), "executed q");
  ASSERT_TRUE(a->Send("sql fetch q"));
  EXPECT_EQ(Result(*a), "(" + std::to_string(triples(150)) + " rows)");
  // An UPDATE whose condition takes seconds.
  EXPECT_EQ(a->Do("sql run 1 UPDATE exdep010 SET name = 'slow' WHERE (SELECT COUNT(*) FROM exdep010 y, "
                  "exdep010 z WHERE y.budget + z.budget = exdep010.budget - 1000) = 0"),
            std::to_string(budgets.size()) + " rows updated");
  EXPECT_EQ(a->Do("commit"), "committed");
  auto b = Host();
  rows.clear();
  ASSERT_TRUE(b->Send("sql run 1 SELECT COUNT(*) :n FROM exdep010 WHERE name = 'slow'"));
  EXPECT_EQ(Result(*b, &rows), "(1 row)");
  EXPECT_EQ(rows, std::vector<std::string>{std::to_string(budgets.size())});
}

// A failed SQL UPDATE leaves nothing of its own in the transaction it
// joined: after the commit, the row it changed before it failed reads as
// it was, beside what the transaction changed before it. An UPDATE that
// times out as the first write of its transaction took no earlier work
// with it: the transaction goes on, and an insert and the commit after it
// go through.
TEST_P(HostServer, FailedStatementsLeaveTheirTransactionWhole) {
  auto a = Host(), b = Host();
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR budget=5"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("insert exdep010 1 code=FIN budget=3"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(a->Do("update exdep010 1 code=FIN budget=6"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  // SALES (the first row) is changed before the scalar subquery, first
  // asked for the next row, gives more than one row.
  const std::string failed = a->Do("sql run 1 UPDATE exdep010 SET budget = 9 WHERE code = 'SALES' OR "
                                   "budget = (SELECT budget FROM exdep010 WHERE budget > 0)");
  EXPECT_EQ(failed.rfind("error 310 ", 0), 0u) << failed;
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_NE(b->Do("read exdep010 1 code=SALES").find("budget=1.00 "), std::string::npos);
  EXPECT_NE(b->Do("read exdep010 1 code=FIN").find("budget=6.00 "), std::string::npos);
  EXPECT_NE(b->Do("read exdep010 1 code=HR").find("budget=5.00 "), std::string::npos);
  EXPECT_EQ(b->Do("commit"), "committed");

  Fill(300);
  EXPECT_EQ(a->Do("sql prepare u UPDATE exdep010 SET budget = 7 WHERE NOT EXISTS (SELECT x.code FROM exdep010 x, "
                  "exdep010 y, exdep010 z WHERE x.budget + y.budget + z.budget < 0)"),
            "prepared u: update");
  EXPECT_EQ(a->Do("sql timeout u 1"), "timeout u 1");
  const std::string timed_out = a->Do("sql exec u 1");
  EXPECT_EQ(timed_out.rfind("error 313 ", 0), 0u) << timed_out;
  EXPECT_EQ(a->Do("insert exdep010 1 code=IT budget=4"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_NE(b->Do("read exdep010 1 code=IT").find("budget=4.00 "), std::string::npos);
  EXPECT_NE(b->Do("read exdep010 1 code=SALES").find("budget=1.00 "), std::string::npos);
}

// A 107 after a wait on a driver server names the other host's session as
// the holder, also while the program has another transaction on the same table (which
// the server never makes it wait for), and says how long it waited.
TEST_P(HostServer, RefusalAfterAWaitNamesAnotherHostBesideTheProgramsOwnTransaction) {
  Restart({"--lock-wait-ms=500"});
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(b->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(b->Do("start u"), "transaction u id 2");
  const std::string refused = b->Do("lockread exdep010 1 code=SALES");
  // The whole text; the time waited in tenths of a second.
  const std::string head = "error 107 (record locked): Record is locked: db_eq(locked) of exdep010001, key code = "
                           "SALES, was refused after waiting ";
  // Over a Unix socket the server knows the holder's process; over TCP only
  // that it is another host.
  const std::string holder = GetParam() ? "another host" : "process " + std::to_string(a->pid());
  const std::string tail = " s (the driver server's --lock-wait-ms): on driver server msqlite, session 1 (\"t\") of " +
                           holder + " holds the row; try again once that host has ended its transaction";
  const bool framed = refused.size() > head.size() + tail.size() && refused.rfind(head, 0) == 0 &&
                      refused.compare(refused.size() - tail.size(), tail.size(), tail) == 0;
  const std::string waited = framed ? refused.substr(head.size(), refused.size() - head.size() - tail.size()) : "";
  EXPECT_TRUE(framed && waited.size() >= 3 && waited[waited.size() - 2] == '.' &&
              waited.find_first_not_of("0123456789.") == std::string::npos)
      << refused;
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(b->Do("commit"), "committed");
}

// A session that writes beside its own open results moves their rest to
// files in the folder TMPDIR names, not into the server's memory: the
// server stays small, and each result still gives exactly its rows.
TEST_P(HostServer, WritingBesideOpenResultsKeepsTheirRestOutOfMemory) {
  constexpr int kRows = 400;  // 160,000 rows in each result
  const std::string temp = root_.path() + "/spill";
  std::filesystem::create_directory(temp);
  setenv("TMPDIR", temp.c_str(), 1);
  Restart({});
  unsetenv("TMPDIR");
  Fill(kRows - 1);
  const long before = RssKiB(server_->pid());
  std::vector<std::unique_ptr<Process>> hosts;
  for (int h = 0; h < 2; ++h) {
    auto &host = hosts.emplace_back(Host());
    EXPECT_EQ(host->Do("sql prepare q SELECT x.code, y.code, x.name, y.name FROM exdep010 x, exdep010 y"),
              "prepared q: select");
    EXPECT_EQ(host->Do("sql exec q 1"), "executed q");
    ASSERT_TRUE(host->Send("sql fetch q 1"));
    EXPECT_EQ(Result(*host), "(1 row)");
    EXPECT_EQ(host->Do("insert exdep010 1 code=H" + std::to_string(h)), "buffered insert on exdep010001");
  }
  // Each write waits for the other's transaction; one at a time.
  EXPECT_EQ(hosts[0]->Do("flush"), "flushed");
  const long grown = RssKiB(server_->pid()) - before;
  std::size_t in_files = 0;
  for (const auto &fd : std::filesystem::directory_iterator("/proc/" + std::to_string(server_->pid()) + "/fd")) {
    std::error_code error;
    in_files += std::filesystem::read_symlink(fd.path(), error).string().rfind(temp + "/", 0) == 0;
  }
  EXPECT_EQ(hosts[0]->Do("commit"), "committed");
  EXPECT_EQ(hosts[1]->Do("flush"), "flushed");
  EXPECT_EQ(hosts[1]->Do("commit"), "committed");
  EXPECT_EQ(in_files, 1u) << "spill files in " << temp;
  std::size_t bytes = 0;
  for (auto &host : hosts) {
    ASSERT_TRUE(host->Send("sql fetch q"));
    EXPECT_EQ(Result(*host, nullptr, &bytes), "(" + std::to_string(kRows * kRows - 1) + " rows)");
  }
  // The rows as text take about what they take encoded.
  EXPECT_LT(grown * 1024, static_cast<long>(bytes / 4)) << "KiB the server grew by for " << bytes << " bytes of rows";
}

TEST_P(HostServer, DelayedLockConflictBetweenHostsIs201) {
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=2"), "buffered update on exdep010001");
  EXPECT_EQ(b->Do("update exdep010 1 code=SALES budget=3"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_NE(b->Do("commit").find("failed with error 201"), std::string::npos);
  EXPECT_EQ(b->Do("abort"), "aborted");
  EXPECT_NE(b->Do("read exdep010 1 code=SALES").find("budget=2.00 "), std::string::npos);
}

TEST_P(HostServer, KilledHostLeavesNoLocksNorRowsAndTheServerGoesOn) {
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(a->Do("insert exdep010 1 code=GHOST"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  a->Kill();
  // The server sees the connection end, rolls back and releases the lock.
  std::string row;
  for (int i = 0; i < 100 && row.rfind(kSales, 0) != 0; ++i) {
    row = b->Do("lockread exdep010 1 code=SALES");
    if (row.rfind(kSales, 0) != 0) usleep(20000);
  }
  EXPECT_EQ(row.rfind(kSales, 0), 0u);
  EXPECT_EQ(b->Do("read exdep010 1 code=GHOST"),
            "error 111 (no record found): No record found in exdep010001 (db_eq on index 1, key code = GHOST)");
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(b->Do("table count exdep010 1"), "exdep010001: 2 rows");

  // A child driver of another host on the served file is refused, and the
  // host is told which server to reach; so is a second server.
  root_.WriteFile("lib/ipc_info", "msqlite child " + Driver() + " ${ZUV}/main.db\n");
  auto c = Host();
  EXPECT_EQ(c->Do("read exdep010 1 code=SALES"),
            "error 215 (illegal state): database '" + root_.path() +
                "/main.db' is served by the driver server 'molvane-driver --listen=" + listen_ +
                "'; reach it with a unix or tcp line in lib/ipc_info");
  Process second({Driver(), "--listen=" + root_.path() + "/second.sock", root_.path() + "/main.db"});
  EXPECT_EQ(second.Stop(0), 1);
}

// A client that sends requests and never reads is no longer read once its
// unsent replies pile up: its own sends then stop, the server holds a
// bounded amount for it and serves other hosts; when the client reads at
// last, 12 s later, every whole request it sent is answered (its whole
// requests wait for it, not it for them), also when it has ended its
// sending side meanwhile.
TEST_P(HostServer, ClientThatNeverReadsIsHeldBackAndLaterAnsweredInFull) {
  if (GetParam()) GTEST_SKIP() << "shown over a Unix socket, whose buffers do not grow";
  // EXE_SYSTEM 9 with information code 1: the driver's version text.
  const char request[] = {7, 0, 0, 0, 9, 0, 4, 0, 0, 0, 1};
  std::string batch;
  for (int i = 0; i < 4096; ++i) batch.append(request, sizeof request);
  struct Client {
    bool half_closed;
    int fd = -1;
    std::size_t sent = 0;
  } clients[] = {{false}, {true}};
  for (Client &c : clients) {
    c.fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    Address addr(listen_);
    ASSERT_EQ(connect(c.fd, addr.get(), addr.size), 0);
    ASSERT_EQ(Admission(c.fd), "ok");
    constexpr std::size_t kCap = 32u << 20;
    bool blocked = false;
    while (c.sent < kCap && !blocked) {
      std::size_t at = c.sent % batch.size();
      ssize_t n = send(c.fd, batch.data() + at, batch.size() - at, MSG_NOSIGNAL);
      if (n > 0) {
        c.sent += static_cast<std::size_t>(n);
        continue;
      }
      pollfd p{c.fd, POLLOUT, 0};
      blocked = poll(&p, 1, 2000) == 0;
    }
    EXPECT_TRUE(blocked) << c.sent << " request bytes taken from a client that reads nothing";
    // A request cut off at the end is never answered: the rest never comes.
    if (c.half_closed) {
      ASSERT_EQ(shutdown(c.fd, SHUT_WR), 0);
    }
  }
  auto a = Host();
  EXPECT_EQ(a->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  usleep(12000000);

  for (Client &c : clients) {
    std::string got;
    std::size_t expected = 0;
    char buf[1 << 16];
    for (bool more = true; more && (expected == 0 || got.size() < expected);) {
      pollfd p{c.fd, POLLIN, 0};
      ssize_t n = poll(&p, 1, 5000) == 1 ? read(c.fd, buf, sizeof buf) : 0;
      more = n > 0;
      if (more) got.append(buf, static_cast<std::size_t>(n));
      if (expected == 0 && got.size() >= 2)
        expected = (c.sent / sizeof request) *
                   (2 + (static_cast<unsigned char>(got[0]) << 8 | static_cast<unsigned char>(got[1])) + 4);
    }
    EXPECT_EQ(got.size(), expected) << (c.half_closed ? "half closed" : "still sending");
    EXPECT_EQ(got.substr(2, 15), "msqlite SQLite ");
    if (c.half_closed) {
      EXPECT_TRUE(EndsWithin(c.fd, 5000) && read(c.fd, buf, 1) == 0) << "the end after the answers";
    }
    close(c.fd);
  }
  EXPECT_EQ(a->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
}

// A client that stops reading its answers and goes on sending requests
// holds nobody up: once its unread answers reach the server's bound, its
// whole requests wait for it to read and it counts as quiet. Its write
// transaction is rolled back after ten times the idle limit (as any whose
// last answer is unread) and its open result spills as others' do, so
// another host writes again and the WAL stays bounded.
TEST_P(HostServer, ClientThatStopsReadingIsQuietForTheLimits) {
  if (GetParam()) GTEST_SKIP() << "shown over a Unix socket, whose buffers do not grow";
  setenv("ZUV_LOG", (root_.path() + "/log").c_str(), 1);
  Restart({"--idle-transaction-limit=1", "--wal-spill-mib=1"});
  const std::string wal = root_.path() + "/main.db-wal";
  std::string versions;
  for (int i = 0; i < 4096; ++i) versions.append(kVersionRequest, sizeof kVersionRequest);
  // A host through a proxy that stops reading for it.
  auto stalled = [&](const std::string &name, Proxy **proxy) {
    root_.WriteFile("lib/ipc_info", "msqlite unix " + name + "\n");
    *proxy = new Proxy(root_.path() + "/" + name, listen_, "");
    auto host = Host();
    EXPECT_EQ(host->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);  // attached through the proxy
    root_.WriteFile("lib/ipc_info", "msqlite unix run.sock\n");
    return host;
  };
  Proxy *raw = nullptr;
  auto a = stalled("a.sock", &raw);
  std::unique_ptr<Proxy> a_proxy(raw);
  for (int i = 0; i < 20; ++i)
    ASSERT_EQ(a->Do("insert exdep010 1 code=D" + std::to_string(i) + " budget=7"), "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(a->Do("sql prepare q SELECT code, budget FROM exdep010"), "prepared q: select");
  EXPECT_EQ(a->Do("sql rows q 1"), "rows per fetch q 1");
  EXPECT_EQ(a->Do("sql exec q 1"), "executed q");
  ASSERT_TRUE(a->Send("sql fetch q 1"));
  EXPECT_EQ(Result(*a), "(1 row)");
  EXPECT_GT(a_proxy->StopReading(versions), versions.size());
  // Another host's commits: a's open result spills, and the WAL stays
  // bounded.
  EXPECT_LT(LargestWalWhileCommitting(wal), 8u << 20) << "the open result of a client that stopped reading did not spill";

  // A client that stops reading while it holds the write transaction.
  auto c = stalled("c.sock", &raw);
  std::unique_ptr<Proxy> c_proxy(raw);
  EXPECT_EQ(c->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(c->Do("flush"), "flushed");
  EXPECT_GT(c_proxy->StopReading(versions), versions.size());
  // The server took no more of its requests for 2 s, twice the idle limit:
  // it still holds the write transaction, which the next commit waits for
  // (2 s) in vain.
  auto b = Host();
  std::string commit;
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; commit != "committed" && std::chrono::steady_clock::now() - start < std::chrono::seconds(30);
       ++round) {
    ASSERT_EQ(b->Do("insert exdep010 1 code=IT"), "buffered insert on exdep010001");
    commit = b->Do("commit");
    if (round == 0) {
      EXPECT_NE(commit, "committed") << "rolled back after the idle limit, not ten times it";
    }
    if (commit != "committed") {
      EXPECT_EQ(commit.rfind(kLocked, 0), 0u) << commit;
      EXPECT_EQ(b->Do("abort"), "aborted");
      usleep(500000);
    }
  }
  EXPECT_EQ(commit, "committed") << "the write transaction of a client that stopped reading was never rolled back";
  EXPECT_EQ(b->Do("read exdep010 1 code=HR").rfind("error 111", 0), 0u);
  const std::string log = root_.ReadFile("log/molvane-driver.log");
  EXPECT_NE(log.find(" (t): its last answer unread for more than 10 s while it held the database"), std::string::npos)
      << log;
  a->Kill();
  c->Kill();
}

const char kOtherLayout[] =
    "error 215 (illegal state): exdep010: this host's dictionary has column floor after code; the "
    "database's table has none; ALTER_TABLE is not supported";

// A host whose dictionary has another layout of a table than the served
// file is refused at the table's first use, with the difference, for reads
// and writes alike; it never sees a row through its own offsets, and the
// hosts of the file's layout go on.
TEST_P(HostServer, AHostWithAnotherLayoutOfATableIsRefusedWithTheDifference) {
  auto a = Host();
  const std::string folder = NewDictionary();
  setenv("F_ZRDD", folder.c_str(), 1);
  auto b = Host();
  setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
  EXPECT_EQ(b->Do("read exdep010 1 code=SALES"), kOtherLayout);
  EXPECT_EQ(b->Do("insert exdep010 1 code=NEW floor=3"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("commit"), kOtherLayout);
  EXPECT_EQ(b->Do("abort"), "aborted");
  // A query gets no row, then the error.
  EXPECT_EQ(b->Do("sql run 1 SELECT code, floor FROM exdep010"), "exdep010.code  exdep010.floor");
  EXPECT_EQ(b->Line(), "-------------  --------------");
  EXPECT_EQ(b->Line(), "(0 rows)");
  const std::string sql = b->Line();
  EXPECT_NE(sql.find("ALTER_TABLE is not supported"), std::string::npos) << sql;
  EXPECT_EQ(a->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(a->Do("read exdep010 1 code=NEW").rfind("error 111 ", 0), 0u);
  EXPECT_EQ(a->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(a->Do("table count exdep010 1"), "exdep010001: 2 rows");
}

// A client that sends a second description of a table with another key
// layout (the key column as an array) after a keyed read made the table's
// rows: the description is refused, the connection's later read is served
// in the layout it held, and another host's work goes on meanwhile.
TEST_P(HostServer, ASecondDescriptionOfAnotherLayoutFromOneClientChangesNothing) {
  auto a = Host();
  std::ifstream file(molvane::test::FixturePath("../fuzz/crashes/driver_requests/second-dictionary-of-another-layout"),
                     std::ios::binary);
  const std::string requests((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // ATT_SESSION (6 bytes), then two descriptions (226 bytes each) and two
  // keyed reads (27 and 28 bytes), each with its session id after its code.
  ASSERT_EQ(requests.size(), 6u + 2 * 226 + 27 + 28);
  int fd = Dial(listen_, root_.path() + "/main.db.secret");
  ASSERT_GE(fd, 0);
  // The session first: the server numbers the sessions of all its clients.
  ASSERT_EQ(send(fd, requests.data(), 6, MSG_NOSIGNAL), 6);
  std::string session(8, '\0');
  for (std::size_t have = 0; have < 8;) {
    pollfd p{fd, POLLIN, 0};
    ssize_t n = poll(&p, 1, 3000) == 1 ? read(fd, session.data() + have, 8 - have) : 0;
    ASSERT_GT(n, 0);
    have += static_cast<std::size_t>(n);
  }
  std::string rest = requests.substr(6);
  for (std::size_t at : {0u, 226u, 226u + 27, 2 * 226u + 27}) rest.replace(at + 1, 4, session.substr(0, 4));
  ASSERT_EQ(send(fd, rest.data(), rest.size(), MSG_NOSIGNAL), static_cast<ssize_t>(rest.size()));
  // Replies: ATT_SESSION (id, retval), DD_INFO_TABLE (retval), EXE_ROW_CNTR
  // (row length, row, retval) twice each.
  std::string got = session;
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    ssize_t n = poll(&p, 1, 3000) == 1 ? read(fd, buf, sizeof buf) : 0;
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
    if (got.find("SALES ") != std::string::npos && got.size() >= got.find("SALES ") + 35) break;
  }
  std::size_t at = 0;
  auto u32 = [&](int bytes = 4) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i, ++at)
      v = v << 8 | (at < got.size() ? static_cast<unsigned char>(got[at]) : 0xFF);
    return v;
  };
  auto row = [&](std::string *image) {
    std::size_t n = u32(2);
    *image = got.substr(std::min(at, got.size()), n);
    at += n;
    return u32();
  };
  std::string first, second;
  u32();
  u32();  // 519 while the connection sent no company mapping
  EXPECT_EQ(u32(), 0u) << "the first description is the table's";
  EXPECT_EQ(row(&first), static_cast<std::uint32_t>(ZE_ILLEGAL_ARGUMENT)) << "a key of 5 bytes";
  EXPECT_EQ(u32(), static_cast<std::uint32_t>(ZE_ILLEGAL_STATE)) << "the second description";
  EXPECT_EQ(row(&second), 0u);
  EXPECT_EQ(second.size(), 47u) << "the row in the layout the connection holds";
  EXPECT_EQ(second.substr(16, 6), "SALES ");
  EXPECT_EQ(at, got.size());
  close(fd);
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=4"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=4.00 "), std::string::npos);
}

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
  EXPECT_NE(root_.ReadFile("log/molvane-driver.log")
                .find("connection ended: its requests and open results would take the memory held for all "
                      "connections past 2 MiB"),
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
// before opens another session. Once descriptors are free again new hosts
// are served.
TEST_P(HostServer, OutOfDescriptorsTheServerRefusesNewHostsWithoutSpinning) {
  auto served = Host();
  EXPECT_EQ(served->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  const std::string limit = "prlimit --pid " + std::to_string(server_->pid()) + " --nofile=32:32";
  ASSERT_EQ(std::system(limit.c_str()), 0);
  // Each connection asks something, so that none is ended as idle; one
  // the server has refused already may take the request no more.
  std::vector<int> fds;
  for (int i = 0; i < 40; ++i) {
    int fd = Dial(listen_, root_.path() + "/main.db.secret", false);
    if (fd < 0) continue;
    fds.push_back(fd);
    (void)!send(fd, kVersionRequest, sizeof kVersionRequest, MSG_NOSIGNAL);
  }
  usleep(500000);
  const long before = CpuMs(server_->pid());
  usleep(3000000);
  EXPECT_LT(CpuMs(server_->pid()) - before, 600) << "ms of CPU in 3 s with no descriptor left";
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
    // done with the last request long before its answers have left.
    std::string got;
    char buf[4096];
    for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
      const ssize_t n = read(fd, buf, sizeof buf);
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

// One host's long query holds up no other host: another attaches, reads a
// row by its key and commits while it runs. A host that is killed takes
// its query with it, over TCP as over a Unix socket; SIGTERM ends a
// running query and the server at once.
TEST_P(HostServer, LongQueryOfOneHostHoldsUpNoOtherAndEndsWithItsHost) {
  auto setup = Host();
  for (int i = 0; i < 300; ++i)
    ASSERT_EQ(setup->Do("insert exdep010 1 code=Q" + std::to_string(i) + " budget=" + std::to_string(i)),
              "buffered insert on exdep010001");
  ASSERT_EQ(setup->Do("commit"), "committed");
  auto a = Host();
  // 27 million rows through an arithmetic condition.
  ASSERT_TRUE(a->Send("sql run 1 SELECT COUNT(*) :n FROM exdep010 x, exdep010 y, exdep010 z "
                      "WHERE x.budget + y.budget + z.budget < 0"));
  usleep(1000000);
  const auto start = std::chrono::steady_clock::now();
  auto b = Host();
  EXPECT_EQ(b->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(a->HasOutput()) << "the query ended too soon to show anything";
  a->Kill();
  usleep(1500000);
  const long cpu = CpuMs(server_->pid());
  usleep(2000000);
  EXPECT_LT(CpuMs(server_->pid()) - cpu, 100) << "ms of CPU in 2 s: the killed host's query still runs";
  EXPECT_EQ(b->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  // SIGTERM ends a running query and the server at once.
  ASSERT_TRUE(b->Send("sql run 1 SELECT COUNT(*) :n FROM exdep010 x, exdep010 y, exdep010 z "
                      "WHERE x.budget + y.budget + z.budget < 0"));
  usleep(1000000);
  const auto stop = std::chrono::steady_clock::now();
  EXPECT_EQ(server_->Stop(SIGTERM), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(3));
  server_.reset();
}

// A lock promised is kept while another host's SQL UPDATE runs for
// seconds (letting other hosts go first as it steps): a locked read of a
// row it has yet to reach is refused at once, or else the UPDATE fails;
// never do both succeed. The host's plain read is answered at once.
TEST_P(HostServer, LockedReadDuringAnotherHostsLongUpdateIsRefusedOrTheUpdateFails) {
  auto setup = Host();
  for (int i = 0; i < 300; ++i)
    ASSERT_EQ(setup->Do("insert exdep010 1 code=Q" + std::to_string(i) + " budget=" + std::to_string(i)),
              "buffered insert on exdep010001");
  ASSERT_EQ(setup->Do("commit"), "committed");
  auto a = Host(), b = Host();
  // Every row, after a condition that takes seconds to find true (2.7
  // million rows through an arithmetic condition).
  ASSERT_TRUE(a->Send("sql run 1 UPDATE exdep010 SET budget = 7 WHERE NOT EXISTS "
                      "(SELECT x.code FROM exdep010 x, exdep010 y, exdep010 z "
                      "WHERE x.budget < 30 AND x.budget + y.budget + z.budget < 0)"));
  usleep(1000000);
  const std::string plain = b->Do("read exdep010 1 code=Q299");
  EXPECT_NE(plain.find("budget=299.00 "), std::string::npos) << plain;
  const std::string locked = b->Do("lockread exdep010 1 code=Q299");
  const bool running = !a->HasOutput();
  const std::string updated = a->Line();
  EXPECT_TRUE(running) << "the UPDATE ended too soon to show anything: " << updated;
  const bool granted = locked.rfind("exdep010001: ", 0) == 0;
  const bool changed = updated == "301 rows updated";
  EXPECT_FALSE(granted && changed) << locked << " / " << updated;
  EXPECT_TRUE(granted || locked.rfind("error 107 (record locked)", 0) == 0) << locked;
  if (changed) {
    EXPECT_EQ(a->Do("commit"), "committed");
  }
  EXPECT_EQ(b->Do("commit"), "committed");
  const std::string row = b->Do("read exdep010 1 code=Q299");
  EXPECT_NE(row.find(changed ? "budget=7.00 " : "budget=299.00 "), std::string::npos) << row;
}

// A table made inside one host's open write transaction locks no other
// host out: another host's plain read of it, and its count, answer at once
// that it holds no row; once the first host committed, the other reads
// its rows and writes its own.
TEST_P(HostServer, TableMadeInsideAnotherHostsTransactionIsReadAtOnce) {
  const std::string none = "error 111 (no record found): No record found in exemp010001 (db_eq on index 1, key emp = ";
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("insert exdep010 1 code=D"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  EXPECT_EQ(a->Do("read exemp010 1 emp=1"), none + "1)");  // its table is made inside the transaction
  EXPECT_EQ(a->Do("insert exemp010 1 emp=1 dept=D dcas=D dnul=D drst=D"), "buffered insert on exemp010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  // At once: a read that waited for a's write transaction (never ended
  // meanwhile) would be refused after its bound.
  EXPECT_EQ(b->Do("read exemp010 1 emp=1"), none + "1)");
  EXPECT_EQ(b->Do("table count exemp010 1"), "exemp010001: 0 rows");
  // So do SQL queries, also beside a table that has rows.
  const std::string query = "sql run 1 SELECT e.emp, d.code FROM exemp010 e, exdep010 d WHERE e.dept = d.code";
  ASSERT_TRUE(b->Send(query));
  EXPECT_EQ(Result(*b), "(0 rows)");
  ASSERT_TRUE(b->Send("sql run 1 SELECT COUNT(*) :n FROM exemp010"));
  std::vector<std::string> count;
  EXPECT_EQ(Result(*b, &count), "(1 row)");
  EXPECT_EQ(count, std::vector<std::string>{"0"});
  EXPECT_EQ(a->Do("commit"), "committed");
  ASSERT_TRUE(b->Send(query));
  EXPECT_EQ(Result(*b), "(1 row)");
  EXPECT_EQ(b->Do("read exemp010 1 emp=1").rfind("exemp010001: ", 0), 0u);
  EXPECT_EQ(b->Do("insert exemp010 1 emp=2 dept=D dcas=D dnul=D drst=D"), "buffered insert on exemp010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(a->Do("table count exemp010 1"), "exemp010001: 2 rows");
}

// A dictionary that arrives inside a write transaction has its table
// created there; the abort removes the table, and the driver creates it
// again, so that every host still finds the table it holds a dictionary of.
TEST_P(HostServer, TableOfADictionaryThatArrivedInAnAbortedTransactionStays) {
  const std::string none = "error 111 (no record found): No record found in ";
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  EXPECT_EQ(a->Do("read exemp010 1 emp=1"), none + "exemp010001 (db_eq on index 1, key emp = 1)");
  EXPECT_EQ(a->Do("abort"), "aborted");
  EXPECT_EQ(b->Do("read exemp010 1 emp=1"), none + "exemp010001 (db_eq on index 1, key emp = 1)");
  EXPECT_EQ(b->Do("read exdep010 1 code=HR"), none + "exdep010001 (db_eq on index 1, key code = HR)");
}

// Runs `count` hosts in forked processes, host i as body(i, report) with a
// pipe to report on, and returns what they reported once each has ended;
// each must end with status 0 within `ms`.
std::string RunForkedHosts(int count, const std::function<int(int, int)> &body, int ms) {
  std::vector<pid_t> pids;
  std::vector<int> reports;
  for (int i = 0; i < count; ++i) {
    int fds[2];
    if (pipe(fds) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      break;
    }
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      std::exit(body(i, fds[1]));
    }
    close(fds[1]);
    pids.push_back(pid);
    reports.push_back(fds[0]);
  }
  std::string text;
  for (int fd : reports) {
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    close(fd);
  }
  for (pid_t pid : pids) EXPECT_EQ(Reap(pid, ms), 0) << "a host failed or hung";
  return text;
}

// Hosts in forked processes take locked reads of three hot rows and add 1
// to their salary, insert rows of their own, and abort every fourth
// transaction; conflicts are retried. Each reports what it committed and
// what it aborted on a pipe.
constexpr int kHosts = 4;
constexpr int kRounds = 40;
constexpr int kHot = 3;

void SetEmp(const DD_TABLE *table, unsigned char *row, int emp) {
  fill_default_row(table, row);
  DD_COLUMN *e = ddcolumn("exemp010.emp");
  for (int i = 0; i < 4; ++i) row[e->offset + e->length - 1 - i] = static_cast<unsigned char>(emp >> (8 * i));
}

int LoadHost(int index, int report) {
  int trans = 0;
  ZDB_CURSOR *cursor = nullptr;
  static unsigned char row[DD_MAX_ROW_LENGTH];
  // The rows of this test refer to no department: it is about locks, so
  // the load hosts write with references off.
  zdb_disable_references();
  if (zdb_init_api("load", nullptr, 0, 0) != 0 || zdb_logon("ann") != 0 ||
      (trans = zdb_start_session("load")) <= 0 || zdb_open(&cursor, "exemp010", 1, row, 0, trans) != 0)
    return 1;
  const DD_TABLE *table = ddtable("exemp010");
  const DD_COLUMN *salary = ddcolumn("exemp010.salary");
  for (int r = 0; r < kRounds; ++r) {
    int hot = 1 + (index + r) % kHot;
    int insert = 1000 * (index + 1) + r;
    SetEmp(table, row, hot);
    bool ok = zdb_exec_row(cursor, db_eq_locked, 0, 1) == 0 && zdb_exec_row(cursor, db_eq_delayed, 0, 1) == 0;
    if (ok) {
      float_in(float_out(row + salary->offset) + 1, row + salary->offset);
      ok = zdb_exec_row(cursor, db_update_51, 0, 1) == 0;
    }
    if (ok && r % 3 == 0) {
      SetEmp(table, row, insert);
      ok = zdb_exec_row(cursor, db_insert_51, 0, 1) == 0;
    }
    bool commit = ok && r % 4 != 3;
    if (commit && zdb_exec_db(commit_trans, trans) == 0) {
      dprintf(report, "inc %d\n", hot);
      if (r % 3 == 0) dprintf(report, "ins %d\n", insert);
    } else {
      zdb_exec_db(abort_trans, trans);
      if (r % 3 == 0) dprintf(report, "gone %d\n", insert);
      usleep(1000);
    }
  }
  return zdb_logoff() == 0 ? 0 : 2;
}

TEST_P(HostServer, HotRowIncrementsAndInsertsOfManyHostsEqualWhatWasCommitted) {
  auto setup = Host();
  EXPECT_EQ(setup->Do("table create exemp010 1"), "exemp010001: create_table");
  EXPECT_EQ(setup->Do("insert exdep010 1 code=D"), "buffered insert on exdep010001");
  for (int hot = 1; hot <= kHot; ++hot)
    EXPECT_EQ(setup->Do("insert exemp010 1 emp=" + std::to_string(hot) +
                        " salary=0 dept=D dcas=D dnul=D drst=D"),
              "buffered insert on exemp010001");
  EXPECT_EQ(setup->Do("commit"), "committed");

  const std::string text = RunForkedHosts(kHosts, LoadHost, 60000);

  std::map<int, int> increments;
  std::set<int> inserted, gone;
  std::istringstream lines(text);
  for (std::string what; lines >> what;) {
    int n = 0;
    lines >> n;
    if (what == "inc") ++increments[n];
    if (what == "ins") inserted.insert(n);
    if (what == "gone") gone.insert(n);
  }
  EXPECT_GT(increments.size(), 0u);
  for (int hot = 1; hot <= kHot; ++hot) {
    std::string row = setup->Do("read exemp010 1 emp=" + std::to_string(hot));
    EXPECT_NE(row.find(" salary=" + std::to_string(increments[hot]) + " "), std::string::npos)
        << row << " after " << increments[hot] << " committed increments";
  }
  for (int emp : inserted) EXPECT_EQ(setup->Do("read exemp010 1 emp=" + std::to_string(emp)).rfind("exemp010001: ", 0), 0u);
  for (int emp : gone)
    EXPECT_EQ(setup->Do("read exemp010 1 emp=" + std::to_string(emp)),
              "error 111 (no record found): No record found in exemp010001 (db_eq on index 1, key emp = " +
                  std::to_string(emp) + ")");
  EXPECT_EQ(setup->Do("table count exemp010 1"), "exemp010001: " + std::to_string(kHot + inserted.size()) + " rows");
}

// Hosts of TSS modes 1 and 2, each with its own child driver on one file.
class HostChildDrivers : public molvane::test::HostEnv {
 protected:
  void SetUp() override {
    HostEnv::SetUp();
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    root_.WriteFile("lib/ipc_info", "msqlite child " + Driver() + " ${ZUV}/main.db\n");
  }
  void TearDown() override {
    setenv("TSS_MODE", "1", 1);
  }
  static std::string Driver() { return std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver"; }
  // A logged-on molvane-host of the mode with a transaction started.
  std::unique_ptr<Process> Host(const char *mode) {
    setenv("TSS_MODE", mode, 1);
    auto host = std::make_unique<Process>(std::vector<std::string>{
        std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host", "--zuv", root_.path(), "--script", "-"});
    setenv("TSS_MODE", "1", 1);
    EXPECT_EQ(host->Do("logon demo"), "logged on as demo");
    EXPECT_EQ(host->Do("start t"), "transaction t id 1");
    return host;
  }
  // The single value a query gives (the line before "(1 row)").
  static std::string Value(Process &host, const std::string &query) {
    EXPECT_EQ(host.Do("sql prepare q " + query), "prepared q: select");
    EXPECT_EQ(host.Do("sql exec q 1"), "executed q");
    host.Send("sql fetch q");
    std::string last, line;
    while (!(line = host.Line()).empty() && line[0] != '(') last = line;
    EXPECT_EQ(line, "(1 row)") << query;
    EXPECT_EQ(host.Do("sql close q"), "closed q");
    return last.substr(0, last.find_last_not_of(' ') + 1);
  }
  // Row i: a unique code, and a unique name in mixed case.
  static std::string Row(int i) {
    return "code=C" + std::to_string(1000 + i) + " name=" + Name(i) + " budget=1";
  }
  static std::string Name(int i) { return (i % 2 == 0 ? "a" : "B") + std::to_string(1000 + i * 7 % 120); }
};

// Mode 1 and mode 2 order texts differently ("B..." before "a..." in bytes,
// "a..." before "B..." by letters' weights). Host A of mode 1 inserts rows
// while host B of mode 2 has queried the table on its own driver: every
// row is found by equality (a join of the table with itself over its
// collated key of names) from both hosts, and the integrity check finds the file
// sound with both modes served.
TEST_F(HostChildDrivers, HostsOfBothModesFindEveryRowByEquality) {
  const std::string logs = root_.path() + "/log";
  setenv("ZUV_LOG", logs.c_str(), 1);
  auto a = Host("1");
  ASSERT_EQ(a->Do("table create exdep010 1"), "exdep010001: create_table");
  for (int i = 0; i < 60; ++i)
    ASSERT_EQ(a->Do("insert exdep010 1 " + Row(i)), "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  const std::string pairs = "SELECT count(*) :n FROM exdep010 x, exdep010 y WHERE x.name = y.name";
  auto b = Host("2");
  EXPECT_EQ(Value(*b, pairs), "60");
  // The second host's driver finds the first host's driver on the file:
  // the warning reaches that host's own log, not only the driver's.
  std::ifstream host_log(logs + "/molvane-host.log");
  const std::string logged((std::istreambuf_iterator<char>(host_log)), std::istreambuf_iterator<char>());
  const std::string shared = "driver msqlite: database '" + root_.path() +
                             "/main.db' is in use by the driver of host process " + std::to_string(a->pid()) +
                             " too: row locks do not hold between them; hosts that share a database reach "
                             "one driver server (molvane-driver --listen)";
  EXPECT_NE(logged.find(shared), std::string::npos) << logged;
  EXPECT_EQ(logged.find(shared), logged.rfind(shared)) << "told once: " << logged;
  for (int i = 60; i < 120; ++i) {
    ASSERT_EQ(a->Do("insert exdep010 1 " + Row(i)), "buffered insert on exdep010001");
    if (i % 20 == 0) {
      ASSERT_EQ(b->Do("insert exdep010 1 code=Z" + std::to_string(i) + " name=z" + Name(i)),
                "buffered insert on exdep010001");
    }
  }
  ASSERT_EQ(a->Do("commit"), "committed");
  ASSERT_EQ(b->Do("commit"), "committed");
  for (Process *host : {a.get(), b.get()}) {
    EXPECT_EQ(Value(*host, pairs), "123");
    EXPECT_EQ(Value(*host, "SELECT count(*) :n FROM exdep010 WHERE name = '" + Name(77) + "'"), "1");
    EXPECT_EQ(Value(*host, "SELECT count(*) :n FROM exdep010 WHERE name = 'z" + Name(100) + "'"), "1");
  }
  EXPECT_EQ(a->Do("logoff"), "logged off");
  EXPECT_EQ(b->Do("logoff"), "logged off");
  a.reset();
  b.reset();
  // The file checks sound where a plain SQLite shell could not read it.
  std::string out;
  std::FILE *p = popen((Driver() + " --check " + root_.path() + "/main.db").c_str(), "r");
  char buf[512];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  EXPECT_EQ(pclose(p), 0) << out;
  EXPECT_EQ(out, "TSS modes served: 1 2\nok\n");
  p = popen((Driver() + " --check " + root_.path() + "/none.db 2>&1").c_str(), "r");
  out.clear();
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  EXPECT_EQ(WEXITSTATUS(pclose(p)), 2) << out;
  EXPECT_NE(out.find("cannot open"), std::string::npos) << out;
}

// A child driver whose host is killed during a long statement stops it
// and ends, instead of running it to its end for nobody.
TEST_F(HostChildDrivers, ChildDriverEndsWithItsKilledHost) {
  auto a = Host("1");
  ASSERT_EQ(a->Do("table create exdep010 1"), "exdep010001: create_table");
  for (int i = 0; i < 300; ++i)
    ASSERT_EQ(a->Do("insert exdep010 1 code=Q" + std::to_string(i) + " budget=" + std::to_string(i)),
              "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  ASSERT_TRUE(a->Send("sql run 1 SELECT COUNT(*) :n FROM exdep010 x, exdep010 y, exdep010 z "
                      "WHERE x.budget + y.budget + z.budget < 0"));
  usleep(1000000);
  std::ifstream children("/proc/" + std::to_string(a->pid()) + "/task/" + std::to_string(a->pid()) + "/children");
  pid_t driver = 0;
  children >> driver;
  ASSERT_GT(driver, 0) << "the host's driver";
  EXPECT_FALSE(a->HasOutput()) << "the query ended too soon to show anything";
  // Gone, or a zombie its new parent has not reaped yet.
  auto ended = [driver] {
    std::ifstream stat("/proc/" + std::to_string(driver) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    return text.empty() || text.substr(text.rfind(')') + 2, 1) == "Z";
  };
  EXPECT_FALSE(ended());
  const auto start = std::chrono::steady_clock::now();
  a->Kill();
  while (!ended() && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) usleep(20000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "the driver ran on";
  if (!ended()) kill(driver, SIGKILL);
}

// A server started with --tss-mode=2 from an environment of mode 1 serves
// hosts of mode 2 and compares their texts in mode 2 (in bytes "A2" and
// "B4" sort below "a"; by letters' weights nothing does), and the file
// records the mode it serves.
TEST_F(HostChildDrivers, ServerCollatesInTheModeItIsGiven) {
  const std::string sock = root_.path() + "/run.sock";
  root_.WriteFile("lib/ipc_info", "msqlite unix run.sock\n");
  Process server({Driver(), "--listen=" + sock, root_.path() + "/main.db", "--tss-mode=2"});
  ASSERT_TRUE(ConnectsOnceStarted(sock));
  auto host = Host("2");
  ASSERT_EQ(host->Do("table create exdep010 1"), "exdep010001: create_table");
  int n = 0;
  for (const char *name : {"b1", "A2", "a3", "B4"})
    ASSERT_EQ(host->Do("insert exdep010 1 code=C" + std::to_string(++n) + " name=" + name),
              "buffered insert on exdep010001");
  ASSERT_EQ(host->Do("commit"), "committed");
  EXPECT_EQ(Value(*host, "SELECT count(*) :n FROM exdep010 WHERE name < 'a'"), "0");
  EXPECT_EQ(Value(*host, "SELECT min(name) :n FROM exdep010"), "\"a3\"");
  EXPECT_EQ(host->Do("logoff"), "logged off");
  host.reset();
  EXPECT_EQ(server.Stop(SIGTERM), 0);
  std::string out;
  std::FILE *p = popen((Driver() + " --check " + root_.path() + "/main.db").c_str(), "r");
  char buf[512];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  EXPECT_EQ(pclose(p), 0) << out;
  EXPECT_EQ(out, "TSS modes served: 2\nok\n");
}

// The server widens nobody's access. Its Unix socket is 0600 even under
// umask 000, and a peer of another uid that reaches it anyway (a socket
// made world-writable) is refused at its attach with the reason, unless
// the server serves a group the peer is a member of. Its TCP
// port serves only connections that present the token of its 0600 secret
// file: a request without it is refused before it is read, and a host
// without it or with another token gets error 505 and the reason.
TEST_P(HostServer, OnlyPeersTheDatabaseFileLetsInAreServed) {
  struct stat st {};
  const std::string refused = "error 505 (";
  if (!GetParam()) {
    ASSERT_EQ(stat(listen_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    if (geteuid() != 0) GTEST_SKIP() << "running a host as another uid needs root";
    // Everything but the database is opened to the other uid, so that
    // only the server stands in its way.
    chmod(root_.path().c_str(), 0755);
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root_.path())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("main.db", 0) == 0 || name.rfind("run.sock", 0) == 0) continue;
      chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
    }
    const std::string host = std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host";
    const std::string why = molvane::test::WhyUidCannotRun(65534, host, root_.path());
    if (!why.empty()) GTEST_SKIP() << why;
    // The socket itself keeps the other uid out, and says how to let it in.
    std::string line = Host(65534)->Do("read exdep010 1 code=SALES");
    EXPECT_EQ(line.rfind(refused, 0), 0u) << line;
    EXPECT_NE(line.find("cannot connect to driver socket " + listen_ +
                        ": Permission denied; the socket lets in only its owner (mode 0600) unless the server "
                        "was started with --serve-group=GROUP of a group this user is in"),
              std::string::npos)
        << line;
    chmod(listen_.c_str(), 0666);
    auto other = Host(65534);
    line = other->Do("read exdep010 1 code=SALES");
    EXPECT_EQ(line.rfind(refused, 0), 0u) << line;
    EXPECT_NE(line.find("the driver server on '" + listen_ +
                        "' serves only uid 0 (the owner of its database file) and root; uid 65534 is refused; to "
                        "serve it too, start the server with --serve-group=GROUP of a group that uid 65534 is in"),
              std::string::npos)
        << line;
    EXPECT_EQ(Host()->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
    // With --serve-group the socket is 0660 of that group, whose members
    // are served.
    const group *nogroup = getgrgid(65534);
    ASSERT_NE(nogroup, nullptr);
    EXPECT_EQ(server_->Stop(SIGTERM), 0);
    mode_t umask_before = umask(0);
    server_ = std::make_unique<Process>(std::vector<std::string>{
        Driver(), "--listen=" + listen_, root_.path() + "/main.db", std::string("--serve-group=") + nogroup->gr_name});
    umask(umask_before);
    ASSERT_TRUE(ConnectsOnceStarted(listen_));
    ASSERT_EQ(stat(listen_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(Host(65534)->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
    return;
  }
  ASSERT_EQ(stat((root_.path() + "/main.db.secret").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A raw request without the token: the answer is the refusal, then the end.
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(static_cast<std::uint16_t>(std::atoi(listen_.c_str() + 4)));
  in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&in), sizeof in), 0);
  const char request[] = {7, 0, 0, 0, 9, 0, 4, 0, 0, 0, 1};  // EXE_SYSTEM 9: the version text
  ASSERT_EQ(send(fd, request, sizeof request, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof request));
  EXPECT_EQ(Admission(fd), "refused: the driver server on " + listen_ +
                               " wants its token before any request: name its secret file after the port in "
                               "lib/ipc_info");
  char rest;
  EXPECT_EQ(read(fd, &rest, 1), 0);
  close(fd);
  const std::string port = listen_.substr(4);
  const struct {
    std::string ipc_info;
    std::string reason;
  } cases[] = {
      {"msqlite tcp " + port + "\n", "the driver server on " + listen_ +
                                         " serves only connections that present its token: name its secret file "
                                         "after the port in lib/ipc_info"},
      {"msqlite tcp " + port + " wrong.secret\n",
       "the token presented to the driver server on " + listen_ + " is not its token"},
      {"msqlite tcp " + port + " missing.secret\n",
       "No driver could be attached: driver msqlite: cannot read the secret file " + root_.path() +
           "/missing.secret: No such file or directory"},
      {"msqlite tcp " + std::to_string(FreePort()) + "\n",
       ": Connection refused; does a driver server listen on that address (molvane-driver --listen=tcp:"},
  };
  root_.WriteFile("wrong.secret", "0123456789abcdef0123456789abcdef\n");
  for (const auto &c : cases) {
    root_.WriteFile("lib/ipc_info", c.ipc_info);
    std::string line = Host()->Do("read exdep010 1 code=SALES");
    EXPECT_EQ(line.rfind(refused, 0), 0u) << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
  }
  root_.WriteFile("lib/ipc_info", "msqlite tcp " + port + " main.db.secret\n");
  EXPECT_EQ(Host()->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);

  // A part of the token is not the token; after the token and a tab the
  // client may name its process ("pid=N"), and nothing else.
  std::ifstream secret(root_.path() + "/main.db.secret");
  std::string token;
  std::getline(secret, token);
  ASSERT_EQ(token.size(), 64u);
  const std::string not_its = "refused: the token presented to the driver server on " + listen_ + " is not its token";
  const std::string malformed = "refused: the token line presented to the driver server on " + listen_ +
                                " is malformed: after its token and a tab comes pid= and the client's process id";
  const struct {
    std::string line;
    std::string answer;
  } lines[] = {{token.substr(0, 32), not_its},         {token.substr(0, 1), not_its},
               {token.substr(1), not_its},             {token.substr(1) + "\tpid=4711", not_its},
               {token + "\tpid=4711", "ok"},           {token + "\tpid=", malformed},
               {token + "\tpid=0", malformed},         {token + "\tpid=47x1", malformed},
               {token + "\tpid=99999999999", malformed}, {token + "\tuid=4711", malformed}};
  for (const auto &l : lines) {
    const int raw = DialSilent(listen_);
    ASSERT_GE(raw, 0);
    const std::string line = l.line + "\n";
    ASSERT_EQ(send(raw, line.data(), line.size(), MSG_NOSIGNAL), static_cast<ssize_t>(line.size()));
    EXPECT_EQ(Admission(raw), l.answer) << l.line.size() << " characters: " << l.line.substr(l.line.find('\t') + 1);
    close(raw);
  }

  // A secret file that is no regular file, or that others may read, stops
  // a server at its start (a FIFO at once, never waited on).
  ASSERT_EQ(mkfifo((root_.path() + "/fifo.secret").c_str(), 0600), 0);
  root_.WriteFile("open.secret", token + "\n");
  chmod((root_.path() + "/open.secret").c_str(), 0644);
  for (const char *name : {"fifo.secret", "open.secret", "dict"}) {
    const auto start = std::chrono::steady_clock::now();
    Process other({Driver(), "--listen=tcp:" + std::to_string(FreePort()), root_.path() + "/other.db",
                   "--secret-file=" + root_.path() + "/" + name});
    EXPECT_EQ(other.Stop(0), 1) << name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << name;
  }
}

// The claim belongs to the file, not to one of its names: a child driver
// or a second server on a symbolic or hard link to the served file is
// refused like one on the file. A symbolic link in the place of a lock file
// is refused and left alone, never written through.
TEST_P(HostServer, ClaimHoldsForEveryNameOfTheFileAndFollowsNoLink) {
  const std::string root = root_.path();
  ASSERT_EQ(symlink((root + "/main.db").c_str(), (root + "/soft.db").c_str()), 0);
  ASSERT_EQ(link((root + "/main.db").c_str(), (root + "/hard.db").c_str()), 0);
  root_.WriteFile("precious", "keep me");
  ASSERT_EQ(symlink((root + "/precious").c_str(), (root + "/other.db.lock").c_str()), 0);
  const struct {
    const char *database;
    std::string refusal;
  } cases[] = {
      {"soft.db", "error 215 (illegal state): database '" + root +
                      "/soft.db' is served by the driver server 'molvane-driver --listen=" + listen_ +
                      "'; reach it with a unix or tcp line in lib/ipc_info"},
      {"hard.db", "error 215 (illegal state): database '" + root +
                      "/hard.db' is served by a driver server under another name of the file (a hard link); "
                      "reach that server with a unix or tcp line in lib/ipc_info"},
      {"other.db", "error 215 (illegal state): the lock file '" + root +
                       "/other.db.lock' is a symbolic link; remove it"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.database);
    root_.WriteFile("lib/ipc_info", "msqlite child " + Driver() + " ${ZUV}/" + c.database + "\n");
    EXPECT_EQ(Host()->Do("read exdep010 1 code=SALES"), c.refusal);
    Process second({Driver(), "--listen=" + root + "/second.sock", root + "/" + c.database});
    EXPECT_EQ(second.Stop(0), 1);
  }
  EXPECT_EQ(root_.ReadFile("precious"), "keep me");
  EXPECT_TRUE(std::filesystem::is_symlink(root + "/other.db.lock"));
}

// A server claims its socket path before it probes it: while another
// server holds the path's claim (it is starting), a socket file there is
// left alone and the second server does not start; once the claim is free,
// a socket left by a server that ended is replaced.
TEST_P(HostServer, StartingServerLeavesTheSocketOfAnotherAlone) {
  const std::string path = root_.path() + "/two.sock";
  int stale = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Address addr(path);
  ASSERT_EQ(bind(stale, addr.get(), addr.size), 0);
  close(stale);  // a socket file nobody answers on
  int starting = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  ASSERT_EQ(write(starting, "1", 1), 1);
  ASSERT_EQ(fcntl(starting, F_OFD_SETLK, &fl), 0);
  const std::vector<std::string> argv = {Driver(), "--listen=" + path, root_.path() + "/two.db"};
  EXPECT_EQ(Process(argv).Stop(0), 1);
  EXPECT_TRUE(std::filesystem::exists(path));
  close(starting);
  {
    Process second(argv);
    EXPECT_TRUE(ConnectsOnceStarted(path));
    EXPECT_EQ(second.Stop(SIGTERM), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".lock"));
}

// Hosts in forked processes add 1 to one hot row: a read, an update with
// the old image checked at the commit, the commit. Each reports its
// commits and its failures with their error (201 when another host's
// commit came first).
int HotRowHost(int rounds, int report) {
  int trans = 0;
  ZDB_CURSOR *cursor = nullptr;
  static unsigned char row[DD_MAX_ROW_LENGTH];
  zdb_disable_references();
  if (zdb_init_api("hot", nullptr, 0, 0) != 0 || zdb_logon("ann") != 0 ||
      (trans = zdb_start_session("hot")) <= 0 || zdb_open(&cursor, "exemp010", 1, row, 0, trans) != 0)
    return 1;
  const DD_TABLE *table = ddtable("exemp010");
  const DD_COLUMN *salary = ddcolumn("exemp010.salary");
  for (int r = 0; r < rounds; ++r) {
    SetEmp(table, row, 1);
    bool ok = zdb_exec_row(cursor, db_eq_delayed, 0, 1) == 0;
    if (ok) {
      float_in(float_out(row + salary->offset) + 1, row + salary->offset);
      ok = zdb_exec_row(cursor, db_update_51, 0, 1) == 0;
    }
    if (ok && zdb_exec_db(commit_trans, trans) == 0) {
      dprintf(report, "inc 0\n");
      continue;
    }
    // A failed batch (520) names the error of the update that failed.
    int error = zdb_errno;
    char name[9] = {};
    int compnr = 0;
    const char *extra = nullptr;
    if (error == 520) error = zdb_get_detail_error(name, &compnr, &extra, trans);
    dprintf(report, "fail %d\n", error);
    zdb_exec_db(abort_trans, trans);
  }
  return zdb_logoff() == 0 ? 0 : 2;
}

// Writes wait for the write transaction first come, first served: with 64
// hosts on one hot row, under 1% of the commits end in 107, and the row
// holds every committed increment.
TEST_P(HostServer, SixtyFourHostsOnOneHotRowAreServedInTurn) {
  constexpr int kMany = 64;
  constexpr int kTurns = 8;
  auto setup = Host();
  EXPECT_EQ(setup->Do("table create exemp010 1"), "exemp010001: create_table");
  EXPECT_EQ(setup->Do("insert exdep010 1 code=D"), "buffered insert on exdep010001");
  EXPECT_EQ(setup->Do("insert exemp010 1 emp=1 salary=0 dept=D dcas=D dnul=D drst=D"),
            "buffered insert on exemp010001");
  EXPECT_EQ(setup->Do("commit"), "committed");
  const std::string text =
      RunForkedHosts(kMany, [](int, int report) { return HotRowHost(kTurns, report); }, 120000);
  int committed = 0, locked = 0, conflicts = 0, other = 0, other_error = 0;
  std::istringstream lines(text);
  for (std::string what; lines >> what;) {
    int error = 0;
    lines >> error;
    if (what == "inc") {
      ++committed;
    } else if (error == 107) {
      ++locked;
    } else if (error == 201) {
      ++conflicts;
    } else {
      ++other;
      other_error = error;
    }
  }
  EXPECT_EQ(committed + locked + conflicts + other, kMany * kTurns);
  EXPECT_EQ(other, 0) << "error " << other_error;
  EXPECT_GT(committed, 0);
  EXPECT_LT(locked * 100, kMany * kTurns) << locked << " of " << kMany * kTurns << " commits ended in 107";
  std::string row = setup->Do("read exemp010 1 emp=1");
  EXPECT_NE(row.find(" salary=" + std::to_string(committed) + " "), std::string::npos)
      << row << " after " << committed << " committed increments";
}

INSTANTIATE_TEST_SUITE_P(Forms, HostServer, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "Tcp" : "Unix");
                         });

}  // namespace
