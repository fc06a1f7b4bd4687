/// @file
/// The framework's log facility.
///
/// A record is made by constructing a LogStream, streaming the message into it and letting
/// it be destroyed at the end of the statement:
/// @code
///   { ru::log::LogStream s(2, "vision.ekimage", "", "readFile", 0); s << "message" << std::endl; }
/// @endcode
/// The destructor hands the record to ru::log::log, which passes it to the installed handler
/// or, when none is installed, writes one line to standard error if the record's level is
/// at most the verbosity threshold.
#ifndef RU_LOG_H
#define RU_LOG_H

#include <functional>
#include <sstream>
#include <string>

#include <ekcommon/api.h>

namespace ru {
namespace log {

/// Receives every record: level, category, message, file, function, line.
using Handler =
    std::function<void(int level, const std::string& category, const std::string& message,
                       const std::string& file, const std::string& function, int line)>;

/// @brief Hands one record to the current handler, or to the default sink.
///
/// Levels are small integers: 1 severe, 2 an operation failed, 3 a refusal, 4 information.
/// Safe to call from any thread; a handler may itself log.
EKFRAMEWORK_API void log(int level, const std::string& category, const std::string& message,
                         const std::string& file, const std::string& function, int line);

/// @brief Installs the handler that receives every record from now on.
/// @param handler the new handler; an empty one restores the default sink (standard error)
/// @return the handler that was installed before (empty when it was the default sink)
EKFRAMEWORK_API Handler setHandler(Handler handler);

/// Sets the default sink's threshold: records of a higher level are not written. Default 3.
EKFRAMEWORK_API void setVerbosity(int maxLevel);

/// The default sink's current threshold.
EKFRAMEWORK_API int getVerbosity();

/// @brief A text stream that becomes one log record when it is destroyed.
///
/// Its destructor calls ru::log::log once with the level, the category, the streamed text,
/// the file name, the function name and the line given at construction.
class EKFRAMEWORK_API LogStream : public std::ostringstream {
 public:
  /// A record of @p level and @p category made by @p function at @p file : @p line.
  LogStream(int level, const std::string& category, const std::string& file,
            const std::string& function, int line);
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;
  /// Hands the streamed text to ru::log::log as one record.
  ~LogStream() override;

 private:
  int level_;
  std::string category_;
  std::string file_;
  std::string function_;
  int line_;
};

}  // namespace log
}  // namespace ru

#endif  // RU_LOG_H
