// A frame server's sockets and the remote source, over loopback TCP and ipc:// sockets in the
// build directory: what arrives, how stale it may be, a server that goes and comes back,
// CURVE keys, and messages that are not frames or settings.
#include <ekvideodevice/ekcurvekeys.h>
#include <ekvideodevice/ekframepublisher.h>
#include <ekvideodevice/ekremotesource.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zmq.hpp>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include <ekerror/ekerror.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>
#include <ru/log.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const int kWidth = 160;
const int kHeight = 120;

std::string testPath(const std::string& name) {
  return std::string(EKREMOTE_TEST_DIR) + "/" + name + "-" + std::to_string(::getpid());
}

long long wallMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The pixels of frame @p sequence: every frame differs from the others.
std::vector<std::uint8_t> pictureOf(std::uint64_t sequence) {
  std::vector<std::uint8_t> pixels(kWidth * kHeight * 2);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    pixels[i] = static_cast<std::uint8_t>(i / 7 + sequence * 13);
  }
  return pixels;
}

// A frame server on a thread: frames of pictureOf(sequence), stamped with the wall clock.
class TestServer {
 public:
  TestServer(const EK::EKPublisherSettings& settings, const std::string& encoding,
             std::chrono::milliseconds period)
      : publisher_(settings, [this](const std::string& line) {
          std::lock_guard<std::mutex> lock(mutex_);
          log_.push_back(line);
        }) {
    std::string error;
    encoding_ = *EK::parseEncoding(encoding, error);
    thread_ = std::thread([this, period] {
      while (!stop_) {
        EK::EKFrameHeader header;
        header.sequence = sequence_;
        header.timeStamp = wallMicros();
        {
          std::lock_guard<std::mutex> lock(mutex_);
          stamps_.push_back(header.timeStamp);
        }
        header.cameraId = 1;
        header.leftAngle = 0.25f;
        header.width = kWidth;
        header.height = kHeight;
        auto pixels = std::make_shared<std::vector<std::uint8_t>>(pictureOf(sequence_++));
        publisher_.publish(EK::encodeFrame(header, pixels->data(), pixels, encoding_));
        publisher_.serve(period, [](const EK::EKSettingsRequest& request) {
          EK::EKSettingsReply reply{
              true, "", request.width.value_or(kWidth), request.height.value_or(kHeight), 30, 1};
          reply.ok = reply.width == kWidth;
          reply.message = reply.ok ? "" : "only 160x120";
          return reply;
        });
      }
    });
  }
  ~TestServer() {
    stop_ = true;
    thread_.join();
  }

  std::string endpoint() const { return publisher_.frameEndpoint(); }
  std::string settingsEndpoint() const { return publisher_.settingsEndpoint(); }
  long long stampOf(std::uint64_t sequence) {
    std::lock_guard<std::mutex> lock(mutex_);
    return sequence < stamps_.size() ? stamps_[sequence] : -1;
  }
  std::vector<std::string> log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }

 private:
  EK::EKFramePublisher publisher_;
  EK::EKEncodingChoice encoding_;
  std::atomic<bool> stop_{false};
  std::uint64_t sequence_ = 0;
  std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<long long> stamps_;  // by sequence number
  std::thread thread_;
};

EK::EKRemoteSettings quickSettings() {
  EK::EKRemoteSettings settings;
  settings.width = kWidth;
  settings.height = kHeight;
  settings.stallTimeout = 400ms;
  settings.openTimeout = 2000ms;
  return settings;
}

const EK::EKFrameRequest kRequest{"test", kWidth, kHeight, EK::kColorSpaceYUV422, 0, 0, 0};

std::vector<std::uint8_t> pixelsOf(const EK::EKValue& image) {
  const EK::EKValue& block = image[EK::kImageArrayPixels];
  const auto* bytes = static_cast<const std::uint8_t*>(block.GetBinary());
  return std::vector<std::uint8_t>(bytes, bytes + static_cast<std::size_t>(block.getBinarySize()));
}

struct Transport {
  const char* name;
  const char* endpoint;  // "ipc" for a socket in the build directory
  const char* encoding;
};

class RemoteSourceDelivery : public ::testing::TestWithParam<Transport> {};

TEST_P(RemoteSourceDelivery, StampsAnglesAndPixelsArriveUnchanged) {
  EK::EKPublisherSettings where;
  where.endpoint = std::string(GetParam().endpoint) == "ipc" ? "ipc://" + testPath(GetParam().name)
                                                             : GetParam().endpoint;
  TestServer server(where, GetParam().encoding, 5ms);
  EK::EKRemoteSource source(server.endpoint(), quickSettings());
  for (int i = 0; i < 3; ++i) {
    long long number = 0;
    const long long seen = source.status().framesCaptured;
    source.waitForFrame(seen, 1000ms);
    const EK::EKValue image = source.grabNumbered(kRequest, number);
    const std::uint64_t sequence = source.lastSequence();
    // The newest frame may have moved on since the grab: find the one grabbed by its pixels.
    std::optional<std::uint64_t> sent;
    // A slow machine (a sanitizer's) may have let the server run dozens of frames ahead.
    for (std::uint64_t s = sequence + 1; s-- > 0 && s + 64 > sequence && !sent;) {
      if (pixelsOf(image) == pictureOf(s)) {
        sent = s;
      }
    }
    ASSERT_TRUE(sent) << "pixels of no frame sent lately";
    EXPECT_EQ(EK::imageArrayTimeStamp(image), server.stampOf(*sent)) << "the server's stamp";
    EXPECT_EQ(static_cast<int>(image[EK::kImageArrayCamera]), 1);
    EXPECT_EQ(static_cast<float>(image[EK::kImageArrayLeftAngle]), 0.25f);
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, RemoteSourceDelivery,
                         ::testing::Values(Transport{"ipcRaw", "ipc", "raw"},
                                           Transport{"ipcZstd", "ipc", "zstd"},
                                           Transport{"tcpRaw", "tcp://127.0.0.1:*", "raw"},
                                           Transport{"tcpZstd", "tcp://127.0.0.1:*", "zstd"}),
                         [](const ::testing::TestParamInfo<Transport>& info) {
                           return std::string(info.param.name);
                         });

TEST(RemoteSource, ASlowConsumerGetsTheNewestFrame) {
  EK::EKPublisherSettings where;
  where.endpoint = "ipc://" + testPath("slow");
  TestServer server(where, "raw", 2ms);
  EK::EKRemoteSource source(server.endpoint(), quickSettings());
  source.grab(kRequest);
  std::uint64_t previous = source.lastSequence();
  for (int i = 0; i < 3; ++i) {
    // A module busy with one frame while several arrive (a sanitizer's machine may need
    // longer than 150 ms for them: the test waits for two, however long they take).
    const long long received = source.status().framesCaptured;
    std::this_thread::sleep_for(150ms);
    ASSERT_GT(source.waitForFrame(received + 1, 5000ms), received + 1) << "two frames arrived";
    source.grab(kRequest);
    const std::uint64_t sequence = source.lastSequence();
    // A queue would hand out the frame after the previous one; the newest is later still.
    EXPECT_GT(sequence, previous + 1)
        << "frame " << sequence << " handed out after " << previous << ": frames were queued";
    previous = sequence;
  }
}

TEST(RemoteSource, AServerThatGoesAwayFailsOnceAndFramesResumeWhenItIsBack) {
  EK::EKPublisherSettings where;
  where.endpoint = "ipc://" + testPath("restart");
  auto server = std::make_unique<TestServer>(where, "zstd", 10ms);
  EK::EKRemoteSource source(where.endpoint, quickSettings());
  server.reset();
  std::this_thread::sleep_for(600ms);
  try {
    source.grab(kRequest);
    FAIL() << "a silent server is a failure";
  } catch (const EK::EKError& error) {
    EXPECT_EQ(error.getDescription(),
              "no frame from " + where.endpoint + " for 400 ms: the server is gone or silent");
  }
  EXPECT_NO_THROW(source.grab(kRequest)) << "once per failure; then the last frame again";
  const long long before = source.status().framesCaptured;
  server = std::make_unique<TestServer>(where, "zstd", 10ms);
  const Clock::time_point restarted = Clock::now();
  EXPECT_GT(source.waitForFrame(before, 2000ms), before);
  EXPECT_LT(Clock::now() - restarted, 2s);
  EXPECT_FALSE(source.status().failing);
}

TEST(RemoteSource, CurveKeysLetInTheRightClientOnly) {
  ASSERT_TRUE(EK::checkCurveAvailable().ok());
  const std::string dir = testPath("keys");
  for (const char* file : {"/server.key", "/server.key.pub", "/client.key", "/client.key.pub",
                           "/stranger.key", "/stranger.key.pub"}) {
    std::remove((dir + file).c_str());
  }
  ::mkdir(dir.c_str(), 0700);
  EK::EKCurveKeys server;
  EK::EKCurveKeys client;
  EK::EKCurveKeys stranger;
  ASSERT_TRUE(EK::writeCurveKeyPair(dir + "/server.key", "", server).ok());
  ASSERT_TRUE(EK::writeCurveKeyPair(dir + "/client.key", server.publicKey, client).ok());
  // The stranger believes its own key is the server's.
  ASSERT_TRUE(EK::writeCurveKeyPair(dir + "/stranger.key", client.publicKey, stranger).ok());
  EK::EKPublisherSettings where;
  where.endpoint = "ipc://" + testPath("curve");
  where.keyFile = dir + "/server.key";
  TestServer serving(where, "raw", 5ms);
  EK::EKRemoteSettings settings = quickSettings();
  settings.openTimeout = 600ms;
  EK::EKRemoteSource allowed(where.endpoint + "?curve=" + dir + "/client.key", settings);
  EXPECT_GT(allowed.status().framesCaptured, 0);
  try {
    EK::EKRemoteSource refused(where.endpoint + "?curve=" + dir + "/stranger.key", settings);
    FAIL() << "a client with the wrong server key got frames";
  } catch (const EK::EKError& error) {
    EXPECT_NE(error.getDescription().find("refused this client's key"), std::string::npos)
        << error.getDescription();
  }
  // A refusal the client can tell ends the wait at once; the time-out only bounds a machine
  // too loaded to deliver it quickly.
  EK::EKRemoteSettings patient = settings;
  patient.openTimeout = 5000ms;
  try {
    EK::EKRemoteSource plain(where.endpoint, patient);
    FAIL() << "a client without CURVE got frames";
  } catch (const EK::EKError& error) {
    EXPECT_EQ(error.getDescription(),
              where.endpoint +
                  " refused this client: the server takes CURVE clients only: add "
                  "?curve=KEYFILE to the camera address");
  }
  const std::vector<std::string> log = serving.log();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log[0].find("refused a client of " + where.endpoint), std::string::npos) << log[0];
}

TEST(RemoteSource, AServerWithAClientListLetsInOnlyThoseClients) {
  const std::string dir = testPath("list");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(dir);
  EK::EKCurveKeys server;
  EK::EKCurveKeys listed;
  EK::EKCurveKeys unlisted;
  ASSERT_TRUE(EK::writeCurveKeyPair(dir + "/server.key", "", server).ok());
  ASSERT_TRUE(EK::writeCurveKeyPair(dir + "/listed.key", server.publicKey, listed).ok());
  ASSERT_TRUE(EK::writeCurveKeyPair(dir + "/unlisted.key", server.publicKey, unlisted).ok());
  std::ofstream(dir + "/server.key", std::ios::app) << "client = " << listed.publicKey << "\n";
  EK::EKPublisherSettings where;
  where.endpoint = "ipc://" + dir + "/camera";
  where.keyFile = dir + "/server.key";
  TestServer serving(where, "raw", 5ms);
  EK::EKRemoteSettings settings = quickSettings();
  settings.openTimeout = 600ms;
  EXPECT_NO_THROW(EK::EKRemoteSource(where.endpoint + "?curve=" + dir + "/listed.key", settings));
  try {
    EK::EKRemoteSettings patient = settings;
    patient.openTimeout = 5000ms;
    EK::EKRemoteSource unlistedSource(where.endpoint + "?curve=" + dir + "/unlisted.key", patient);
    FAIL() << "a client not in the list got frames";
  } catch (const EK::EKError& error) {
    EXPECT_EQ(error.getDescription(),
              where.endpoint +
                  " refused this client: the server refused this client's key (it "
                  "is not in the server's client list)");
  }
  const std::vector<std::string> log = serving.log();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log[0].find("its key " + unlisted.publicKey + " is not in the key file's client list"),
            std::string::npos)
      << log[0];
}

TEST(RemoteSource, BrokenMessagesAreRefusedAndTheServerKeepsServing) {
  ru::log::setVerbosity(0);
  EK::EKPublisherSettings where;
  where.endpoint = "ipc://" + testPath("broken");
  TestServer server(where, "raw", 5ms);
  zmq::context_t context;
  // A client that sends the settings socket a truncated map, a two-part message, and a
  // message over the size limit (which ZeroMQ drops with its connection).
  for (const std::vector<std::vector<std::uint8_t>>& message :
       std::vector<std::vector<std::vector<std::uint8_t>>>{
           {{0x81, 0xa3, 'f'}},
           {{0x80}, {0x80}},
           {std::vector<std::uint8_t>(EK::kMaxSettingsMessageBytes * 4, 0x80)}}) {
    zmq::socket_t rogue(context, zmq::socket_type::req);
    rogue.set(zmq::sockopt::linger, 0);
    rogue.set(zmq::sockopt::rcvtimeo, 300);
    rogue.connect(server.settingsEndpoint());
    for (std::size_t i = 0; i < message.size(); ++i) {
      rogue.send(zmq::buffer(message[i]),
                 i + 1 < message.size() ? zmq::send_flags::sndmore : zmq::send_flags::none);
    }
    zmq::message_t reply;
    if (rogue.recv(reply)) {
      EK::EKSettingsReply read;
      ASSERT_TRUE(EK::decodeSettingsReply(reply.data(), reply.size(), read).ok());
      EXPECT_FALSE(read.ok);
      EXPECT_NE(read.message.find("refused settings message"), std::string::npos);
    } else {
      EXPECT_GT(message[0].size(), EK::kMaxSettingsMessageBytes) << "only oversize goes unanswered";
    }
  }
  EK::EKRemoteSource source(server.endpoint(), quickSettings());
  const long long seen = source.status().framesCaptured;
  EXPECT_GT(source.waitForFrame(seen, 1000ms), seen) << "the server still serves";
}

TEST(RemoteSource, RefusesMessagesThatAreNotFramesAndTakesTheNextGoodOne) {
  ru::log::setVerbosity(0);
  zmq::context_t context;
  zmq::socket_t rogue(context, zmq::socket_type::pub);
  const std::string endpoint = "ipc://" + testPath("rogue");
  rogue.bind(endpoint);
  EK::EKRemoteSettings settings = quickSettings();
  settings.maxFrameBytes = kWidth * kHeight * 2;
  settings.openTimeout = 3000ms;
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    const std::vector<std::uint8_t> pixels = pictureOf(5);
    EK::EKFrameHeader header;
    header.width = kWidth;
    header.height = kHeight;
    header.timeStamp = 77;
    const EK::EKEncodedFrame good =
        EK::encodeFrame(header, pixels.data(), nullptr, {EK::EKFrameEncoding::kRaw, 80});
    const std::vector<std::uint8_t> oversize(settings.maxFrameBytes + 4096, 1);
    for (int round = 0; !stop && round < 400; ++round) {
      if (round > 20) {
        rogue.send(zmq::buffer(good.header), zmq::send_flags::sndmore);
        rogue.send(zmq::buffer(pixels), zmq::send_flags::none);
      }
      rogue.send(zmq::buffer(good.header.data(), good.header.size() - 3), zmq::send_flags::sndmore);
      rogue.send(zmq::buffer(pixels), zmq::send_flags::none);       // truncated header
      rogue.send(zmq::buffer(good.header), zmq::send_flags::none);  // one part
      rogue.send(zmq::buffer(good.header), zmq::send_flags::sndmore);
      rogue.send(zmq::buffer(oversize), zmq::send_flags::none);  // over the size limit
      std::this_thread::sleep_for(5ms);
    }
  });
  struct Joiner {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Joiner() {
      stop = true;
      thread.join();
    }
  } joiner{stop, sender};
  EK::EKRemoteSource source(endpoint, settings);
  const EK::EKValue image = source.grab(kRequest);
  EXPECT_EQ(EK::imageArrayTimeStamp(image), 77);
  EXPECT_EQ(pixelsOf(image), pictureOf(5));
  std::string reason;
  EXPECT_GT(source.refusedMessages(&reason), 0);
  EXPECT_EQ(reason.rfind("refused frame: ", 0), 0u) << reason;
}

}  // namespace
