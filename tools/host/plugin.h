// Vision module plugins: shared libraries that export the factory of ekvisionplugin.h.
#ifndef EKVISION_TOOLS_PLUGIN_H
#define EKVISION_TOOLS_PLUGIN_H

#include <ekvision/ekvisionplugin.h>

#include <string>

namespace ekhost {

/// @brief An opened plugin library; closed when the object dies.
///
/// Keep the object alive until every module it built is destroyed and the broker's tasks
/// have ended: their code lives in the library.
class VisionPlugin {
 public:
  /// @brief Opens the plugin at @p path and checks its entry points.
  /// @throws HostError, one line naming the path, when the file is missing or cannot be
  ///   loaded, when it lacks either entry point, or when its ABI version is not this one's
  explicit VisionPlugin(const std::string& path);
  ~VisionPlugin();
  VisionPlugin(const VisionPlugin&) = delete;
  VisionPlugin& operator=(const VisionPlugin&) = delete;

  /// @brief Builds the plugin's module, registered with @p broker as @p name.
  /// @throws HostError when the factory fails or builds nothing
  boost::shared_ptr<EK::EKVisionExtractor> create(const boost::shared_ptr<EK::EKBroker>& broker,
                                                  const std::string& name) const;

  /// The module name a plugin file suggests: its file name without "lib" and extension.
  static std::string defaultModuleName(const std::string& path);

 private:
  std::string path_;
  void* handle_ = nullptr;
  EK::EKVisionPluginFactory factory_ = nullptr;
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_PLUGIN_H
