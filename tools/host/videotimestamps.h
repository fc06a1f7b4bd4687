// The time stamps `ekvision import` gives the frames of a video.
#ifndef EKVISION_TOOLS_VIDEOTIMESTAMPS_H
#define EKVISION_TOOLS_VIDEOTIMESTAMPS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ekhost {

/// A rational number num/den, as containers give time bases and frame rates.
struct Ratio {
  std::int64_t num = 0;
  std::int64_t den = 1;
  /// True when both parts are positive.
  bool valid() const { return num > 0 && den > 0; }
};

/// @brief Stamps the frames of one video stream, in display order, in microseconds.
///
/// The video is constant-rate when a nominal rate fits every presentation time: the i-th
/// time after the first lies within the tolerance (one tick of the time base, at least
/// 2 us, at most a quarter of a frame period) of i frame periods. Such a video's frames
/// get exactly `start + i/rate`, where i is the frame's slot counted from its own time, so
/// a frame the decoder could not read leaves a gap instead of shifting the others. Any
/// other video is variable-rate: its frames get `start + (time - first time)`, rounded to
/// the microsecond. When the container gives no time for some packets, the nominal rate
/// (if any) is trusted as constant. A frame without a time, or whose stamp would not
/// follow the previous one's, gets the previous stamp plus one period (plus 1 us when the
/// video has no rate), and is counted in adjusted().
class VideoStamper {
 public:
  /// @param packetTimes the stream's presentation times in ticks of @p timeBase, in any
  ///   order; nothing for a packet without one
  /// @param nominalRates the frame rates the container states, most trusted first (invalid
  ///   ones are skipped)
  /// @param start stamp of the first frame, microseconds
  VideoStamper(const std::vector<std::optional<std::int64_t>>& packetTimes, Ratio timeBase,
               const std::vector<Ratio>& nominalRates, long long start);

  /// True when the frames are stamped at exactly i/rate().
  bool constantRate() const { return constant_; }
  /// The frame rate of a constant-rate video.
  Ratio rate() const { return rate_; }

  /// @brief The stamp of the next frame in display order.
  /// @param time the frame's presentation time in ticks of the time base, if it has one
  long long next(std::optional<std::int64_t> time);

  /// Frames whose stamp had to be made up or moved to keep the stamps increasing.
  std::uint64_t adjusted() const { return adjusted_; }

 private:
  long long sinceFirst(std::int64_t time) const;

  Ratio timeBase_;
  Ratio rate_;
  bool constant_ = false;
  long long start_;
  std::optional<std::int64_t> first_;
  std::optional<long long> last_;
  long long lastSlot_ = -1;
  std::uint64_t adjusted_ = 0;
};

/// @brief The microseconds of `--start TIME`: seconds with up to six decimals ("90",
/// "1733446800.25"), or hours, minutes and seconds separated by colons ("1:02:03.5",
/// "02:03"); at most 10^11 seconds.
/// @throws HostError (EKCause::kInvalidArgument) naming the option for anything else
long long parseStartTime(const std::string& text);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_VIDEOTIMESTAMPS_H
