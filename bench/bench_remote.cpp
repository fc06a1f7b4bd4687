// The remote camera's frame codecs on frames of the synthetic scene, in GB/s of picture
// (SetBytesProcessed counts width x height x 2 bytes a frame), beside a memcpy of the same
// picture, the least a raw frame costs.
//
//   BM_FrameEncode_<encoding>/R  header and pixel part of one frame, resolution code R
//   BM_FrameDecode_<encoding>/R  the checks and the picture out of one message
//   BM_Memcpy/R                  one copy of the picture
//   BM_ClipCodec/E               with EKVISION_BENCH_CLIP=FILE.arv (640x480 YUV422): the
//                                clip's first 60 frames, E = 1 zstd, 2 jpeg:80; mean bytes
//                                on the wire and encode and decode time a frame
#include <ekvideodevice/ekframewire.h>
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>
#include <ekvision/ekvisiondefinitions.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Picture {
  int width = 0;
  int height = 0;
  std::shared_ptr<std::vector<std::uint8_t>> pixels;
};

// A frame of the moving scene at resolution code @p resolution.
Picture sceneAt(int resolution) {
  Picture picture;
  EK::setSizeFromResolution(resolution, picture.width, picture.height);
  EK::EKSyntheticSource scene;
  const EK::EKFrameRequest request{"bench",
                                   picture.width,
                                   picture.height,
                                   EK::kColorSpaceYUV422,
                                   0,
                                   0,
                                   scene.getEpoch() + 500000};
  const EK::EKValue image = scene.grab(request);
  const std::unique_ptr<EK::EKImage> frame(EK::EKImage::fromEKValue(image));
  picture.pixels = std::make_shared<std::vector<std::uint8_t>>(
      frame->frame, frame->frame + static_cast<std::size_t>(picture.width) * picture.height * 2);
  return picture;
}

EK::EKFrameHeader headerOf(const Picture& picture) {
  EK::EKFrameHeader header;
  header.width = picture.width;
  header.height = picture.height;
  header.timeStamp = 1796518886818838;
  return header;
}

void encode(benchmark::State& state, EK::EKFrameEncoding encoding) {
  const Picture picture = sceneAt(static_cast<int>(state.range(0)));
  std::size_t payload = 0;
  for (auto _ : state) {
    const EK::EKEncodedFrame frame =
        EK::encodeFrame(headerOf(picture), picture.pixels->data(), picture.pixels, {encoding, 80});
    payload = frame.payloadSize;
    benchmark::DoNotOptimize(frame.payload);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(picture.pixels->size()));
  state.counters["payload_bytes"] = static_cast<double>(payload);
}

void decode(benchmark::State& state, EK::EKFrameEncoding encoding) {
  const Picture picture = sceneAt(static_cast<int>(state.range(0)));
  const EK::EKEncodedFrame frame =
      EK::encodeFrame(headerOf(picture), picture.pixels->data(), picture.pixels, {encoding, 80});
  const EK::EKWirePart parts[] = {{frame.header.data(), frame.header.size()},
                                  {frame.payload, frame.payloadSize}};
  for (auto _ : state) {
    EK::EKDecodedFrame decoded;
    const EK::EKStatus status = EK::decodeFrame(parts, 2, EK::kDefaultMaxFrameBytes, decoded);
    if (!status.ok()) {
      state.SkipWithError(status.message().c_str());
      break;
    }
    benchmark::DoNotOptimize(decoded.pixels.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(picture.pixels->size()));
}

void BM_FrameEncode_Raw(benchmark::State& state) {
  encode(state, EK::EKFrameEncoding::kRaw);
}
void BM_FrameEncode_Zstd(benchmark::State& state) {
  encode(state, EK::EKFrameEncoding::kZstd);
}
void BM_FrameEncode_Jpeg(benchmark::State& state) {
  encode(state, EK::EKFrameEncoding::kJpeg);
}
void BM_FrameDecode_Raw(benchmark::State& state) {
  decode(state, EK::EKFrameEncoding::kRaw);
}
void BM_FrameDecode_Zstd(benchmark::State& state) {
  decode(state, EK::EKFrameEncoding::kZstd);
}
void BM_FrameDecode_Jpeg(benchmark::State& state) {
  decode(state, EK::EKFrameEncoding::kJpeg);
}

void BM_Memcpy(benchmark::State& state) {
  const Picture picture = sceneAt(static_cast<int>(state.range(0)));
  std::vector<std::uint8_t> copy(picture.pixels->size());
  for (auto _ : state) {
    std::memcpy(copy.data(), picture.pixels->data(), copy.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(copy.size()));
}

// The first @p count frames of stream 0 of the .arv that EKVISION_BENCH_CLIP names.
std::vector<Picture> clipFrames(std::size_t count, std::string& why) {
  std::vector<Picture> frames;
  const char* path = std::getenv("EKVISION_BENCH_CLIP");
  if (path == nullptr) {
    why = "set EKVISION_BENCH_CLIP to a 640x480 YUV422 .arv recording";
    return frames;
  }
  EK::EKVideo video;
  if (!video.readVideo(path)) {
    why = std::string("cannot read ") + path;
    return frames;
  }
  EK::EKImage image(640, 480, EK::kColorSpaceYUV422, false);
  for (unsigned i = 0; i < count && video.getFrame(image, i, 0, true); ++i) {
    Picture picture;
    picture.width = image.width;
    picture.height = image.height;
    picture.pixels = std::make_shared<std::vector<std::uint8_t>>(
        image.frame, image.frame + static_cast<std::size_t>(image.width) * image.height * 2);
    frames.push_back(picture);
  }
  if (frames.empty()) {
    why = std::string("no frame in ") + path;
  }
  return frames;
}

void BM_ClipCodec(benchmark::State& state) {
  std::string why;
  const std::vector<Picture> frames = clipFrames(60, why);
  if (frames.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  const EK::EKEncodingChoice choice{static_cast<EK::EKFrameEncoding>(state.range(0)), 80};
  double bytes = 0;
  double encodeSeconds = 0;
  double decodeSeconds = 0;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    for (const Picture& picture : frames) {
      const Clock::time_point start = Clock::now();
      const EK::EKEncodedFrame frame =
          EK::encodeFrame(headerOf(picture), picture.pixels->data(), picture.pixels, choice);
      const Clock::time_point encoded = Clock::now();
      const EK::EKWirePart parts[] = {{frame.header.data(), frame.header.size()},
                                      {frame.payload, frame.payloadSize}};
      EK::EKDecodedFrame decoded;
      if (!EK::decodeFrame(parts, 2, EK::kDefaultMaxFrameBytes, decoded).ok()) {
        state.SkipWithError("a clip frame did not decode");
        return;
      }
      encodeSeconds += std::chrono::duration<double>(encoded - start).count();
      decodeSeconds += std::chrono::duration<double>(Clock::now() - encoded).count();
      bytes += static_cast<double>(frame.payloadSize);
    }
  }
  const double count = static_cast<double>(state.iterations() * frames.size());
  state.counters["payload_bytes"] = bytes / count;
  state.counters["encode_us"] = encodeSeconds / count * 1e6;
  state.counters["decode_us"] = decodeSeconds / count * 1e6;
}
BENCHMARK(BM_ClipCodec)->Arg(1)->Arg(2)->Iterations(3);

// 320x240, 640x480, 1280x960.
#define EKREMOTE_SIZES \
  ->Arg(EK::kResolution320x240)->Arg(EK::kResolution640x480)->Arg(EK::kResolution1280x960)
BENCHMARK(BM_FrameEncode_Raw) EKREMOTE_SIZES;
BENCHMARK(BM_FrameEncode_Zstd) EKREMOTE_SIZES;
BENCHMARK(BM_FrameEncode_Jpeg) EKREMOTE_SIZES;
BENCHMARK(BM_FrameDecode_Raw) EKREMOTE_SIZES;
BENCHMARK(BM_FrameDecode_Zstd) EKREMOTE_SIZES;
BENCHMARK(BM_FrameDecode_Jpeg) EKREMOTE_SIZES;
BENCHMARK(BM_Memcpy) EKREMOTE_SIZES;

}  // namespace

BENCHMARK_MAIN();
