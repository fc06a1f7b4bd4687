// The machine-readable summary of a run, and writing a small text file whole.
#ifndef EKVISION_TOOLS_HOST_SUMMARY_H
#define EKVISION_TOOLS_HOST_SUMMARY_H

#include <string>

namespace ekhost {

/// @p text as a JSON string, quotes included; control characters escaped.
std::string jsonString(const std::string& text);

/// @brief Writes @p text to @p path, replacing the file.
/// @throws HostError "cannot write <path>: <cause>" when it cannot be written whole
void writeTextFile(const std::string& path, const std::string& text);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_SUMMARY_H
