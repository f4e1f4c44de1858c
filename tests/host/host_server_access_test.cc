// Who a driver server serves and which drivers share its file: hosts of
// TSS modes 1 and 2 on child drivers of one file, a server of a mode of its
// own, peers of other uids and TCP connections without the token, and the
// claims of the file and of the socket path that refuse a second driver or
// server (on any name of the file) instead of splitting the locks.
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "host_server.h"

namespace {

using molvane::test::Address;
using molvane::test::Admission;
using molvane::test::ConnectsOnceStarted;
using molvane::test::DialSilent;
using molvane::test::FreePort;
using molvane::test::HostServer;
using molvane::test::Process;

const char kSales[] = "exdep010001: Refcntd=0 Refcntu=0 budget=";

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

  // A part of the token is not the token; after the token come, each after
  // a tab, the client's process id ("pid=N", a positive pid_t) and its host
  // value ("host=" and 16 lowercase hex digits, not all 0), each once, and
  // nothing else.
  std::ifstream secret(root_.path() + "/main.db.secret");
  std::string token;
  std::getline(secret, token);
  ASSERT_EQ(token.size(), 64u);
  const std::string not_its = "refused: the token presented to the driver server on " + listen_ + " is not its token";
  const std::string malformed = "refused: the token line presented to the driver server on " + listen_ +
                                " is malformed: after its token come, each after a tab, pid= and the client's "
                                "process id (1 to 2147483647) and host= and its host value (16 lowercase hex "
                                "digits, not all 0)";
  const std::string host = "\thost=0123456789abcdef";
  const struct {
    std::string line;
    std::string answer;
  } lines[] = {
      {token.substr(0, 32), not_its}, {token.substr(0, 1), not_its}, {token.substr(1), not_its},
      {token.substr(1) + "\tpid=4711", not_its}, {token + "\tpid=4711", "ok"}, {token + "\tpid=4711" + host, "ok"},
      {token + host + "\tpid=2147483647", "ok"}, {token + host, "ok"}, {token + "\tpid=", malformed},
      {token + "\tpid=0", malformed}, {token + "\tpid=47x1", malformed}, {token + "\tpid=-1", malformed},
      {token + "\tpid=2147483648", malformed}, {token + "\tpid=4294967296" + host, malformed},
      {token + "\tpid=99999999999", malformed}, {token + "\tuid=4711", malformed},
      {token + "\tpid=4711\tpid=4712" + host, malformed}, {token + "\tpid=4711" + host + host, malformed},
      {token + "\tpid=4711\thost=0000000000000000", malformed}, {token + "\thost=0123456789ABCDEF", malformed},
      {token + "\tpid=4711\thost=0123456789abcde", malformed}, {token + "\thost=0123456789abcdef0", malformed},
      {token + "\tpid=4711\thost=0123456789abcdeg", malformed}, {token + "\tpid=4711" + host + "\t", malformed},
      {token + "\t", malformed}};
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

// Two hosts that are each process 1 of a PID namespace of their own (as
// in two containers that share the loopback) are two hosts to the waits:
// a locked read of a row the other holds waits for it and gets the row as
// the other committed it, instead of being refused as a host's own
// transaction on another connection.
TEST_P(HostServer, HostsWithOneProcessIdInTwoNamespacesAreTwoHosts) {
  if (system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no PID namespace can be made here";
  auto host = [this] {
    auto p = std::make_unique<Process>(std::vector<std::string>{
        "/usr/bin/unshare", "-p", "-f", "--mount-proc", "--kill-child",
        std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host", "--zuv", root_.path(), "--script", "-"});
    EXPECT_EQ(p->Do("logon demo"), "logged on as demo");
    EXPECT_EQ(p->Do("start t"), "transaction t id 1");
    return p;
  };
  auto a = host(), b = host();
  ASSERT_EQ(a->Do("lockread exdep010 1 code=SALES").rfind(kSales, 0), 0u);
  ASSERT_EQ(a->Do("update exdep010 1 code=SALES budget=7"), "buffered update on exdep010001");
  ASSERT_EQ(a->Do("flush"), "flushed");
  ASSERT_TRUE(b->Send("lockread exdep010 1 code=SALES"));
  usleep(300000);
  EXPECT_FALSE(b->HasOutput()) << b->Line();
  EXPECT_EQ(a->Do("commit"), "committed");
  EXPECT_EQ(b->Line().rfind(std::string(kSales) + "7.00 ", 0), 0u);
  EXPECT_EQ(b->Do("commit"), "committed");
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

}  // namespace
