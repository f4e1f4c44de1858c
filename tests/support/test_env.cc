#include "support/test_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace molvane::test {

std::string FixturePath(const std::string &relative) {
  return std::string(MOLVANE_FIXTURES_DIR) + "/" + relative;
}

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "molvane-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void ScratchDir::WriteFile(const std::string &relative, const std::string &content) const {
  fs::path p = fs::path(path_) / relative;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

std::string ScratchDir::ReadFile(const std::string &relative) const {
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace molvane::test
