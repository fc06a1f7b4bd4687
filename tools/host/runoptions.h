// The command line of `ekvision run`, and the remote-method calls it carries.
#ifndef EKVISION_TOOLS_RUNOPTIONS_H
#define EKVISION_TOOLS_RUNOPTIONS_H

#include <ekcommon/ekmethodinfo.h>
#include <ekvalue/ekvalue.h>

#include <optional>
#include <string>
#include <vector>

namespace ektool {

/// One `--call METHOD ARG...`: a remote method of the module and its arguments as written.
struct CallSpec {
  std::string method;
  std::vector<std::string> arguments;
};

/// What `ekvision run` was asked to do.
struct RunOptions {
  std::optional<std::string> module;        ///< plugin path; none: the built-in detector
  std::optional<std::string> camera;        ///< .arv recording; none: the synthetic scene
  std::optional<std::string> record;        ///< .arv file to record the frames into
  std::optional<std::string> contactSheet;  ///< PNG file of a few frames with their boxes
  std::optional<std::string> detections;    ///< JSON-lines file of every detection
  std::optional<std::string> name;          ///< module name; none: chosen from the module
  std::optional<double> seconds;            ///< run time limit
  std::optional<long long> frames;          ///< frame count limit
  int fps = 15;
  int resolution = 2;
  std::vector<CallSpec> calls;
  bool listMethods = false;
  bool everyFrame = false;  ///< every frame of the recording once, unpaced (--every-frame)
  bool help = false;
};

/// Run time when neither --seconds nor --frames is given.
const double kDefaultSeconds = 5.0;

/// @brief Reads the command line of `ekvision run` (without "run").
/// @throws UsageError for unknown or malformed options
RunOptions parseRunOptions(const std::vector<std::string>& args);

/// @brief One argument of a call as a value: true/false as bool, a whole number as int, a
/// decimal number as float, anything else as string.
EK::EKValue parseCallValue(const std::string& text);

/// @brief The argument list of @p call for @p method, each argument read for the type of
/// its parameter: a string parameter takes the text as it is.
/// @throws UsageError for a wrong number of arguments, or an argument that the parameter's
///   type cannot take
EK::EKValue callArguments(const CallSpec& call, const EK::EKMethodInfo& method);

/// "name(arg, arg)" as the call was written, for messages.
std::string describeCall(const CallSpec& call);

}  // namespace ektool

#endif  // EKVISION_TOOLS_RUNOPTIONS_H
