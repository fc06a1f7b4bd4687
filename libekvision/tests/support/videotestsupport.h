// Test support for the video recorder and player: temporary directories, raw file bytes, and
// a builder of `.arv` files byte by byte, for headers the recorder would never write.
#ifndef EKVISION_TESTS_VIDEOTESTSUPPORT_H
#define EKVISION_TESTS_VIDEOTESTSUPPORT_H

#include <ekerror/ekerror.h>
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace ektest {

/// A directory made with mkdtemp, removed with its contents when the object dies.
class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "ekvision_test.XXXXXX").string()) {
    if (mkdtemp(path_.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp failed for " << path_;
    }
  }
  ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::error_code ignored_;
};

inline std::vector<unsigned char> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

/// The whole file at @p path as text; empty when it cannot be read.
inline std::string fileText(const std::string& path) {
  const std::vector<unsigned char> bytes = readBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

/// Appends little-endian fields to a byte vector.
class Bytes {
 public:
  Bytes& u32(std::uint32_t value) { return put(value, 4); }
  Bytes& i64(long long value) { return put(static_cast<std::uint64_t>(value), 8); }
  Bytes& f32(float value) {
    std::uint32_t bits;
    return put(*static_cast<std::uint32_t*>(std::memcpy(&bits, &value, sizeof bits)), 4);
  }
  Bytes& fill(std::size_t count, unsigned char value) {
    bytes_.insert(bytes_.end(), count, value);
    return *this;
  }
  /// A record header: time stamp, camera id and the four angles.
  Bytes& recordHeader(long long timeStamp, unsigned char cameraId, float left, float top,
                      float right, float bottom) {
    return i64(timeStamp).fill(1, cameraId).f32(left).f32(top).f32(right).f32(bottom);
  }
  const std::vector<unsigned char>& get() const { return bytes_; }

 private:
  Bytes& put(std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) {
      bytes_.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    return *this;
  }
  std::vector<unsigned char> bytes_;
};

const std::uint32_t kArvVersion0 = 0x41525630u;
const std::uint32_t kArvVersion1 = 0x41525631u;

/// The 16-byte file header followed by stream headers {width, height, colorSpace, depth}.
inline Bytes arvHeader(std::uint32_t version, std::uint32_t extraHeaderSize,
                       std::uint32_t frameCount, std::uint32_t streamCountField,
                       const std::vector<std::vector<std::uint32_t>>& streams) {
  Bytes bytes;
  bytes.u32(version).u32(extraHeaderSize).u32(frameCount).u32(streamCountField);
  for (const auto& stream : streams) {
    std::for_each(stream.begin(), stream.end(), [&](std::uint32_t field) { bytes.u32(field); });
  }
  return bytes;
}

/// Runs @p action and returns the EKError it throws, if any.
template <typename Action>
std::optional<EK::EKError> errorFrom(Action action) {
  try {
    action();
  } catch (const EK::EKError& error) {
    return error;
  }
  return std::nullopt;
}

/// Checks that @p error is the recorder's error for @p method with exactly @p message.
inline void expectVideoError(const std::optional<EK::EKError>& error, const std::string& method,
                             const std::string& message) {
  ASSERT_TRUE(error.has_value()) << "no EKError thrown, expected: " << message;
  EXPECT_EQ(
      std::make_tuple(error->getModuleName(), error->getMethodName(), error->getDescription()),
      std::make_tuple("EKVideo", method, message));
}

/// Closes @p video and returns what it printed on standard output.
inline std::string closeVideo(EK::EKVideo& video) {
  testing::internal::CaptureStdout();
  video.closeVideo();
  return testing::internal::GetCapturedStdout();
}

/// Record length of a stream header, as readers compute it.
inline std::size_t recordLength(const EK::streamHeader& header) {
  return static_cast<std::size_t>(header.width) * header.height *
         EK::getNumLayersInColorSpace(header.colorSpace) * header.depth / 8;
}

/// Pixel bytes that differ between frames, streams and positions.
inline std::vector<char> recordPattern(std::size_t size, unsigned int frame, unsigned int stream) {
  std::vector<char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 7 + frame * 13 + stream * 29) & 0xFF);
  }
  return bytes;
}

/// The time stamp that recordClip() gives a record unless told otherwise.
inline long long stampOf(unsigned int frame, unsigned int stream) {
  return 1000LL * frame + stream;
}

/// Checks that @p image holds record (@p frame, @p stream) of recordClip(): its time stamp,
/// camera id and, after the 25-byte record header, its @p size - 25 pixel bytes.
inline void expectRecord(const EK::EKImage& image, unsigned int frame, unsigned int stream,
                         std::size_t size) {
  SCOPED_TRACE("frame " + std::to_string(frame) + ", stream " + std::to_string(stream));
  EXPECT_EQ(std::make_pair(image.timeStamp, image.cameraId),
            std::make_pair(stampOf(frame, stream), static_cast<char>(stream)));
  ASSERT_GE(image.allocatedSize, static_cast<int>(size));
  const std::vector<char> expected = recordPattern(size, frame, stream);
  EXPECT_TRUE(std::equal(expected.begin() + 25, expected.end(),
                         reinterpret_cast<const char*>(image.frame) + 25));
}

using StampFunction = std::function<long long(unsigned int frame, unsigned int stream)>;

/// Records @p frames frames of recordPattern() pixels into `path + ".arv"` and returns its
/// path: one record per stream, camera id the stream, angles 0.1, 0.2, -0.1, -0.2. With
/// @p close false the recorder is destroyed without closeVideo(), as after a crash.
inline std::string recordClip(const std::string& path, unsigned int frames,
                              const std::vector<EK::streamHeader>& headers,
                              const StampFunction& stamp = stampOf,
                              unsigned int extraHeaderSize = 0, bool close = true) {
  EK::EKVideo recorder;
  EXPECT_TRUE(recorder.recordVideo(path, extraHeaderSize, headers));
  for (unsigned int f = 0; f < frames; ++f) {
    for (unsigned int s = 0; s < headers.size(); ++s) {
      std::vector<char> pixels = recordPattern(recordLength(headers[s]), f, s);
      EXPECT_TRUE(recorder.write(pixels.data(), static_cast<int>(pixels.size()), stamp(f, s),
                                 static_cast<char>(s), 0.1f, 0.2f, -0.1f, -0.2f));
    }
  }
  if (close) {
    closeVideo(recorder);
  }
  return path + ".arv";
}

}  // namespace ektest

#endif  // EKVISION_TESTS_VIDEOTESTSUPPORT_H
