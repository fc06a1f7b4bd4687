#include <ekvideodevice/eksettingswire.h>

#include <msgpack.hpp>

#include <functional>
#include <limits>

namespace EK {
namespace {

constexpr std::size_t kMaxEntries = 8;
constexpr std::size_t kMaxText = 512;

EKStatus badSettings(const std::string& message) {
  return EKStatus(EKCause::kBadFormat, "refused settings message: " + message);
}

using Entry = std::function<EKStatus(const std::string& key, const msgpack::object& value)>;

// Calls @p entry for each key of the map in @p data, after the bounds on its size.
EKStatus forEachEntry(const void* data, std::size_t size, const Entry& entry) {
  if (size == 0 || size > kMaxSettingsMessageBytes) {
    return badSettings(std::to_string(size) + " bytes (1 to " +
                       std::to_string(kMaxSettingsMessageBytes) + ")");
  }
  msgpack::object_handle handle;
  std::size_t offset = 0;
  try {
    msgpack::unpack(handle, static_cast<const char*>(data), size, offset, nullptr, nullptr,
                    msgpack::unpack_limit(0, kMaxEntries, kMaxText, 0, 0, 2));
  } catch (const std::exception& error) {
    return badSettings(std::string("not MessagePack of the right shape (") + error.what() + ")");
  }
  const msgpack::object& map = handle.get();
  if (offset != size || map.type != msgpack::type::MAP) {
    return badSettings("not one map");
  }
  for (std::uint32_t i = 0; i < map.via.map.size; ++i) {
    const msgpack::object_kv& kv = map.via.map.ptr[i];
    if (kv.key.type != msgpack::type::STR) {
      return badSettings("a key that is not text");
    }
    const EKStatus status = entry(std::string(kv.key.via.str.ptr, kv.key.via.str.size), kv.val);
    if (!status.ok()) {
      return status;
    }
  }
  return EKStatus();
}

EKStatus readInt(const std::string& key, const msgpack::object& value, int& out) {
  if (value.type == msgpack::type::POSITIVE_INTEGER &&
      value.via.u64 <= static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
    out = static_cast<int>(value.via.u64);
    return EKStatus();
  }
  return badSettings("'" + key + "' is not a whole number from 0 up");
}

void packInt(msgpack::packer<msgpack::sbuffer>& packer, const char* key, int value) {
  packer.pack(key);
  packer.pack(value);
}

}  // namespace

std::vector<std::uint8_t> encodeSettingsRequest(const EKSettingsRequest& request) {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  const std::pair<const char*, const std::optional<int>*> fields[] = {
      {"width", &request.width},
      {"height", &request.height},
      {"fps", &request.frameRate},
      {"camera", &request.cameraId}};
  std::uint32_t count = 0;
  for (const auto& field : fields) {
    count += field.second->has_value() ? 1 : 0;
  }
  packer.pack_map(count);
  for (const auto& field : fields) {
    if (field.second->has_value()) {
      packInt(packer, field.first, **field.second);
    }
  }
  return std::vector<std::uint8_t>(buffer.data(), buffer.data() + buffer.size());
}

EKStatus decodeSettingsRequest(const void* data, std::size_t size, EKSettingsRequest& request) {
  request = EKSettingsRequest();
  return forEachEntry(data, size, [&](const std::string& key, const msgpack::object& value) {
    std::optional<int>* slot = key == "width"    ? &request.width
                               : key == "height" ? &request.height
                               : key == "fps"    ? &request.frameRate
                               : key == "camera" ? &request.cameraId
                                                 : nullptr;
    if (slot == nullptr) {
      return badSettings("unknown setting '" + key + "' (width, height, fps, camera)");
    }
    int number = 0;
    const EKStatus status = readInt(key, value, number);
    *slot = number;
    return status;
  });
}

std::vector<std::uint8_t> encodeSettingsReply(const EKSettingsReply& reply) {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_map(6);
  packer.pack("ok");
  packer.pack(reply.ok);
  packer.pack("message");
  packer.pack(reply.message.substr(0, kMaxText));
  packInt(packer, "width", reply.width);
  packInt(packer, "height", reply.height);
  packInt(packer, "fps", reply.frameRate);
  packInt(packer, "camera", reply.cameraId);
  return std::vector<std::uint8_t>(buffer.data(), buffer.data() + buffer.size());
}

EKStatus decodeSettingsReply(const void* data, std::size_t size, EKSettingsReply& reply) {
  reply = EKSettingsReply();
  return forEachEntry(data, size, [&](const std::string& key, const msgpack::object& value) {
    if (key == "ok") {
      if (value.type != msgpack::type::BOOLEAN) {
        return badSettings("'ok' is not true or false");
      }
      reply.ok = value.via.boolean;
      return EKStatus();
    }
    if (key == "message") {
      if (value.type != msgpack::type::STR) {
        return badSettings("'message' is not text");
      }
      reply.message.assign(value.via.str.ptr, value.via.str.size);
      return EKStatus();
    }
    int* slot = key == "width"    ? &reply.width
                : key == "height" ? &reply.height
                : key == "fps"    ? &reply.frameRate
                : key == "camera" ? &reply.cameraId
                                  : nullptr;
    return slot == nullptr ? EKStatus() : readInt(key, value, *slot);
  });
}

}  // namespace EK
