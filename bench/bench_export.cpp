// Exporting a recording of 640x480 YUV422 frames, in frames per second (items/s):
//
//   BM_Export_Mp4        ekvision export OUT.mp4 in process (libx264, crf 23, fragmented MP4)
//   BM_Export_FfmpegCli  the ffmpeg command encoding the same raw frames at the same settings,
//                        fed through a pipe: the peer of BM_Export_Mp4
//   BM_Export_Png        ekvision export OUTDIR of the same frames as PNG pictures
#include <ekvision/ekvideo.h>

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "export.h"
#include "mp4export.h"

namespace {

const int kWidth = 640;
const int kHeight = 480;
const int kFrames = 120;
const long long kFrameInterval = 33333;  // microseconds

// A scratch directory holding the recording, removed at exit.
class Clip {
 public:
  Clip() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ekvision_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    folder_ = pattern;
    EK::EKVideo recorder;
    if (!recorder.recordVideo(path("clip"), 0, {{kWidth, kHeight, EK::kColorSpaceYUV422, 8}})) {
      std::exit(1);
    }
    for (int frame = 0; frame < kFrames; ++frame) {
      // A gradient that moves: something to predict, as a camera's picture is.
      std::vector<char> pixels(static_cast<std::size_t>(kWidth) * kHeight * 2);
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          char* pixel = &pixels[(static_cast<std::size_t>(y) * kWidth + x) * 2];
          pixel[0] = static_cast<char>(x / 2 + y / 3 + frame * 4);
          pixel[1] = static_cast<char>(x % 2 == 0 ? 96 + y / 4 : 160 - x / 8);
        }
      }
      raw_.insert(raw_.end(), pixels.begin(), pixels.end());
      recorder.write(pixels.data(), static_cast<int>(pixels.size()), frame * kFrameInterval, 0, 0,
                     0, 0, 0);
    }
    recorder.closeVideo();
  }
  ~Clip() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  std::string recording() const { return path("clip.arv"); }
  const std::vector<char>& raw() const { return raw_; }

 private:
  std::filesystem::path folder_;
  std::vector<char> raw_;
};

const Clip& clip() {
  static const Clip instance;
  return instance;
}

void countFrames(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<long long>(state.iterations()) * kFrames);
}

void BM_Export_Mp4(benchmark::State& state) {
  ekhost::Mp4ExportOptions options;
  options.recording = clip().recording();
  options.output = clip().path("out.mp4");
  ekhost::Listener quiet;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ekhost::exportMp4(options, quiet));
  }
  countFrames(state);
}

void BM_Export_FfmpegCli(benchmark::State& state) {
  const std::string command =
      "ffmpeg -nostdin -y -v error -f rawvideo -pix_fmt yuyv422 -s " + std::to_string(kWidth) +
      "x" + std::to_string(kHeight) + " -r 30 -i - -c:v libx264 -preset veryfast -crf " +
      std::to_string(ekhost::kDefaultCrf) + " -bf 0 -g " +
      std::to_string(ekhost::kMp4KeyFrameInterval) +
      " -pix_fmt yuv420p -movflags frag_keyframe+empty_moov+default_base_moof '" +
      clip().path("cli.mp4") + "'";
  for (auto _ : state) {
    FILE* pipe = popen(command.c_str(), "w");
    const std::vector<char>& raw = clip().raw();
    if (pipe == nullptr || std::fwrite(raw.data(), 1, raw.size(), pipe) != raw.size() ||
        pclose(pipe) != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
  }
  countFrames(state);
}

void BM_Export_Png(benchmark::State& state) {
  ekhost::ExportOptions options;
  options.recording = clip().recording();
  options.directory = clip().path("png");
  ekhost::Listener quiet;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ekhost::exportFrames(options, quiet));
  }
  countFrames(state);
}

}  // namespace

BENCHMARK(BM_Export_Mp4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Export_FfmpegCli)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Export_Png)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
