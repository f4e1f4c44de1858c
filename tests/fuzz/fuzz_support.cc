#include "fuzz_support.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/log.h"
#include "platform/log_destination.h"

namespace molvane::fuzz {

namespace fs = std::filesystem;

std::string FixturePath(const std::string &relative) {
  return std::string(MOLVANE_FIXTURES_DIR) + "/" + relative;
}

namespace {

struct Root {
  std::string path;
  Root() {
    std::string pattern = (fs::temp_directory_path() / "molvane-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
    setenv("ZUV", path.c_str(), 1);
    setenv("ZUV_LOG", (path + "/log").c_str(), 1);
    fs::create_directories(path + "/log");
    // Messages are formatted as always and handed to a hook that drops
    // them: a fuzzer reaches every refusal millions of times.
    log_set_progname("fuzz", "fuzz");
    log_set_log_hook([](char, const char *, const char *, const char *, int) {});
    log_set_hook_only(1);
  }
  ~Root() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

}  // namespace

const std::string &ScratchRoot() {
  static Root root;
  return root.path;
}

void CopyFixture(const std::string &relative, const std::string &to) {
  const fs::path target = fs::path(ScratchRoot()) / to;
  fs::create_directories(target.parent_path());
  fs::copy(FixturePath(relative), target,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void WriteScratchFile(const std::string &relative, std::string_view content) {
  const fs::path target = fs::path(ScratchRoot()) / relative;
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace molvane::fuzz
