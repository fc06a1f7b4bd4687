#include "remotecall.h"

#include <ekvideodevice/ekmethodclient.h>
#include <ekvision/ekstatus.h>

#include "host.h"

namespace ekhost {
namespace {

// The client's failures as the host's, with their causes.
template <typename Work>
auto asHostErrors(Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const EK::EKFailure& failure) {
    throw HostError(failure.status());
  }
}

}  // namespace

std::vector<EK::EKModuleDescription> listRemoteMethods(const std::string& endpoint,
                                                       std::chrono::milliseconds timeout) {
  return asHostErrors([&] { return EK::EKMethodClient(endpoint, timeout).list(); });
}

EK::EKValue callRemoteMethod(const std::string& endpoint, const std::string& module,
                             const CallSpec& call, std::chrono::milliseconds timeout) {
  return asHostErrors([&] {
    EK::EKMethodClient client(endpoint, timeout);
    // The method's description says how to read the arguments as written.
    for (const EK::EKModuleDescription& described : client.list()) {
      if (described.name != module) {
        continue;
      }
      for (const EK::EKMethodInfo& method : described.methods) {
        if (method.methodName == call.method) {
          return client.call(module, call.method, callArguments(call, method));
        }
      }
      fail(EK::EKCause::kNotFound, "the module " + module + " has no remote method '" +
                                       call.method + "' (ekvision call " + endpoint +
                                       " --list lists them)");
    }
    fail(EK::EKCause::kNotFound, "no module named '" + module + "' at " + endpoint +
                                     " (ekvision call " + endpoint + " --list lists them)");
  });
}

}  // namespace ekhost
