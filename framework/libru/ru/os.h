/// @file
/// The framework's time services.
#ifndef RU_OS_H
#define RU_OS_H

#include <cstdint>

#include <ekcommon/api.h>

namespace ru {
namespace os {

/// A point in time: whole seconds and the remaining microseconds since the epoch.
struct timeval {
  std::int64_t tv_sec;   ///< seconds
  std::int64_t tv_usec;  ///< microseconds, 0 to 999999
};

/// @brief Reads the wall clock into @p tp.
/// @return 0 on success, -1 when @p tp is null
EKFRAMEWORK_API int gettimeofday(timeval* tp);

/// @brief Sleeps the calling thread for @p milliseconds, resuming after signals.
EKFRAMEWORK_API void msleep(unsigned int milliseconds);

}  // namespace os
}  // namespace ru

#endif  // RU_OS_H
