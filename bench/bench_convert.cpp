// Throughput of the pixel conversions beside their peers, in one binary so that one run gives
// the ratios: ours on every instruction-set target the processor supports (name/target:T), each
// beside libyuv's fastest path to the same layout restricted to the same instruction sets, and,
// once for all targets, the scalar reference, OpenCV and a memcpy of the output's size. Items
// are pixels, so figures read as pixels/s.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/cpu_id.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>
#include <opencv2/imgproc.hpp>

#include "ekconvert.h"
#include "hwy/targets.h"

namespace {

using Bytes = std::vector<unsigned char>;

// libyuv has no direct YUY2 <-> 24-bit BGR path: it goes through 32-bit BGRA, done here a few
// rows at a time through one small reused buffer, as a careful caller of it would.
constexpr int kStripRows = 4;

Bytes randomBytes(std::size_t size) {
  std::mt19937 engine(42);
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes out(size);
  for (auto& b : out) {
    b = static_cast<unsigned char>(byte(engine));
  }
  return out;
}

struct Picture {
  explicit Picture(const benchmark::State& state)
      : width(static_cast<int>(state.range(0))),
        height(static_cast<int>(state.range(1))),
        pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)),
        pairs(pixels / 2) {}
  int width;
  int height;
  std::size_t pixels;
  std::size_t pairs;
};

void finish(benchmark::State& state, const Picture& picture, std::size_t bytesPerPixel) {
  const auto iterations = static_cast<std::int64_t>(state.iterations());
  state.SetItemsProcessed(iterations * static_cast<std::int64_t>(picture.pixels));
  state.SetBytesProcessed(iterations * static_cast<std::int64_t>(picture.pixels * bytesPerPixel));
}

// ------------------------------------------------------------------ packed -> packed
// One packed layout to the other, kIn bytes a pixel read and kOut written.

using PackedFn = void (*)(const unsigned char*, unsigned char*, std::size_t);

template <PackedFn Convert, std::size_t kIn, std::size_t kOut>
void BM_Packed(benchmark::State& state) {
  const Picture p(state);
  const Bytes in = randomBytes(p.pixels * kIn);
  Bytes out(p.pixels * kOut);
  for (auto _ : state) {
    Convert(in.data(), out.data(), p.pairs);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, p, kIn + kOut);
}

// ------------------------------------------------------------------ YUV422 -> BGR
// Bytes counted: 2 read + 3 written per pixel.

void BM_YuvToBgr_Ours(benchmark::State& state) {
  BM_Packed<EK::convert::yuv422ToBgr, 2, 3>(state);
}
void BM_YuvToBgr_Scalar(benchmark::State& state) {
  BM_Packed<EK::convert::reference::yuv422ToBgr, 2, 3>(state);
}

void BM_YuvToBgr_OpenCV(benchmark::State& state) {
  const Picture p(state);
  Bytes yuvBytes = randomBytes(p.pixels * 2);
  Bytes bgrBytes(p.pixels * 3);
  const cv::Mat yuv(p.height, p.width, CV_8UC2, yuvBytes.data());
  cv::Mat bgr(p.height, p.width, CV_8UC3, bgrBytes.data());
  for (auto _ : state) {
    cv::cvtColor(yuv, bgr, cv::COLOR_YUV2BGR_YUY2);
    benchmark::DoNotOptimize(bgr.data);
    benchmark::ClobberMemory();
  }
  finish(state, p, 5);
}

void BM_YuvToBgr_Libyuv(benchmark::State& state) {
  const Picture p(state);
  const Bytes yuv = randomBytes(p.pixels * 2);
  Bytes bgr(p.pixels * 3);
  Bytes strip(static_cast<std::size_t>(p.width) * 4 * kStripRows);
  for (auto _ : state) {
    for (int row = 0; row < p.height; row += kStripRows) {
      const int rows = std::min(kStripRows, p.height - row);
      const std::size_t first = static_cast<std::size_t>(row) * p.width;
      libyuv::YUY2ToARGB(yuv.data() + first * 2, p.width * 2, strip.data(), p.width * 4, p.width,
                         rows);
      libyuv::ARGBToRGB24(strip.data(), p.width * 4, bgr.data() + first * 3, p.width * 3, p.width,
                          rows);
    }
    benchmark::DoNotOptimize(bgr.data());
    benchmark::ClobberMemory();
  }
  finish(state, p, 5);
}

// ------------------------------------------------------------------ BGR -> YUV422
// Bytes counted: 3 read + 2 written per pixel.

void BM_BgrToYuv_Ours(benchmark::State& state) {
  BM_Packed<EK::convert::bgrToYuv422, 3, 2>(state);
}
void BM_BgrToYuv_Scalar(benchmark::State& state) {
  BM_Packed<EK::convert::reference::bgrToYuv422, 3, 2>(state);
}

void BM_BgrToYuv_Libyuv(benchmark::State& state) {
  const Picture p(state);
  const Bytes bgr = randomBytes(p.pixels * 3);
  Bytes yuv(p.pixels * 2);
  Bytes strip(static_cast<std::size_t>(p.width) * 4 * kStripRows);
  for (auto _ : state) {
    for (int row = 0; row < p.height; row += kStripRows) {
      const int rows = std::min(kStripRows, p.height - row);
      const std::size_t first = static_cast<std::size_t>(row) * p.width;
      libyuv::RGB24ToARGB(bgr.data() + first * 3, p.width * 3, strip.data(), p.width * 4, p.width,
                          rows);
      libyuv::ARGBToYUY2(strip.data(), p.width * 4, yuv.data() + first * 2, p.width * 2, p.width,
                         rows);
    }
    benchmark::DoNotOptimize(yuv.data());
    benchmark::ClobberMemory();
  }
  finish(state, p, 5);
}

// ------------------------------------------------------------------ YUV422 -> planar
// Bytes counted: 2 read + 2 (YYYYUUVV) or 3 (YYYUUUVVV) written per pixel.

using PlanarFn = void (*)(const unsigned char*, unsigned char*, unsigned char*, unsigned char*,
                          std::size_t);

template <PlanarFn Convert, std::size_t kChromaPerPair>
void BM_Planar(benchmark::State& state) {
  const Picture p(state);
  const Bytes yuv = randomBytes(p.pixels * 2);
  Bytes y(p.pixels), u(p.pairs * kChromaPerPair), v(p.pairs * kChromaPerPair);
  for (auto _ : state) {
    Convert(yuv.data(), y.data(), u.data(), v.data(), p.pairs);
    benchmark::DoNotOptimize(y.data());
    benchmark::DoNotOptimize(u.data());
    benchmark::DoNotOptimize(v.data());
    benchmark::ClobberMemory();
  }
  finish(state, p, 2 + kChromaPerPair);
}

void BM_YuvToYYYYUUVV_Ours(benchmark::State& state) {
  BM_Planar<EK::convert::yuv422ToYYYYUUVV, 1>(state);
}
void BM_YuvToYYYYUUVV_Scalar(benchmark::State& state) {
  BM_Planar<EK::convert::reference::yuv422ToYYYYUUVV, 1>(state);
}
void BM_YuvToYYYUUUVVV_Ours(benchmark::State& state) {
  BM_Planar<EK::convert::yuv422ToYYYUUUVVV, 2>(state);
}
void BM_YuvToYYYUUUVVV_Scalar(benchmark::State& state) {
  BM_Planar<EK::convert::reference::yuv422ToYYYUUUVVV, 2>(state);
}

// The peer of YYYYUUVV, and the lower bound for YYYUUUVVV, which writes a third more bytes.
void BM_YuvToPlanar_Libyuv(benchmark::State& state) {
  const Picture p(state);
  const Bytes yuv = randomBytes(p.pixels * 2);
  Bytes y(p.pixels), u(p.pairs), v(p.pairs);
  const int half = p.width / 2;
  for (auto _ : state) {
    libyuv::YUY2ToI422(yuv.data(), p.width * 2, y.data(), p.width, u.data(), half, v.data(), half,
                       p.width, p.height);
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  finish(state, p, 4);
}

// libyuv's path to the same bytes as YYYUUUVVV: it has no 4:4:4 unpacker of YUY2, so a caller
// unpacks to 4:2:2 planes and doubles each chroma sample with a point-sampling 2x scale, a few
// rows at a time so that the half-width chroma stays in cache.
void yuv422ToYYYUUUVVVWithLibyuv(const Picture& p, const unsigned char* yuv, unsigned char* y,
                                 unsigned char* u, unsigned char* v, Bytes& uHalf, Bytes& vHalf) {
  const int half = p.width / 2;
  for (int row = 0; row < p.height; row += kStripRows) {
    const int rows = std::min(kStripRows, p.height - row);
    const std::size_t at = static_cast<std::size_t>(row) * static_cast<std::size_t>(p.width);
    libyuv::YUY2ToI422(yuv + 2 * at, p.width * 2, y + at, p.width, uHalf.data(), half, vHalf.data(),
                       half, p.width, rows);
    libyuv::ScalePlane(uHalf.data(), half, half, rows, u + at, p.width, p.width, rows,
                       libyuv::kFilterNone);
    libyuv::ScalePlane(vHalf.data(), half, half, rows, v + at, p.width, p.width, rows,
                       libyuv::kFilterNone);
  }
}

void BM_YuvToYYYUUUVVV_Libyuv(benchmark::State& state) {
  const Picture p(state);
  const Bytes yuv = randomBytes(p.pixels * 2);
  Bytes y(p.pixels), u(p.pixels), v(p.pixels);
  Bytes uHalf(static_cast<std::size_t>(p.width / 2) * kStripRows), vHalf(uHalf.size());
  // A peer that wrote other bytes would not be a peer.
  Bytes ourY(p.pixels), ourU(p.pixels), ourV(p.pixels);
  EK::convert::yuv422ToYYYUUUVVV(yuv.data(), ourY.data(), ourU.data(), ourV.data(), p.pairs);
  yuv422ToYYYUUUVVVWithLibyuv(p, yuv.data(), y.data(), u.data(), v.data(), uHalf, vHalf);
  if (y != ourY || u != ourU || v != ourV) {
    state.SkipWithError("libyuv's planes differ from ours");
    return;
  }
  for (auto _ : state) {
    yuv422ToYYYUUUVVVWithLibyuv(p, yuv.data(), y.data(), u.data(), v.data(), uHalf, vHalf);
    benchmark::DoNotOptimize(y.data());
    benchmark::DoNotOptimize(u.data());
    benchmark::DoNotOptimize(v.data());
    benchmark::ClobberMemory();
  }
  finish(state, p, 5);
}

// ------------------------------------------------------------------ memcpy
// The bound for a pass over the picture: copies `kOutPerPixel` bytes a pixel.

template <std::size_t kOutPerPixel>
void BM_Memcpy(benchmark::State& state) {
  const Picture p(state);
  const Bytes from = randomBytes(p.pixels * kOutPerPixel);
  Bytes to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), to.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  finish(state, p, 2 * kOutPerPixel);
}

void BM_Memcpy_2BytesPerPixel(benchmark::State& state) {
  BM_Memcpy<2>(state);
}
void BM_Memcpy_3BytesPerPixel(benchmark::State& state) {
  BM_Memcpy<3>(state);
}

// Small frames stay in the L2 cache; the large one (2.4 MB in, up to 3.7 MB out) does not.
void resolutions(benchmark::internal::Benchmark* b) {
  b->ArgNames({"width", "height"})->Args({320, 240})->Args({640, 480})->Args({1280, 960});
}

// ------------------------------------------------------------------ targets
// Every Highway target compiled in and supported by this processor is measured in turn, pinned
// with hwy::SetSupportedTargetsForTest, beside libyuv restricted to the same instruction sets
// (libyuv::MaskCpuFlags), as it would run on a processor whose best is that target.

struct Target {
  std::int64_t bits;
  std::string name;
  int libyuvFlags;  // libyuv::MaskCpuFlags argument: -1 leaves every detected feature on
};

int libyuvFlagsFor(std::int64_t target) {
  constexpr int kAvx512 = libyuv::kCpuHasAVX512BW | libyuv::kCpuHasAVX512VL |
                          libyuv::kCpuHasAVX512VNNI | libyuv::kCpuHasAVX512VBMI |
                          libyuv::kCpuHasAVX512VBMI2 | libyuv::kCpuHasAVX512VBITALG |
                          libyuv::kCpuHasAVX512VPOPCNTDQ | libyuv::kCpuHasGFNI;
  constexpr int kAvx =
      libyuv::kCpuHasAVX | libyuv::kCpuHasAVX2 | libyuv::kCpuHasFMA3 | libyuv::kCpuHasF16C;
  constexpr int kSse4 = libyuv::kCpuHasSSE41 | libyuv::kCpuHasSSE42;
#if HWY_ARCH_X86
  switch (target) {
    case HWY_AVX3:
      return ~(libyuv::kCpuHasAVX512VNNI | libyuv::kCpuHasAVX512VBMI | libyuv::kCpuHasAVX512VBMI2 |
               libyuv::kCpuHasAVX512VBITALG | libyuv::kCpuHasGFNI);
    case HWY_AVX2:
      return ~kAvx512;
    case HWY_SSE4:
      return ~(kAvx512 | kAvx);
    case HWY_SSSE3:
      return ~(kAvx512 | kAvx | kSse4);
    default:
      break;
  }
#endif
  static_cast<void>(target);
  return -1;
}

std::vector<Target> vectorTargets() {
  std::vector<Target> out;
  for (const std::int64_t bits : EK::convert::availableTargets()) {
    // These run the scalar reference, measured once as "Scalar".
    if (bits == HWY_SCALAR || bits == HWY_EMU128) {
      continue;
    }
    out.push_back({bits, hwy::TargetName(bits), libyuvFlagsFor(bits)});
  }
  return out;
}

// Registers `run` as `name/target:T` for each target, pinning the target (and libyuv's
// instruction sets) for the duration of each benchmark.
void registerPerTarget(const std::vector<Target>& targets, const char* name,
                       void (*run)(benchmark::State&)) {
  for (const Target& target : targets) {
    benchmark::RegisterBenchmark((std::string(name) + "/target:" + target.name).c_str(),
                                 [run, target](benchmark::State& state) {
                                   hwy::SetSupportedTargetsForTest(target.bits);
                                   libyuv::MaskCpuFlags(target.libyuvFlags);
                                   run(state);
                                   hwy::SetSupportedTargetsForTest(0);
                                   libyuv::MaskCpuFlags(-1);
                                 })
        ->Apply(resolutions);
  }
}

// The processor's name as the kernel reports it, for the report's header.
std::string cpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos) {
      return line.substr(line.find(':') + 2);
    }
  }
  return "unknown";
}

void registerAll() {
  const std::vector<Target> targets = vectorTargets();
  registerPerTarget(targets, "BM_YuvToBgr_Ours", BM_YuvToBgr_Ours);
  registerPerTarget(targets, "BM_YuvToBgr_Libyuv", BM_YuvToBgr_Libyuv);
  registerPerTarget(targets, "BM_BgrToYuv_Ours", BM_BgrToYuv_Ours);
  registerPerTarget(targets, "BM_BgrToYuv_Libyuv", BM_BgrToYuv_Libyuv);
  registerPerTarget(targets, "BM_YuvToYYYYUUVV_Ours", BM_YuvToYYYYUUVV_Ours);
  registerPerTarget(targets, "BM_YuvToYYYUUUVVV_Ours", BM_YuvToYYYUUUVVV_Ours);
  registerPerTarget(targets, "BM_YuvToPlanar_Libyuv", BM_YuvToPlanar_Libyuv);
  registerPerTarget(targets, "BM_YuvToYYYUUUVVV_Libyuv", BM_YuvToYYYUUUVVV_Libyuv);
  // Peers that do not depend on the target: the scalar reference, OpenCV (its own dispatch,
  // fixed at start-up) and memcpy.
  benchmark::RegisterBenchmark("BM_YuvToBgr_Scalar", BM_YuvToBgr_Scalar)->Apply(resolutions);
  benchmark::RegisterBenchmark("BM_YuvToBgr_OpenCV", BM_YuvToBgr_OpenCV)->Apply(resolutions);
  benchmark::RegisterBenchmark("BM_BgrToYuv_Scalar", BM_BgrToYuv_Scalar)->Apply(resolutions);
  benchmark::RegisterBenchmark("BM_YuvToYYYYUUVV_Scalar", BM_YuvToYYYYUUVV_Scalar)
      ->Apply(resolutions);
  benchmark::RegisterBenchmark("BM_YuvToYYYUUUVVV_Scalar", BM_YuvToYYYUUUVVV_Scalar)
      ->Apply(resolutions);
  benchmark::RegisterBenchmark("BM_Memcpy_2BytesPerPixel", BM_Memcpy_2BytesPerPixel)
      ->Apply(resolutions);
  benchmark::RegisterBenchmark("BM_Memcpy_3BytesPerPixel", BM_Memcpy_3BytesPerPixel)
      ->Apply(resolutions);
}

}  // namespace

int main(int argc, char** argv) {
  cv::setNumThreads(1);  // every contender runs on one thread
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::AddCustomContext("ekconvert target", EK::convert::activeTarget());
  benchmark::AddCustomContext("cpu", cpuModel());
  registerAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
