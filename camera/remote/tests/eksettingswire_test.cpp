// Settings requests and answers: round trips, and the refusal of what is not one.
#include <ekvideodevice/eksettingswire.h>

#include <gtest/gtest.h>

namespace {

TEST(SettingsWire, RequestKeepsWhatWasAskedAndOnlyThat) {
  EK::EKSettingsRequest asked;
  asked.width = 320;
  asked.height = 240;
  asked.cameraId = 1;
  const std::vector<std::uint8_t> bytes = EK::encodeSettingsRequest(asked);
  EK::EKSettingsRequest read;
  ASSERT_TRUE(EK::decodeSettingsRequest(bytes.data(), bytes.size(), read).ok());
  EXPECT_EQ(read.width, 320);
  EXPECT_EQ(read.height, 240);
  EXPECT_EQ(read.cameraId, 1);
  EXPECT_FALSE(read.frameRate.has_value());
}

TEST(SettingsWire, ReplyRoundTrip) {
  EK::EKSettingsReply reply{false, "the recording plays at its own size", 640, 480, 15, 0};
  const std::vector<std::uint8_t> bytes = EK::encodeSettingsReply(reply);
  EK::EKSettingsReply read;
  ASSERT_TRUE(EK::decodeSettingsReply(bytes.data(), bytes.size(), read).ok());
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.message, reply.message);
  EXPECT_EQ(read.width, 640);
  EXPECT_EQ(read.frameRate, 15);
}

TEST(SettingsWire, RefusesWhatIsNotARequest) {
  const std::vector<std::vector<std::uint8_t>> requests = {
      {},                                      // empty
      {0x81, 0xa3, 'f', 'p', 's', 0xff},       // a negative rate
      {0x81, 0xa4, 'z', 'o', 'o', 'm', 0x02},  // an unknown setting
      {0x81, 0x01, 0x02},                      // a key that is not text
      {0x92, 0x01, 0x02},                      // an array
      {0x81, 0xa3, 'f', 'p', 's'},             // cut short
      {0xdf, 0xff, 0xff, 0xff, 0xff},          // a map claiming 4 billion keys
      std::vector<std::uint8_t>(EK::kMaxSettingsMessageBytes + 1, 0x80)};
  for (const auto& request : requests) {
    EK::EKSettingsRequest read;
    const EK::EKStatus status = EK::decodeSettingsRequest(request.data(), request.size(), read);
    EXPECT_FALSE(status.ok()) << request.size() << " bytes";
    EXPECT_EQ(status.message().rfind("refused settings message: ", 0), 0u) << status.message();
  }
}

}  // namespace
