// Several hosts on one database through one driver server (molvane-driver
// --listen on a Unix socket under the environment root, or on a loopback
// port): molvane-host
// processes driven line by line show that a locked read of one host
// refuses another host's update until the commit, that a delayed-lock
// conflict between hosts is 201, and that a host killed in the middle of a
// transaction leaves neither locks nor rows while the server goes on. A
// load of forked hosts that increment hot rows and insert rows ends with
// every row equal to what was committed. Drivers that would split the
// locks (a child driver or a second server on the served file) are refused.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/dd.h>
#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "host_env.h"

namespace {

constexpr int kReplyMs = 20000;  // the longest wait for one line of a host

// Waits for a child process for at most `ms`; kills it after that. Its
// exit status, or -1 when it did not end by itself or was signalled.
int Reap(pid_t pid, int ms) {
  for (int waited = 0; waited <= ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// A process started with its standard input and output on pipes; the
// arguments are execv's.
class Process {
 public:
  explicit Process(const std::vector<std::string> &argv) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      std::vector<char *> args;
      for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~Process() {
    if (in_ >= 0) close(in_);
    close(out_);
    if (pid_ > 0) Reap(pid_, 10000);
  }
  // Writes a line; reads one line back ("" when none came in time).
  std::string Do(const std::string &line) { return Send(line) ? Line() : ""; }
  bool Send(const std::string &line) {
    std::string text = line + "\n";
    return write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  std::string Line() {
    for (int waited = 0; buffered_.find('\n') == std::string::npos && waited < kReplyMs; waited += 100) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[4096];
      ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) break;
      buffered_.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t end = buffered_.find('\n');
    if (end == std::string::npos) return "";
    std::string line = buffered_.substr(0, end);
    buffered_.erase(0, end + 1);
    return line;
  }
  void Kill() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // Signals the process (0: none) and gives its exit status.
  int Stop(int signal) {
    if (signal != 0) kill(pid_, signal);
    int status = Reap(pid_, 10000);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffered_;
};

// True when a server accepts connections on the socket path or, for
// "tcp:PORT", on the loopback port.
bool Connects(const std::string &where) {
  sockaddr_un un{};
  sockaddr_in in{};
  sockaddr *addr = reinterpret_cast<sockaddr *>(&un);
  socklen_t size = sizeof un;
  if (where.rfind("tcp:", 0) == 0) {
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<std::uint16_t>(std::atoi(where.c_str() + 4)));
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr = reinterpret_cast<sockaddr *>(&in);
    size = sizeof in;
  } else {
    un.sun_family = AF_UNIX;
    std::strncpy(un.sun_path, where.c_str(), sizeof un.sun_path - 1);
  }
  int fd = socket(addr->sa_family, SOCK_STREAM, 0);
  bool ok = connect(fd, addr, size) == 0;
  close(fd);
  return ok;
}

// A loopback port that was free a moment ago.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof in;
  bind(fd, reinterpret_cast<sockaddr *>(&in), size);
  getsockname(fd, reinterpret_cast<sockaddr *>(&in), &size);
  close(fd);
  return ntohs(in.sin_port);
}

// The server listens on a Unix socket below the root, or on a loopback port.
class HostServer : public molvane::test::HostEnv, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    HostEnv::SetUp();
    // The root of this test, also for the hosts forked from this process.
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    const bool tcp = GetParam();
    const int port = tcp ? FreePort() : 0;
    listen_ = tcp ? "tcp:" + std::to_string(port) : root_.path() + "/run.sock";
    root_.WriteFile("lib/ipc_info", tcp ? "msqlite tcp " + std::to_string(port) + "\n" : "msqlite unix run.sock\n");
    server_ = std::make_unique<Process>(
        std::vector<std::string>{Driver(), "--listen=" + listen_, root_.path() + "/main.db"});
    for (int i = 0; i < 500 && !Connects(listen_); ++i) usleep(10000);
    ASSERT_TRUE(Connects(listen_)) << "the server did not listen";
    auto setup = Host();
    ASSERT_EQ(setup->Do("table create exdep010 1"), "exdep010001: create_table");
    ASSERT_EQ(setup->Do("insert exdep010 1 code=SALES budget=1"), "buffered insert on exdep010001");
    ASSERT_EQ(setup->Do("commit"), "committed");
  }
  void TearDown() override {
    // The server stops cleanly on SIGTERM and removes its socket and, the
    // last driver on the file, the lock file.
    if (server_ != nullptr) {
      EXPECT_EQ(server_->Stop(SIGTERM), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(root_.path() + "/run.sock"));
    EXPECT_FALSE(std::filesystem::exists(root_.path() + "/main.db.lock"));
  }
  static std::string Driver() { return std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver"; }
  // Starts the server again with more options.
  void Restart(const std::vector<std::string> &options) {
    ASSERT_EQ(server_->Stop(SIGTERM), 0);
    std::vector<std::string> argv{Driver(), "--listen=" + listen_, root_.path() + "/main.db"};
    argv.insert(argv.end(), options.begin(), options.end());
    server_ = std::make_unique<Process>(argv);
    for (int i = 0; i < 500 && !Connects(listen_); ++i) usleep(10000);
    ASSERT_TRUE(Connects(listen_)) << "the server did not listen";
  }
  // A logged-on molvane-host with a transaction started.
  std::unique_ptr<Process> Host() {
    auto host = std::make_unique<Process>(std::vector<std::string>{
        std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host", "--zuv", root_.path(), "--script", "-"});
    EXPECT_EQ(host->Do("logon demo"), "logged on as demo");
    EXPECT_EQ(host->Do("start t"), "transaction t id 1");
    return host;
  }
  std::unique_ptr<Process> server_;
  std::string listen_;  // the server's --listen value
};

const char kSales[] = "exdep010001: Refcntd=0 Refcntu=0 budget=";
const char kLocked[] = "error 520 (buffered update failed): Error during buffered updates; the update "
                       "of exdep010001 failed with error 107 (record locked)";

TEST_P(HostServer, LockedReadOfOneHostRefusesTheOtherUntilItsCommit) {
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  EXPECT_EQ(b->Do("lockread exdep010 1 code=SALES").rfind("error 107 (record locked)", 0), 0u);
  EXPECT_EQ(b->Do("update exdep010 1 code=SALES budget=5"), "buffered update on exdep010001");
  EXPECT_EQ(b->Do("commit"), kLocked);
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=2"), "buffered update on exdep010001");
  // A flushed write holds the database: the other host's write waits for
  // it, then is refused as locked, never as an illegal state.
  EXPECT_EQ(a->Do("flush"), "flushed");
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_NE(b->Do("commit").find("failed with error 107 (record locked)"), std::string::npos);
  EXPECT_EQ(a->Do("commit"), "committed");
  // The commit released the lock.
  EXPECT_NE(b->Do("lockread exdep010 1 code=SALES").find("budget=2.00 "), std::string::npos);
  EXPECT_EQ(b->Do("update exdep010 1 code=SALES budget=3"), "buffered update on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=3.00 "), std::string::npos);
}

// An SQL UPDATE that meets another host's write transaction waits for it
// as a record write does: refused as locked when the transaction outlasts
// the wait, carried out when it ends within it.
TEST_P(HostServer, SqlUpdateWaitsForAnotherHostsWriteTransaction) {
  const std::string update = "sql run 1 UPDATE exdep010 SET budget = 7 WHERE code = 'SALES'";
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  EXPECT_EQ(b->Do(update), "error 107 (record locked): Record is locked; SQLState QP999: Record is locked (error 107)");
  ASSERT_TRUE(b->Send(update));
  usleep(200000);  // b's UPDATE is most likely waiting by now
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line(), "1 row updated");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=7.00 "), std::string::npos);
}

// The driver's own check before an SQL UPDATE: another host's record lock
// on the table refuses it at once; the host's own lock does not.
TEST_P(HostServer, SqlUpdateOfARowLockedByAnotherHostIs107) {
  const char locked[] = "error 107 (record locked): Record is locked; SQLState QP999: Record is locked (error 107)";
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("table create exemp010 1"), "exemp010001: create_table");
  EXPECT_EQ(a->Do("insert exemp010 1 emp=1 dept=SALES dcas=SALES dnul=SALES drst=SALES"),
            "buffered insert on exemp010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(a->Do("lockread exemp010 1 emp=1").rfind("exemp010001: ", 0), 0u);
  EXPECT_EQ(b->Do("sql run 1 UPDATE exemp010 SET salary = 7 WHERE emp = 1"), locked);
  EXPECT_EQ(a->Do("sql run 1 UPDATE exemp010 SET salary = 7 WHERE emp = 1"), "1 row updated");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_NE(b->Do("read exemp010 1 emp=1").find(" salary=7"), std::string::npos);
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

  EXPECT_EQ(a->Do("table lock exdep010 1"), "exdep010001: lock_table");
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("commit"), kLocked);
  EXPECT_EQ(b->Do("abort"), "aborted");
  EXPECT_EQ(a->Do("insert exdep010 1 code=IT"), "buffered insert on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
}

// A host that holds the write transaction and sends nothing loses it after
// the idle limit: the other hosts write again, and its own commit fails
// with 510 until it aborts.
TEST_P(HostServer, IdleWriteTransactionIsRolledBack) {
  Restart({"--idle-transaction-limit=1"});
  auto a = Host(), b = Host();
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=4"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("flush"), "flushed");
  usleep(2500000);
  EXPECT_EQ(b->Do("insert exdep010 1 code=HR"), "buffered insert on exdep010001");
  EXPECT_EQ(b->Do("commit"), "committed");
  EXPECT_EQ(a->Do("commit").rfind("error 510", 0), 0u);
  EXPECT_EQ(a->Do("abort"), "aborted");
  EXPECT_NE(a->Do("read exdep010 1 code=SALES").find("budget=1.00 "), std::string::npos);
  EXPECT_EQ(a->Do("update exdep010 1 code=SALES budget=4"), "buffered update on exdep010001");
  EXPECT_EQ(a->Do("commit"), "committed");
}

// A result left open keeps no snapshot for long: it moves its rest to a
// temporary file, so that another host's commits reuse the WAL instead of
// growing it, and the rest still arrives.
TEST_P(HostServer, OpenResultDoesNotLetTheWalGrow) {
  Restart({"--open-result-limit=1"});
  auto a = Host();
  for (int i = 0; i < 20; ++i)
    ASSERT_EQ(a->Do("insert exdep010 1 code=D" + std::to_string(i)), "buffered insert on exdep010001");
  ASSERT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(a->Do("sql prepare q SELECT code FROM exdep010"), "prepared q: select");
  EXPECT_EQ(a->Do("sql rows q 1"), "rows per fetch q 1");
  EXPECT_EQ(a->Do("sql exec q 1"), "executed q");
  ASSERT_TRUE(a->Send("sql fetch q 1"));
  std::string line;
  while (!(line = a->Line()).empty() && line[0] != '(') {}
  EXPECT_EQ(line, "(1 row)");
  usleep(1500000);
  std::string script = "logon demo\nstart w\n";
  for (int i = 0; i < 2000; ++i)
    script += "update exdep010 1 code=SALES budget=" + std::to_string(i % 100) + "\ncommit\n";
  int status = 0;
  std::string out = RunText(script, &status);
  EXPECT_EQ(status, 0) << out.substr(0, 2000);
  auto wal = std::filesystem::file_size(root_.path() + "/main.db-wal");
  EXPECT_LT(wal, 16u << 20);
  ASSERT_TRUE(a->Send("sql fetch q"));
  while (!(line = a->Line()).empty() && line[0] != '(') {}
  EXPECT_EQ(line, "(20 rows)");
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
// last, every whole request it sent is answered.
TEST_P(HostServer, ClientThatNeverReadsIsHeldBackAndLaterAnsweredInFull) {
  if (GetParam()) GTEST_SKIP() << "shown over a Unix socket, whose buffers do not grow";
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un un{};
  un.sun_family = AF_UNIX;
  std::strncpy(un.sun_path, listen_.c_str(), sizeof un.sun_path - 1);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&un), sizeof un), 0);
  // EXE_SYSTEM 9 with information code 1: the driver's version text.
  const char request[] = {7, 0, 0, 0, 9, 0, 4, 0, 0, 0, 1};
  std::string batch;
  for (int i = 0; i < 4096; ++i) batch.append(request, sizeof request);
  constexpr std::size_t kCap = 32u << 20;
  std::size_t sent = 0;
  bool blocked = false;
  while (sent < kCap && !blocked) {
    std::size_t at = sent % batch.size();
    ssize_t n = send(fd, batch.data() + at, batch.size() - at, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    pollfd p{fd, POLLOUT, 0};
    blocked = poll(&p, 1, 2000) == 0;
  }
  EXPECT_TRUE(blocked) << sent << " request bytes taken from a client that reads nothing";
  auto a = Host();
  EXPECT_EQ(a->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);

  std::string got;
  std::size_t expected = 0;
  char buf[1 << 16];
  for (bool more = true; more && (expected == 0 || got.size() < expected);) {
    pollfd p{fd, POLLIN, 0};
    ssize_t n = poll(&p, 1, 5000) == 1 ? read(fd, buf, sizeof buf) : 0;
    more = n > 0;
    if (more) got.append(buf, static_cast<std::size_t>(n));
    if (expected == 0 && got.size() >= 2)
      expected = (sent / sizeof request) * (2 + (static_cast<unsigned char>(got[0]) << 8 | static_cast<unsigned char>(got[1])) + 4);
  }
  EXPECT_EQ(got.size(), expected);
  EXPECT_EQ(got.substr(2, 15), "msqlite SQLite ");
  close(fd);
  EXPECT_EQ(a->Do("read exdep010 1 code=SALES").rfind(kSales, 0), 0u);
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

  std::vector<pid_t> pids;
  std::vector<int> reports;
  for (int i = 0; i < kHosts; ++i) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      std::exit(LoadHost(i, fds[1]));
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
  for (pid_t pid : pids) EXPECT_EQ(Reap(pid, 60000), 0) << "a host failed or hung";

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

INSTANTIATE_TEST_SUITE_P(Forms, HostServer, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "Tcp" : "Unix");
                         });

}  // namespace
