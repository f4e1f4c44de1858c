#include "support/log_capture.h"

#include <molvane/platform.h>

namespace molvane::test {
namespace {

std::vector<LoggedMessage> g_messages;
log_hook_fn g_previous = nullptr;

void Hook(char level, const char *keyword, const char *text, const char *, int) {
  g_messages.push_back({level, keyword != nullptr ? keyword : "", text != nullptr ? text : ""});
}

}  // namespace

LogCapture::LogCapture() {
  g_messages.clear();
  g_previous = log_set_log_hook(Hook);
}

LogCapture::~LogCapture() { log_set_log_hook(g_previous); }

const std::vector<LoggedMessage> &LogCapture::messages() const { return g_messages; }

bool LogCapture::Contains(const std::string &keyword, const std::string &text) const {
  for (const LoggedMessage &m : g_messages) {
    if (m.keyword == keyword && m.text.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string LogCapture::Dump() const {
  std::string out;
  for (const LoggedMessage &m : g_messages) out += std::string(1, m.level) + " " + m.keyword + ": " + m.text + "\n";
  return out;
}

}  // namespace molvane::test
