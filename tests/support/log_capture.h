// Collects the messages the log writes while the object lives.
#pragma once

#include <string>
#include <vector>

namespace molvane::test {

struct LoggedMessage {
  char level;  // 'E', 'W' or 'I'
  std::string keyword;
  std::string text;
};

// Installs a log hook for its lifetime (one at a time) and keeps every message.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  const std::vector<LoggedMessage> &messages() const;
  // True when a message with the keyword contains the text.
  bool Contains(const std::string &keyword, const std::string &text) const;
  // All messages, one per line, for failure output.
  std::string Dump() const;
};

}  // namespace molvane::test
