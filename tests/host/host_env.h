// molvane-host on an environment root with the fixture dictionary and the
// reference driver (a child process on the root's demo.db) serving every
// table.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/test_env.h"

namespace molvane::test {

class HostEnv : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv/dict"), root_.path() + "/dict",
                          std::filesystem::copy_options::recursive);
    root_.WriteFile("lib/ipc_info", "msqlite child " + std::string(MOLVANE_BINARY_DIR) +
                                        "/driver/molvane-driver ${ZUV}/demo.db\n");
    root_.WriteFile("lib/tabledef1", "*::msqlite\n");
  }
  // Runs the script file; its standard output and the exit status.
  std::string Run(const std::string &script_path, int *status) {
    std::string cmd = std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host --zuv " + root_.path() +
                      " --script " + script_path + " 2>/dev/null";
    std::FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    *status = pclose(p);
    return out;
  }
  std::string RunText(const std::string &script, int *status) {
    root_.WriteFile("script.txt", script);
    return Run(root_.path() + "/script.txt", status);
  }
  ScratchDir root_;
};

}  // namespace molvane::test
