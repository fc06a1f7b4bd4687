#include <ru/os.h>

#include <cerrno>
#include <ctime>

namespace ru {
namespace os {

int gettimeofday(timeval* tp) {
  if (tp == nullptr) {
    return -1;
  }
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tp->tv_sec = static_cast<std::int64_t>(now.tv_sec);
  tp->tv_usec = static_cast<std::int64_t>(now.tv_nsec / 1000);
  return 0;
}

void msleep(unsigned int milliseconds) {
  struct timespec remaining;
  remaining.tv_sec = static_cast<time_t>(milliseconds / 1000u);
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
  // nanosleep stops early when a signal arrives; go on sleeping for what is left.
  while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
  }
}

}  // namespace os
}  // namespace ru
