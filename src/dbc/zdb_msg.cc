// The process-wide message text: a growing buffer, empty (no buffer) before
// the first message.
#include "dbc/zdb_msg.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <molvane/zdb.h>

#include "platform/log.h"
#include "platform/mal.h"

namespace {

constexpr std::size_t kMaxMessage = 6156;

// The text lives in a buffer from mal_sys_* that grows with it. When the
// buffer cannot grow, what fits is kept: the new text is cut to the room the
// buffer has, and a process that never had a buffer uses a small fixed one,
// so that a message that was set is never reported as none.
constexpr std::size_t kFallback = 256;
char g_fallback[kFallback];

char *g_msg = nullptr;
std::size_t g_len = 0;
std::size_t g_capacity = 0;  // bytes of text the buffer holds, without the NUL
bool g_reset = false;  // reset_zdb_msg ran: the text exists even without a buffer
int g_call_depth = 0;  // exported calls under way, the outermost first

// Makes room for `need` bytes of text; false when memory runs out (the
// buffer is then as it was).
bool Grow(std::size_t need) {
  char *grown = nullptr;
  if (g_msg == g_fallback) {
    grown = static_cast<char *>(mal_sys_malloc(need + 1));
    if (grown != nullptr) std::memcpy(grown, g_msg, g_len + 1);
  } else {
    grown = static_cast<char *>(mal_sys_realloc(g_msg, need + 1));
  }
  if (grown == nullptr) return false;
  g_msg = grown;
  g_capacity = need;
  return true;
}

}  // namespace

void add_zdb_msg(const char *text) {
  std::size_t add = std::strlen(text);
  std::size_t need = g_len + add;
  if ((g_msg == nullptr || need > g_capacity) && !Grow(need)) {
    if (g_msg == nullptr || (g_len == 0 && g_capacity < kFallback - 1 && g_msg != g_fallback)) {
      std::free(g_msg == g_fallback ? nullptr : g_msg);
      g_msg = g_fallback;
      g_capacity = kFallback - 1;
      g_len = 0;
    }
    add = std::min(add, g_capacity - g_len);
    need = g_len + add;
  }
  std::memcpy(g_msg + g_len, text, add);
  g_msg[need] = '\0';
  g_len = need;
}

namespace {

void Append(const char *keyword, int flags, const char *format, va_list args) {
  char text[kMaxMessage + 1];
  int n = std::vsnprintf(text, sizeof text, format, args);
  if (n < 0) return;
  add_zdb_msg(text);
  if (keyword != nullptr) log_mesg(__FILE__, __LINE__, keyword, flags, "%s", text);
}

}  // namespace

void set_zdb_msg_logged(const char *keyword, int flags, const char *format, ...) {
  va_list args;
  va_start(args, format);
  Append(keyword, flags, format, args);
  va_end(args);
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

bool zdb_msg_in_host_call() { return g_call_depth == 1; }

ZdbCallScope::ZdbCallScope() {
  if (g_call_depth++ == 0) reset_zdb_msg();
}

ZdbCallScope::~ZdbCallScope() { --g_call_depth; }
