/// @file
/// The camera module of this process, with pluggable frame sources.
#ifndef EKVIDEODEVICE_EKVIDEODEVICE_H
#define EKVIDEODEVICE_EKVIDEODEVICE_H

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include <ekcommon/ekmodule.h>
#include <ekvalue/ekvalue.h>
#include <ekvideodevice/ekframesource.h>
#include <ekvideodevice/ekvideodevice_api.h>

namespace EK {

/// @brief The camera module "EKVideoDevice": subscribers, their settings and their pictures.
///
/// Each subscriber gets pictures of its own resolution, color space and frame rate. Frames
/// follow one another at the subscriber's rate from the moment it subscribed (or last
/// changed its rate): getImageRemote() returns the latest frame due, stamped with its
/// capture time, and never waits. Two cameras exist, 0 and 1; the active one is shared by
/// all subscribers. The pictures come from the frame source given at construction.
///
/// Remote methods (their names are those of the member functions): "subscribe",
/// "unsubscribe", "getImageRemote", "releaseImage", "setResolution", "setColorSpace",
/// "setFrameRate", "setActiveCamera", "getResolution", "getColorSpace", "getFrameRate",
/// "getActiveCamera". EKVideoDeviceProxy calls them. All are safe from any thread.
class EKVIDEODEVICE_API EKVideoDevice : public EKModule {
 public:
  static constexpr int kMinFrameRate = 1;    ///< slowest frame rate accepted
  static constexpr int kMaxFrameRate = 120;  ///< fastest frame rate accepted
  static constexpr int kCameraCount = 2;     ///< cameras 0 and 1

  /// @brief A camera module named "EKVideoDevice".
  /// @throws EKError for a null source
  EKVideoDevice(boost::shared_ptr<EKBroker> broker, std::shared_ptr<EKFrameSource> source);
  /// Drops the subscribers and releases the source.
  ~EKVideoDevice() override;

  /// @brief Adds a subscriber.
  /// @return its id: @p name, or @p name with "_2", "_3"... appended when it is taken
  /// @throws EKError for an empty name, an invalid resolution or color-space code, or a
  ///   frame rate outside 1 to 120
  std::string subscribe(const std::string& name, const int& resolution, const int& colorSpace,
                        const int& frameRate);
  /// Removes subscriber @p id. @throws EKError for an unknown id
  void unsubscribe(const std::string& id);
  /// @brief The latest frame of subscriber @p id, as the source made it.
  /// @throws EKError for an unknown id and whatever the source throws
  EKValue getImageRemote(const std::string& id);
  /// Gives back an image of @p id. @return false when @p id holds none or is unknown
  bool releaseImage(const std::string& id);

  /// Resolution code 0 to 3 for @p id. @return false for another code
  bool setResolution(const std::string& id, const int& resolution);
  /// Color-space code 0 to 18 for @p id. @return false for another code
  bool setColorSpace(const std::string& id, const int& colorSpace);
  /// Frame rate 1 to 120 for @p id; its frames are counted anew. @return false otherwise
  bool setFrameRate(const std::string& id, const int& frameRate);
  /// Selects camera 0 or 1 for everybody. @return false for another index
  bool setActiveCamera(const std::string& id, const int& cameraId);

  /// Resolution code of @p id. @throws EKError for an unknown id
  int getResolution(const std::string& id);
  /// Color-space code of @p id. @throws EKError for an unknown id
  int getColorSpace(const std::string& id);
  /// Frame rate of @p id. @throws EKError for an unknown id
  int getFrameRate(const std::string& id);
  /// The active camera. @throws EKError for an unknown id
  int getActiveCamera(const std::string& id);

  /// Ids of the subscribers, sorted.
  std::vector<std::string> getSubscribers() const;
  /// Images of @p id not yet released; 0 for an unknown id.
  int getHeldImages(const std::string& id) const;

 private:
  struct Subscriber {
    int resolution;
    int colorSpace;
    int frameRate;
    long long anchor;      // time stamp of frame firstFrame, microseconds
    long long firstFrame;  // frames delivered before the last change of rate
    int heldImages;
  };

  Subscriber& find(const std::string& id, const char* method);
  bool dropHeldImage(const std::string& id);
  bool changeSetting(const std::string& id, const char* method, bool valid,
                     const std::function<void(Subscriber&)>& apply);
  int readSetting(const std::string& id, const char* method,
                  const std::function<int(const Subscriber&)>& read);
  void bindMethods();

  std::shared_ptr<EKFrameSource> source_;
  mutable std::mutex mutex_;
  std::map<std::string, Subscriber> subscribers_;
  int activeCamera_ = 0;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKVIDEODEVICE_H
