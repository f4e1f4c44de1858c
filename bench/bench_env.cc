#include "bench_env.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

namespace molvane::bench {

std::string InProcessDriver() {
  return "msqlite library " + std::string(MOLVANE_BINARY_DIR) + "/driver/libmolvane_driver.so ${ZUV}/bench.db\n";
}

std::string ChildDriver() { return "msqlite child " + DriverProgram() + " ${ZUV}/bench.db\n"; }

std::string DriverProgram() { return std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver"; }

std::string MakeRoot(const std::string &ipc_info) {
  char dir[] = "/tmp/molvane-bench-XXXXXX";
  std::string root = mkdtemp(dir);
  std::filesystem::copy(std::string(MOLVANE_SOURCE_DIR) + "/tests/fixtures/zuv/dict", root + "/dict",
                        std::filesystem::copy_options::recursive);
  std::filesystem::create_directories(root + "/lib");
  WriteFile(root + "/lib/ipc_info", ipc_info);
  WriteFile(root + "/lib/tabledef1", "*::msqlite\n");
  setenv("ZUV_LOG", root.c_str(), 1);
  return root;
}

void WriteFile(const std::string &path, const std::string &text) {
  std::FILE *f = std::fopen(path.c_str(), "w");
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

}  // namespace molvane::bench
