// The options that several commands take, each defined once: one name, one range and one
// message wherever it appears.
#ifndef EKVISION_TOOLS_OPTIONS_H
#define EKVISION_TOOLS_OPTIONS_H

#include <host.h>
#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace ektool {

/// Longest time a run or a recording may be given: a week.
const double kMaxSeconds = 7 * 24 * 3600.0;
/// Most frames a run or a recording may be given.
const long long kMaxFrames = 100000000;
/// Frame rates a camera may be asked for, and that a recording may be thinned to.
const int kMinFps = ekhost::kMinFrameRate;
const int kMaxFps = ekhost::kMaxFrameRate;

/// `--seconds S` (or another name, e.g. `--timeout`): a number of seconds above 0 and at
/// most kMaxSeconds.
CLI::Option* addSecondsOption(CLI::App& app, std::optional<double>& seconds,
                              const std::string& description,
                              const std::string& optionName = "--seconds");
/// `--frames N`: a whole number from 1 to kMaxFrames.
CLI::Option* addFramesOption(CLI::App& app, std::optional<long long>& frames,
                             const std::string& description);
/// `--fps N`: a whole number from kMinFps to kMaxFps.
CLI::Option* addFpsOption(CLI::App& app, std::optional<int>& fps, const std::string& description);
/// `--resolution R`: a resolution code, 0 to 3; the sizes are listed in the description,
/// and for a command that @p records, the largest that recordings are played back at.
CLI::Option* addResolutionOption(CLI::App& app, int& resolution, const std::string& description,
                                 bool records = false);
/// The camera SPEC: `--camera SPEC` when @p optionName is given, else the positional SPEC.
CLI::Option* addCameraOption(CLI::App& app, std::optional<std::string>& spec,
                             const std::string& optionName, const std::string& description);

/// @brief An address for the web viewer, ADDR:PORT (default 127.0.0.1:8080), stored in
/// @p address as written; checked as ekviewer::parseListenAddress() reads it.
CLI::Option* addViewerAddressOption(CLI::App& app, std::string& address,
                                    const std::string& optionName, const std::string& description);

/// What a camera SPEC may be, for the help of every command that takes one.
extern const char kCameraSpecHelp[];

/// @brief A whole decimal number from @p minimum to @p maximum as an option's check, with
/// the message "must be a whole number from MIN to MAX, not 'TEXT'".
CLI::Validator wholeNumber(long long minimum, long long maximum);

}  // namespace ektool

#endif  // EKVISION_TOOLS_OPTIONS_H
