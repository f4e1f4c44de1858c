// Collects the messages of the log while in scope, through the log hook.
#pragma once

#include <string>
#include <vector>

#include <molvane/platform.h>

namespace molvane::test {
// tests/support/log_capture.h defines another LogCapture of this namespace
// (out of line); the inline namespace gives this one names of its own, so
// that the linker never takes the members of one for the other.
inline namespace text_log {

class LogCapture {
 public:
  struct Message {
    char level;
    std::string keyword;
    std::string text;
  };

  LogCapture() : previous_(log_set_log_hook(&LogCapture::Hook)) { Messages().clear(); }
  ~LogCapture() { log_set_log_hook(previous_); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  const std::vector<Message> &messages() const { return Messages(); }

 private:
  static std::vector<Message> &Messages() {
    static std::vector<Message> messages;
    return messages;
  }
  static void Hook(char level, const char *keyword, const char *text, const char *, int) {
    Messages().push_back({level, keyword ? keyword : "", text ? text : ""});
  }

  log_hook_fn previous_;
};

}  // namespace text_log
}  // namespace molvane::test
