// Environment roots for dictionary tests: the fixture root or a scratch root
// with dumps of the test's own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "dbc/dict/dd.h"
#include "support/test_env.h"

namespace molvane::test {

// Points the environment root at a folder and starts a local dictionary.
inline void UseDictionaryRoot(const std::string &zuv) {
  setenv("ZUV", zuv.c_str(), 1);
  unsetenv("F_ZRDD");
  init_local_dd();
}

// The fixture dumps through F_ZRDD, with a scratch environment root so that
// log files never land among the fixtures.
inline void UseFixtureDictionary() {
  static ScratchDir zuv;
  setenv("ZUV", zuv.path().c_str(), 1);
  setenv("F_ZRDD", FixturePath("zuv/dict").c_str(), 1);
  init_local_dd();
}

// A scratch root holding a copy of the fixture dumps, for tests that add or
// replace dumps.
class ScratchDictionary {
 public:
  ScratchDictionary() {
    std::filesystem::copy(FixturePath("zuv/dict"), std::filesystem::path(dir_.path()) / "dict",
                          std::filesystem::copy_options::recursive);
    UseDictionaryRoot(dir_.path());
  }
  const std::string &root() const { return dir_.path(); }

 private:
  ScratchDir dir_;
};

}  // namespace molvane::test
