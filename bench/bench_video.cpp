// Recording and playback of 640x480 YUV422 frames, in frames per second (items/s), each
// beside a plain stdio or POSIX peer moving the same bytes to or from the same kind of file.
// Rates are wall-clock rates: the work is mostly in the kernel.
//
//   BM_Record_*    append frames to a new file, starting a new file every kFramesPerFile
//                  frames so that the page cache stays small
//   BM_Playback_*  read frames of a file already in the page cache
//   BM_Memcpy      the bound of any path: one memcpy of a frame
#include <ekvision/ekvideo.h>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const int kWidth = 640;
const int kHeight = 480;
const std::size_t kFrameBytes = kWidth * kHeight * 2;
const int kFramesPerFile = 256;
const int kPlaybackFrames = 256;
const EK::streamHeader kStream{kWidth, kHeight, EK::kColorSpaceYUV422, 8};

// A scratch directory for the run, removed at exit.
class Scratch {
 public:
  Scratch() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ekvision_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

Scratch& scratch() {
  static Scratch instance;
  return instance;
}

std::vector<char> randomBytes(std::size_t size) {
  std::vector<char> bytes(size);
  std::mt19937 generator(42);
  for (char& byte : bytes) {
    byte = static_cast<char>(generator());
  }
  return bytes;
}

void countFrames(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFrameBytes));
}

// A recording restarted every kFramesPerFile frames (destroyed, so nothing is printed).
class Recorder {
 public:
  explicit Recorder(const std::string& name) : base_(scratch().path(name)) { restart(); }
  EK::EKVideo& next() {
    if (++written_ == kFramesPerFile) {
      restart();
    }
    return *video_;
  }

 private:
  void restart() {
    video_ = std::make_unique<EK::EKVideo>();
    video_->recordVideo(base_, 0, {kStream});
    written_ = 0;
  }
  std::string base_;
  std::unique_ptr<EK::EKVideo> video_;
  int written_ = 0;
};

// The plain peer of Recorder: a stdio file restarted every kFramesPerFile frames.
class PlainWriter {
 public:
  explicit PlainWriter(const std::string& name) : path_(scratch().path(name)) { restart(); }
  ~PlainWriter() { std::fclose(file_); }
  std::FILE* next() {
    if (++written_ == kFramesPerFile) {
      std::fclose(file_);
      restart();
    }
    return file_;
  }

 private:
  void restart() {
    file_ = std::fopen(path_.c_str(), "wb");
    written_ = 0;
  }
  std::string path_;
  std::FILE* file_ = nullptr;
  int written_ = 0;
};

void BM_Record_WriteBuffer(benchmark::State& state) {
  std::vector<char> frame = randomBytes(kFrameBytes);
  Recorder recorder("buffer");
  long long stamp = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(recorder.next().write(frame.data(), static_cast<int>(kFrameBytes),
                                                   stamp++, 0, 0.1f, 0.2f, -0.1f, -0.2f));
  }
  countFrames(state);
}

void BM_Record_WriteBgr(benchmark::State& state) {
  std::vector<char> bgr = randomBytes(kWidth * kHeight * 3);
  Recorder recorder("bgr");
  long long stamp = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        recorder.next().write(kHeight, kWidth, bgr.data(), stamp++, 0, 0.1f, 0.2f, -0.1f, -0.2f));
  }
  countFrames(state);
}

// The BGR path's own cost: the library conversion into a reused image, then fwrite.
void BM_Record_ConvertThenFwrite(benchmark::State& state) {
  std::vector<char> bgr = randomBytes(kWidth * kHeight * 3);
  EK::EKImage image(EK::kResolution640x480, EK::kColorSpaceYUV422);
  PlainWriter writer("convert");
  for (auto _ : state) {
    image.computeYUV422imageFromBGR(kHeight, kWidth, bgr.data());
    benchmark::DoNotOptimize(std::fwrite(image.frame, 1, kFrameBytes, writer.next()));
  }
  countFrames(state);
}

void BM_Record_Fwrite(benchmark::State& state) {
  std::vector<char> frame = randomBytes(kFrameBytes);
  PlainWriter writer("plain");
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::fwrite(frame.data(), 1, kFrameBytes, writer.next()));
  }
  countFrames(state);
}

// A recording of kPlaybackFrames frames, made once and kept in the page cache.
const std::string& playbackFile() {
  static const std::string path = [] {
    std::vector<char> frame = randomBytes(kFrameBytes);
    EK::EKVideo video;
    video.recordVideo(scratch().path("playback"), 0, {kStream});
    for (int f = 0; f < kPlaybackFrames; ++f) {
      video.write(frame.data(), static_cast<int>(kFrameBytes), f, 0, 0, 0, 0, 0);
    }
    video.outputFile.flush();
    // Finish the file without closeVideo's line on standard output.
    video.outputFile.seekp(8);
    const unsigned char count[4] = {kPlaybackFrames & 0xFF, kPlaybackFrames >> 8, 0, 0};
    video.outputFile.write(reinterpret_cast<const char*>(count), 4);
    return scratch().path("playback.arv");
  }();
  return path;
}

// The same pseudo-random frame order for the library and its peers.
std::vector<unsigned int> randomOrder() {
  std::vector<unsigned int> order(4096);
  std::mt19937 generator(7);
  for (unsigned int& index : order) {
    index = generator() % kPlaybackFrames;
  }
  return order;
}

long frameOffset(unsigned int frame) {
  return 32 + static_cast<long>(frame) * static_cast<long>(kFrameBytes);
}

void BM_Playback_GetFrameRandom(benchmark::State& state) {
  EK::EKVideo video;
  video.readVideo(playbackFile());
  EK::EKImage image(EK::kResolution640x480, EK::kColorSpaceYUV422);
  const std::vector<unsigned int> order = randomOrder();
  std::size_t next = 0;
  for (auto _ : state) {
    if (!video.getFrame(image, order[next++ % order.size()], 0, true)) {
      state.SkipWithError("getFrame failed");
      break;
    }
    benchmark::DoNotOptimize(image.frame);
  }
  countFrames(state);
}

void BM_Playback_FseekFreadRandom(benchmark::State& state) {
  std::FILE* file = std::fopen(playbackFile().c_str(), "rb");
  std::vector<unsigned char> buffer(kFrameBytes);
  const std::vector<unsigned int> order = randomOrder();
  std::size_t next = 0;
  for (auto _ : state) {
    std::fseek(file, frameOffset(order[next++ % order.size()]), SEEK_SET);
    if (std::fread(buffer.data(), 1, kFrameBytes, file) != kFrameBytes) {
      state.SkipWithError("fread failed");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  std::fclose(file);
  countFrames(state);
}

void BM_Playback_PreadRandom(benchmark::State& state) {
  const int fd = open(playbackFile().c_str(), O_RDONLY);
  std::vector<unsigned char> buffer(kFrameBytes);
  const std::vector<unsigned int> order = randomOrder();
  std::size_t next = 0;
  for (auto _ : state) {
    const ssize_t got =
        pread(fd, buffer.data(), kFrameBytes, frameOffset(order[next++ % order.size()]));
    if (got != static_cast<ssize_t>(kFrameBytes)) {
      state.SkipWithError("pread failed");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  close(fd);
  countFrames(state);
}

void BM_Playback_GetNextFrame(benchmark::State& state) {
  EK::EKVideo video;
  video.readVideo(playbackFile());
  EK::EKImage image(EK::kResolution640x480, EK::kColorSpaceYUV422);
  for (auto _ : state) {
    if (!video.getNextFrame(image, true)) {
      video.goToFrame(0, 0);
      video.getNextFrame(image, true);
    }
    benchmark::DoNotOptimize(image.frame);
  }
  countFrames(state);
}

void BM_Playback_FreadSequential(benchmark::State& state) {
  std::FILE* file = std::fopen(playbackFile().c_str(), "rb");
  std::vector<unsigned char> buffer(kFrameBytes);
  std::fseek(file, 32, SEEK_SET);
  for (auto _ : state) {
    if (std::fread(buffer.data(), 1, kFrameBytes, file) != kFrameBytes) {
      std::fseek(file, 32, SEEK_SET);
      std::fread(buffer.data(), 1, kFrameBytes, file);
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  std::fclose(file);
  countFrames(state);
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<char> source = randomBytes(kFrameBytes);
  std::vector<char> destination(kFrameBytes);
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), kFrameBytes);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  countFrames(state);
}

}  // namespace

BENCHMARK(BM_Record_WriteBuffer)->UseRealTime();
BENCHMARK(BM_Record_Fwrite)->UseRealTime();
BENCHMARK(BM_Record_WriteBgr)->UseRealTime();
BENCHMARK(BM_Record_ConvertThenFwrite)->UseRealTime();
BENCHMARK(BM_Playback_GetFrameRandom)->UseRealTime();
BENCHMARK(BM_Playback_FseekFreadRandom)->UseRealTime();
BENCHMARK(BM_Playback_PreadRandom)->UseRealTime();
BENCHMARK(BM_Playback_GetNextFrame)->UseRealTime();
BENCHMARK(BM_Playback_FreadSequential)->UseRealTime();
BENCHMARK(BM_Memcpy)->UseRealTime();

BENCHMARK_MAIN();
