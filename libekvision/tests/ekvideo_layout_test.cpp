// Where records lie: beyond 4 GiB and after an extra header block.
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
using EK::EKVideo;
using ektest::arvHeader;
using ektest::Bytes;

const std::uint64_t kFrame640 = 640 * 480 * 2;

class EKVideoLayout : public ::testing::Test {
 protected:
  // Writes a 25-byte record header and a marker byte at the end of the record at @p offset.
  static void putRecord(std::fstream& file, std::uint64_t offset, long long stamp,
                        unsigned char marker) {
    const std::vector<unsigned char> header =
        Bytes().recordHeader(stamp, marker, 0.5f, 0.25f, -0.5f, -0.25f).get();
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(header.data()), 25);
    file.seekp(static_cast<std::streamoff>(offset + kFrame640 - 1));
    file.put(static_cast<char>(marker));
  }

  ektest::TempDir dir;
  EKVideo video;
};

// A 640x480 YUV422 recording passes 4 GiB after 6991 frames; the file is sparse, so the test
// writes a few records only.
TEST_F(EKVideoLayout, RecordsBeyondFourGibibytesAreFoundAndRead) {
  const std::string path = dir.path("long.arv");
  const std::uint32_t frames = 7001;
  ektest::writeBytes(path, arvHeader(ektest::kArvVersion1, 0, frames, 1, {{640, 480, 9, 8}}).get());
  const std::uint64_t size = 32 + kFrame640 * frames;
  std::filesystem::resize_file(path, size);
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    putRecord(file, 32, 0, 1);
    putRecord(file, 32 + kFrame640 * 6990, 6990000, 2);
    putRecord(file, 32 + kFrame640 * 6991, 6991000, 3);
    putRecord(file, 32 + kFrame640 * 7000, 7000000, 4);
  }
  ASSERT_GT(size, 1ULL << 32);

  ASSERT_TRUE(video.readVideo(path));
  EKImage image(EK::kResolution640x480, EK::kColorSpaceYUV422);
  ASSERT_TRUE(video.getFrame(image, 7000, 0, true));
  EXPECT_EQ(image.timeStamp, 7000000);
  EXPECT_EQ(image.cameraId, 4);
  EXPECT_EQ(image.leftAngle, 0.5f);
  EXPECT_EQ(image.frame[kFrame640 - 1], 4);
  EXPECT_EQ(video.inputFile.tellg(), static_cast<std::streamoff>(size));

  ASSERT_TRUE(video.getFrame(image, 6990, 0, true));
  ASSERT_TRUE(video.getNextFrame(image, true));
  EXPECT_EQ(image.timeStamp, 6991000);
  EXPECT_EQ(image.frame[kFrame640 - 1], 3);
  ASSERT_TRUE(video.getPrecedingFrame(image, true));
  EXPECT_EQ(image.timeStamp, 6990000);

  ASSERT_TRUE(video.goToFrame(7000, 0));
  EXPECT_EQ(video.inputFile.tellg(), static_cast<std::streamoff>(32 + kFrame640 * 7000));
  EXPECT_EQ(video.findFrame(7000000, 0), 7000);
  EXPECT_EQ(video.findFrame(-1, 0), -1);
}

TEST_F(EKVideoLayout, ExtraHeaderBytesAreWrittenAndSkipped) {
  const EK::streamHeader grey{160, 120, 0, 8};
  const std::string path = ektest::recordClip(dir.path("extra"), 3, {grey}, ektest::stampOf, 100);
  const std::vector<unsigned char> bytes = ektest::readBytes(path);
  ASSERT_EQ(bytes.size(), 32u + 100u + 3u * 19200u);
  EXPECT_EQ(bytes[4], 100);
  EXPECT_TRUE(
      std::all_of(bytes.begin() + 32, bytes.begin() + 132, [](unsigned char b) { return b == 0; }));

  ASSERT_TRUE(video.readVideo(path));
  EXPECT_EQ(video.extraHeaderSize, 100u);
  EXPECT_EQ(video.headerSize, 132u);
  EXPECT_EQ(video.inputFile.tellg(), 132);
  EKImage image(EK::kResolution160x120, 0);
  // Stepping from the open file starts at frame 0, behind the extra header.
  for (unsigned int frame = 0; frame < 2; ++frame) {
    ASSERT_TRUE(video.getNextFrame(image, true));
    EXPECT_EQ(image.timeStamp, ektest::stampOf(frame, 0));
    const std::vector<char> expected = ektest::recordPattern(19200, frame, 0);
    EXPECT_TRUE(std::equal(expected.begin() + 25, expected.end(),
                           reinterpret_cast<const char*>(image.frame) + 25));
  }
}

TEST_F(EKVideoLayout, ExtraHeaderContentOfOtherWritersIsIgnored) {
  Bytes file = arvHeader(ektest::kArvVersion1, 7, 2, 1, {{160, 120, 0, 8}});
  file.fill(7, 0xAB);
  for (int frame = 0; frame < 2; ++frame) {
    file.recordHeader(10 + frame, 0, 0, 0, 0, 0).fill(160 * 120 - 25, 0x20 + frame);
  }
  ektest::writeBytes(dir.path("other.arv"), file.get());
  ASSERT_TRUE(video.readVideo(dir.path("other.arv")));
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(video.getNextFrame(image, true));
  EXPECT_EQ(image.timeStamp, 10);
  ASSERT_TRUE(video.getFrame(image, 1, 0, true));
  EXPECT_EQ(image.timeStamp, 11);
  EXPECT_EQ(image.frame[25], 0x21);
  EXPECT_EQ(image.frame[19199], 0x21);
}

}  // namespace
