// ekvision export: what it was asked to write, and the writing.
#ifndef EKVISION_TOOLS_EXPORT_H
#define EKVISION_TOOLS_EXPORT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tool.h"

namespace ektool {

/// What `ekvision export` was asked to do.
struct ExportOptions {
  std::string recording;            ///< the .arv file
  std::string directory;            ///< where the pictures go, created when needed
  std::uint32_t stream = 0;         ///< the stream exported
  std::optional<long long> from{};  ///< first frame; none: frame 0
  std::optional<long long> to{};    ///< last frame; none: the last complete frame
  std::optional<long long> at{};    ///< a time: only the last frame recorded at or before it
  std::string format = "png";       ///< "png" or "ppm"
  bool help = false;
};

/// @brief Reads the command line of `ekvision export` (without "export").
/// @throws UsageError for unknown, malformed or conflicting options
ExportOptions parseExportOptions(const std::vector<std::string>& args);

/// @brief Writes the chosen frames as DIRECTORY/frame_NNNNNN.FORMAT and a summary line.
/// @throws ToolError naming the cause when the recording, stream or range cannot be exported
/// @return the exit code, 0
int exportFrames(const ExportOptions& options, Output& output);

}  // namespace ektool

#endif  // EKVISION_TOOLS_EXPORT_H
