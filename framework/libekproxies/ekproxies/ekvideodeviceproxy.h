/// @file
/// Typed access to the camera module "EKVideoDevice" through its method table.
#ifndef EKPROXIES_EKVIDEODEVICEPROXY_H
#define EKPROXIES_EKVIDEODEVICEPROXY_H

#include <string>

#include <boost/shared_ptr.hpp>

#include <ekcommon/api.h>
#include <ekvalue/ekvalue.h>

namespace EK {

class EKBroker;
class EKProxy;

/// @brief The camera module's operations as typed calls.
///
/// Every call goes by name through the camera module's method table, so this class needs
/// nothing of the camera's code. Every operation throws EKError when the camera fails, when
/// the proxy is not connected (default-constructed) or the camera module is gone, and when
/// the camera answers with a value of another kind than the operation returns. Copies share
/// the connection; a proxy may be used by several threads at once.
class EKFRAMEWORK_API EKVideoDeviceProxy {
 public:
  /// Name under which the camera module is registered.
  static const char* const kModuleName;

  /// A proxy that is not connected: every operation throws EKError.
  EKVideoDeviceProxy();
  /// @brief Connects to the camera module of @p broker.
  /// @throws EKError when the broker is null or lists no module "EKVideoDevice"
  explicit EKVideoDeviceProxy(boost::shared_ptr<EKBroker> broker);

  /// @brief Subscribes to the camera.
  /// @param name wished subscriber name
  /// @param resolution resolution code of the images
  /// @param colorSpace color-space code of the images
  /// @param frameRate frames per second
  /// @return the subscriber id to pass to every later call
  std::string subscribe(const std::string& name, int resolution, int colorSpace, int frameRate);
  /// Ends the subscription @p id.
  void unsubscribe(const std::string& id);
  /// The latest image of subscriber @p id, as the twelve-element image array.
  EKValue getImageRemote(const std::string& id);
  /// Gives back the image of subscriber @p id. @return whether one was held
  bool releaseImage(const std::string& id);

  /// Asks for a resolution code. @return true when the camera applied it
  bool setResolution(const std::string& id, int resolution);
  /// Asks for a color-space code. @return true when the camera applied it
  bool setColorSpace(const std::string& id, int colorSpace);
  /// Asks for a frame rate. @return true when the camera applied it
  bool setFrameRate(const std::string& id, int frameRate);
  /// Selects the camera to take pictures with. @return true when the camera applied it
  bool setActiveCamera(const std::string& id, int cameraId);

  /// The resolution code the camera delivers to @p id.
  int getResolution(const std::string& id);
  /// The color-space code the camera delivers to @p id.
  int getColorSpace(const std::string& id);
  /// The frame rate the camera delivers to @p id.
  int getFrameRate(const std::string& id);
  /// The camera that takes the pictures.
  int getActiveCamera(const std::string& id);

 private:
  template <typename... Args>
  EKValue call(const char* method, const Args&... args);
  bool callBool(const char* method, const std::string& id, int value);
  int callInt(const char* method, const std::string& id);

  boost::shared_ptr<EKProxy> proxy_;
};

}  // namespace EK

#endif  // EKPROXIES_EKVIDEODEVICEPROXY_H
