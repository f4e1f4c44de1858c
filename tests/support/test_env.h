// Helpers shared by the test suites: fixture paths and scratch environment roots.
#pragma once

#include <sys/types.h>

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

// Why a process run as `user` (and the group of that number) could not take
// part in a test: it cannot enter `folder`, or cannot run `program
// --version` (typically a folder above the build or the root that others may
// not enter, such as a clone in a closed home folder). "" when it can. A test
// that runs a process as another uid asks first and skips with the reason.
std::string WhyUidCannotRun(uid_t user, const std::string &program, const std::string &folder);

}  // namespace molvane::test
