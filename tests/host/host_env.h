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
  // A dictionary folder "<name>" beside "dict" whose exdep010 is the
  // fixtures' next version (dexdep010.new: a column floor after code), for
  // a host that sets F_ZRDD to it.
  std::string NewDictionary(const std::string &name = "dict-new") {
    const std::string folder = root_.path() + "/" + name;
    std::filesystem::copy(FixturePath("zuv/dict"), folder, std::filesystem::copy_options::recursive);
    std::filesystem::rename(folder + "/dexdep010.new", folder + "/dexdep010");
    return folder;
  }
  ScratchDir root_;
};

}  // namespace molvane::test
