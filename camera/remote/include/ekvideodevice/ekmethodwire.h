/// @file
/// Calls of modules' remote methods on the wire (docs/wire.md): a request and its reply,
/// each one MessagePack array in one ZeroMQ message, with EKValues as MessagePack values.
#ifndef EKVIDEODEVICE_EKMETHODWIRE_H
#define EKVIDEODEVICE_EKMETHODWIRE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <ekcommon/ekmethodinfo.h>
#include <ekvalue/ekvalue.h>
#include <ekvideodevice/ekremote_api.h>
#include <ekvision/ekstatus.h>

namespace EK {

/// Version of the method messages this build writes and the only one it reads.
constexpr std::uint32_t kMethodWireVersion = 1;
/// Longest request a method server takes, in bytes: calls carry a few small arguments.
constexpr std::size_t kMaxMethodRequestBytes = 64 * 1024;
/// Longest reply a client takes, in bytes: a result may hold pictures.
constexpr std::size_t kMaxMethodReplyBytes = std::size_t{64} << 20;
/// Deepest nesting of lists in a value.
constexpr int kMaxValueDepth = 16;

/// What a request asks.
enum class EKMethodRequestKind {
  kList,  ///< the modules and their remote methods
  kCall,  ///< one call of a module's method
};

/// @brief A request: `[1, "list"]` or `[1, "call", MODULE, METHOD, [ARGUMENTS...]]`.
struct EKMethodRequest {
  EKMethodRequestKind kind = EKMethodRequestKind::kList;  ///< what it asks
  std::string module;                                     ///< kCall: the module's name
  std::string method;                                     ///< kCall: the method's name
  EKValue arguments;                                      ///< kCall: an array of the arguments
};

/// A module and its remote methods, as a list request answers them (no functors).
struct EKModuleDescription {
  std::string name;  ///< the module's name
  std::vector<EKMethodInfo>
      methods;  ///< name, description, parameters (name, type, text), return type
};

/// @brief A reply: `[1, "result", VALUE]`, `[1, "modules", [...]]` or
/// `[1, "error", CAUSE, MESSAGE]` with CAUSE a name of causeName().
struct EKMethodReply {
  EKStatus status;                           ///< ok, or the failure the server reported
  EKValue result;                            ///< a call's result
  std::vector<EKModuleDescription> modules;  ///< a list's answer
  bool isList = false;                       ///< whether it answers a list request
};

/// The bytes of @p request.
EKREMOTE_API std::vector<std::uint8_t> encodeMethodRequest(const EKMethodRequest& request);
/// @brief Reads a request of at most kMaxMethodRequestBytes. Nothing is allocated beyond a
/// bounded MessagePack zone before the whole message was checked.
/// @return ok, or kBadFormat / kUnsupported with one line naming the cause
EKREMOTE_API EKStatus decodeMethodRequest(const void* data, std::size_t size,
                                          EKMethodRequest& request);

/// The bytes of @p reply.
EKREMOTE_API std::vector<std::uint8_t> encodeMethodReply(const EKMethodReply& reply);
/// @brief Reads a reply of at most kMaxMethodReplyBytes.
/// @return ok when the reply could be read (its own status may be a failure), else
///   kBadFormat / kUnsupported with one line
EKREMOTE_API EKStatus decodeMethodReply(const void* data, std::size_t size, EKMethodReply& reply);

}  // namespace EK

#endif  // EKVIDEODEVICE_EKMETHODWIRE_H
