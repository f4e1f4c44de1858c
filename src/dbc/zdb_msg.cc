// The process-wide message text: a growing buffer, empty (no buffer) before
// the first message.
#include "dbc/zdb_msg.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <molvane/zdb.h>

#include "platform/log.h"
#include "platform/mal.h"

namespace {

constexpr std::size_t kMaxMessage = 6156;

char *g_msg = nullptr;
std::size_t g_len = 0;
std::size_t g_capacity = 0;
bool g_reset = false;  // reset_zdb_msg ran: the text exists even without a buffer

}  // namespace

void set_zdb_msg(const char *format, ...) {
  char text[kMaxMessage + 1];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;
  std::size_t add = std::strlen(text);
  std::size_t need = g_len + add;
  if (g_msg == nullptr || need > g_capacity) {
    char *grown = static_cast<char *>(mal_sys_realloc(g_msg, need + 1));
    if (grown == nullptr) return;
    g_msg = grown;
    g_capacity = need;
  }
  std::memcpy(g_msg + g_len, text, add + 1);
  g_len = need;
  log_mesg(__FILE__, __LINE__, "domain_check", 0, "%s", text);
}

void reset_zdb_msg(void) {
  g_reset = true;
  g_len = 0;
  if (g_msg != nullptr) g_msg[0] = '\0';
}

const char *get_zdb_msg(void) {
  if (g_msg == nullptr && g_reset) return "";
  return g_msg;
}
