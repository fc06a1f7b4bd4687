// Writes seed corpora for the fuzz targets with the project's own writers:
//   ekvision_fuzz_seeds OUTDIR   ->  OUTDIR/<target>/seed*
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <ekvideodevice/ekframesource.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include "fuzzvalue.h"
#include "methodscript.h"

namespace {

void makeDirectory(const std::string& path) {
  mkdir(path.c_str(), 0755);
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

void fillPattern(EK::EKImage& image, int seed) {
  for (int i = 0; i < image.allocatedSize; ++i) {
    image.frame[i] = static_cast<unsigned char>(i * 7 + seed);
  }
}

void ariSeeds(const std::string& dir) {
  makeDirectory(dir);
  const int shapes[][3] = {{2, 2, 0}, {4, 4, 9}, {3, 1, 13}, {8, 8, 9}, {0, 0, 0}, {5, 3, 18}};
  int n = 0;
  for (const auto& shape : shapes) {
    EK::EKImage image(shape[0], shape[1], shape[2], false, 0.1f, 0.2f, -0.1f, -0.2f);
    fillPattern(image, n);
    image.timeStamp = 1500000 + n;
    image.writeFile((dir + "/seed" + std::to_string(n++) + ".ari").c_str());
  }
}

// A recording of @p frames frames, one record per stream each, written by EKVideo. Streams
// of depth 1 keep the files small (2400 bytes a 160x120 one-layer record) while their
// records are still read into full-size images.
void recording(const std::string& name, const std::vector<EK::streamHeader>& streams, int frames,
               unsigned extraHeaderSize, bool close) {
  EK::EKVideo video;
  video.recordVideo(name, extraHeaderSize, streams);
  for (int f = 0; f < frames; ++f) {
    for (const EK::streamHeader& stream : streams) {
      const int bytes = stream.width * stream.height *
                        EK::getNumLayersInColorSpace(stream.colorSpace) * stream.depth / 8;
      std::vector<char> record(static_cast<std::size_t>(bytes));
      for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<char>(i * 3 + static_cast<std::size_t>(f));
      }
      video.write(record.data(), bytes, 1000000LL * f + stream.colorSpace,
                  static_cast<char>(stream.colorSpace), 0.1f, 0.2f, -0.1f, -0.2f);
    }
  }
  if (close) {
    video.closeVideo();
  }
}

void arvSeeds(const std::string& dir) {
  makeDirectory(dir);
  const EK::streamHeader gray160{160, 120, 0, 1};
  const EK::streamHeader yuv160{160, 120, EK::kColorSpaceYUV422, 1};
  const EK::streamHeader bgr320{320, 240, 13, 1};
  const EK::streamHeader yuv160full{160, 120, EK::kColorSpaceYUV422, 8};
  recording(dir + "/one-stream", {gray160}, 4, 0, true);
  recording(dir + "/two-streams", {yuv160, gray160}, 3, 0, true);
  recording(dir + "/three-streams", {gray160, bgr320, yuv160}, 2, 0, true);
  recording(dir + "/extra-header", {gray160}, 2, 64, true);
  recording(dir + "/full-depth", {yuv160full}, 1, 0, true);
  // Never closed, as after a crash: the frame count says 0xFFFFFFFF.
  recording(dir + "/unclosed", {gray160, yuv160}, 3, 0, false);
  // Version 0: the same layout with the older magic.
  recording(dir + "/version0", {yuv160}, 2, 0, true);
  std::fstream old(dir + "/version0.arv", std::ios::in | std::ios::out | std::ios::binary);
  old.put('0');
}

void imageValueSeeds(const std::string& dir) {
  makeDirectory(dir);
  const int shapes[][3] = {{8, 6, 9}, {4, 4, 0}, {3, 2, 13}, {2, 2, 18}};
  int n = 0;
  for (const auto& shape : shapes) {
    EK::EKImage image(shape[0], shape[1], shape[2], false, 0.1f, 0.2f, -0.1f, -0.2f);
    fillPattern(image, n);
    image.timeStamp = -1500000 + 1000 * n;
    const EK::EKValue value = image.toEKValue();
    // The target's first byte: 0 reads one value of any shape, other values an image-shaped
    // array whose width, height and color space are then read again.
    ekfuzz::ValueWriter whole;
    whole.byte(0).value(value);
    writeFile(dir + "/whole" + std::to_string(n), whole.bytes());
    ekfuzz::ValueWriter shaped;
    shaped.byte(1).byte(0);
    for (int i = 0; i < 12; ++i) {
      shaped.value(value[i]);
    }
    shaped.integer(shape[0]).integer(shape[1]).integer(shape[2]);
    writeFile(dir + "/shaped" + std::to_string(n++), shaped.bytes());
  }
}

EK::EKValue list(std::initializer_list<EK::EKValue> elements) {
  EK::EKValue value;
  value.arraySetSize(0);
  for (const EK::EKValue& element : elements) {
    value.arrayPush(element);
  }
  return value;
}

void methodTableSeeds(const std::string& dir) {
  makeDirectory(dir);
  enum {
    kSetFrameRate,
    kSetResolution,
    kSetActiveCamera,
    kSetParameter,
    kGetFrameRate,
    kGetResolution,
    kGetActiveCamera,
    kIsPaused,
    kIsProcessing,
    kPause,
    kRun,
  };
  const EK::EKValue none = list({});
  const EK::EKValue pauseOne = list({EK::EKValue(1)});
  EK::EKImage picture(EK::kResolution160x120, 0);
  const std::vector<ekfuzz::ScriptWriter> scripts = {
      // Every setter and getter once, before any loop runs.
      ekfuzz::ScriptWriter(1, 9, 30, 7)
          .call(kSetFrameRate, list({EK::EKValue(60)}))
          .call(kSetResolution, list({EK::EKValue(2)}))
          .call(kSetActiveCamera, list({EK::EKValue(1)}))
          .call(kGetFrameRate, none)
          .call(kGetResolution, none)
          .call(kGetActiveCamera, none)
          .call(kIsProcessing, none),
      // A loop started, paused through both methods, resumed and queried.
      ekfuzz::ScriptWriter(0, 9, 120, 6)
          .call(kRun, none)
          .call(kPause, list({EK::EKValue(true)}))
          .call(kIsPaused, none)
          .call(kSetParameter, list({EK::EKValue("pause"), pauseOne}))
          .call(kSetParameter, list({EK::EKValue("pause"), list({EK::EKValue(0)})}))
          .call(kSetParameter, list({EK::EKValue("resolution"), list({EK::EKValue(2)})})),
      // Camera failures while the loop runs: images, then the release that ends it.
      ekfuzz::ScriptWriter(0, 0, 120, 4)
          .failCamera(static_cast<int>(EK::EKCameraCall::kGetImage), 2)
          .call(kRun, none)
          .failCamera(static_cast<int>(EK::EKCameraCall::kReleaseImage), 1)
          .call(kRun, none),
      // Wrong kinds and an image value where a number is expected.
      ekfuzz::ScriptWriter(2, 13, 15, 3)
          .call(kSetFrameRate, list({EK::EKValue("fast")}))
          .call(kSetParameter, list({EK::EKValue(3), picture.toEKValue()}))
          .call(kPause, list({EK::EKValue(1.5f)})),
  };
  int n = 0;
  for (const ekfuzz::ScriptWriter& script : scripts) {
    writeFile(dir + "/seed" + std::to_string(n++), script.bytes());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  makeDirectory(out);
  ariSeeds(out + "/fuzz_ari_reader");
  arvSeeds(out + "/fuzz_arv_reader");
  imageValueSeeds(out + "/fuzz_image_value");
  methodTableSeeds(out + "/fuzz_method_table");
  return 0;
}
