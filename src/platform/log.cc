// The message log. Each message is formatted into one text and written with
// a single write() to a log file opened in append mode, so that lines of
// several processes sharing a log file do not interleave. The file is opened
// per message: the environment root may change between messages, and a
// process that logs rarely holds no descriptor.
#include "platform/log.h"
#include "platform/log_destination.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "platform/env.h"

namespace {

// The log folder and files are the user's and the group's to read, no one
// else's, whatever the umask.
constexpr mode_t kLogDirMode = 0750;
constexpr mode_t kLogFileMode = 0640;

struct LogState {
  std::string progname;
  std::string logname;
  int disabled = 0;  // 1 while suppressed; -1 keeps the log off for good
  log_hook_fn hook = nullptr;
  bool in_hook = false;
  bool hook_only = false;  // no file, no standard error: the hook alone
  // The open message block of log_start_mesg.
  bool block_open = false;
  std::string block_file;
  int block_line = 0;
  std::string block_keyword;
  int block_flags = 0;
  std::string block_text;
  std::string refused;  // the last log file refused as a link or special file
  unsigned long errors = 0;  // error messages written
  std::string last_error;    // the text of the last one
};

LogState &State() {
  static LogState state;
  return state;
}

char LevelLetter(int flags) {
  if (flags & LOG_WARNING) return 'W';
  if (flags & LOG_INFO) return 'I';
  return 'E';
}

std::string VFormat(const char *format, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return std::string("(bad log format) ") + format;
  std::string text(static_cast<size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, ap);
  return text;
}

// The log file path, or "" when the log goes to standard error.
std::string LogPath() {
  LogState &st = State();
  std::string dir;
  const char *zuv_log = std::getenv("ZUV_LOG");
  if (zuv_log != nullptr && *zuv_log != '\0') {
    dir = zuv_log;
  } else {
    const char *zuv = get_zuv();
    if (zuv == nullptr || *zuv == '\0') return "";
    dir = std::string(zuv) + "/log";
  }
  ::mkdir(dir.c_str(), kLogDirMode);  // usually exists already; failure shows at open
  const std::string &base = st.logname.empty() ? st.progname : st.logname;
  return dir + "/" + (base.empty() ? std::string("molvane") : base) + ".log";
}

// Opens the log file for appending. The file is never reached through a
// symbolic link, nor is it a device or a pipe: a link planted in the log
// folder would make every process append to whatever it points at. -1 with
// *refused set for such a file, -1 alone when it cannot be opened.
int OpenLog(const std::string &path, bool *refused) {
  *refused = false;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                  kLogFileMode);
  if (fd < 0) {
    *refused = errno == ELOOP;
    return -1;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    *refused = true;
    return -1;
  }
  return fd;
}

void WriteAll(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void Emit(const char *file, int line, const char *keyword, int flags, std::string text) {
  LogState &st = State();
  if (st.disabled != 0 || st.in_hook) return;
  int saved_errno = errno;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if ((flags & (LOG_WARNING | LOG_INFO)) == 0) {
    ++st.errors;
    st.last_error = text;
  }

  // With the hook alone, nothing is formatted for a file.
  std::string warning;
  if (!st.hook_only) {
    char stamp[64];
    time_t now = ::time(nullptr);
    struct tm local;
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S %z", &local);

    const char *base = file != nullptr ? std::strrchr(file, '/') : nullptr;
    base = base != nullptr ? base + 1 : (file != nullptr ? file : "?");
    std::string out = std::string(stamp) + " " + LevelLetter(flags) + " " + log_get_progname() + "[" +
                      std::to_string(::getpid()) + "] " + (keyword != nullptr ? keyword : "") +
                      " (" + base + ":" + std::to_string(line) + "): " + text + "\n";

    std::string path = LogPath();
    bool refused = false;
    int fd = path.empty() ? -1 : OpenLog(path, &refused);
    if (fd >= 0) {
      WriteAll(fd, out);
      ::close(fd);
    } else {
      WriteAll(2, out);
    }
    // A refused file is warned about once (until another one is refused);
    // the messages go to standard error and the host's hook instead.
    if (refused && st.refused != path) {
      st.refused = path;
      warning = "log file " + path + " is a symbolic link or not a regular file: not written";
      WriteAll(2, std::string(stamp) + " W " + log_get_progname() + "[" + std::to_string(::getpid()) +
                      "] log: " + warning + "\n");
    }
  }

  if (st.hook != nullptr) {
    // Cleared however the hook returns: a hook that throws must not stay
    // shut off for the rest of the process.
    struct InHook {
      bool &flag;
      explicit InHook(bool &f) : flag(f) { flag = true; }
      ~InHook() { flag = false; }
    } in_hook(st.in_hook);
    if (!warning.empty()) st.hook('W', "log", warning.c_str(), __FILE__, __LINE__);
    st.hook(LevelLetter(flags), keyword != nullptr ? keyword : "", text.c_str(),
            file != nullptr ? file : "", line);
  }
  errno = saved_errno;
}

}  // namespace

extern "C" {

// Logging never fails its caller, which is often on an error path or in a
// destructor: a message that memory runs out for is dropped, and errno is
// kept.
void log_mesg(const char *file, int line, const char *keyword, int flags, const char *format, ...) {
  if (State().disabled != 0) return;
  const int saved_errno = errno;
  va_list ap;
  va_start(ap, format);
  try {
    std::string text = VFormat(format, ap);
    Emit(file, line, keyword, flags, std::move(text));
  } catch (const std::bad_alloc &) {
  }
  va_end(ap);
  errno = saved_errno;
}

unsigned long log_error_count(void) { return State().errors; }

const char *log_last_error(void) { return State().last_error.c_str(); }

void log_start_mesg(const char *file, int line, const char *keyword, int flags) {
  LogState &st = State();
  if (st.block_open) log_stop_mesg();
  const int saved_errno = errno;
  st.block_open = true;
  st.block_line = line;
  st.block_flags = flags;
  st.block_text.clear();
  try {
    st.block_file = file != nullptr ? file : "";
    st.block_keyword = keyword != nullptr ? keyword : "";
  } catch (const std::bad_alloc &) {
    st.block_file.clear();
    st.block_keyword.clear();
  }
  errno = saved_errno;
}

void log_printf(const char *format, ...) {
  LogState &st = State();
  const int saved_errno = errno;
  va_list ap;
  va_start(ap, format);
  try {
    std::string text = VFormat(format, ap);
    if (st.block_open) {
      st.block_text += text;
    } else {
      Emit(__FILE__, __LINE__, "log_printf", LOG_ERROR, std::move(text));
    }
  } catch (const std::bad_alloc &) {
  }
  va_end(ap);
  errno = saved_errno;
}

void log_stop_mesg(void) {
  LogState &st = State();
  if (!st.block_open) return;
  st.block_open = false;
  const int saved_errno = errno;
  try {
    Emit(st.block_file.c_str(), st.block_line, st.block_keyword.c_str(), st.block_flags,
         std::move(st.block_text));
  } catch (const std::bad_alloc &) {
  }
  st.block_text.clear();
  errno = saved_errno;
}

void log_set_progname(const char *progname, const char *logname) {
  LogState &st = State();
  if (progname != nullptr && *progname != '\0') {
    const char *slash = std::strrchr(progname, '/');
    st.progname = slash != nullptr ? slash + 1 : progname;
  }
  st.logname = (logname != nullptr) ? logname : "";
}

const char *log_get_progname(void) {
  LogState &st = State();
  if (st.progname.empty()) st.progname = program_invocation_short_name;
  return st.progname.c_str();
}

void al_disable_log_mesg(void) {
  LogState &st = State();
  if (st.disabled != -1) st.disabled = 1;
}

void al_enable_log_mesg(void) {
  LogState &st = State();
  if (st.disabled != -1) st.disabled = 0;
}

void log_set_hook_only(int on) { State().hook_only = on != 0; }

MOLVANE_API log_hook_fn log_set_log_hook(log_hook_fn hook) {
  LogState &st = State();
  log_hook_fn previous = st.hook;
  st.hook = hook;
  return previous;
}

}  // extern "C"
