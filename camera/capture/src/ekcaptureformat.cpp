#include <ekvideodevice/ekcaptureformat.h>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace EK {
namespace {

const char kGstPrefix[] = "gst:";
const char kDevicePrefix[] = "/dev/video";

bool isUsable(std::uint32_t code) {
  for (const char* usable : {"YUYV", "MJPG", "JPEG", "BGR3", "RGB3"}) {
    if (code == fourcc(usable)) {
      return true;
    }
  }
  return false;
}

// Rank of a mode for a wanted size: lower is better.
struct Rank {
  int sizeClass;      // 0 exact, 1 at least as large, 2 smaller in some direction
  long long penalty;  // among sizes of class 1 the smallest wins, of class 2 the largest
  int format;         // 0 YUYV, 1 the others

  bool operator<(const Rank& other) const {
    if (sizeClass != other.sizeClass) {
      return sizeClass < other.sizeClass;
    }
    // At the exact size the format decides; otherwise the size first.
    if (sizeClass != 0 && penalty != other.penalty) {
      return penalty < other.penalty;
    }
    return format < other.format;
  }
};

Rank rankOf(const EKDeviceMode& mode, int width, int height) {
  const long long area = static_cast<long long>(mode.width) * mode.height;
  Rank rank{2, -area, mode.fourcc == fourcc("YUYV") ? 0 : 1};
  if (mode.width == width && mode.height == height) {
    rank.sizeClass = 0;
    rank.penalty = 0;
  } else if (mode.width >= width && mode.height >= height) {
    rank.sizeClass = 1;
    rank.penalty = area;
  }
  return rank;
}

}  // namespace

std::optional<EKCaptureTarget> parseCaptureSpec(const std::string& spec) {
  if (spec.empty()) {
    return std::nullopt;
  }
  if (spec.compare(0, sizeof kGstPrefix - 1, kGstPrefix) == 0) {
    std::string pipeline = spec.substr(sizeof kGstPrefix - 1);
    const auto first = pipeline.find_first_not_of(" \t");
    if (first == std::string::npos) {
      return std::nullopt;
    }
    pipeline.erase(0, first);
    return EKCaptureTarget{EKCaptureKind::kGStreamer, pipeline};
  }
  if (spec.compare(0, sizeof kDevicePrefix - 1, kDevicePrefix) == 0) {
    return EKCaptureTarget{EKCaptureKind::kV4L2Device, spec};
  }
  const auto scheme = spec.find("://");
  if (scheme != std::string::npos && scheme > 0 &&
      std::all_of(spec.begin(), spec.begin() + static_cast<long>(scheme),
                  [](unsigned char c) { return std::isalpha(c) != 0; })) {
    return EKCaptureTarget{EKCaptureKind::kNetworkStream, spec};
  }
  return EKCaptureTarget{EKCaptureKind::kVideoFile, spec};
}

const char* toString(EKCaptureKind kind) {
  switch (kind) {
    case EKCaptureKind::kV4L2Device:
      return "V4L2 device";
    case EKCaptureKind::kGStreamer:
      return "GStreamer pipeline";
    case EKCaptureKind::kNetworkStream:
      return "network stream";
    case EKCaptureKind::kVideoFile:
      return "video file";
  }
  return "source";
}

std::uint32_t fourcc(const char code[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])) << 24;
}

std::string fourccText(std::uint32_t code) {
  std::string text(4, '.');
  for (int i = 0; i < 4; ++i) {
    const unsigned char c = static_cast<unsigned char>(code >> (8 * i));
    if (std::isprint(c) != 0) {
      text[static_cast<std::size_t>(i)] = static_cast<char>(c);
    }
  }
  return text;
}

std::optional<EKCaptureMode> chooseDeviceMode(const std::vector<EKDeviceMode>& offered, int width,
                                              int height) {
  const EKDeviceMode* best = nullptr;
  Rank bestRank{};
  for (const EKDeviceMode& mode : offered) {
    if (!isUsable(mode.fourcc) || mode.width <= 0 || mode.height <= 0) {
      continue;
    }
    const Rank rank = rankOf(mode, width, height);
    if (best == nullptr || rank < bestRank) {
      best = &mode;
      bestRank = rank;
    }
  }
  if (best == nullptr) {
    return std::nullopt;
  }
  return EKCaptureMode{best->fourcc, best->width, best->height, best->fourcc == fourcc("YUYV"),
                       bestRank.sizeClass != 0};
}

std::vector<EKDeviceMode> stepwiseCandidates(std::uint32_t code, int minWidth, int maxWidth,
                                             int stepWidth, int minHeight, int maxHeight,
                                             int stepHeight, int width, int height) {
  std::vector<EKDeviceMode> modes{{code, minWidth, minHeight}, {code, maxWidth, maxHeight}};
  const auto onSteps = [](int value, int low, int high, int step) {
    return value >= low && value <= high && (step <= 1 || (value - low) % step == 0);
  };
  if (onSteps(width, minWidth, maxWidth, stepWidth) &&
      onSteps(height, minHeight, maxHeight, stepHeight)) {
    modes.push_back({code, width, height});
  }
  return modes;
}

long long EKStampClock::stamp(long long arrival, double ownMicroseconds) {
  long long stamp = arrival;
  const bool usable = std::isfinite(ownMicroseconds) && ownMicroseconds >= 0 &&
                      (lastOwn_ < 0 || ownMicroseconds > lastOwn_);
  if (usable) {
    const long long own = std::llround(ownMicroseconds);
    if (!anchored_ || arrival - own < offset_) {
      offset_ = arrival - own;
      anchored_ = true;
    }
    stamp = own + offset_;
    lastOwn_ = ownMicroseconds;
  }
  if (lastStamp_ >= 0 && stamp <= lastStamp_) {
    stamp = lastStamp_ + 1;
  }
  lastStamp_ = stamp;
  return stamp;
}

void EKStampClock::reset() {
  anchored_ = false;
  lastOwn_ = -1;
}

}  // namespace EK
