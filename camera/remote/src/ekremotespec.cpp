#include <ekvideodevice/ekremotespec.h>

namespace EK {
namespace {

const char kTcp[] = "tcp://";
const char kIpc[] = "ipc://";
const char kCurveQuery[] = "?curve=";

bool startsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

EKStatus invalid(const std::string& message) {
  return EKStatus(EKCause::kInvalidArgument, message);
}

// The port of `tcp://HOST:PORT`, or -1 when there is none that is a number.
int portOf(const std::string& endpoint, std::size_t& colon) {
  colon = endpoint.rfind(':');
  if (colon == std::string::npos || colon < sizeof kTcp - 1) {
    return -1;
  }
  const std::string digits = endpoint.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  return std::stoi(digits);
}

}  // namespace

std::string defaultFrameEndpoint() {
  return std::string(kTcp) + "127.0.0.1:" + std::to_string(kDefaultFramePort);
}

bool isRemoteSpec(const std::string& spec) {
  return startsWith(spec, kTcp) || startsWith(spec, kIpc);
}

EKStatus parseRemoteSpec(const std::string& spec, EKRemoteTarget& target) {
  if (!isRemoteSpec(spec)) {
    return invalid("'" + spec + "' is not a remote camera (tcp://HOST:PORT or ipc://PATH)");
  }
  const std::size_t query = spec.find(kCurveQuery);
  target.endpoint = spec.substr(0, query);
  target.keyFile = query == std::string::npos ? std::string() : spec.substr(query + 7);
  if (query != std::string::npos && target.keyFile.empty()) {
    return invalid("'" + spec + "' gives no key file after ?curve=");
  }
  if (target.endpoint.find('?') != std::string::npos) {
    return invalid("'" + spec + "': the only option of a remote camera is ?curve=KEYFILE");
  }
  if (startsWith(target.endpoint, kIpc)) {
    if (target.endpoint.size() == sizeof kIpc - 1) {
      return invalid("'" + spec + "' names no socket path after ipc://");
    }
    return EKStatus();
  }
  std::size_t colon = 0;
  const int port = portOf(target.endpoint, colon);
  if (colon <= sizeof kTcp - 1 || port < 1 || port > 65535) {
    return invalid("'" + spec + "' needs a host and a port from 1 to 65535: tcp://HOST:PORT");
  }
  return EKStatus();
}

EKStatus settingsEndpointOf(const std::string& frameEndpoint, std::string& settings) {
  if (startsWith(frameEndpoint, kIpc) && frameEndpoint.size() > sizeof kIpc - 1) {
    settings = frameEndpoint + ".settings";
    return EKStatus();
  }
  std::size_t colon = 0;
  const int port = startsWith(frameEndpoint, kTcp) ? portOf(frameEndpoint, colon) : -1;
  if (port < 1 || port > 65534) {
    return invalid("cannot place the settings socket next to '" + frameEndpoint +
                   "': give tcp://HOST:PORT with a port from 1 to 65534, or ipc://PATH");
  }
  settings = frameEndpoint.substr(0, colon + 1) + std::to_string(port + 1);
  return EKStatus();
}

}  // namespace EK
