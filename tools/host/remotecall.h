// Calls of the remote methods of modules that another process answers (`ekvision run
// --control`): what `ekvision call` and Python's ekvision.call do.
#ifndef EKVISION_TOOLS_HOST_REMOTECALL_H
#define EKVISION_TOOLS_HOST_REMOTECALL_H

#include <ekvalue/ekvalue.h>
#include <ekvideodevice/ekmethodwire.h>

#include <chrono>
#include <string>
#include <vector>

#include "runoptions.h"

namespace ekhost {

/// @brief The modules that the host at @p endpoint answers for, with their remote methods.
/// @param endpoint `tcp://HOST:PORT` or `ipc://PATH`, with `?curve=KEYFILE` for a host that
///   takes CURVE clients only
/// @throws HostError with the cause: kInvalidArgument for an endpoint it cannot take,
///   kUnavailable when no answer came within @p timeout
std::vector<EK::EKModuleDescription> listRemoteMethods(const std::string& endpoint,
                                                       std::chrono::milliseconds timeout);

/// @brief Calls @p call.method of @p module at @p endpoint with the arguments as written,
/// each read for the type of its parameter as `run --call` reads it, and returns the result.
/// @throws HostError: kNotFound for a module or method the host does not have,
///   kInvalidArgument for arguments the method cannot take, and the causes of
///   listRemoteMethods()
EK::EKValue callRemoteMethod(const std::string& endpoint, const std::string& module,
                             const CallSpec& call, std::chrono::milliseconds timeout);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_REMOTECALL_H
