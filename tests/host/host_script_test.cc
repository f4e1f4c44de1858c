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
  EXPECT_EQ(out, "error 508\nlogged on as a\nerror 502\nerror 518\nunknown command: bogus\n");
  EXPECT_NE(status, 0);
}

}  // namespace
