// The wall clock and sleeping.
#include "platform/clock.h"

#include <cerrno>
#include <ctime>

#include "platform/shm.h"

int64_t al_time(int64_t *out) {
  int64_t now = shm_fixed_time();
  if (now == 0) now = static_cast<int64_t>(std::time(nullptr));
  if (out != nullptr) *out = now;
  return now;
}

void al_msleep(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int64_t al_steady_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t ms = static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  return ms != 0 ? ms : 1;
}

int HAL_getclock(HAL_CLOCK *clock) {
  if (clock == nullptr) return -1;
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
    *clock = HAL_CLOCK{0, 0};
    return -1;
  }
  clock->seconds = now.tv_sec;
  clock->nanoseconds = now.tv_nsec / 1000000 * 1000000;
  return 0;
}
