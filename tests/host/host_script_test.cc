// molvane-host runs a command script against the library.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/test_env.h"

namespace {

using molvane::test::ScratchDir;

std::string RunHost(const ScratchDir &root, const std::string &script, int *status) {
  root.WriteFile("script.txt", script);
  std::string cmd = std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host --zuv " + root.path() +
                    " --script " + root.path() + "/script.txt 2>/dev/null";
  std::FILE *p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  *status = pclose(p);
  return out;
}

TEST(HostScript, LogonTransactionsAndLogoff) {
  ScratchDir root;
  int status = 0;
  std::string out = RunHost(root,
                            "# a transaction, stopped and taken again under a new name\n"
                            "logon demo\nstart first\nstop 1\nstart second\naction db 1\n"
                            "logoff\n",
                            &status);
  EXPECT_EQ(out,
            "logged on as demo\ntransaction first id 1\nstopped 1\ntransaction second id 1\n"
            "commit_trans\nlogged off\n");
  EXPECT_EQ(status, 0);
}

TEST(HostScript, FailedCommandsShowTheErrorAndTheExitStatus) {
  ScratchDir root;
  int status = 0;
  std::string out = RunHost(root, "logoff\nlogon a\nlogon b\nstop 256\nbogus\n", &status);
  EXPECT_EQ(out,
            "error 508 (not logged on): Not logged on to a database; run logon first\n"
            "logged on as a\nerror 502 (already logged on): zdb_logon was already called in this process: a "
            "process logs on once, even after zdb_logoff; start a new process to log on again\n"
            "error 518 (invalid session): Invalid transaction id 256 specified: it is not in use (never "
            "started, or stopped already); use an id that zdb_start_session returned\n"
            "unknown command: bogus\n");
  EXPECT_NE(status, 0);
}

// Commands that work on the database are refused before a logon, with the
// error and what to do, instead of reaching the library's internal state.
TEST(HostScript, DatabaseCommandsNeedALogonFirst) {
  ScratchDir root;
  int status = 0;
  std::string out = RunHost(root,
                            "start t\nstop 1\ntimeout 1 5\nread exdep010 1 code=A\ncommit\n"
                            "msg\n",
                            &status);
  const std::string refused = "error 508 (not logged on): Not logged on to a database; run logon first\n";
  EXPECT_EQ(out, refused + refused + refused + refused + refused + "Not logged on to a database\n");
  EXPECT_NE(status, 0);
}

// A missing environment root is worth a warning before anything fails on it:
// the library's, once, at the logon.
TEST(HostScript, MissingEnvironmentRootIsWarnedAbout) {
  std::string cmd = "echo 'logon demo' | " + std::string(MOLVANE_BINARY_DIR) +
                    "/tools/molvane-host --zuv /nonexistent/molvane-root --script - 2>&1";
  std::FILE *p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  pclose(p);
  const std::string warning =
      "log W zdb_logon: The environment root /nonexistent/molvane-root (set_zuv or the variable "
      "ZUV) is not a folder: its settings, driver map and table definitions are not read, and "
      "dictionaries are looked for in /nonexistent/molvane-root/dict\n";
  EXPECT_NE(out.find(warning), std::string::npos) << out;
  EXPECT_EQ(out.find(warning), out.rfind(warning)) << "warned twice:\n" << out;
  EXPECT_EQ(out.find("molvane-host: warning"), std::string::npos) << "warned twice:\n" << out;
  EXPECT_NE(out.find("logged on as demo\n"), std::string::npos) << out;
}

// --help of molvane-host and of the driver prints the usage and ends (the
// driver does not wait for protocol bytes); a script that cannot be opened
// says why.
TEST(HostScript, HelpAndAMissingScriptSayWhatToDo) {
  auto run = [](const std::string &args) {
    std::string cmd = "timeout 20 " + std::string(MOLVANE_BINARY_DIR) + args + " 2>&1";
    std::FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    pclose(p);
    return out;
  };
  std::string help = run("/tools/molvane-host --help");
  EXPECT_NE(help.find("See docs/molvane-host.md"), std::string::npos);
  for (const char *option : {"--zuv DIR", "--script FILE|-", "--version", "--help"})
    EXPECT_NE(help.find(std::string("\n  ") + option), std::string::npos) << option << " in\n" << help;
  const std::string driver_help = run("/driver/molvane-driver --help");
  EXPECT_NE(driver_help.find("--sessions=N"), std::string::npos);
  // The options of the fault tests work but are not offered to users.
  for (const char *option : {"--die-at-request", "--cut-reply"})
    EXPECT_EQ(driver_help.find(option), std::string::npos) << option;
  EXPECT_NE(run("/driver/molvane-driver --version").find("molvane-driver (molvane "), std::string::npos);
  // A misspelt option stops the driver with one line naming it and the
  // synopsis instead of leaving a child driver waiting on standard input;
  // so does a driver run by hand without arguments, whatever its input,
  // and a server without a socket, with a port that is none or without a
  // database file.
  const std::string synopsis =
      "usage: molvane-driver [OPTION...] [DATABASE]\n"
      "       molvane-driver --listen=PATH|tcp:PORT DATABASE [OPTION...]\n"
      "       molvane-driver --check DATABASE\n";
  const struct {
    const char *args;
    std::string line;
  } refusals[] = {
      {"--lisen=/nonexistent/x.sock",
       "unknown or malformed option '--lisen=/nonexistent/x.sock' (molvane-driver --help lists the options)"},
      {"", "no arguments: a host starts this driver as its child (lib/ipc_info), or it serves hosts with --listen "
           "(molvane-driver --help describes the options)"},
      {"--listen= /nonexistent/x.db", "--listen= names no socket: give it a socket path or tcp:PORT"},
      {"--listen=tcp:0 /nonexistent/x.db", "'tcp:0' is not a TCP port (tcp:1 to tcp:65535)"},
      {"--listen=tcp:65536 /nonexistent/x.db", "'tcp:65536' is not a TCP port (tcp:1 to tcp:65535)"},
      {"--listen=tcp:+80 /nonexistent/x.db", "'tcp:+80' is not a TCP port (tcp:1 to tcp:65535)"},
      {"--listen=tcp: /nonexistent/x.db", "'tcp:' is not a TCP port (tcp:1 to tcp:65535)"},
      {"--listen=tcp:7000", "a driver server needs a database file: molvane-driver --listen=tcp:7000 DATABASE"},
      {"--listen=/nonexistent/x.sock --lock-wait-ms=5",
       "a driver server needs a database file: molvane-driver --listen=/nonexistent/x.sock DATABASE"},
      {"--listen=/nonexistent/x.sock :memory:",
       "a driver server needs a database file: molvane-driver --listen=/nonexistent/x.sock DATABASE"},
  };
  for (const auto &r : refusals)
    EXPECT_EQ(run("/driver/molvane-driver " + std::string(r.args) + " < /dev/null 2>&1; echo \"status $?\""),
              "molvane-driver: " + r.line + "\n" + synopsis + "status 2\n")
        << r.args;
  EXPECT_NE(run("/tools/molvane-host --script /nonexistent/s.txt")
                .find("cannot open /nonexistent/s.txt: No such file or directory"),
            std::string::npos);
}

}  // namespace
