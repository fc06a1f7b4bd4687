// The frame message: round trips for every encoding, and the refusals of broken messages,
// each before the pixels are allocated.
#include <ekvideodevice/ekframewire.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include <ekvision/ekvisiondefinitions.h>

namespace {

using EK::EKDecodedFrame;
using EK::EKEncodedFrame;
using EK::EKFrameEncoding;
using EK::EKFrameHeader;
using EK::EKStatus;
using EK::EKWirePart;

EKFrameHeader headerOf(int width, int height) {
  EKFrameHeader header;
  header.sequence = 41;
  header.timeStamp = 1796518886818838;
  header.cameraId = 1;
  header.leftAngle = 0.5f;
  header.topAngle = 0.375f;
  header.rightAngle = -0.5f;
  header.bottomAngle = -0.375f;
  header.width = width;
  header.height = height;
  return header;
}

// A picture with smooth areas (which compress) and a noisy band (which does not).
std::vector<std::uint8_t> picture(int width, int height) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 2);
  std::mt19937 random(7);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const std::size_t row = i / (static_cast<std::size_t>(width) * 2);
    pixels[i] = row % 16 == 3 ? static_cast<std::uint8_t>(random())
                              : static_cast<std::uint8_t>((i / 64 + row) & 0xff);
  }
  return pixels;
}

EKStatus decode(const EKEncodedFrame& frame, EKDecodedFrame& out,
                std::size_t limit = EK::kDefaultMaxFrameBytes) {
  const EKWirePart parts[] = {{frame.header.data(), frame.header.size()},
                              {frame.payload, frame.payloadSize}};
  return EK::decodeFrame(parts, 2, limit, out);
}

struct RoundTrip {
  const char* encoding;
  EKFrameEncoding sent;
  int maxDifference;  // per byte; 0: byte-exact
};

class FrameWireRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(FrameWireRoundTrip, KeepsTheCaptureFieldsAndThePixels) {
  std::string error;
  const auto choice = EK::parseEncoding(GetParam().encoding, error);
  ASSERT_TRUE(choice) << error;
  const int width = 320;
  const int height = 240;
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(picture(width, height));
  const EKEncodedFrame frame =
      EK::encodeFrame(headerOf(width, height), pixels->data(), pixels, *choice);
  EKDecodedFrame decoded;
  const EKStatus status = decode(frame, decoded);
  ASSERT_TRUE(status.ok()) << status.message();
  const EKFrameHeader& h = decoded.header;
  EXPECT_EQ(h.encoding, GetParam().sent);
  EXPECT_EQ(h.sequence, 41u);
  EXPECT_EQ(h.timeStamp, 1796518886818838);
  EXPECT_EQ(h.cameraId, 1);
  EXPECT_EQ(h.leftAngle, 0.5f);
  EXPECT_EQ(h.bottomAngle, -0.375f);
  EXPECT_EQ(h.colorSpace, EK::kColorSpaceYUV422);
  ASSERT_EQ(decoded.pixels.size(), pixels->size());
  if (GetParam().sent == EKFrameEncoding::kRaw) {
    EXPECT_EQ(frame.payload, pixels->data()) << "a raw frame is sent from the picture itself";
  }
  int worst = 0;
  double total = 0;
  for (std::size_t i = 0; i < pixels->size(); ++i) {
    const int difference = std::abs(int{decoded.pixels[i]} - int{(*pixels)[i]});
    worst = std::max(worst, difference);
    total += difference;
  }
  if (GetParam().maxDifference == 0) {
    EXPECT_EQ(worst, 0);
  } else {
    // JPEG: the mean error stays small; the noisy band alone may differ by more.
    EXPECT_LT(total / static_cast<double>(pixels->size()), GetParam().maxDifference);
    EXPECT_LT(frame.payloadSize, pixels->size() / 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, FrameWireRoundTrip,
                         ::testing::Values(RoundTrip{"raw", EKFrameEncoding::kRaw, 0},
                                           RoundTrip{"zstd", EKFrameEncoding::kZstd, 0},
                                           RoundTrip{"jpeg", EKFrameEncoding::kJpeg, 6},
                                           RoundTrip{"jpeg:95", EKFrameEncoding::kJpeg, 3}));

TEST(FrameWire, SendsNoiseRawWhenCompressionWouldGrowIt) {
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(64 * 8 * 2);
  std::mt19937 random(3);
  for (std::uint8_t& byte : *pixels) {
    byte = static_cast<std::uint8_t>(random());
  }
  const EKEncodedFrame frame =
      EK::encodeFrame(headerOf(64, 8), pixels->data(), pixels, {EKFrameEncoding::kZstd, 80});
  EKDecodedFrame decoded;
  ASSERT_TRUE(decode(frame, decoded).ok());
  EXPECT_EQ(decoded.header.encoding, EKFrameEncoding::kRaw);
  EXPECT_EQ(decoded.pixels, *pixels);
}

TEST(FrameWire, ReadsEncodingNamesAndRefusesOthers) {
  std::string error;
  EXPECT_EQ(EK::parseEncoding("jpeg:7", error)->quality, 7);
  EXPECT_EQ(EK::parseEncoding("jpeg", error)->quality, EK::kDefaultJpegQuality);
  for (const char* wrong : {"jpeg:0", "jpeg:101", "jpeg:", "jpg", "zstd:3", ""}) {
    EXPECT_FALSE(EK::parseEncoding(wrong, error)) << wrong;
    EXPECT_FALSE(error.empty());
  }
}

// A header with field @p index replaced by the MessagePack bytes @p value.
std::vector<std::uint8_t> withField(const EKEncodedFrame& frame, std::size_t index,
                                    const std::vector<std::uint8_t>& value) {
  // Walk the fields of the array: fixints, uint8..64 (0xcc..0xcf), int64 (0xd3), float32 (0xca).
  std::vector<std::uint8_t> out{frame.header[0]};
  std::size_t at = 1;
  for (std::size_t field = 0; at < frame.header.size(); ++field) {
    const std::uint8_t tag = frame.header[at];
    const std::size_t length = tag < 0x80                   ? 1
                               : tag == 0xcc                ? 2
                               : tag == 0xcd                ? 3
                               : tag == 0xce || tag == 0xca ? 5
                                                            : 9;
    if (field == index) {
      out.insert(out.end(), value.begin(), value.end());
    } else {
      out.insert(out.end(), frame.header.begin() + static_cast<long>(at),
                 frame.header.begin() + static_cast<long>(at + length));
    }
    at += length;
  }
  return out;
}

struct Broken {
  const char* name;
  std::size_t field;                // header field to replace, or kNone
  std::vector<std::uint8_t> value;  // its new bytes
  std::ptrdiff_t payloadChange;     // bytes added to (removed from) the pixel part
  std::size_t parts;                // parts handed to the decoder
  std::size_t limit;                // frame-size limit
  const char* cause;                // words of the refusal
};

const std::size_t kNone = 99;
const std::size_t kMiB = 1 << 20;

class FrameWireRefusal : public ::testing::TestWithParam<Broken> {};

TEST_P(FrameWireRefusal, RefusesWithOneLineNamingTheCause) {
  const Broken& broken = GetParam();
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(picture(64, 48));
  const EKEncodedFrame frame =
      EK::encodeFrame(headerOf(64, 48), pixels->data(), pixels, {EKFrameEncoding::kZstd, 80});
  const std::vector<std::uint8_t> header =
      broken.field == kNone ? frame.header : withField(frame, broken.field, broken.value);
  std::vector<std::uint8_t> payload(frame.payload, frame.payload + frame.payloadSize);
  payload.resize(
      static_cast<std::size_t>(static_cast<std::ptrdiff_t>(payload.size()) + broken.payloadChange));
  if (std::string(broken.name) == "zstdMagic") {
    payload[0] ^= 0xff;
  }
  const EKWirePart parts[] = {
      {header.data(), header.size()}, {payload.data(), payload.size()}, {"", 0}};
  EKDecodedFrame decoded;
  const EKStatus status = EK::decodeFrame(parts, broken.parts, broken.limit, decoded);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find(broken.cause), std::string::npos) << status.message();
  EXPECT_EQ(status.message().find('\n'), std::string::npos);
  EXPECT_TRUE(decoded.pixels.empty() || broken.field == kNone) << "allocated before refusing";
}

INSTANTIATE_TEST_SUITE_P(
    Broken, FrameWireRefusal,
    ::testing::Values(
        Broken{"version", 0, {0x02}, 0, 2, kMiB, "wire version 2"},
        Broken{"oneGoodPart", kNone, {}, 0, 1, kMiB, "1 parts, not 2"},
        Broken{"threeParts", kNone, {}, 0, 3, kMiB, "3 parts, not 2"},
        Broken{"stampAsText", 2, {0xa1, 'x'}, 0, 2, kMiB, "time stamp is not a number"},
        Broken{"oddWidth", 8, {0x3f}, 0, 2, kMiB, "size 63x48"},
        Broken{"colorSpace", 10, {0x0d}, 0, 2, kMiB, "color space 13"},
        Broken{"encoding", 11, {0x07}, 0, 2, kMiB, "unknown encoding 7"},
        Broken{"payloadBeyondPicture", 12, {0xce, 0, 0, 0x30, 0x01}, 0, 2, kMiB, "payload size"},
        Broken{"huge", 8, {0xcd, 0xff, 0xfe}, 0, 2, kMiB, "over the limit"},
        Broken{"overLimit", kNone, {}, 0, 2, 1000, "over the limit of 1000"},
        Broken{"payloadCutShort", kNone, {}, -5, 2, kMiB, "its header says"},
        Broken{"zstdMagic", kNone, {}, 0, 2, kMiB, "not one zstd frame"}),
    [](const ::testing::TestParamInfo<Broken>& info) { return std::string(info.param.name); });

TEST(FrameWire, RefusesHeadersThatAreNotTheFrameArray) {
  const std::vector<std::vector<std::uint8_t>> headers = {
      {},                              // empty
      {0x9d, 0x01, 0x02},              // an array of 13 cut short
      {0xdd, 0xff, 0xff, 0xff, 0xff},  // an array claiming 4 billion elements
      {0x81, 0xa1, 'v', 0x01},         // a map
      {0xc1},                          // a byte MessagePack never uses
      {0x93, 0x01, 0x02, 0x03},        // version 1 with 3 fields
      std::vector<std::uint8_t>(200, 0x90)};
  for (const auto& header : headers) {
    EKFrameHeader decoded;
    const EKStatus status =
        EK::decodeFrameHeader(header.data(), header.size(), EK::kDefaultMaxFrameBytes, decoded);
    EXPECT_FALSE(status.ok()) << header.size() << " bytes";
    EXPECT_EQ(status.message().rfind("refused frame: ", 0), 0u) << status.message();
  }
}

}  // namespace
