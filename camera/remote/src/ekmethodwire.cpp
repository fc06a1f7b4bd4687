#include <ekvideodevice/ekmethodwire.h>

#include <msgpack.hpp>

#include <cmath>
#include <cstring>
#include <limits>

namespace EK {
namespace {

using Packer = msgpack::packer<msgpack::sbuffer>;

// Most modules and methods a list reply may describe: a host holds a handful of each.
constexpr std::uint32_t kMaxListedModules = 256;
constexpr std::uint32_t kMaxListedMethods = 1024;

// Bounds of what MessagePack may allocate while it reads, per kind of message. A request
// carries a few small arguments; a reply may carry a list of detections or a picture.
const msgpack::unpack_limit kRequestLimits(1024, 0, 4096, kMaxMethodRequestBytes, 0,
                                           kMaxValueDepth + 2);
const msgpack::unpack_limit kReplyLimits(std::size_t{1} << 20, 0, std::size_t{1} << 20,
                                         kMaxMethodReplyBytes, 0, kMaxValueDepth + 6);

EKStatus badMessage(const std::string& what, const std::string& message) {
  return EKStatus(EKCause::kBadFormat, "refused method " + what + ": " + message);
}

std::string text(const msgpack::object& object) {
  return std::string(object.via.str.ptr, object.via.str.size);
}

bool isText(const msgpack::object& object) {
  return object.type == msgpack::type::STR;
}

// A float as MessagePack's float 32 whatever its value: the packer would write a whole
// number as an integer, and a float parameter must keep its type (and -0.0 its sign).
void packFloat(msgpack::sbuffer& buffer, float value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  const char bytes[5] = {static_cast<char>(0xca), static_cast<char>(bits >> 24),
                         static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
                         static_cast<char>(bits)};
  buffer.write(bytes, sizeof bytes);
}

void packValue(msgpack::sbuffer& buffer, Packer& packer, const EKValue& value) {
  switch (value.getType()) {
    case EKValue::TypeBool:
      packer.pack(static_cast<bool>(value));
      return;
    case EKValue::TypeInt:
      packer.pack(static_cast<int>(value));
      return;
    case EKValue::TypeFloat:
      packFloat(buffer, static_cast<float>(value));
      return;
    case EKValue::TypeString:
      packer.pack(static_cast<std::string>(value));
      return;
    case EKValue::TypeBinary: {
      const auto size = static_cast<std::uint32_t>(value.getBinarySize());
      packer.pack_bin(size);
      packer.pack_bin_body(static_cast<const char*>(value.GetBinary()), size);
      return;
    }
    case EKValue::TypeArray:
      packer.pack_array(value.getSize());
      for (unsigned i = 0; i < value.getSize(); ++i) {
        packValue(buffer, packer, value[static_cast<int>(i)]);
      }
      return;
    case EKValue::TypeInvalid:
      break;
  }
  packer.pack_nil();
}

// Reads the MessagePack @p object as a value; refuses what EKValue cannot hold.
EKStatus unpackValue(const msgpack::object& object, EKValue& value, int depth,
                     const std::string& what) {
  switch (object.type) {
    case msgpack::type::NIL:
      value = EKValue();
      return EKStatus();
    case msgpack::type::BOOLEAN:
      value = EKValue(object.via.boolean);
      return EKStatus();
    case msgpack::type::POSITIVE_INTEGER:
      if (object.via.u64 > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        return badMessage(what, "a whole number beyond 32 bits");
      }
      value = EKValue(static_cast<int>(object.via.u64));
      return EKStatus();
    case msgpack::type::NEGATIVE_INTEGER:
      if (object.via.i64 < std::numeric_limits<int>::min()) {
        return badMessage(what, "a whole number beyond 32 bits");
      }
      value = EKValue(static_cast<int>(object.via.i64));
      return EKStatus();
    case msgpack::type::FLOAT32:
    case msgpack::type::FLOAT64:
      if (std::isfinite(object.via.f64) &&
          std::fabs(object.via.f64) > std::numeric_limits<float>::max()) {
        return badMessage(what, "a decimal number beyond a float's range");
      }
      value = EKValue(static_cast<float>(object.via.f64));
      return EKStatus();
    case msgpack::type::STR:
      value = EKValue(text(object));
      return EKStatus();
    case msgpack::type::BIN:
      value = EKValue(object.via.bin.ptr, static_cast<int>(object.via.bin.size));
      return EKStatus();
    case msgpack::type::ARRAY: {
      if (depth >= kMaxValueDepth) {
        return badMessage(what, "lists nested deeper than " + std::to_string(kMaxValueDepth));
      }
      value = EKValue();
      value.arraySetSize(static_cast<int>(object.via.array.size));
      for (std::uint32_t i = 0; i < object.via.array.size; ++i) {
        const EKStatus status =
            unpackValue(object.via.array.ptr[i], value[static_cast<int>(i)], depth + 1, what);
        if (!status.ok()) {
          return status;
        }
      }
      return EKStatus();
    }
    default:
      return badMessage(what, "a map or an extension, which is no value");
  }
}

// Unpacks @p data as one array that begins with the version.
EKStatus unpackMessage(const void* data, std::size_t size, std::size_t limit,
                       const msgpack::unpack_limit& limits, const std::string& what,
                       msgpack::object_handle& handle) {
  if (size == 0 || size > limit) {
    return badMessage(what, std::to_string(size) + " bytes (1 to " + std::to_string(limit) + ")");
  }
  std::size_t offset = 0;
  try {
    msgpack::unpack(handle, static_cast<const char*>(data), size, offset, nullptr, nullptr, limits);
  } catch (const std::exception& error) {
    return badMessage(what,
                      std::string("not MessagePack of the right shape (") + error.what() + ")");
  }
  const msgpack::object& message = handle.get();
  if (offset != size || message.type != msgpack::type::ARRAY || message.via.array.size < 2) {
    return badMessage(what, "not one array of a version and a kind");
  }
  const msgpack::object& version = message.via.array.ptr[0];
  if (version.type != msgpack::type::POSITIVE_INTEGER || version.via.u64 != kMethodWireVersion) {
    return EKStatus(
        EKCause::kUnsupported,
        "refused method " + what + ": wire version " +
            (version.type == msgpack::type::POSITIVE_INTEGER ? std::to_string(version.via.u64)
                                                             : std::string("missing")) +
            ", this build reads " + std::to_string(kMethodWireVersion));
  }
  if (!isText(message.via.array.ptr[1])) {
    return badMessage(what, "a kind that is not text");
  }
  return EKStatus();
}

void packParameter(Packer& packer, const EKMethodInfo::EKParameterInfo& parameter) {
  packer.pack_array(3);
  packer.pack(parameter.name);
  packer.pack(parameter.typeName);
  packer.pack(parameter.description);
}

bool readParameter(const msgpack::object& object, EKMethodInfo::EKParameterInfo& parameter) {
  if (object.type != msgpack::type::ARRAY || object.via.array.size != 3) {
    return false;
  }
  const msgpack::object* fields = object.via.array.ptr;
  if (!isText(fields[0]) || !isText(fields[1]) || !isText(fields[2])) {
    return false;
  }
  parameter.name = text(fields[0]);
  parameter.typeName = text(fields[1]);
  parameter.description = text(fields[2]);
  return true;
}

// [NAME, DESCRIPTION, [PARAMETER...], RETURN] with PARAMETER and RETURN as [name, type, text].
bool readMethod(const msgpack::object& object, EKMethodInfo& method) {
  if (object.type != msgpack::type::ARRAY || object.via.array.size != 4) {
    return false;
  }
  const msgpack::object* fields = object.via.array.ptr;
  if (!isText(fields[0]) || !isText(fields[1]) || fields[2].type != msgpack::type::ARRAY) {
    return false;
  }
  if (fields[2].via.array.size > kMaxListedMethods) {
    return false;
  }
  method.methodName = text(fields[0]);
  method.description = text(fields[1]);
  method.parameters.resize(fields[2].via.array.size);
  for (std::uint32_t i = 0; i < fields[2].via.array.size; ++i) {
    if (!readParameter(fields[2].via.array.ptr[i], method.parameters[i])) {
      return false;
    }
  }
  return readParameter(fields[3], method.returnValue);
}

bool readModules(const msgpack::object& object, std::vector<EKModuleDescription>& modules) {
  if (object.type != msgpack::type::ARRAY || object.via.array.size > kMaxListedModules) {
    return false;
  }
  modules.resize(object.via.array.size);
  for (std::uint32_t m = 0; m < object.via.array.size; ++m) {
    const msgpack::object& module = object.via.array.ptr[m];
    if (module.type != msgpack::type::ARRAY || module.via.array.size != 2 ||
        !isText(module.via.array.ptr[0]) || module.via.array.ptr[1].type != msgpack::type::ARRAY) {
      return false;
    }
    modules[m].name = text(module.via.array.ptr[0]);
    const msgpack::object& methods = module.via.array.ptr[1];
    if (methods.via.array.size > kMaxListedMethods) {
      return false;
    }
    modules[m].methods.resize(methods.via.array.size);
    for (std::uint32_t i = 0; i < methods.via.array.size; ++i) {
      if (!readMethod(methods.via.array.ptr[i], modules[m].methods[i])) {
        return false;
      }
    }
  }
  return true;
}

EKCause causeNamed(const std::string& name) {
  for (int code = static_cast<int>(EKCause::kOk); code <= static_cast<int>(EKCause::kSystem);
       ++code) {
    if (name == causeName(static_cast<EKCause>(code))) {
      return static_cast<EKCause>(code);
    }
  }
  return EKCause::kSystem;
}

std::vector<std::uint8_t> bytesOf(const msgpack::sbuffer& buffer) {
  const auto* begin = reinterpret_cast<const std::uint8_t*>(buffer.data());
  return std::vector<std::uint8_t>(begin, begin + buffer.size());
}

}  // namespace

std::vector<std::uint8_t> encodeMethodRequest(const EKMethodRequest& request) {
  msgpack::sbuffer buffer;
  Packer packer(buffer);
  if (request.kind == EKMethodRequestKind::kList) {
    packer.pack_array(2);
    packer.pack(kMethodWireVersion);
    packer.pack("list");
  } else {
    packer.pack_array(5);
    packer.pack(kMethodWireVersion);
    packer.pack("call");
    packer.pack(request.module);
    packer.pack(request.method);
    if (request.arguments.isArray()) {
      packValue(buffer, packer, request.arguments);
    } else {
      packer.pack_array(0);
    }
  }
  return bytesOf(buffer);
}

EKStatus decodeMethodRequest(const void* data, std::size_t size, EKMethodRequest& request) {
  const std::string what = "request";
  msgpack::object_handle handle;
  EKStatus status = unpackMessage(data, size, kMaxMethodRequestBytes, kRequestLimits, what, handle);
  if (!status.ok()) {
    return status;
  }
  const msgpack::object_array& fields = handle.get().via.array;
  const std::string kind = text(fields.ptr[1]);
  if (kind == "list" && fields.size == 2) {
    request = EKMethodRequest();
    return EKStatus();
  }
  if (kind != "call") {
    return badMessage(what, "unknown kind '" + kind.substr(0, 32) + "' (list or call)");
  }
  if (fields.size != 5 || !isText(fields.ptr[2]) || !isText(fields.ptr[3]) ||
      fields.ptr[4].type != msgpack::type::ARRAY) {
    return badMessage(what, "a call is [version, \"call\", module, method, [arguments]]");
  }
  request.kind = EKMethodRequestKind::kCall;
  request.module = text(fields.ptr[2]);
  request.method = text(fields.ptr[3]);
  return unpackValue(fields.ptr[4], request.arguments, 0, what);
}

std::vector<std::uint8_t> encodeMethodReply(const EKMethodReply& reply) {
  msgpack::sbuffer buffer;
  Packer packer(buffer);
  if (!reply.status.ok()) {
    packer.pack_array(4);
    packer.pack(kMethodWireVersion);
    packer.pack("error");
    packer.pack(std::string(causeName(reply.status.cause())));
    packer.pack(reply.status.message());
    return bytesOf(buffer);
  }
  packer.pack_array(3);
  packer.pack(kMethodWireVersion);
  if (!reply.isList) {
    packer.pack("result");
    packValue(buffer, packer, reply.result);
    return bytesOf(buffer);
  }
  packer.pack("modules");
  packer.pack_array(static_cast<std::uint32_t>(reply.modules.size()));
  for (const EKModuleDescription& module : reply.modules) {
    packer.pack_array(2);
    packer.pack(module.name);
    packer.pack_array(static_cast<std::uint32_t>(module.methods.size()));
    for (const EKMethodInfo& method : module.methods) {
      packer.pack_array(4);
      packer.pack(method.methodName);
      packer.pack(method.description);
      packer.pack_array(static_cast<std::uint32_t>(method.parameters.size()));
      for (const auto& parameter : method.parameters) {
        packParameter(packer, parameter);
      }
      packParameter(packer, method.returnValue);
    }
  }
  return bytesOf(buffer);
}

EKStatus decodeMethodReply(const void* data, std::size_t size, EKMethodReply& reply) {
  const std::string what = "reply";
  msgpack::object_handle handle;
  EKStatus status = unpackMessage(data, size, kMaxMethodReplyBytes, kReplyLimits, what, handle);
  if (!status.ok()) {
    return status;
  }
  const msgpack::object_array& fields = handle.get().via.array;
  const std::string kind = text(fields.ptr[1]);
  reply = EKMethodReply();
  if (kind == "error" && fields.size == 4 && isText(fields.ptr[2]) && isText(fields.ptr[3])) {
    const EKCause cause = causeNamed(text(fields.ptr[2]));
    reply.status = EKStatus(cause == EKCause::kOk ? EKCause::kSystem : cause, text(fields.ptr[3]));
    return EKStatus();
  }
  if (kind == "result" && fields.size == 3) {
    return unpackValue(fields.ptr[2], reply.result, 0, what);
  }
  if (kind == "modules" && fields.size == 3) {
    reply.isList = true;
    if (!readModules(fields.ptr[2], reply.modules)) {
      reply.modules.clear();
      return badMessage(what, "a module list of the wrong shape");
    }
    return EKStatus();
  }
  return badMessage(what, "unknown kind '" + kind.substr(0, 32) + "' (result, modules or error)");
}

}  // namespace EK
