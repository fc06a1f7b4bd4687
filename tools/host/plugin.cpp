#include "plugin.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <filesystem>

#include "host.h"

namespace ekhost {
namespace {

// Why @p path cannot be a plugin before dlopen is asked, whose messages for a directory or a
// text file say little: a missing or unreadable file, or one that is no shared library.
EK::EKStatus fileProblem(const std::string& path) {
  const std::string context = "cannot load the module plugin " + path;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return EK::EKStatus::fromSystemError(errno, context);
  }
  if (S_ISDIR(status.st_mode)) {
    return EK::EKStatus(EK::EKCause::kIsDirectory,
                        context + ": is a directory, not a shared library", EISDIR);
  }
  if (!S_ISREG(status.st_mode)) {
    return EK::EKStatus(EK::EKCause::kNotRegularFile,
                        context + ": not a regular file, so not a shared library");
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return EK::EKStatus::fromSystemError(errno, context);
  }
  unsigned char magic[4] = {};
  const ssize_t got = ::read(fd, magic, sizeof magic);
  ::close(fd);
  const unsigned char elf[4] = {0x7F, 'E', 'L', 'F'};
  if (got != static_cast<ssize_t>(sizeof magic) || std::memcmp(magic, elf, sizeof elf) != 0) {
    return EK::EKStatus(EK::EKCause::kBadFormat,
                        context + ": not a shared library (no ELF header)");
  }
  return EK::EKStatus();
}

std::string notAPlugin(const std::string& path, const char* symbol) {
  return path + " is not a vision module plugin: it exports no " + symbol +
         " (build it with EKVISION_PLUGIN)";
}

}  // namespace

VisionPlugin::VisionPlugin(const std::string& path) : path_(path) {
  const EK::EKStatus problem = fileProblem(path);
  if (!problem.ok()) {
    throw HostError(problem);
  }
  // An absolute path, so that dlopen does not search the library path for a bare name.
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(path, error).string();
  handle_ = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    fail(EK::EKCause::kBadFormat, "cannot load the module plugin " + path + ": " +
                                      (reason != nullptr ? reason : "unknown reason"));
  }
  try {
    factory_ =
        reinterpret_cast<EK::EKVisionPluginFactory>(dlsym(handle_, EK::kVisionPluginFactorySymbol));
    if (factory_ == nullptr) {
      fail(EK::EKCause::kBadFormat, notAPlugin(path, EK::kVisionPluginFactorySymbol));
    }
    const auto abi =
        reinterpret_cast<EK::EKVisionPluginAbiFunction>(dlsym(handle_, EK::kVisionPluginAbiSymbol));
    if (abi == nullptr) {
      fail(EK::EKCause::kBadFormat, notAPlugin(path, EK::kVisionPluginAbiSymbol));
    }
    const int version = abi();
    if (version != EKVISION_PLUGIN_ABI_VERSION) {
      fail(EK::EKCause::kUnsupported, path + " was built for plugin ABI " +
                                          std::to_string(version) + "; this ekvision loads ABI " +
                                          std::to_string(EKVISION_PLUGIN_ABI_VERSION) +
                                          ": rebuild the plugin against this version");
    }
  } catch (...) {
    dlclose(handle_);
    throw;
  }
}

VisionPlugin::~VisionPlugin() {
  dlclose(handle_);
}

boost::shared_ptr<EK::EKVisionExtractor> VisionPlugin::create(
    const boost::shared_ptr<EK::EKBroker>& broker, const std::string& name) const {
  boost::shared_ptr<EK::EKVisionExtractor> module;
  factory_(&broker, name.c_str(), &module);
  if (!module) {
    fail(EK::EKCause::kUnavailable, "the factory of " + path_ + " built no module");
  }
  return module;
}

std::string VisionPlugin::defaultModuleName(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  name = name.substr(0, name.find('.'));
  if (name.size() > 3 && name.compare(0, 3, "lib") == 0) {
    name = name.substr(3);
  }
  return name.empty() ? "VisionModule" : name;
}

}  // namespace ekhost
