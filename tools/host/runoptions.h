// What a run of a vision module is asked to do, and the remote-method calls it makes.
#ifndef EKVISION_TOOLS_RUNOPTIONS_H
#define EKVISION_TOOLS_RUNOPTIONS_H

#include <ekcommon/ekbroker.h>
#include <ekcommon/ekmethodinfo.h>
#include <ekvalue/ekvalue.h>
#include <ekvision/ekvisionextractor.h>

#include <boost/shared_ptr.hpp>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runwatcher.h"

namespace ekhost {

/// One `--call METHOD ARG...`: a remote method of the module and its arguments as written.
struct CallSpec {
  std::string method;
  std::vector<std::string> arguments;
};

/// @brief A vision module that the caller builds, such as a Python class: the run calls
/// `create` where it would load a plugin.
struct ModuleSource {
  std::string defaultName;  ///< the module's name unless RunOptions::name is given
  /// Builds the module, registered with the broker under the name; called on the thread
  /// that runs the session.
  std::function<boost::shared_ptr<EK::EKVisionExtractor>(const boost::shared_ptr<EK::EKBroker>&,
                                                         const std::string&)>
      create;
};

/// What a run of a vision module is asked to do.
struct RunOptions {
  std::optional<std::string> module;  ///< plugin path; none: the built-in detector
  /// Builds the module in place of a plugin; `module` then names where it came from.
  std::optional<ModuleSource> moduleSource;
  std::optional<std::string> camera;        ///< camera SPEC; none: the synthetic scene
  std::optional<std::string> record;        ///< .arv file to record the frames into
  std::optional<std::string> contactSheet;  ///< PNG file of a few frames with their boxes
  std::optional<std::string> detections;    ///< JSON-lines file of every detection
  std::optional<std::string> summaryJson;   ///< JSON file of the run's summary
  std::optional<std::string> name;          ///< module name; none: chosen from the module
  std::optional<double> seconds;            ///< run time limit
  std::optional<long long> frames;          ///< frame count limit
  int fps = 15;                             ///< frames a second asked of the camera
  int resolution = 2;                       ///< resolution code asked of the camera
  std::vector<CallSpec> calls;              ///< remote methods called once detection runs
  bool everyFrame = false;                  ///< every frame of the recording once, unpaced
  /// Endpoint on which the run answers the remote methods of its modules while it runs
  /// (`tcp://HOST:PORT`, `ipc://PATH`); none: it answers none.
  std::optional<std::string> control;
  std::string controlKeyFile;  ///< the control server's CURVE key file; empty: no CURVE
  /// Sees the frames, their processing and the detections as they happen (a live view);
  /// none: nobody watches. Must outlive the run.
  RunWatcher* watcher = nullptr;
};

/// Run time when neither a time nor a frame limit is given to a paced run.
const double kDefaultRunSeconds = 5.0;

/// @brief One argument of a call as a value: true/false as bool, a whole number as int, a
/// decimal number as float, anything else as string.
EK::EKValue parseCallValue(const std::string& text);

/// @brief The argument list of @p call for @p method, each argument read for the type of
/// its parameter (a string parameter takes the text as it is) and checked as a call that
/// came over the network is (EK::checkCallArguments()).
/// @throws HostError (EKCause::kInvalidArgument) for a wrong number of arguments, or an
///   argument that the parameter's type cannot take
EK::EKValue callArguments(const CallSpec& call, const EK::EKMethodInfo& method);

/// "name(arg, arg)" as the call was written, for messages.
std::string describeCall(const CallSpec& call);

/// A call's result as the tool prints it: the value, or "done" for a method that returns
/// nothing.
std::string callResultText(const EK::EKValue& result);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_RUNOPTIONS_H
