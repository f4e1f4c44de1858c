// Hosts on one database through one driver server, where they meet over
// rows and the write transaction: a locked read of one host holds the row
// from the others until its commit, a waiter is answered when the row is
// free or refused after its bound (never longer for others ahead of it,
// never when its own host holds what it would wait for), SQL UPDATE and
// DELETE wait only for the rows they change, a table lock, clear or drop
// waits for the holders of the table's rows, a host killed while it waits
// frees its locks at once, a failed statement frees what it reached, a
// transaction SQLite rolled back is refused with its reason, and the idle
// limit ends a still transaction and its locks. The suite is instantiated
// in host_server_test.cc.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dbc/zdb_errors.h"
#include "host_server.h"

namespace {

using molvane::test::Dial;
using molvane::test::HostServer;
using molvane::test::Process;
using molvane::test::ReadAll;

const char kSales[] = "exdep010001: Refcntd=0 Refcntu=0 budget=";
// A commit refused for a row another host holds, and which update it was.
const std::string kLocked = "error 520 (buffered update failed): the update of exdep010001 failed "
                            "with error 107 (record locked): ";

bool EndsWith(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Milliseconds that `action` took.
long long MsOf(const std::function<void()> &action) {
  const auto start = std::chrono::steady_clock::now();
  action();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

TEST_P(HostServer, LockedReadOfOneHostRefusesTheOtherUntilItsCommit) {
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  // A locked read of a row another host holds waits for it (500 ms by
  // default), then is refused.
  // The refusal names the row, who holds it (the server's session, and
  // over a Unix socket its host's process) and the wait it made.
  std::string refused;
  EXPECT_GE(MsOf([&] { refused = b->Do("lockread exdep010 1 code=SALES"); }), 450);
  const std::string waited = "error 107 (record locked): Record is locked: db_eq(locked) of exdep010001, key "
                             "code = SALES, was refused after waiting ";
  const std::string who = std::string(" (\"t\") of ") +
                          (GetParam() ? std::string("another host") : "process " + std::to_string(a->pid()));
  const std::string holder = who + " holds the row; try again once that host has ended its transaction";
  EXPECT_NE(refused.find(" s (the driver server's --lock-wait-ms): on driver server msqlite, session "),
            std::string::npos)
      << refused;
  ASSERT_GT(refused.size(), waited.size() + holder.size()) << refused;
  EXPECT_EQ(refused.substr(0, waited.size()), waited) << refused;
  EXPECT_EQ(refused.substr(refused.size() - holder.size()), holder) << refused;
  EXPECT_GE(std::stod(refused.substr(waited.size())), 0.4) << refused;
  EXPECT_EQ(b->Do("update exdep010 1 code=SALES budget=5"), "buffered update on exdep010001");
  // Its one buffered update is row 1 of the transaction; the row's holder
  // is named.
  const std::string commit = b->Do("commit");
  EXPECT_EQ(commit.rfind(kLocked + "update (whole) (action 7) of row 1: the row code = SALES is held by session ", 0),
            0u)
      << commit;
  EXPECT_EQ(commit.substr(commit.size() - who.size()), who) << commit;
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=2"), "buffered update on exdep010001");
  // A flushed write holds the database: the other host's write waits for
  // it, then is refused as locked, never as an illegal state.
  EXPECT_EQ(a->Do("flush"), "flushed");
  // The refusal names the write transaction's holder as a row's refusal
  // does.
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  const std::string queued = b->Do("commit");
  const std::string held = kLocked + "another session's write transaction held the database: session ";
  EXPECT_EQ(queued.rfind(held, 0), 0u) << queued;
  EXPECT_TRUE(EndsWith(queued, who + " holds it")) << queued;
  EXPECT_EQ(a->Do("commit"), "committed");
  // The commit released the lock.
  EXPECT_NE(b->Do("lockread exdep010 1 code=SALES").find("budget=2.00 "), std::string::npos);
  // A session's own changed rows are not another's: while b holds a lock,
  // a changes a row again and again, and locks it, before its commit.
  EXPECT_EQ(a->Do("insert exdep010 1 code=IT"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  EXPECT_EQ(a->Do("update exdep010 1 code=IT budget=4"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  EXPECT_NE(a->Do("lockread exdep010 1 code=IT").find("budget=4.00 "), std::string::npos);
  EXPECT_EQ(a->Do("update exdep010 1 code=IT budget=6"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Do("update exdep010 1 code=SALES budget=3"), "buffered update on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=3.00 "), std::string::npos);
  EXPECT_NE(a->Do("read exdep010 1 code=IT").find("budget=6.00 "), std::string::npos);
  // Another host's transaction name reaches the texts escaped as the log
  // writes it (control bytes and bytes that are no UTF-8 as \xHH), in a
  // row's refusal and in the write transaction's alike.
  auto named = std::make_unique<Process>(std::vector<std::string>{
      std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host", "--zuv", root_.path(), "--script", "-"});
  EXPECT_EQ(named->Do("logon demo"), "logged on as demo");
  const std::string raw = "x\x1b[2J\xff";
  EXPECT_EQ(named->Do("start " + raw), "transaction " + raw + " id 1");
  EXPECT_EQ(named->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(named->Do("update exdep010 1 code=IT budget=7"), "buffered update on exdep010001");
  EXPECT_EQ(named->Do("flush"), "flushed");
  const std::string escaped = " (\"x\\x1b[2J\\xff\") of ";
  const std::string row = b->Do("lockread exdep010 1 code=SALES");
  EXPECT_NE(row.find(escaped), std::string::npos) << row;
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  const std::string write = b->Do("commit");
  EXPECT_NE(write.find(escaped), std::string::npos) << write;
  for (const std::string &text : {row, write})
    EXPECT_EQ(text.find_first_of("\x1b\xff"), std::string::npos) << text;
  EXPECT_EQ(named->Do("abort"), "aborted");
}

// A locked read of a row another host holds waits for the holder's commit
// and reads the row as committed, also while its host holds rows itself;
// only the wait that would close a circle of waits is refused, at once,
// and the host it would have waited for is given its row when the refused
// one ends; with --lock-wait-ms=0 every such read is refused at once.
TEST_P(HostServer, LockedReadWaitsForAnotherHostsCommitUnlessItWouldCloseACircle) {
  Restart({"--lock-wait-ms=8000"});
  auto a = Host(), b = Host(), c = Host();
  EXPECT_EQ(c->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=2"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  ASSERT_TRUE(b->Send("lockread exdep010 1 code=SALES"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the locked read did not wait for the holder";
  // Given the row at the commit, not when its wait is over.
  EXPECT_LT(MsOf([&] {
              EXPECT_EQ(a->Do("commit"), "committed");
              EXPECT_NE(b->Line().find("budget=2.00 "), std::string::npos);
            }),
            4000);
  // b holds SALES now; c, holding HR, waits for SALES all the same (no
  // circle), and b, asking for HR, would close the circle: b is refused at
  // once, and c is given SALES when b ends.
  EXPECT_EQ(c->Do("lockread exdep010 1 code=HR").rfind("exdep010001: ", 0), 0u);
  ASSERT_TRUE(c->Send("lockread exdep010 1 code=SALES"));
  usleep(300000);
  EXPECT_FALSE(c->HasOutput()) << "a host that holds a row did not wait for another's";
  const std::string circle = b->Do("lockread exdep010 1 code=HR");
  EXPECT_EQ(circle.rfind("error 107 (record locked)", 0), 0u) << circle;
  EXPECT_NE(circle.find(" was refused at once: "), std::string::npos) << circle;
  EXPECT_FALSE(c->HasOutput()) << "the host whose wait closed no circle was refused";
  EXPECT_EQ(b->Do("abort"), "aborted");
  EXPECT_NE(c->Line().find("budget=2.00 "), std::string::npos);
  EXPECT_EQ(c->Do("abort"), "aborted");
  EXPECT_NE(b->Do("lockread exdep010 1 code=SALES").find("budget=2.00 "), std::string::npos);
  // Two hosts wait for b's row in turn: each gets it after the commit of
  // the one before it, and sees its change.
  auto d = Host();
  ASSERT_TRUE(c->Send("lockread exdep010 1 code=SALES"));
  usleep(100000);
  ASSERT_TRUE(d->Send("lockread exdep010 1 code=SALES"));
  usleep(200000);
  EXPECT_EQ(b->Do("update exdep010 1 code=SALES budget=3"), "buffered update on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  for (int waited = 0; waited < 4000 && !c->HasOutput() && !d->HasOutput(); waited += 10) usleep(10000);
  auto *first = c->HasOutput() ? c.get() : d.get(), *second = first == c.get() ? d.get() : c.get();
  EXPECT_NE(first->Line().find("budget=3.00 "), std::string::npos);
  usleep(100000);
  EXPECT_FALSE(second->HasOutput()) << "both waiting hosts were given the row";
  EXPECT_EQ(first->Do("update exdep010 1 code=SALES budget=4"), "buffered update on exdep010001");
  EXPECT_EQ(first->Do("commit"), "committed");
  EXPECT_NE(second->Line().find("budget=4.00 "), std::string::npos);
  EXPECT_EQ(second->Do("abort"), "aborted");
  // Refused at once without a wait.
  Restart({"--lock-wait-ms=0"});
  auto e = Host(), f = Host();
  EXPECT_EQ(e->Do("lockread exdep010 1 code=SALES").rfind("exdep010001: ", 0), 0u);
  EXPECT_LT(MsOf([&] {
              EXPECT_EQ(f->Do("lockread exdep010 1 code=SALES").rfind("error 107 (record locked)", 0), 0u);
            }),
            4000);
}

// A wait ends when its holder has kept what it waits for for the bound,
// whoever else leaves the line meanwhile: behind a holder that never lets
// go (stopped), hosts that ask 0.1 s apart are each refused one bound after
// they asked (--lock-wait-ms for a row, 2 s for the write transaction),
// not their place in the line times it.
TEST_P(HostServer, WaitersBehindAStoppedHolderAreEachRefusedAfterOneBound) {
  Restart({"--lock-wait-ms=1000"});
  struct Case {
    const char *hold;   // what the holder does before it stops
    const char *ask;    // what each waiter asks
    const char *refused;
  } cases[] = {{"lockread exdep010 1 code=SALES", "lockread exdep010 1 code=SALES", "error 107 (record locked)"},
               {"flush", "flush", "error 520 (buffered update failed)"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.ask);
    constexpr int kWaiters = 6;
    auto holder = Host();
    std::vector<std::unique_ptr<Process>> waiters;
    for (int i = 0; i < kWaiters; ++i) {
      waiters.push_back(Host());
      if (std::string(c.ask) == "flush") {
        ASSERT_EQ(waiters.back()->Do("insert exdep010 1 code=W" + std::to_string(i)), "buffered insert on exdep010001");
      }
    }
    if (std::string(c.hold) == "flush") {
      ASSERT_EQ(holder->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
    }
    ASSERT_NE(holder->Do(c.hold).rfind("error", 0), 0u);
    kill(holder->pid(), SIGSTOP);
    std::vector<std::chrono::steady_clock::time_point> asked;
    for (auto &w : waiters) {
      asked.push_back(std::chrono::steady_clock::now());
      ASSERT_TRUE(w->Send(c.ask));
      usleep(100000);
    }
    for (int i = 0; i < kWaiters; ++i) {
      const std::string answer = waiters[i]->Line();
      const auto waited = std::chrono::steady_clock::now() - asked[i];
      EXPECT_EQ(answer.rfind(c.refused, 0), 0u) << i << ": " << answer;
      EXPECT_LT(waited, std::chrono::milliseconds(3800)) << "waiter " << i << " waited for those ahead of it";
    }
    kill(holder->pid(), SIGCONT);
    EXPECT_EQ(holder->Do("abort"), "aborted");
  }
}

// A host that reaches the server under two driver names (two connections)
// is one host to the waits: what one connection waits for closes a circle
// through what the other holds, so of two such hosts that ask for each
// other's rows the second is refused at once and the first is given its
// row; a write that would wait for the host's own write transaction on its
// other connection is refused at once, and says why.
TEST_P(HostServer, AHostOnTwoConnectionsIsOneHostToTheWaits) {
  root_.WriteFile("lib/ipc_info", GetParam() ? "msqlite tcp " + listen_.substr(4) + " main.db.secret\nmsqlite2 tcp " +
                                                   listen_.substr(4) + " main.db.secret\n"
                                             : "msqlite unix run.sock\nmsqlite2 unix run.sock\n");
  root_.WriteFile("lib/tabledef1", "exdep010:002:msqlite2\n*::msqlite\n");
  Restart({"--lock-wait-ms=8000"});
  auto x = Host(), y = Host();
  ASSERT_EQ(x->Do("table create exdep010 2"), "exdep010002: create_table");
  ASSERT_EQ(x->Do("commit"), "committed");
  ASSERT_EQ(x->Do("insert exdep010 1 code=C0001"), "buffered insert on exdep010001");
  ASSERT_EQ(x->Do("commit"), "committed");
  ASSERT_EQ(x->Do("insert exdep010 2 code=C0001"), "buffered insert on exdep010002");
  ASSERT_EQ(x->Do("commit"), "committed");
  EXPECT_EQ(x->Do("lockread exdep010 1 code=C0001").rfind("exdep010001: ", 0), 0u);
  EXPECT_EQ(y->Do("lockread exdep010 2 code=C0001").rfind("exdep010002: ", 0), 0u);
  // x, holding a row on its first connection, waits on its second for y's
  // row; y's wait for x's row would close the circle and is refused at once.
  ASSERT_TRUE(x->Send("lockread exdep010 2 code=C0001"));
  usleep(300000);
  EXPECT_FALSE(x->HasOutput()) << "a host that holds a row did not wait for another's";
  const std::string circle = y->Do("lockread exdep010 1 code=C0001");
  EXPECT_EQ(circle.rfind("error 107 (record locked)", 0), 0u) << circle;
  EXPECT_NE(circle.find(" was refused at once: "), std::string::npos) << circle;
  EXPECT_EQ(y->Do("abort"), "aborted");
  EXPECT_EQ(x->Line().rfind("exdep010002: ", 0), 0u);
  EXPECT_EQ(x->Do("abort"), "aborted");
  // x's write on its first connection holds the file: its write on the
  // second would wait for itself, and is refused at once, saying why.
  EXPECT_EQ(x->Do("update exdep010 1 code=C0001 budget=2"), "buffered update on exdep010001");
  EXPECT_EQ(x->Do("flush"), "flushed");
  EXPECT_EQ(x->Do("update exdep010 2 code=C0001 budget=3"), "buffered update on exdep010002");
  const std::string flush = x->Do("flush");
  EXPECT_EQ(flush.rfind("error 520", 0), 0u) << flush;
  EXPECT_NE(flush.find("of this host on another of its connections holds the write transaction: a host's transactions "
                       "through two driver names of one driver server do not wait for each other"),
            std::string::npos)
      << flush;
  // So is a table action through the second name, which says so too.
  const std::string create = x->Do("table create exdep010 2");
  EXPECT_EQ(create.rfind("error 107 (record locked): Record is locked: create_table of exdep010002 was refused ", 0),
            0u)
      << create;
  EXPECT_NE(create.find(": on driver server msqlite2, session "), std::string::npos) << create;
  EXPECT_NE(create.find("of this host on another of its connections holds the write transaction: a host's "
                        "transactions through two driver names of one driver server do not wait for each other; use "
                        "one driver name for the tables of one transaction"),
            std::string::npos)
      << create;
  EXPECT_EQ(x->Do("abort"), "aborted");
  // A host that holds nothing still waits for another's row.
  EXPECT_EQ(y->Do("lockread exdep010 2 code=C0001").rfind("exdep010002: ", 0), 0u);
  ASSERT_TRUE(x->Send("lockread exdep010 2 code=C0001"));
  usleep(300000);
  EXPECT_FALSE(x->HasOutput()) << "a host that holds nothing did not wait";
  EXPECT_EQ(y->Do("commit"), "committed");
  EXPECT_EQ(x->Line().rfind("exdep010002: ", 0), 0u);
  EXPECT_EQ(x->Do("commit"), "committed");
}

// A server stopped by SIGTERM tells its hosts why their connections end:
// one that holds a row, and one that waits for it, each log the server's
// reason before the loss of the driver.
TEST_P(HostServer, StoppedServerTellsItsHostsWhy) {
  const std::string logs = root_.path() + "/log";
  setenv("ZUV_LOG", logs.c_str(), 1);
  Restart({"--lock-wait-ms=8000"});
  auto a = Host();
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  setenv("ZUV_LOG", (logs + "/b").c_str(), 1);
  auto b = Host();
  ASSERT_TRUE(b->Send("lockread exdep010 1 code=SALES"));
  usleep(300000);
  EXPECT_EQ(server_->Stop(SIGTERM), 0);
  for (Process *host : {a.get(), b.get()}) {
    // A host whose next request finds the connection ended logs why and
    // ends, as the library's default does.
    for (int i = 0; i < 3 && host->Send("read exdep010 1 code=SALES") && !host->Line().empty(); ++i) {
    }
    EXPECT_EQ(host->Stop(SIGKILL), 1);
  }
  const std::string why = "driver msqlite: the driver server on " + (GetParam() ? listen_ : "'" + listen_ + "'") +
                          " ended the connection: it was stopped (SIGTERM)\n";
  for (const std::string &log : {logs + "/molvane-host.log", logs + "/b/molvane-host.log"}) {
    const std::string logged = root_.ReadFile(log.substr(root_.path().size() + 1));
    EXPECT_NE(logged.find(why), std::string::npos) << log << ":\n" << logged;
    EXPECT_LT(logged.find(why), logged.find("Detected server disconnection")) << logged;
  }
}

// A table lock, clear or drop waits by the one rule for the hosts that
// hold rows of the table (or the table): it is granted at the holder's
// commit or abort, refused at once where its wait would close a circle,
// and refused after the bound naming the holder. The tables cover a
// table action of the driver (tttxt010) and a clear or drop that the
// driver does with the table's reference work (exdep010, a parent).
TEST_P(HostServer, TableLockClearAndDropWaitForTheHoldersOfItsRows) {
  Restart({"--lock-wait-ms=30000"});
  auto a = Host(), b = Host();
  struct Case {
    const char *table, *row, *insert;
  } tables[] = {{"tttxt010", "ctxt=2 clan=E seqe=1", "text=Kept"}, {"exdep010", "code=HR", "budget=2"}};
  ASSERT_EQ(a->Do("table create tttxt010 1"), "tttxt010001: create_table");
  ASSERT_EQ(a->Do("commit"), "committed");
  for (const Case &t : tables) {
    for (const char *action : {"lock", "clear", "drop"}) {
      for (const char *ends : {"commit", "abort"}) {
        SCOPED_TRACE(std::string(t.table) + " " + action + " " + ends);
        const std::string row = std::string(t.table) + " 1 " + t.row;
        ASSERT_EQ(a->Do("insert " + row + " " + t.insert), "buffered insert on " + std::string(t.table) + "001");
        ASSERT_EQ(a->Do("commit"), "committed");
        ASSERT_EQ(a->Do("lockread " + row).rfind(std::string(t.table) + "001: ", 0), 0u);
        ASSERT_TRUE(b->Send(std::string("table ") + action + " " + t.table + " 1"));
        usleep(300000);
        EXPECT_FALSE(b->HasOutput()) << "the table action did not wait for the row's holder";
        EXPECT_EQ(a->Do(ends), ends == std::string("commit") ? "committed" : "aborted");
        EXPECT_EQ(b->Line(), std::string(t.table) + "001: " + action + "_table");
        EXPECT_EQ(b->Do("commit"), "committed");
        // A clear or drop took every row; a lock none.
        const std::string read = a->Do("read " + row);
        EXPECT_EQ(read.rfind(std::string(action) == "lock" ? std::string(t.table) + "001: " : "error 111 ", 0), 0u)
            << read;
        if (std::string(action) == "lock") {
          ASSERT_EQ(a->Do("delete " + row), "buffered delete on " + std::string(t.table) + "001");
          ASSERT_EQ(a->Do("commit"), "committed");
        }
      }
    }
  }
  // b waits for a's row (HR); a's table lock would wait for b's row (a
  // row of the table): it would close a circle and is refused at once,
  // naming it, while b waits on and is given HR when a ends.
  for (const char *code : {"HR", "FIN"}) ASSERT_EQ(a->Do(std::string("insert exdep010 1 code=") + code), "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(a->Do("lockread exdep010 1 code=HR").rfind("exdep010001: ", 0), 0u);
  EXPECT_EQ(b->Do("lockread exdep010 1 code=FIN").rfind("exdep010001: ", 0), 0u);
  ASSERT_TRUE(b->Send("lockread exdep010 1 code=HR"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the locked read did not wait";
  // (The library words the wait by the time the request took, which a
  // loaded machine may make longer than "at once".)
  const std::string circle = a->Do("table lock exdep010 1");
  EXPECT_EQ(circle.rfind("error 107 (record locked): Record is locked: lock_table of exdep010001 was refused ", 0), 0u)
      << circle;
  EXPECT_NE(circle.find(": on driver server msqlite, it would have waited in a circle: session "), std::string::npos)
      << circle;
  EXPECT_NE(circle.find(" holds rows of the table and waits for this host"), std::string::npos) << circle;
  EXPECT_FALSE(b->HasOutput()) << "the host whose wait closed no circle was refused";
  EXPECT_EQ(a->Do("abort"), "aborted");
  EXPECT_EQ(b->Line().rfind("exdep010001: ", 0), 0u);
  // Past the bound the wait is refused, naming the holder as a row's
  // wait does.
  Restart({"--lock-wait-ms=1000"});
  auto c = Host(), d = Host();
  EXPECT_EQ(c->Do("lockread exdep010 1 code=HR").rfind("exdep010001: ", 0), 0u);
  // A clear of exdep010 is a batch with the table's reference work: its
  // 520 says so.
  const std::string who = std::string(" (\"t\") of ") +
                          (GetParam() ? std::string("another host") : "process " + std::to_string(c->pid()));
  const std::string lock = d->Do("table lock exdep010 1");
  EXPECT_EQ(lock.rfind("error 107 (record locked): Record is locked: lock_table of exdep010001 was refused after "
                       "waiting ",
                       0),
            0u)
      << lock;
  EXPECT_NE(lock.find(who + " holds rows of the table; try again once that host has ended its transaction"),
            std::string::npos)
      << lock;
  const std::string clear = d->Do("table clear exdep010 1");
  EXPECT_EQ(clear.rfind("error 107 (record locked): Record is locked in exdep010001: "
                        "clear table (action 9): the table was refused after waiting ",
                        0),
            0u)
      << clear;
  EXPECT_NE(clear.find(" s (the driver server's --lock-wait-ms): session "), std::string::npos) << clear;
  EXPECT_TRUE(EndsWith(clear, who + " holds rows of the table")) << clear;
  EXPECT_EQ(d->Do("abort"), "aborted");
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_EQ(d->Do("table lock exdep010 1"), "exdep010001: lock_table");
  EXPECT_EQ(d->Do("commit"), "committed");
  // Without waits the clear is refused at once, and says so as a locked
  // read's refusal does.
  Restart({"--lock-wait-ms=0"});
  auto e = Host(), f = Host();
  EXPECT_EQ(e->Do("lockread exdep010 1 code=HR").rfind("exdep010001: ", 0), 0u);
  const std::string at_once = f->Do("table clear exdep010 1");
  EXPECT_NE(at_once.find("clear table (action 9): the table was refused at once (the driver server's "
                         "--lock-wait-ms is 0): session "),
            std::string::npos)
      << at_once;
  EXPECT_TRUE(EndsWith(at_once, " holds rows of the table")) << at_once;
  EXPECT_EQ(f->Do("abort"), "aborted");
  EXPECT_EQ(e->Do("abort"), "aborted");
}

// Waits for a table follow the order of arrival: a new row lock of a
// table (a locked read, an SQL UPDATE's row) asked while a lock of the
// table waits for the table's holders waits behind it, and is served when
// that lock has come and gone; a host that holds rows of the table itself
// (the table's waiter waits for it anyway) goes ahead of it at once.
TEST_P(HostServer, NewRowLocksWaitBehindATableLockThatWaits) {
  Restart({"--lock-wait-ms=30000"});
  auto a = Host(), b = Host(), c = Host(), d = Host();
  for (const char *code : {"HR", "FIN"})
    ASSERT_EQ(a->Do(std::string("insert exdep010 1 code=") + code), "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(a->Do("lockread exdep010 1 code=HR").rfind("exdep010001: ", 0), 0u);
  ASSERT_TRUE(b->Send("table lock exdep010 1"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the table lock did not wait for the row's holder";
  ASSERT_TRUE(c->Send("lockread exdep010 1 code=SALES"));
  ASSERT_TRUE(d->Send("sql run 1 UPDATE exdep010 SET name = 'd' WHERE code = 'FIN'"));
  usleep(300000);
  EXPECT_FALSE(c->HasOutput()) << "a locked read went ahead of the table lock that waited before it";
  EXPECT_FALSE(d->HasOutput()) << "an UPDATE's row went ahead of the table lock that waited before it";
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "exdep010001: lock_table");
  usleep(300000);
  EXPECT_FALSE(c->HasOutput()) << "a locked read went ahead of the table lock";
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(c->Line().rfind("exdep010001: ", 0), 0u);
  EXPECT_EQ(d->Line(), "1 row updated");
  EXPECT_EQ(c->Do("abort"), "aborted");
  EXPECT_EQ(d->Do("commit"), "committed");
  // c holds FIN, which the table lock waits for: c's lock of SALES goes
  // ahead of it (a wait would close a circle), at once, where a wait
  // behind it would last the whole bound of 30 s, longer than a reply is
  // waited for.
  EXPECT_EQ(a->Do("lockread exdep010 1 code=HR").rfind("exdep010001: ", 0), 0u);
  EXPECT_EQ(c->Do("lockread exdep010 1 code=FIN").rfind("exdep010001: ", 0), 0u);
  ASSERT_TRUE(b->Send("table lock exdep010 1"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the table lock did not wait for the rows' holders";
  EXPECT_EQ(c->Do("lockread exdep010 1 code=SALES").rfind("exdep010001: ", 0), 0u);
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_FALSE(b->HasOutput()) << "the table lock did not wait for the other row's holder";
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "exdep010001: lock_table");
  EXPECT_EQ(b->Do("commit"), "committed");
}

// Statements queued behind whatever holds a table (its lock, a clear or
// drop, a long statement on it) are each answered when it goes, however
// many wait beside each other for disjoint rows; a statement's time-out
// ends its wait there as it ends its run.
TEST_P(HostServer, StatementsQueuedBehindATableHolderAreEachAnsweredWhenItGoes) {
  Restart({"--lock-wait-ms=30000"});
  Fill(300);
  const std::string long_update = "sql prepare u UPDATE exdep010 SET budget = 7 WHERE NOT EXISTS (SELECT x.code FROM "
                                  "exdep010 x, exdep010 y, exdep010 z WHERE x.budget + y.budget + z.budget < 0)";
  struct Case {
    const char *hold;     // the holder's request ("u": the long statement)
    const char *held;     // ... its answer
    const char *ends;     // how its transaction ends
    int statements;
  } cases[] = {{"table lock exdep010 1", "exdep010001: lock_table", "abort", 2},
               {"table lock exdep010 1", "exdep010001: lock_table", "commit", 3},
               {"table clear exdep010 1", "exdep010001: clear_table", "abort", 2},
               {"table drop exdep010 1", "exdep010001: drop_table", "abort", 3},
               {"u", "error 313 ", "abort", 3}};
  auto t = Host();
  ASSERT_EQ(t->Do(long_update), "prepared u: update");
  ASSERT_EQ(t->Do("sql timeout u 2"), "timeout u 2");
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.hold) + " " + std::to_string(c.statements));
    const bool running = std::string(c.hold) == "u";
    if (running) {
      // In a transaction that holds the write transaction, the statement
      // finds no rows first: it steps on the table until its time-out.
      ASSERT_EQ(t->Do("insert exdep010 1 code=LONG"), "buffered insert on exdep010001");
      ASSERT_EQ(t->Do("flush"), "flushed");
      ASSERT_TRUE(t->Send("sql exec u 1"));
    }
    else
      ASSERT_EQ(t->Do(c.hold), c.held);
    usleep(200000);
    std::vector<std::unique_ptr<Process>> hosts;
    for (int i = 0; i < c.statements; ++i) {
      hosts.push_back(Host());
      ASSERT_TRUE(hosts.back()->Send("sql run 1 UPDATE exdep010 SET name = 'x' WHERE code IN ('Q" +
                                     std::to_string(2 * i) + "', 'Q" + std::to_string(2 * i + 1) + "')"));
    }
    usleep(300000);
    for (auto &h : hosts)
      if (h->HasOutput()) ADD_FAILURE() << "a statement did not wait for the table's holder: " << h->Line();
    if (running) {
      const std::string stopped = t->Line();
      EXPECT_EQ(stopped.rfind(c.held, 0), 0u) << stopped;
    }
    EXPECT_EQ(t->Do(c.ends), std::string(c.ends) == "commit" ? "committed" : "aborted");
    // Each is answered in turn (the write transaction goes from one to the
    // next as each host ends its transaction).
    std::vector<bool> answered(hosts.size());
    const auto went = std::chrono::steady_clock::now();
    for (std::size_t done = 0; done < hosts.size() && std::chrono::steady_clock::now() - went < std::chrono::seconds(10);) {
      for (std::size_t i = 0; i < hosts.size(); ++i) {
        if (answered[i] || !hosts[i]->HasOutput()) continue;
        EXPECT_EQ(hosts[i]->Line(), "2 rows updated");
        EXPECT_EQ(hosts[i]->Do("abort"), "aborted");
        answered[i] = true;
        ++done;
      }
      usleep(20000);
    }
    for (std::size_t i = 0; i < hosts.size(); ++i)
      EXPECT_TRUE(answered[i]) << "statement " << i << " was not answered when the table's holder went";
  }
  // Behind a lock that stays, a statement's time-out ends its wait.
  ASSERT_EQ(t->Do("table lock exdep010 1"), "exdep010001: lock_table");
  auto s = Host();
  ASSERT_EQ(s->Do("sql prepare v UPDATE exdep010 SET name = 'v' WHERE code = 'Q1'"), "prepared v: update");
  ASSERT_EQ(s->Do("sql timeout v 1"), "timeout v 1");
  std::string timed_out;
  const long long ms = MsOf([&] { timed_out = s->Do("sql exec v 1"); });
  EXPECT_EQ(timed_out.rfind("error 313 ", 0), 0u) << timed_out;
  EXPECT_LT(ms, 10000);
  EXPECT_EQ(s->Do("abort"), "aborted");
  EXPECT_EQ(t->Do("abort"), "aborted");
}

// The table's own lock is no row: in a table keyed by one byte, the row
// of key 1 held by one host keeps no other host's statement on other rows
// waiting, nor its table create; a lock of the table is still waited for.
TEST_P(HostServer, TheTablesLockIsNoRowOfATableKeyedByOneByte) {
  Restart({"--lock-wait-ms=1000"});
  root_.WriteFile("dict/dexknd010", ":VERS 2\nF kind\n:NAME exknd010.kind\n:DOMA exbyte\nF name\n"
                                     ":NAME exknd010.name\n:DOMA exname\nI 1\n:INDX 1\n:ASCD 0\n:DUPL 0\n"
                                     ":KEYF exknd010.kind    \n:KEYL exknd010.kind\n:END\n");
  auto a = Host(), b = Host();
  ASSERT_EQ(a->Do("table create exknd010 1"), "exknd010001: create_table");
  for (int kind = 1; kind <= 5; ++kind)
    ASSERT_EQ(a->Do("insert exknd010 1 kind=" + std::to_string(kind)), "buffered insert on exknd010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  for (const char *held : {"1", "2"}) {
    SCOPED_TRACE(held);
    ASSERT_EQ(a->Do(std::string("lockread exknd010 1 kind=") + held).rfind("exknd010001: ", 0), 0u);
    for (const char *statement : {"UPDATE exknd010 SET name = 'b' WHERE kind = 5", "DELETE FROM exknd010 WHERE kind = 4"}) {
      std::string answer;
      const long long ms = MsOf([&] { answer = b->Do(std::string("sql run 1 ") + statement); });
      EXPECT_EQ(answer, statement[0] == 'U' ? "1 row updated" : "1 row deleted") << statement;
      EXPECT_LT(ms, 900) << statement << " waited for the row of key " << held;
    }
    EXPECT_EQ(b->Do("table create exknd010 1"), "exknd010001: create_table");
    EXPECT_EQ(b->Do("abort"), "aborted");
    EXPECT_EQ(a->Do("abort"), "aborted");
  }
  ASSERT_EQ(a->Do("table lock exknd010 1"), "exknd010001: lock_table");
  const std::string refused = b->Do("sql run 1 UPDATE exknd010 SET name = 'b' WHERE kind = 5");
  EXPECT_EQ(refused.rfind("error 107 (record locked): SQLState QP999: Record is locked: the SQL statement's turn at "
                          "exknd010001 (a lock of the table, or another session's SQL statement running on it) was "
                          "refused after waiting ", 0), 0u) << refused;
  EXPECT_NE(refused.find(" holds the table; try again once that host has ended its transaction"), std::string::npos)
      << refused;
  const std::string create = b->Do("table create exknd010 1");
  EXPECT_EQ(create.rfind("error 107 (record locked): Record is locked: create_table of exknd010001 was refused", 0), 0u)
      << create;
  EXPECT_NE(create.find(" holds the table"), std::string::npos) << create;
  EXPECT_EQ(b->Do("abort"), "aborted");
  EXPECT_EQ(a->Do("abort"), "aborted");
}

// A statement of more rows than it locks one by one holds its table whole
// once it runs: it waits for every host that holds rows of the table, and
// its refusal names one; once that host has ended, it runs.
TEST_P(HostServer, AStatementOfMoreRowsThanItLocksWaitsForTheHoldersOfTheTablesRows) {
  Restart({"--lock-wait-ms=1000"});
  Fill(10001);
  auto a = Host(), b = Host();
  ASSERT_EQ(a->Do("lockread exdep010 1 code=Q7").rfind("exdep010001: ", 0), 0u);
  const std::string update = "sql run 1 UPDATE exdep010 SET name = 'all' WHERE budget >= 0";
  const std::string refused = b->Do(update);
  EXPECT_EQ(refused.rfind("error 107 (record locked): SQLState QP999: Record is locked: the SQL statement's turn at "
                          "exdep010001 (more rows than it locks one by one: the whole table) was refused after waiting ",
                          0),
            0u)
      << refused;
  EXPECT_NE(refused.find(" holds rows of the table; try again once that host has ended its transaction"),
            std::string::npos)
      << refused;
  EXPECT_EQ(b->Do("abort"), "aborted");
  ASSERT_TRUE(b->Send(update));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the statement did not wait for the holder of the table's row";
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "10002 rows updated");
  EXPECT_EQ(b->Do("commit"), "committed");
}

// A write that fails as its transaction's first (a batch with a key
// that is there already, a clear or drop of a table still referred to, a
// create of a table another host has locked) leaves nothing in the
// transaction: the write transaction goes back with it, and another host's
// flush goes on at once.
TEST_P(HostServer, AFailedFirstWriteGivesBackTheWriteTransaction) {
  auto a = Host(), b = Host(), c = Host();
  ASSERT_EQ(a->Do("table create exemp010 1"), "exemp010001: create_table");
  ASSERT_EQ(a->Do("insert exemp010 1 emp=1 dept=SALES dcas=SALES dnul=SALES drst=SALES"),
            "buffered insert on exemp010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  struct Case {
    const char *held;    // what a third host holds meanwhile ("": nothing)
    const char *buffer;  // what the failing host buffers first ("": nothing)
    const char *fails;   // ... and the request that fails
    const char *error;   // its answer starts so
  } cases[] = {{"", "insert exdep010 1 code=SALES", "flush", "error 520 "},
               {"", "", "table clear exdep010 1", "error "},
               {"", "", "table drop exdep010 1", "error "},
               {"table lock exdep010 1", "", "table create exdep010 1", "error 107 "}};
  int n = 0;
  for (const Case &k : cases) {
    SCOPED_TRACE(k.fails);
    if (*k.held != 0) {
      ASSERT_EQ(c->Do(k.held), "exdep010001: lock_table");
    }
    if (*k.buffer != 0) {
      ASSERT_EQ(a->Do(k.buffer), "buffered insert on exdep010001");
    }
    const std::string failed = a->Do(k.fails);
    EXPECT_EQ(failed.rfind(k.error, 0), 0u) << failed;
    if (*k.held != 0) {
      EXPECT_EQ(c->Do("abort"), "aborted");
    }
    const std::string code = "B" + std::to_string(n++);
    ASSERT_EQ(b->Do("insert exdep010 1 code=" + code), "buffered insert on exdep010001");
    std::string flushed;
    const long long ms = MsOf([&] { flushed = b->Do("flush"); });
    EXPECT_EQ(flushed, "flushed") << "the failed write kept the write transaction";
    EXPECT_LT(ms, 1500);
    EXPECT_EQ(b->Do("commit"), "committed");
    EXPECT_EQ(a->Do("abort"), "aborted");
    EXPECT_EQ(a->Do("read exdep010 1 code=" + code).rfind("exdep010001: ", 0), 0u);
  }
}

// A host killed while its request waits takes its locks with it at once,
// over TCP as over a Unix socket: the row it held goes to another host
// long before the wait of 30 s it was in would have ended.
TEST_P(HostServer, AHostKilledWhileItsRequestWaitsFreesItsLocksAtOnce) {
  Restart({"--lock-wait-ms=30000"});
  auto a = Host(), b = Host(), c = Host();
  EXPECT_EQ(a->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(b->Do("lockread exdep010 1 code=HR").rfind("exdep010001: ", 0), 0u);
  ASSERT_TRUE(b->Send("lockread exdep010 1 code=SALES"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the locked read did not wait";
  b->Kill();
  // Within a reply's time (20 s), not the 30 s b would have waited.
  EXPECT_EQ(c->Do("lockread exdep010 1 code=HR").rfind("exdep010001: ", 0), 0u);
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_EQ(a->Do("commit"), "committed");
}

// Hosts that each hold a row and ask for the next one's: the wait that
// would close the circle is refused at once, whichever host and wait
// (a locked read, or a write for the write transaction) closes it, while
// the others wait; once the refused one ends, they are given what they
// asked for in turn, each at the commit of the one it waited for.
TEST_P(HostServer, CircleOfWaitsIsRefusedToTheOneThatClosesIt) {
  Restart({"--lock-wait-ms=8000"});
  auto a = Host(), b = Host(), c = Host();
  for (const char *code : {"HR", "FIN"}) ASSERT_EQ(a->Do(std::string("insert exdep010 1 code=") + code), "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  struct Case {
    int hosts;         // in the circle: a, b and (with 3) c
    bool write_closes;  // the last closes it with a write, not a locked read
  } cases[] = {{2, false}, {3, false}, {3, true}};
  const char *rows[] = {"SALES", "HR", "FIN"};
  int budget = 1;
  for (const Case &k : cases) {
    SCOPED_TRACE(std::to_string(k.hosts) + (k.write_closes ? " hosts, a write closes" : " hosts"));
    ++budget;
    Process *hosts[] = {a.get(), b.get(), c.get()};
    // The first host flushes a change of its row: it holds the write
    // transaction, which the last one's write waits for.
    for (int i = 0; i < k.hosts; ++i)
      ASSERT_NE(hosts[i]->Do(std::string("lockread exdep010 1 code=") + rows[i]).rfind("exdep010001: ", 0), std::string::npos);
    ASSERT_EQ(a->Do("update exdep010 1 code=SALES budget=" + std::to_string(budget)), "buffered update on exdep010001");
    ASSERT_EQ(a->Do("flush"), "flushed");
    for (int i = 0; i + 1 < k.hosts; ++i) {
      ASSERT_TRUE(hosts[i]->Send(std::string("lockread exdep010 1 code=") + rows[i + 1]));
      usleep(300000);
      EXPECT_FALSE(hosts[i]->HasOutput()) << i << " did not wait";
    }
    Process *last = hosts[k.hosts - 1];
    // The server is held up while the closing request reaches it, as on a
    // busy machine: the refusal is at once however long the request took.
    auto slowly = [&](const std::string &request) {
      kill(server_->pid(), SIGSTOP);
      const bool sent = last->Send(request);
      usleep(300000);
      kill(server_->pid(), SIGCONT);
      return sent ? last->Line() : std::string();
    };
    std::string refused;
    if (k.write_closes) {
      ASSERT_EQ(last->Do(std::string("update exdep010 1 code=") + rows[k.hosts - 1] + " budget=5"),
                "buffered update on exdep010001");
      refused = slowly("flush");
      EXPECT_EQ(refused.rfind("error 520", 0), 0u) << refused;
      EXPECT_NE(refused.find("refused at once: it would have waited in a circle: session "), std::string::npos) << refused;
    } else {
      refused = slowly("lockread exdep010 1 code=SALES");
      EXPECT_EQ(refused.rfind("error 107 (record locked)", 0), 0u) << refused;
      EXPECT_NE(refused.find(" was refused at once: on driver server msqlite, it would have waited in a circle: "),
                std::string::npos)
          << refused;
    }
    for (int i = 0; i + 1 < k.hosts; ++i) EXPECT_FALSE(hosts[i]->HasOutput()) << i << " was answered";
    EXPECT_EQ(last->Do("abort"), "aborted");
    // The others get their rows from the last one back to the first.
    for (int i = k.hosts - 2; i >= 0; --i) {
      EXPECT_EQ(hosts[i]->Line().rfind("exdep010001: ", 0), 0u) << i;
      EXPECT_EQ(hosts[i]->Do("commit"), "committed") << i;
    }
  }
  EXPECT_NE(b->Do("read exdep010 1 code=SALES").find("budget=4.00 "), std::string::npos);
}

// An SQL UPDATE that meets another host's write transaction waits for it
// as a record write does: refused as locked when the transaction outlasts
// the wait, carried out when it ends within it.
TEST_P(HostServer, SqlUpdateWaitsForAnotherHostsWriteTransaction) {
  const std::string update = "sql run 1 UPDATE exdep010 SET budget = 7 WHERE code = 'SALES'";
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  const std::string refused = b->Do(update);
  EXPECT_EQ(refused.rfind("error 107 (record locked): ", 0), 0u) << refused;
  EXPECT_NE(refused.find("the SQL statement's wait for the write transaction was refused: another session's write "
                         "transaction held the database: session "),
            std::string::npos)
      << refused;
  const std::string holder = GetParam() ? "another host" : "process " + std::to_string(a->pid());
  EXPECT_TRUE(EndsWith(refused, " (\"t\") of " + holder + " holds it; try again once that host has ended its transaction (error 107)"))
      << refused;
  ASSERT_TRUE(b->Send(update));
  usleep(200000);  // b's UPDATE is most likely waiting by now
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "1 row updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=7.00 "), std::string::npos);
  // A row another host locked while the UPDATE waited for the write
  // transaction is waited for too, once it has the transaction.
  auto c = Host();
  EXPECT_EQ(a->Do("insert exdep010 1 code=FIN"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET budget = 8 WHERE code = 'SALES'"));
  usleep(200000);
  EXPECT_EQ(c->Do("lockread exdep010 1 code=SALES").find("budget=7.00 ") != std::string::npos, true);
  EXPECT_EQ(a->Do("commit"), "committed");
  usleep(200000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for the row locked meanwhile";
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "1 row updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=8.00 "), std::string::npos);
}

// An SQL UPDATE takes its rows before it waits for the write transaction,
// and nothing it reached stays held when it ends: a host that locks one of
// its rows while it waits is given the row and writes before it, with no
// circle and no refusal (the UPDATE takes the row again after that host's
// commit); a row it waited for that then matched no more is free once it
// answers, as is one it waited for before it failed; a statement that
// began its transaction's write and was refused gives the write
// transaction back at once.
TEST_P(HostServer, SqlUpdateTakesItsRowsFirstAndKeepsNothingItDoesNotChange) {
  Restart({"--lock-wait-ms=1000"});
  auto a = Host(), b = Host(), c = Host();
  ASSERT_EQ(a->Do("insert exdep010 1 code=HR budget=1"), "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  // b's UPDATE waits behind a's write transaction holding SALES; c locks
  // SALES meanwhile, changes it and commits, waiting for the write
  // transaction behind b; b's UPDATE then changes c's change.
  EXPECT_EQ(a->Do("insert exdep010 1 code=FIN"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET budget = 9 WHERE code = 'SALES'"));
  usleep(300000);
  EXPECT_NE(c->Do("lockread exdep010 1 code=SALES").find("budget=1.00 "), std::string::npos);
  EXPECT_EQ(c->Do("update exdep010 1 code=SALES budget=2"), "buffered update on exdep010001");
  ASSERT_TRUE(c->Send("commit"));
  usleep(300000);
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(c->Line(), "committed");
  EXPECT_EQ(b->Line(), "1 row updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=9.00 "), std::string::npos);

  // A row waited for that no longer matches is skipped and given back.
  EXPECT_NE(a->Do("lockread exdep010 1 code=HR").find("budget=1.00 "), std::string::npos);
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET name = 'x' WHERE budget = 1 OR code = 'FIN'"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for HR";
  EXPECT_EQ(a->Do("update exdep010 1 code=HR budget=5"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "1 row updated");
  EXPECT_LT(MsOf([&] { EXPECT_NE(c->Do("lockread exdep010 1 code=HR").find("budget=5.00 "), std::string::npos); }),
            4000);
  EXPECT_EQ(c->Do("abort"), "aborted");
  EXPECT_EQ(b->Do("commit"), "committed");

  // The UPDATE fails after it waited for its row: once a's commit made
  // its subquery give two rows, finding its rows again fails. The row it
  // waited for is free at once.
  EXPECT_EQ(a->Do("insert exdep010 1 code=BIG budget=200"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_NE(a->Do("lockread exdep010 1 code=SALES").find("budget=9.00 "), std::string::npos);
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET name = 'z' WHERE code = 'SALES' OR "
                      "budget = (SELECT budget FROM exdep010 WHERE code >= 'BIG' AND code < 'BIH')"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for SALES";
  EXPECT_EQ(a->Do("insert exdep010 1 code=BIG2 budget=300"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  const std::string failed = b->Line();
  EXPECT_EQ(failed.rfind("error 310 ", 0), 0u) << failed;
  EXPECT_NE(c->Do("lockread exdep010 1 code=SALES").find("budget=9.00 "), std::string::npos);
  EXPECT_EQ(c->Do("abort"), "aborted");
  EXPECT_EQ(b->Do("abort"), "aborted");

  // Refused after it took the write transaction, as its transaction's
  // first write: a row that a commit made match while it waited for the
  // write transaction is held by c, which locked it once that commit was
  // in (while e's write went before the UPDATE). The write transaction is
  // free for c's write at once, and the text says what to do.
  auto e = Host();
  EXPECT_EQ(a->Do("insert exdep010 1 code=IT budget=7"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("insert exdep010 1 code=OPS budget=8"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(a->Do("update exdep010 1 code=OPS budget=7"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  EXPECT_EQ(e->Do("insert exdep010 1 code=Q"), "buffered insert on exdep010001");
  ASSERT_TRUE(e->Send("flush"));
  usleep(300000);
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET name = 'y' WHERE budget = 7"));
  usleep(300000);
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(e->Line(), "flushed");
  EXPECT_NE(c->Do("lockread exdep010 1 code=OPS").find("budget=7.00 "), std::string::npos);
  EXPECT_EQ(e->Do("commit"), "committed");
  const std::string refused = b->Line();
  EXPECT_EQ(refused.rfind("error 107 (record locked): ", 0), 0u) << refused;
  EXPECT_NE(refused.find("key code = OPS, was refused after waiting"), std::string::npos) << refused;
  EXPECT_NE(refused.find("; try again once that host has ended its transaction"), std::string::npos) << refused;
  EXPECT_EQ(c->Do("update exdep010 1 code=OPS budget=3"), "buffered update on exdep010001");
  EXPECT_EQ(c->Do("flush"), "flushed");
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_EQ(b->Do("sql run 1 UPDATE exdep010 SET name = 'y' WHERE budget = 7"), "1 row updated");
  EXPECT_EQ(b->Do("commit"), "committed");

  // A batch of the host that holds the write transaction, which writes a
  // row the waiting UPDATE took (without a lock of its own: a wait for the
  // UPDATE would close a circle), is given the row as a locked read is;
  // the UPDATE changes the row after that host's commit.
  EXPECT_EQ(a->Do("insert exdep010 1 code=W"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET name = 'w' WHERE code = 'SALES'"));
  usleep(300000);
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=6"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for the batch's transaction";
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "1 row updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  const std::string sales = a->Do("read exdep010 1 code=SALES");
  EXPECT_NE(sales.find("budget=6.00 "), std::string::npos) << sales;
  EXPECT_NE(sales.find("name=\"w\""), std::string::npos) << sales;
}

// An SQL UPDATE that waited changes exactly the rows that match once it
// goes on, as a lock manager that locks rows as it scans them and looks
// again at what changed while it waited: a row the holder changed so that
// it matches no more is skipped (and free after the statement), a row the
// holder made match is changed, and so is a row that the commit of the
// write transaction it waited for made match.
TEST_P(HostServer, SqlUpdateAfterAWaitChangesExactlyTheRowsThatMatchThen) {
  Restart({"--lock-wait-ms=30000"});
  auto a = Host(), b = Host(), c = Host();
  for (const char *row : {"code=HR budget=1", "code=FIN budget=3", "code=IT budget=5"})
    ASSERT_EQ(a->Do(std::string("insert exdep010 1 ") + row), "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  // The codes of the rows named `name`, in order.
  auto named = [&](const std::string &name) {
    std::vector<std::string> rows;
    if (!c->Send("sql run 1 SELECT code FROM exdep010 WHERE name = '" + name + "' ORDER BY code")) return rows;
    Result(*c, &rows);
    return rows;
  };
  // b's UPDATE of the rows of budget 1 (HR, SALES) waits for HR, which a
  // holds; a moves HR out of budget 1 and FIN into it, and commits.
  EXPECT_NE(a->Do("lockread exdep010 1 code=HR").find("budget=1.00 "), std::string::npos);
  EXPECT_NE(a->Do("lockread exdep010 1 code=FIN").find("budget=3.00 "), std::string::npos);
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET name = 'r1' WHERE budget = 1"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for HR";
  EXPECT_EQ(a->Do("update exdep010 1 code=HR budget=5"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("update exdep010 1 code=FIN budget=1"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "2 rows updated");
  // HR, waited for and not changed, is free before b's transaction ends
  // (a lock kept would hold c's read for the whole bound of 30 s, longer
  // than a reply is waited for).
  EXPECT_NE(c->Do("lockread exdep010 1 code=HR").find("budget=5.00 "), std::string::npos);
  EXPECT_EQ(c->Do("abort"), "aborted");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(named("r1"), (std::vector<std::string>{"\"FIN\"", "\"SALES\""}));
  // b's UPDATE waits for a's write transaction, which moved IT into
  // budget 1: after a's commit it changes IT too.
  EXPECT_EQ(a->Do("update exdep010 1 code=IT budget=1"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET name = 'r2' WHERE budget = 1"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for the write transaction";
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "3 rows updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(named("r2"), (std::vector<std::string>{"\"FIN\"", "\"IT\"", "\"SALES\""}));
  // A commit makes HR match while b's UPDATE waits for the write
  // transaction behind e's write; c locks HR once that commit is in and
  // moves it out again. b, given the write transaction, finds HR held by
  // c: it waits for c without keeping the write transaction it took for
  // nothing yet, so that c's commit closes no circle; then it skips HR.
  auto e = Host();
  EXPECT_EQ(a->Do("update exdep010 1 code=HR budget=1"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  EXPECT_EQ(e->Do("insert exdep010 1 code=Q"), "buffered insert on exdep010001");
  ASSERT_TRUE(e->Send("flush"));
  usleep(300000);
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET name = 'r3' WHERE budget = 1"));
  usleep(300000);
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(e->Line(), "flushed");
  EXPECT_NE(c->Do("lockread exdep010 1 code=HR").find("budget=1.00 "), std::string::npos);
  EXPECT_EQ(e->Do("commit"), "committed");
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for HR";
  EXPECT_EQ(c->Do("update exdep010 1 code=HR budget=4"), "buffered update on exdep010001");
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "3 rows updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(named("r3"), (std::vector<std::string>{"\"FIN\"", "\"IT\"", "\"SALES\""}));
}

// An SQL UPDATE that waited for a row and then failed once it had the
// write transaction (the commit it waited for made its scalar subquery
// give two rows) gives back every row it took and, as its transaction's
// first write, the write transaction: a third host locks those rows and
// writes without a wait.
TEST_P(HostServer, SqlUpdateThatFailsAfterAWaitGivesBackItsRowsAndTheWriteTransaction) {
  Restart({"--lock-wait-ms=30000"});
  auto a = Host(), b = Host(), c = Host(), d = Host();
  for (const char *row : {"code=HR budget=1", "code=BIG budget=200"})
    ASSERT_EQ(a->Do(std::string("insert exdep010 1 ") + row), "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  // b waits for HR (a's lock), then for the write transaction (d's, which
  // adds a second row to the subquery's range).
  EXPECT_NE(a->Do("lockread exdep010 1 code=HR").find("budget=1.00 "), std::string::npos);
  ASSERT_EQ(d->Do("insert exdep010 1 code=BIG2 budget=300"), "buffered insert on exdep010001");
  ASSERT_EQ(d->Do("flush"), "flushed");
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exdep010 SET name = 'z' WHERE budget = 1 OR "
                      "budget = (SELECT budget FROM exdep010 WHERE code >= 'BIG' AND code < 'BIH')"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for HR";
  EXPECT_EQ(a->Do("abort"), "aborted");
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for the write transaction";
  EXPECT_EQ(d->Do("commit"), "committed");
  const std::string failed = b->Line();
  EXPECT_EQ(failed.rfind("error 310 ", 0), 0u) << failed;
  // The rows it took (BIG, HR, SALES) are free (a lock kept would hold a
  // read for the whole bound of 30 s, longer than a reply is waited
  // for), and so is the write transaction (a flush would be refused after
  // 2 s).
  for (const char *code : {"BIG", "HR", "SALES"})
    EXPECT_EQ(c->Do(std::string("lockread exdep010 1 code=") + code).rfind("exdep010001: ", 0), 0u) << code;
  EXPECT_EQ(c->Do("update exdep010 1 code=HR budget=2"), "buffered update on exdep010001");
  EXPECT_EQ(c->Do("flush"), "flushed");
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_EQ(b->Do("abort"), "aborted");
}

// A write parked behind other hosts' write transactions waits as long as
// the queue moves, also past the 10 s in which a request must arrive:
// sixteen hosts ahead of it, each holding the file for about 0.9 s (well
// inside the 2 s a write waits after the queue last moved), and it is
// answered. On a loaded machine passing the turn on takes longer: each
// holder then sleeps the less, so that its hold stays near 0.9 s; and the
// hosts ahead are taken in whatever order they reached the queue.
TEST_P(HostServer, WriteThatWaitsLongInAMovingQueueIsAnswered) {
  constexpr int kAhead = 16;
  constexpr auto kHold = std::chrono::milliseconds(900);
  using Clock = std::chrono::steady_clock;
  std::vector<std::unique_ptr<Process>> hosts;  // the last waits behind the others
  for (int i = 0; i <= kAhead; ++i) {
    hosts.push_back(Host());
    ASSERT_EQ(hosts.back()->Do("insert exdep010 1 code=Q" + std::to_string(i)), "buffered insert on exdep010001");
  }
  ASSERT_EQ(hosts[0]->Do("flush"), "flushed");
  const auto queued = Clock::now();
  for (int i = 1; i < kAhead; ++i) ASSERT_TRUE(hosts[i]->Send("flush"));
  usleep(500000);  // the last behind the others
  ASSERT_TRUE(hosts[kAhead]->Send("flush"));
  const auto start = Clock::now();
  auto turn = start - queued;  // the first holder's hold so far; then the last commit and the next one's answer
  std::vector<bool> waiting(kAhead + 1, true);
  waiting[0] = false;
  for (int holder = 0, n = 0; n < kAhead; ++n) {
    if (turn < kHold) std::this_thread::sleep_for(kHold - turn);
    const auto passed = Clock::now();
    ASSERT_EQ(hosts[holder]->Do("commit"), "committed") << holder;
    holder = -1;
    for (int waited = 0; holder < 0 && waited < molvane::test::kReplyMs; waited += 5) {
      for (int i = 1; i <= kAhead && holder < 0; ++i)
        if (waiting[i] && hosts[i]->HasOutput()) holder = i;
      if (holder < 0) usleep(5000);
    }
    ASSERT_GE(holder, 0) << "no write went on after commit " << n;
    waiting[holder] = false;
    ASSERT_EQ(hosts[holder]->Line(), "flushed") << holder;
    EXPECT_TRUE(holder != kAhead || n == kAhead - 1) << "the last write went ahead of others";
    turn = Clock::now() - passed;
  }
  EXPECT_GT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(hosts[kAhead]->Do("commit"), "committed");
  EXPECT_EQ(hosts[kAhead]->Do("table count exdep010 1"), "exdep010001: " + std::to_string(kAhead + 2) + " rows");
}

// Parked writes whose wait runs out while others are still ahead of them
// are refused as writes that met another host's write transaction, with
// that text; a dictionary without columns is refused with a text that
// says so, and so is it logged.
TEST_P(HostServer, RefusedWritesAndDictionariesSayWhy) {
  setenv("ZUV_LOG", (root_.path() + "/log").c_str(), 1);
  Restart({});
  auto a = Host();
  EXPECT_EQ(a->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  std::vector<std::unique_ptr<Process>> writers;
  for (int i = 0; i < 6; ++i) {
    writers.push_back(Host());
    ASSERT_EQ(writers.back()->Do("insert exdep010 1 code=Q" + std::to_string(i)), "buffered insert on exdep010001");
  }
  for (auto &w : writers) ASSERT_TRUE(w->Send("flush"));
  const std::string holder = GetParam() ? "another host" : "process " + std::to_string(a->pid());
  for (auto &w : writers) {
    const std::string refused = w->Line();
    EXPECT_EQ(refused.rfind(kLocked + "another session's write transaction held the database: session ", 0), 0u)
        << refused;
    EXPECT_TRUE(EndsWith(refused, " (\"t\") of " + holder + " holds it")) << refused;
  }
  EXPECT_EQ(a->Do("commit"), "committed");

  int fd = Dial(listen_, root_.path() + "/main.db.secret");
  ASSERT_GE(fd, 0);
  auto ask = [fd](const std::string &request) {
    EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    return ReadAll(fd, 1000);
  };
  const std::string session = ask(std::string({2, 't', 0}));
  ASSERT_EQ(session.size(), 8u);
  std::string dd = std::string(1, 8) + session.substr(0, 4) + std::string("exnul010", 9);
  for (int field = 0; field < 8; ++field) dd += std::string({0, static_cast<char>(field == 4)});
  EXPECT_EQ(ask(dd), std::string({0, 0, 0, static_cast<char>(ZE_ILLEGAL_STATE)}));
  const std::string why = "table exnul010 without columns";
  EXPECT_EQ(ask(std::string({7, 0, 0, 0, 9, 0, 4, 0, 0, 0, 105})),
            std::string({0, static_cast<char>(why.size())}) + why + std::string(4, '\0'));
  close(fd);
  const std::string log = root_.ReadFile("log/molvane-driver.log");
  EXPECT_NE(log.find("table exnul010 company 001: " + why), std::string::npos) << log;
  EXPECT_EQ(log.find("not an error"), std::string::npos) << log;
}

// An SQL UPDATE and another host's record lock on its table: the UPDATE
// is held up only by the rows it changes that the other host holds, and
// waits for them one after another as a locked read does; refused, it
// names the row and its holder, and gives back the rows it took.
TEST_P(HostServer, SqlUpdateOfARowLockedByAnotherHostIs107) {
  const std::string locked = "error 107 (record locked): SQLState QP999: Record is locked: the SQL statement's row of "
                             "exemp010001, key emp = 1, was refused after waiting ";
  Restart({"--lock-wait-ms=2000"});
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("table create exemp010 1"), "exemp010001: create_table");
  for (const char *emp : {"1", "2"})
    EXPECT_EQ(a->Do(std::string("insert exemp010 1 emp=") + emp + " dept=SALES dcas=SALES dnul=SALES drst=SALES"),
              "buffered insert on exemp010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(a->Do("lockread exemp010 1 emp=1").rfind("exemp010001: ", 0), 0u);
  // Another row of the table is changed at once; the held one is waited
  // for as a locked read waits, then refused.
  EXPECT_LT(MsOf([&] { EXPECT_EQ(b->Do("sql run 1 UPDATE exemp010 SET salary = 5 WHERE emp = 2"), "1 row updated"); }),
            1500);
  EXPECT_EQ(b->Do("commit"), "committed");
  const std::string refused = b->Do("sql run 1 UPDATE exemp010 SET salary = 7 WHERE emp = 1");
  EXPECT_EQ(refused.rfind(locked, 0), 0u) << refused;
  EXPECT_NE(refused.find(" s (the driver server's --lock-wait-ms): session "), std::string::npos) << refused;
  EXPECT_EQ(a->Do("sql run 1 UPDATE exemp010 SET salary = 7 WHERE emp = 1"), "1 row updated");
  // Given the row at the holder's commit, the waiting UPDATE goes on.
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exemp010 SET salary = 9 WHERE emp >= 1"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for the holder";
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "2 rows updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_NE(a->Do("read exemp010 1 emp=1").find(" salary=9"), std::string::npos);
  // Over two rows that two other hosts hold, the UPDATE waits for each in
  // turn; refused for the second, it gives the first back at once.
  auto c = Host();
  EXPECT_EQ(a->Do("lockread exemp010 1 emp=1").rfind("exemp010001: ", 0), 0u);
  EXPECT_EQ(c->Do("lockread exemp010 1 emp=2").rfind("exemp010001: ", 0), 0u);
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exemp010 SET salary = 11 WHERE emp >= 1"));
  usleep(300000);
  EXPECT_EQ(a->Do("commit"), "committed");
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for its second row";
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "2 rows updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(a->Do("lockread exemp010 1 emp=1").rfind("exemp010001: ", 0), 0u);
  EXPECT_EQ(c->Do("lockread exemp010 1 emp=2").rfind("exemp010001: ", 0), 0u);
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exemp010 SET salary = 13 WHERE emp >= 1"));
  usleep(300000);
  EXPECT_EQ(a->Do("commit"), "committed");
  const std::string second = b->Line();
  EXPECT_NE(second.find("exemp010001, key emp = 2, was refused after waiting"), std::string::npos) << second;
  // Nothing of the refused UPDATE stays held: emp 1 is free for another
  // host at once, and its own retry waits only for emp 2.
  EXPECT_NE(a->Do("lockread exemp010 1 emp=1").find(" salary=11"), std::string::npos);
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(c->Do("commit"), "committed");
  EXPECT_EQ(b->Do("sql run 1 UPDATE exemp010 SET salary = 13 WHERE emp >= 1"), "2 rows updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  // A row an SQL DELETE removed is held by its session until it ends (the
  // row's holder by its rowid): a locked read waits for it and then finds
  // no row.
  EXPECT_EQ(b->Do("table create tttxt010 1"), "tttxt010001: create_table");
  EXPECT_EQ(b->Do("insert tttxt010 1 ctxt=2 clan=E seqe=1 text=Gone"), "buffered insert on tttxt010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(b->Do("sql run 1 DELETE FROM tttxt010 WHERE ctxt = 2"), "1 row deleted");
  ASSERT_TRUE(a->Send("lockread tttxt010 1 ctxt=2 clan=E seqe=1"));
  usleep(300000);
  EXPECT_FALSE(a->HasOutput()) << "the locked read did not wait for the DELETE's transaction";
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(a->Line().rfind("error 111 (no record found)", 0), 0u);
  EXPECT_EQ(a->Do("abort"), "aborted");
  // A table lock holds every row, also those an UPDATE changes none of.
  EXPECT_EQ(a->Do("table lock exemp010 1"), "exemp010001: lock_table");
  ASSERT_TRUE(b->Send("sql run 1 UPDATE exemp010 SET salary = 3 WHERE emp = 7"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << "the UPDATE did not wait for the table lock";
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "0 rows updated");
  EXPECT_EQ(b->Do("commit"), "committed");
}

// A failed SQL UPDATE frees what it reached: the rows it changed before
// it failed are neither changed nor locked for other hosts, and its
// transaction goes on. A statement whose time-out made SQLite roll back the
// transaction it joined loses that transaction: another host's wait for
// its rows ends at once, and every later request of it (a flush, a row
// action, SQL, the commit) is refused with 510 and the reason until the
// host aborts.
TEST_P(HostServer, FailedStatementFreesWhatItReachedAndALostTransactionIsRefused) {
  Restart({"--lock-wait-ms=8000"});
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
  EXPECT_LT(MsOf([&] {
              EXPECT_NE(b->Do("lockread exdep010 1 code=SALES").find("budget=1.00 "), std::string::npos);
              EXPECT_NE(b->Do("lockread exdep010 1 code=HR").find("budget=5.00 "), std::string::npos);
            }),
            4000);
  EXPECT_EQ(b->Do("lockread exdep010 1 code=FIN").rfind("error 107 (record locked)", 0), 0u);
  EXPECT_EQ(b->Do("abort"), "aborted");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_NE(b->Do("read exdep010 1 code=FIN").find("budget=6.00 "), std::string::npos);

  // A transaction lost to its statement's time-out.
  Fill(300);
  EXPECT_EQ(a->Do("insert exdep010 1 code=IT"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  ASSERT_TRUE(b->Send("lockread exdep010 1 code=IT"));
  EXPECT_EQ(a->Do("sql prepare u UPDATE exdep010 SET budget = 7 WHERE NOT EXISTS (SELECT x.code FROM exdep010 x, "
                  "exdep010 y, exdep010 z WHERE x.budget + y.budget + z.budget < 0)"),
            "prepared u: update");
  EXPECT_EQ(a->Do("sql timeout u 1"), "timeout u 1");
  const auto start = std::chrono::steady_clock::now();
  const std::string timed_out = a->Do("sql exec u 1");
  EXPECT_EQ(timed_out.rfind("error 313 ", 0), 0u) << timed_out;
  EXPECT_EQ(b->Line(), "error 111 (no record found): No record found in exdep010001 (db_eq(locked) on index 1, key "
                       "code = IT)");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  const std::string reason = "SQLite rolled back the transaction of session ";
  const std::string cause = "when its SQL statement failed with error 313 (Query time out error); abort it and do "
                            "its work again";
  EXPECT_EQ(a->Do("insert exdep010 1 code=LEGAL"), "buffered insert on exdep010001");
  for (const std::string &command : {std::string("flush"), std::string("read exdep010 1 code=SALES"),
                                     std::string("sql run 1 SELECT code FROM exdep010 WHERE code = 'SALES'"),
                                     std::string("sql run 1 UPDATE exdep010 SET budget = 2 WHERE code = 'SALES'"),
                                     std::string("commit")}) {
    // A query prints its (empty) result before its error.
    std::string refused = a->Do(command);
    for (int line = 0; line < 3 && refused.rfind("error ", 0) != 0; ++line) refused = a->Line();
    EXPECT_NE(refused.find("error 510"), std::string::npos) << command << ": " << refused;
    EXPECT_NE(refused.find(reason), std::string::npos) << command << ": " << refused;
    EXPECT_NE(refused.find(cause), std::string::npos) << command << ": " << refused;
  }
  EXPECT_EQ(a->Do("abort"), "aborted");
  EXPECT_EQ(a->Do("read exdep010 1 code=IT"), "error 111 (no record found): No record found in exdep010001 "
                                              "(db_eq on index 1, key code = IT)");
  EXPECT_EQ(a->Do("insert exdep010 1 code=IT"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
}

// Every row a transaction changed is locked until it ends: another host's
// locked read of it is refused, while its read without a lock sees the
// committed row. A table lock keeps the other hosts' inserts out too.
TEST_P(HostServer, ChangedRowsAndLockedTablesRefuseOtherHosts) {
  auto a = Host(), b = Host();
  EXPECT_EQ(b->Do("update exdep010 1 code=SALES budget=5"), "buffered update on exdep010001");
  EXPECT_EQ(b->Do("flush"), "flushed");
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind("error 107 (record locked)", 0), 0u);
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=1.00 "), std::string::npos);
  EXPECT_EQ(a->Do("table lock exdep010 1").rfind("error 107 (record locked)", 0), 0u);
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_NE(a->Do("lockread exdep010 1 code=SALES").find("budget=5.00 "), std::string::npos);
  EXPECT_EQ(a->Do("commit"), "committed");

  // Rows changed after the other host first asked are locked too; those of
  // a batch that failed are not.
  const char no_it[] = "error 111 (no record found): No record found in exdep010001 (db_eq(locked) on "
                       "index 1, key code = IT)";
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("flush"), "flushed");
  EXPECT_EQ(a->Do("lockread exdep010 1 code=HR").rfind("error 107 (record locked)", 0), 0u);
  EXPECT_EQ(b->Do("insert exdep010 1 code=FIN"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("flush"), "flushed");
  EXPECT_EQ(a->Do("lockread exdep010 1 code=FIN").rfind("error 107 (record locked)", 0), 0u);
  EXPECT_EQ(b->Do("update exdep010 1 code=SALES budget=6"), "buffered update on exdep010001");
  EXPECT_EQ(b->Do("insert exdep010 1 code=IT"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("flush"), "error 520 (buffered update failed): the update of exdep010001 failed "
                            "with error 100 (duplicate key): Duplicate key code = HR in exdep010001 "
                            "(index 1)");
  EXPECT_EQ(a->Do("lockread exdep010 1 code=IT"), no_it);
  // The row the failed batch updated is as it was, and free to lock.
  EXPECT_NE(a->Do("lockread exdep010 1 code=SALES").find("budget=5.00 "), std::string::npos);
  EXPECT_EQ(b->Do("abort"), "aborted");
  EXPECT_NE(a->Do("lockread exdep010 1 code=SALES").find("budget=5.00 "), std::string::npos);
  EXPECT_EQ(a->Do("commit"), "committed");

  EXPECT_EQ(a->Do("table lock exdep010 1"), "exdep010001: lock_table");
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  const std::string commit = b->Do("commit");
  EXPECT_EQ(commit.rfind(kLocked + "insert (action 1) of row 1: the row code = HR is held by session ", 0), 0u)
      << commit;
  EXPECT_EQ(b->Do("abort"), "aborted");
  EXPECT_EQ(a->Do("insert exdep010 1 code=IT"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
}

// A host that holds the write transaction and sends nothing loses it after
// the idle limit: the other hosts write again, and its own commit fails
// with 510 and the server's reason until it aborts. A table made inside
// the transaction is there again, as after any rollback. The server's log
// gives the reason of each refused commit.
TEST_P(HostServer, IdleWriteTransactionIsRolledBack) {
  const std::string none = "error 111 (no record found): No record found in exemp010001 (db_eq on index 1, key emp = 1)";
  setenv("ZUV_LOG", (root_.path() + "/log").c_str(), 1);
  Restart({"--idle-transaction-limit=1"});
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=4"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  EXPECT_EQ(a->Do("read exemp010 1 emp=1"), none);  // its table is made inside the transaction
  usleep(2500000);
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  // Every request of it is refused with the reason, its reads too.
  const std::string update = a->Do("update exdep010 1 code=SALES budget=5");
  EXPECT_EQ(update.rfind("error 510", 0), 0u) << update;
  EXPECT_NE(update.find("no request for more than 1 s"), std::string::npos) << update;
  EXPECT_EQ(a->Do("insert exdep010 1 code=FIN"), "buffered insert on exdep010001");
  const std::string flush = a->Do("flush");
  EXPECT_EQ(flush.rfind("error 520", 0), 0u) << flush;
  EXPECT_NE(flush.find("no request for more than 1 s"), std::string::npos) << flush;
  const std::string commit = a->Do("commit");
  EXPECT_EQ(commit.rfind("error 510", 0), 0u) << commit;
  EXPECT_NE(commit.find("the driver server rolled back the transaction of session "), std::string::npos) << commit;
  EXPECT_NE(commit.find("no request for more than 1 s"), std::string::npos) << commit;
  const std::string log = root_.ReadFile("log/molvane-driver.log");
  EXPECT_NE(log.find("transaction action 1 refused: the driver server rolled back the transaction of session "),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("not an error"), std::string::npos) << log;
  EXPECT_EQ(a->Do("abort"), "aborted");
  EXPECT_EQ(a->Do("read exemp010 1 emp=1"), none);
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=1.00 "), std::string::npos);
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=4"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");

  // A session that holds a row lock without a write is held to the same
  // limit: a holder that stops (SIGSTOP) keeps the row no longer, and its
  // next locked read and its commit are refused with the reason until it
  // aborts.
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  kill(a->pid(), SIGSTOP);
  usleep(2500000);
  EXPECT_NE(b->Do("lockread exdep010 1 code=SALES").find("budget=4.00 "), std::string::npos);
  kill(a->pid(), SIGCONT);
  const std::string lockread = a->Do("lockread exdep010 1 code=HR");
  EXPECT_EQ(lockread.rfind("error 510", 0), 0u) << lockread;
  const std::string refused = a->Do("commit");
  EXPECT_EQ(refused.rfind("error 510", 0), 0u) << refused;
  EXPECT_NE(refused.find("no request for more than 1 s while it held row or table locks"), std::string::npos)
      << refused;
  EXPECT_EQ(a->Do("abort"), "aborted");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(a->Do("commit"), "committed");
}

// A transaction that the server rolled back for its idle limit has undone
// its writes for an open cursor of it too: once the host has heard so (its
// next request refused with 510: a write, or its commit, which goes on as
// an abort), the departments' answer that the cursor kept from before (an
// IN whose list went to the employees' own driver) is not used again. The
// cursor's next fetch asks the server for it, which refuses it as the
// transaction's other requests, instead of giving the employees of a name
// the rollback undid.
TEST_P(HostServer, AnOpenCursorKeepsNothingOfARolledBackTransaction) {
  Restart({"--idle-transaction-limit=1"});
  root_.WriteFile("lib/ipc_info", root_.ReadFile("lib/ipc_info") + "msqltwo child " + Driver() + " ${ZUV}/two.db\n");
  root_.WriteFile("lib/tabledef1", "exemp010:*:msqltwo\n*::msqlite\n");
  {
    auto setup = Host();
    EXPECT_EQ(setup->Do("table create exemp010 1"), "exemp010001: create_table");
    for (const char *emp : {"1", "2"})
      EXPECT_EQ(setup->Do(std::string("insert exemp010 1 emp=") + emp + " name=E dept=SALES dcas=SALES drst=SALES"),
                "buffered insert on exemp010001");
    EXPECT_EQ(setup->Do("commit"), "committed");
  }
  // The request that hears of the rollback.
  for (const char *request : {"update exdep010 1 code=SALES budget=5", "commit"}) {
    SCOPED_TRACE(request);
    auto a = Host();
    EXPECT_EQ(a->Do("update exdep010 1 code=SALES name=UNDONE"), "buffered update on exdep010001");
    EXPECT_EQ(a->Do("flush"), "flushed");
    EXPECT_EQ(a->Do("sql prepare s SELECT e.emp FROM exemp010 e WHERE e.drst IN "
                    "(SELECT d.code FROM exdep010 d WHERE d.name = 'UNDONE')"),
              "prepared s: select");
    EXPECT_EQ(a->Do("sql rows s 1"), "rows per fetch s 1");
    EXPECT_EQ(a->Do("sql exec s 1"), "executed s");
    ASSERT_TRUE(a->Send("sql fetch s 1"));
    EXPECT_EQ(Result(*a), "(1 row)");
    usleep(2500000);
    const std::string heard = a->Do(request);
    EXPECT_EQ(heard.rfind("error 510", 0), 0u) << heard;
    ASSERT_TRUE(a->Send("sql fetch s"));
    EXPECT_EQ(Result(*a), "(0 rows)");
    const std::string refused = a->Line();
    EXPECT_EQ(refused.rfind("error 510", 0), 0u) << refused;
    EXPECT_EQ(a->Do("abort"), "aborted");
  }
}

}  // namespace
