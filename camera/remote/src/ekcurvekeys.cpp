#include <ekvideodevice/ekcurvekeys.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zmq.h>

#include <cerrno>
#include <fstream>

namespace EK {
namespace {

constexpr std::size_t kZ85KeyLength = 40;

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return std::string();
  }
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool isZ85Key(const std::string& key) {
  std::uint8_t binary[32];
  return key.size() == kZ85KeyLength && zmq_z85_decode(binary, key.c_str()) != nullptr;
}

// Writes @p text to a new file @p path with @p mode; refuses an existing file.
EKStatus writeNew(const std::string& path, const std::string& text, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    const int error = errno;
    return error == EEXIST ? EKStatus(EKCause::kInvalidArgument,
                                      path + " exists already; keys are never overwritten")
                           : EKStatus::fromSystemError(error, "cannot create " + path);
  }
  // The mode asked for is narrowed by the umask; the secret's must be 0600 whatever it is.
  const bool written = ::fchmod(fd, mode) == 0 &&
                       ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int error = errno;
  if (::close(fd) != 0 || !written) {
    return EKStatus::fromSystemError(written ? errno : error, "cannot write " + path);
  }
  return EKStatus();
}

}  // namespace

EKStatus checkCurveAvailable() {
  if (zmq_has("curve") == 0) {
    return EKStatus(EKCause::kUnsupported,
                    "this ZeroMQ library was built without CURVE: --curve cannot be used");
  }
  return EKStatus();
}

EKStatus readCurveKeys(const std::string& path, EKKeyFileUse use, EKCurveKeys& keys) {
  std::ifstream file(path);
  if (!file) {
    return EKStatus::fromSystemError(errno, "cannot read the key file " + path);
  }
  keys = EKCurveKeys();
  std::string line;
  int number = 0;
  while (std::getline(file, line) && number < 10000) {
    ++number;
    // Z85 has '#' among its characters: only a whole line is a comment.
    const std::string text = trimmed(line);
    if (text.empty() || text[0] == '#') {
      continue;
    }
    const std::size_t equals = text.find('=');
    const std::string name = trimmed(text.substr(0, equals));
    const std::string key = equals == std::string::npos ? "" : trimmed(text.substr(equals + 1));
    std::string* slot = name == "public"   ? &keys.publicKey
                        : name == "secret" ? &keys.secretKey
                        : name == "server" ? &keys.serverKey
                                           : nullptr;
    if ((slot == nullptr && name != "client") || !isZ85Key(key)) {
      return EKStatus(EKCause::kBadFormat, "key file " + path + " line " + std::to_string(number) +
                                               ": expected NAME = KEY (public, secret, server or "
                                               "client, and a 40-character Z85 key)");
    }
    if (slot != nullptr) {
      *slot = key;
    } else {
      keys.clientKeys.push_back(key);
    }
  }
  const bool needServerKey = use == EKKeyFileUse::kClient;
  if (keys.publicKey.empty() || (use != EKKeyFileUse::kPublicOnly && keys.secretKey.empty()) ||
      (needServerKey && keys.serverKey.empty())) {
    return EKStatus(EKCause::kBadFormat,
                    "key file " + path + " lacks its " +
                        (keys.publicKey.empty()   ? "public"
                         : keys.secretKey.empty() ? "secret"
                                                  : "server") +
                        " key" +
                        (needServerKey ? " (a client's file: 'ekvision keys OUT --server "
                                         "SERVER.pub')"
                                       : ""));
  }
  return EKStatus();
}

EKStatus writeCurveKeyPair(const std::string& path, const std::string& serverKey,
                           EKCurveKeys& keys) {
  EKStatus status = checkCurveAvailable();
  if (!status.ok()) {
    return status;
  }
  if (!serverKey.empty() && !isZ85Key(serverKey)) {
    return EKStatus(EKCause::kInvalidArgument, "the server key is not a 40-character Z85 key");
  }
  char publicKey[kZ85KeyLength + 1];
  char secretKey[kZ85KeyLength + 1];
  if (zmq_curve_keypair(publicKey, secretKey) != 0) {
    return EKStatus(EKCause::kSystem,
                    std::string("cannot make a key pair: ") + zmq_strerror(zmq_errno()));
  }
  keys = EKCurveKeys();
  keys.publicKey = publicKey;
  keys.secretKey = secretKey;
  keys.serverKey = serverKey;
  std::string text = "# ekvision CURVE keys: keep this file secret\npublic = " + keys.publicKey +
                     "\nsecret = " + keys.secretKey + "\n";
  if (!serverKey.empty()) {
    text += "server = " + serverKey + "\n";
  }
  status = writeNew(path, text, 0600);
  if (status.ok()) {
    status = writeNew(path + ".pub",
                      "# ekvision CURVE public key\npublic = " + keys.publicKey + "\n", 0644);
  }
  return status;
}

}  // namespace EK
