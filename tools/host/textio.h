// Text in and out of the host: numbers read whole, JSON strings, files written whole.
#ifndef EKVISION_TOOLS_HOST_TEXTIO_H
#define EKVISION_TOOLS_HOST_TEXTIO_H

#include <charconv>
#include <string>

namespace ekhost {

/// @brief The whole of @p text as a number of that type (no sign of "+", no spaces, nothing
/// after it). @return false, leaving @p value unspecified, when @p text is not one
template <typename Number>
bool parseNumber(const std::string& text, Number& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

/// @brief Writes all of @p bytes to @p fd, again after an interruption.
/// @return 0, or the system error of the write that failed
int writeAll(int fd, const std::string& bytes);

/// @p text as a JSON string, quotes included; control characters escaped.
std::string jsonString(const std::string& text);

/// @p value as a JSON number (nine significant digits), or null when it is not finite.
std::string jsonNumber(double value);

/// @brief Writes @p text to @p path, replacing the file.
/// @throws HostError "cannot write <path>: <cause>" when it cannot be written whole
void writeTextFile(const std::string& path, const std::string& text);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_TEXTIO_H
