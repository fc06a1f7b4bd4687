// Internal: one log record in the library's form (empty file name, line 0, the name of the
// operation as function name).
#ifndef EKVISION_SRC_LOGRECORD_H
#define EKVISION_SRC_LOGRECORD_H

#include <string>

#include <ru/log.h>

namespace EK {
namespace detail {

/// The category of the records about pictures: conversions and picture files.
inline constexpr char kImageCategory[] = "vision.ekimage";

/// Writes one record; @p message carries its own trailing newline where it has one.
inline void logRecord(int level, const char* category, const char* function,
                      const std::string& message) {
  ru::log::LogStream stream(level, category, "", function, 0);
  stream << message;
}

}  // namespace detail
}  // namespace EK

#endif  // EKVISION_SRC_LOGRECORD_H
