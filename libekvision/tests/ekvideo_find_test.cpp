// Where records lie (beyond 4 GiB, after an extra header block) and finding a frame by its
// time stamp.
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "videotestsupport.h"

namespace {

using EK::EKImage;
using namespace ektest;
using EK::EKVideo;

class EKVideoFind : public ::testing::Test {
 protected:
  // A one-stream clip whose frame f is stamped stamps[f].
  std::string clip(const std::string& name, const std::vector<long long>& stamps) {
    return recordClip(dir.path(name), static_cast<unsigned int>(stamps.size()), {grey},
                      [&](unsigned int frame, unsigned int) { return stamps[frame]; });
  }

  TempDir dir;
  EKVideo video;
  const EK::streamHeader grey{160, 120, 0, 8};
};

// A 640x480 YUV422 recording passes 4 GiB after 6991 frames; the file is sparse, so the test
// writes a few records only: a record header and a marker byte at the record's end.
TEST_F(EKVideoFind, RecordsBeyondFourGibibytesAreFoundAndRead) {
  const std::uint64_t record = 640 * 480 * 2, size = 32 + record * 7001;
  const std::string path = dir.path("long.arv");
  writeBytes(path, arvHeader(kArvVersion1, 0, 7001, 1, {{640, 480, 9, 8}}).get());
  std::filesystem::resize_file(path, size);
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (unsigned int frame : {0u, 6990u, 6991u, 7000u}) {
      const auto header = Bytes().recordHeader(frame * 1000LL, frame % 256, 0.5f, 0, 0, 0).get();
      file.seekp(static_cast<std::streamoff>(32 + record * frame));
      file.write(reinterpret_cast<const char*>(header.data()), 25);
      file.seekp(static_cast<std::streamoff>(32 + record * (frame + 1) - 1));
      file.put(static_cast<char>(frame % 256));
    }
  }
  ASSERT_TRUE(video.readVideo(path));
  EKImage image(EK::kResolution640x480, EK::kColorSpaceYUV422);
  ASSERT_TRUE(video.getFrame(image, 7000, 0, true));
  EXPECT_EQ(
      std::make_tuple(image.timeStamp, image.cameraId, image.leftAngle, image.frame[record - 1]),
      std::make_tuple(7000000LL, static_cast<char>(7000 % 256), 0.5f, 7000 % 256));
  ASSERT_TRUE(video.getFrame(image, 6990, 0, true));
  ASSERT_TRUE(video.getNextFrame(image, true));
  EXPECT_EQ(std::make_tuple(image.timeStamp, image.frame[record - 1]),
            std::make_tuple(6991000LL, 6991 % 256));
  EXPECT_EQ(video.findFrame(7000000, 0), 7000);
}

TEST_F(EKVideoFind, ExtraHeaderBytesAreWrittenZeroAndSkippedWhateverTheyHold) {
  const std::string path = recordClip(dir.path("extra"), 3, {grey}, stampOf, 100);
  std::vector<unsigned char> bytes = readBytes(path);
  ASSERT_EQ(bytes.size(), 32u + 100u + 3u * 19200u);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 32, bytes.begin() + 132),
            std::vector<unsigned char>(100, 0));
  std::fill(bytes.begin() + 32, bytes.begin() + 132, 0xAB);
  writeBytes(path, bytes);  // another writer's extra header
  ASSERT_TRUE(video.readVideo(path));
  EXPECT_EQ(std::make_tuple(video.extraHeaderSize, video.headerSize), std::make_tuple(100u, 132u));
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(video.getNextFrame(image, true));  // from the open file: frame 0
  expectRecord(image, 0, 0, 19200);
  ASSERT_TRUE(video.getFrame(image, 2, 0, true));
  expectRecord(image, 2, 0, 19200);
}

TEST_F(EKVideoFind, FindsTheLastFrameAtOrBeforeATime) {
  ASSERT_TRUE(video.readVideo(clip("sorted", {0, 1000, 2000, 2000, 2000, 5000, 6000})));
  const std::pair<long long, long long> cases[] = {{-1, -1},  {0, 0},    {999, 0},  {1000, 1},
                                                   {2000, 4}, {4999, 4}, {6000, 6}, {1LL << 60, 6}};
  for (const auto& [time, frame] : cases) {
    EXPECT_EQ(video.findFrame(time, 0), frame) << time;
  }
}

TEST_F(EKVideoFind, SearchesTheChosenStreamAndLeavesThePositionAlone) {
  EXPECT_EQ(video.findFrame(0, 0), -1) << "no file";
  const std::string path = recordClip(
      dir.path("two"), 5, {grey, grey},
      [](unsigned int frame, unsigned int stream) { return 1000LL * frame + 500 * stream; });
  ASSERT_TRUE(video.readVideo(path));
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(video.getFrame(image, 3, 0, true));
  EXPECT_EQ(video.findFrame(3000, 0), 3);
  EXPECT_EQ(video.findFrame(3000, 1), 2);
  EXPECT_EQ(video.findFrame(3000, 2), 2) << "the stream index is clamped";
  EXPECT_EQ(video.findFrame(400, 1), -1);
  ASSERT_TRUE(video.getNextFrame(image, true));
  EXPECT_EQ(std::make_tuple(video.currentFrame, video.currentStream, image.timeStamp),
            std::make_tuple(4u, 0u, 4000LL));
}

}  // namespace
