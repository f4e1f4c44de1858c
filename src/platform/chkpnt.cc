// Checkpoint timings.
#include "platform/chkpnt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/clock.h"
#include "platform/dates.h"
#include "platform/env.h"
#include "platform/log.h"

namespace {

int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

std::string log_folder() {
  const char *log = std::getenv("ZUV_LOG");
  if (log != nullptr && *log != '\0') return log;
  const char *root = get_zuv();
  return std::string(root != nullptr ? root : "") + "/log";
}

bool plain_file_name(const char *name) {
  return name != nullptr && *name != '\0' && std::strchr(name, '/') == nullptr &&
         std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

}  // namespace

int chkpnt_active() {
  const char *value = std::getenv("CHKPNT");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

void ChkpntStart(CHKPNT_TIMER *timer) {
  if (timer == nullptr) return;
  timer->started = chkpnt_active();
  timer->start_ns = timer->started ? monotonic_ns() : 0;
}

int ChkpntStop(CHKPNT_TIMER *timer, const char *file_name, const char *format, ...) {
  if (!chkpnt_active()) return 0;
  if (timer == nullptr || !timer->started) return -1;
  timer->started = 0;
  if (!plain_file_name(file_name)) {
    log_mesg(__FILE__, __LINE__, "Checkpoint", 0, "Invalid checkpoint file name %s",
             file_name != nullptr ? file_name : "(null)");
    return -1;
  }
  const double elapsed_ms = static_cast<double>(monotonic_ns() - timer->start_ns) / 1e6;

  HAL_CLOCK now{};
  HAL_getclock(&now);
  struct tm parts {};
  qelt_gmtime(now.seconds, &parts);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d UTC",
                parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                parts.tm_min, parts.tm_sec, static_cast<int>(now.nanoseconds / 1000000));

  std::string text;
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed > 0) {
      text.resize(static_cast<size_t>(needed) + 1);
      std::vsnprintf(text.data(), text.size(), format, args);
      text.resize(static_cast<size_t>(needed));
    }
    va_end(args);
  }
  char timing[96];
  std::snprintf(timing, sizeof timing, "%s %10.3f ms ", stamp, elapsed_ms);
  const std::string line = timing + text + "\n";

  const std::string folder = log_folder();
  mkdir(folder.c_str(), 0777);
  const std::string path = folder + "/" + file_name;
  // One write per line, appended: lines of several processes never mix.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    if (fd >= 0) close(fd);
    log_mesg(__FILE__, __LINE__, "Checkpoint", 0, "Cannot write checkpoint file %s",
             path.c_str());
    return -1;
  }
  close(fd);
  return 0;
}
