// Collects the log lines written while it lives ("keyword: text").
#pragma once

#include <string>
#include <vector>

#include <molvane/platform.h>

namespace molvane::test {
// tests/support/log_capture.h defines another LogCapture of this namespace
// (out of line); the inline namespace gives this one names of its own, so
// that the linker never takes the members of one for the other.
inline namespace dbc_log {

class LogCapture {
 public:
  LogCapture() { previous_ = log_set_log_hook(&LogCapture::Hook); Lines().clear(); }
  ~LogCapture() { log_set_log_hook(previous_); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  static std::vector<std::string> &Lines() {
    static std::vector<std::string> lines;
    return lines;
  }
  bool Contains(const std::string &part) const {
    for (const std::string &line : Lines())
      if (line.find(part) != std::string::npos) return true;
    return false;
  }

 private:
  static void Hook(char, const char *keyword, const char *text, const char *, int) {
    Lines().push_back(std::string(keyword) + ": " + text);
  }
  log_hook_fn previous_;
};

}  // namespace dbc_log
}  // namespace molvane::test
