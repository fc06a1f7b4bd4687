// Internal: time stamps are microseconds since the epoch; the value forms carry them as
// whole seconds and microseconds.
#ifndef EKVISION_SRC_TIMESTAMP_H
#define EKVISION_SRC_TIMESTAMP_H

namespace EK {
namespace detail {

constexpr long long kMicrosecondsPerSecond = 1000000;

}  // namespace detail
}  // namespace EK

#endif  // EKVISION_SRC_TIMESTAMP_H
