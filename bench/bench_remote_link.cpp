// A remote camera over loopback TCP in one process (server thread, receiving thread): how
// late frames arrive, how many go through, what they cost, beside a bare ZeroMQ PUB/SUB
// pair that sends the same bytes in the same run.
//
//   BM_Link_Latency/E          640x480 at 30 frames/s, E = 0 raw, 1 zstd: from the capture
//                              stamp (the server stamps a frame as it publishes it) to the
//                              frame in a subscriber's hands (grabNumbered after waitForFrame);
//                              p50 and p99 in ms. The in-process baseline is a frame handed
//                              over between two threads: local_p50_ms.
//   BM_Link_Throughput         raw 640x480 frames sent as fast as the server can: frames a
//                              second received, and process CPU per received frame, for the
//                              remote camera and for bare ZeroMQ (ratio = ours / bare).
//   BM_Link_Pacing/N           a vision module at 30 frames/s on a remote camera that N
//                              subscribers receive: p99 of |period - 33.3 ms| in ms.
//   BM_Link_RateLimited        raw 640x480 at 30 frames/s (147 Mbit/s) through loopback
//                              limited to 100 Mbit/s by a token bucket (tc, as root; its burst
//                              must hold loopback's 64 KiB packets; skipped
//                              where the kernel or the user cannot): the age of the frames
//                              received in the first and the last third of 9 s, which stays
//                              bounded when the sender drops what the link cannot carry.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <zmq.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <ekcommon/ekbroker.h>
#include <ekvideodevice/ekframepublisher.h>
#include <ekvideodevice/ekframewire.h>
#include <ekvideodevice/ekremotesource.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>
#include <ekvision/ekvisionextractor.h>
#include <ru/log.h>

#include "peers.h"

namespace {

using benchsupport::percentile;
using Clock = std::chrono::steady_clock;
const int kWidth = 640;
const int kHeight = 480;
const std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 2;

long long wallMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

std::shared_ptr<std::vector<std::uint8_t>> picture(int seed) {
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(kFrameBytes);
  for (std::size_t i = 0; i < pixels->size(); ++i) {
    (*pixels)[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(seed) * 13) >> 3);
  }
  return pixels;
}

// Publishes frames on a thread: every @p period (zero: as fast as it can), stamped as sent.
class Server {
 public:
  Server(const std::string& endpoint, EK::EKFrameEncoding encoding, Clock::duration period)
      : publisher_({endpoint, ""}, [](const std::string&) {}), thread_([=] {
          const auto pixels = picture(1);
          std::uint64_t sequence = 0;
          Clock::time_point next = Clock::now();
          while (!stop_) {
            publisher_.serve(std::chrono::milliseconds(0),
                             [](const EK::EKSettingsRequest&) { return EK::EKSettingsReply(); });
            if (period > Clock::duration::zero()) {
              std::this_thread::sleep_until(next);
              next += period;
            }
            EK::EKFrameHeader header;
            header.width = kWidth;
            header.height = kHeight;
            header.colorSpace = EK::kColorSpaceYUV422;
            header.sequence = sequence++;
            header.timeStamp = wallMicros();
            publisher_.publish(EK::encodeFrame(header, pixels->data(), pixels, {encoding, 80}));
          }
        }) {}
  ~Server() {
    stop_ = true;
    thread_.join();
  }
  const std::string& endpoint() const { return publisher_.frameEndpoint(); }

 private:
  std::atomic<bool> stop_{false};
  EK::EKFramePublisher publisher_;
  std::thread thread_;
};

EK::EKRemoteSettings remoteSettings() {
  EK::EKRemoteSettings settings;
  settings.width = kWidth;
  settings.height = kHeight;
  return settings;
}

void BM_Link_Latency(benchmark::State& state) {
  const auto encoding = static_cast<EK::EKFrameEncoding>(state.range(0));
  std::vector<double> latencies;
  std::vector<double> local;
  for (auto _ : state) {
    Server server("tcp://127.0.0.1:*", encoding, std::chrono::microseconds(33333));
    EK::EKRemoteSource source(server.endpoint(), remoteSettings());
    const EK::EKFrameRequest request{"bench", kWidth, kHeight, EK::kColorSpaceYUV422, 0, 0, 0};
    long long seen = source.waitForFrame(0, std::chrono::seconds(5));
    for (int i = 0; i < 150; ++i) {
      seen = source.waitForFrame(seen, std::chrono::seconds(5));
      long long number = 0;
      const EK::EKValue image = source.grabNumbered(request, number);
      latencies.push_back(static_cast<double>(wallMicros() - EK::imageArrayTimeStamp(image)) /
                          1000.0);
    }
    // The same hand-over between two threads of one process, no network.
    std::mutex mutex;
    std::condition_variable changed;
    long long stamp = -1;
    std::thread producer([&] {
      for (int i = 0; i < 150; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(33333));
        std::lock_guard<std::mutex> lock(mutex);
        stamp = wallMicros();
        changed.notify_all();
      }
    });
    for (int i = 0; i < 150; ++i) {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return stamp >= 0; });
      local.push_back(static_cast<double>(wallMicros() - stamp) / 1000.0);
      stamp = -1;
    }
    producer.join();
    state.SetIterationTime(percentile(latencies, 0.5) / 1000.0);
  }
  state.counters["p50_ms"] = percentile(latencies, 0.5);
  state.counters["p99_ms"] = percentile(latencies, 0.99);
  state.counters["local_p50_ms"] = percentile(local, 0.5);
}
BENCHMARK(BM_Link_Latency)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime();

// Frames a second and process CPU per frame that bare ZeroMQ moves over @p seconds.
void bareZeroMq(double seconds, double& rate, double& cpuPerFrame) {
  zmq::context_t context;
  zmq::socket_t publisher(context, zmq::socket_type::pub);
  zmq::socket_t subscriber(context, zmq::socket_type::sub);
  for (zmq::socket_t* socket : {&publisher, &subscriber}) {
    socket->set(zmq::sockopt::linger, 0);
  }
  // ZeroMQ's queues as the remote camera's; the kernel's buffers left as they come.
  publisher.set(zmq::sockopt::sndhwm, EK::kPublisherHighWaterMark);
  subscriber.set(zmq::sockopt::rcvhwm, 2);
  publisher.bind("tcp://127.0.0.1:*");
  subscriber.set(zmq::sockopt::subscribe, "");
  subscriber.connect(publisher.get(zmq::sockopt::last_endpoint));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    const auto pixels = picture(1);
    const std::vector<std::uint8_t> header(40, 1);
    while (!stop) {
      auto* owner = new std::shared_ptr<std::vector<std::uint8_t>>(pixels);
      zmq::message_t body(
          pixels->data(), pixels->size(),
          [](void*, void* hint) {
            delete static_cast<std::shared_ptr<std::vector<std::uint8_t>>*>(hint);
          },
          owner);
      (void)publisher.send(zmq::buffer(header),
                           zmq::send_flags::sndmore | zmq::send_flags::dontwait);
      (void)publisher.send(body, zmq::send_flags::dontwait);
    }
  });
  // The receiver copies each picture out, as any subscriber that keeps a frame must.
  std::vector<std::uint8_t> kept(kFrameBytes);
  long long frames = 0;
  const double cpu = processCpuSeconds();
  const Clock::time_point start = Clock::now();
  subscriber.set(zmq::sockopt::rcvtimeo, 100);
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
    zmq::message_t part;
    if (!subscriber.recv(part)) {
      continue;
    }
    if (!part.more()) {
      std::memcpy(kept.data(), part.data(), std::min(part.size(), kept.size()));
      ++frames;
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  cpuPerFrame = (processCpuSeconds() - cpu) / static_cast<double>(std::max(frames, 1LL));
  rate = static_cast<double>(frames) / elapsed;
  stop = true;
  sender.join();
}

void BM_Link_Throughput(benchmark::State& state) {
  const double seconds = 3;
  double bareRate = 0;
  double bareCpu = 0;
  double ourRate = 0;
  double ourCpu = 0;
  for (auto _ : state) {
    bareZeroMq(seconds, bareRate, bareCpu);
    Server server("tcp://127.0.0.1:*", EK::EKFrameEncoding::kRaw, Clock::duration::zero());
    EK::EKRemoteSource source(server.endpoint(), remoteSettings());
    const long long first = source.status().framesCaptured;
    const double cpu = processCpuSeconds();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const long long frames = source.status().framesCaptured - first;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    ourCpu = (processCpuSeconds() - cpu) / static_cast<double>(std::max(frames, 1LL));
    ourRate = static_cast<double>(frames) / elapsed;
    state.SetIterationTime(elapsed);
  }
  state.counters["fps"] = ourRate;
  state.counters["bare_fps"] = bareRate;
  state.counters["fps_ratio"] = ourRate / bareRate;
  state.counters["cpu_us"] = ourCpu * 1e6;
  state.counters["bare_cpu_us"] = bareCpu * 1e6;
  state.counters["cpu_ratio"] = ourCpu / bareCpu;
}
BENCHMARK(BM_Link_Throughput)->Iterations(1)->UseManualTime();

// Records when each frame reached the module.
class PacedModule : public EK::EKVisionExtractor {
 public:
  PacedModule(boost::shared_ptr<EK::EKBroker> broker, const std::string& name)
      : EKVisionExtractor(std::move(broker), name, EK::kResolution640x480, EK::kColorSpaceYUV422,
                          30) {}
  void onStartDetection() override {}
  void onStopDetection() override {}
  void processImage(EK::EKImage* image) override {
    benchmark::DoNotOptimize(image->frame[0]);
    std::lock_guard<std::mutex> lock(mutex_);
    arrivals_.push_back(Clock::now());
  }
  std::vector<Clock::time_point> arrivals() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
  }

 private:
  std::mutex mutex_;
  std::vector<Clock::time_point> arrivals_;
};

void BM_Link_Pacing(benchmark::State& state) {
  const int subscribers = static_cast<int>(state.range(0));
  std::vector<double> deviations;
  for (auto _ : state) {
    Server server("tcp://127.0.0.1:*", EK::EKFrameEncoding::kRaw, std::chrono::microseconds(33333));
    std::vector<std::unique_ptr<EK::EKRemoteSource>> others;
    for (int i = 1; i < subscribers; ++i) {
      others.push_back(std::make_unique<EK::EKRemoteSource>(server.endpoint(), remoteSettings()));
    }
    boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker);
    auto source = std::make_shared<EK::EKRemoteSource>(server.endpoint(), remoteSettings());
    auto camera = EK::createModule<EK::EKVideoDevice>(broker, source);
    auto module = EK::createModule<PacedModule>(broker, "paced");
    module->subscribe("bench", 33, 0.0f);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    module->unsubscribe("bench");
    broker->joinTasks();
    const std::vector<Clock::time_point> arrivals = module->arrivals();
    for (std::size_t i = 11; i < arrivals.size(); ++i) {  // the first frames warm up
      const double period =
          std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count();
      deviations.push_back(std::fabs(period - 1000.0 / 30));
    }
    state.SetIterationTime(5);
  }
  state.counters["pacing_p99_ms"] = percentile(deviations, 0.99);
  state.counters["pacing_p50_ms"] = percentile(deviations, 0.5);
}
BENCHMARK(BM_Link_Pacing)->Arg(1)->Arg(4)->Iterations(1)->UseManualTime();

// Limits loopback to @p rate while it lives, when tc can.
class LoopbackLimit {
 public:
  explicit LoopbackLimit(const std::string& rate)
      : applied_(std::system(("tc qdisc add dev lo root tbf rate " + rate +
                              " burst 256kb latency 50ms >/dev/null 2>&1")
                                 .c_str()) == 0) {}
  ~LoopbackLimit() {
    if (applied_) {
      (void)std::system("tc qdisc del dev lo root >/dev/null 2>&1");
    }
  }
  bool applied() const { return applied_; }

 private:
  bool applied_;
};

// Ages (ms) of the frames received in the first and the last 3 s of 9 s.
void measureAges(std::vector<double>& early, std::vector<double>& late, long long& received) {
  Server server("tcp://127.0.0.1:*", EK::EKFrameEncoding::kRaw, std::chrono::microseconds(33333));
  EK::EKRemoteSettings settings = remoteSettings();
  settings.stallTimeout = std::chrono::seconds(10);
  EK::EKRemoteSource source(server.endpoint(), settings);
  const EK::EKFrameRequest request{"bench", kWidth, kHeight, EK::kColorSpaceYUV422, 0, 0, 0};
  const Clock::time_point start = Clock::now();
  long long seen = source.waitForFrame(0, std::chrono::seconds(5));
  while (Clock::now() - start < std::chrono::seconds(9)) {
    seen = source.waitForFrame(seen, std::chrono::seconds(1));
    long long number = 0;
    const EK::EKValue image = source.grabNumbered(request, number);
    const double age = static_cast<double>(wallMicros() - EK::imageArrayTimeStamp(image)) / 1000;
    const double at = std::chrono::duration<double>(Clock::now() - start).count();
    if (at < 3) {
      early.push_back(age);
    } else if (at > 6) {
      late.push_back(age);
    }
    ++received;
  }
}

void BM_Link_RateLimited(benchmark::State& state) {
  std::vector<double> early;
  std::vector<double> late;
  long long received = 0;
  for (auto _ : state) {
    const LoopbackLimit limit("100mbit");
    if (!limit.applied()) {
      state.SkipWithError("tc cannot limit loopback here (needs root and the tbf qdisc)");
      return;
    }
    // A failure must not leave the machine's loopback limited: the limit goes first.
    try {
      measureAges(early, late, received);
    } catch (const std::exception& error) {
      state.SkipWithError(error.what());
      return;
    }
    state.SetIterationTime(9);
  }
  state.counters["fps_received"] = static_cast<double>(received) / 9;
  state.counters["age_first3s_p50_ms"] = percentile(early, 0.5);
  state.counters["age_last3s_p50_ms"] = percentile(late, 0.5);
  state.counters["age_last3s_max_ms"] = percentile(late, 1.0);
}
BENCHMARK(BM_Link_RateLimited)->Iterations(1)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  ru::log::setVerbosity(1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
