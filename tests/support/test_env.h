// Helpers shared by the test suites: fixture paths and scratch environment roots.
#pragma once

#include <string>

namespace molvane::test {

// Path of a file or folder under tests/fixtures.
std::string FixturePath(const std::string &relative);

// A fresh, empty folder under the system temporary directory, removed with
// the object. Tests use it as an environment root or scratch directory.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  const std::string &path() const { return path_; }
  // Writes a file (creating its folders) below the scratch folder.
  void WriteFile(const std::string &relative, const std::string &content) const;
  std::string ReadFile(const std::string &relative) const;

 private:
  std::string path_;
};

}  // namespace molvane::test
