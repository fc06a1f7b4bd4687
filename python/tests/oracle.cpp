// The library called directly, for the Python tests to compare the binding with:
//   oracle dump FILE.arv STREAM     every frame as EKVideo::getFrame reads it: time stamp
//                                   (int64), camera (int8), four angles (float32), then the
//                                   image's buffer (the stream's record length)
//   oracle ari FILE.ari             width, height, layers, color space (int32), time stamp
//                                   (int64), camera (int32), four angles, then the pixels
//   oracle convert KIND W H IN      KIND: bgr, yyyyuuvv, yyyuuuvvv (from YUV422), yuv422
//                                   (from BGR)
// All binary output goes to standard output in the machine's byte order; exit 1 on failure.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

template <typename T>
void put(const T& value) {
  std::fwrite(&value, sizeof value, 1, stdout);
}

// fwrite may not be given a null pointer, which an empty buffer can have.
void putBytes(const void* bytes, std::size_t count) {
  if (count > 0) {
    std::fwrite(bytes, 1, count, stdout);
  }
}

void putAngles(const EK::EKImage& image) {
  put(image.leftAngle);
  put(image.topAngle);
  put(image.rightAngle);
  put(image.bottomAngle);
}

int dump(const std::string& path, unsigned int stream) {
  EK::EKVideo video;
  video.readVideo(path);
  EK::EKImage image(EK::kResolution160x120, 0);
  for (unsigned int i = 0; i < video.frameCount; ++i) {
    if (!video.getFrame(image, i, stream, true)) {
      return 1;
    }
    put(image.timeStamp);
    put(static_cast<signed char>(image.cameraId));
    putAngles(image);
    putBytes(image.frame, video.streams[video.currentStream].dataSize);
  }
  return 0;
}

int ari(const std::string& path) {
  EK::EKImage image(0, 0, 0);
  if (!image.readFile(path.c_str())) {
    return 1;
  }
  put(image.width);
  put(image.height);
  put(image.nbLayers);
  put(image.colorSpace);
  put(image.timeStamp);
  put(static_cast<int>(image.cameraId));
  putAngles(image);
  putBytes(image.frame, static_cast<std::size_t>(image.width) * image.height * image.nbLayers);
  return 0;
}

int convert(const std::string& kind, int width, int height, const std::string& in) {
  std::ifstream file(in, std::ios::binary);
  std::vector<char> input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  EK::EKImage image(width, height, EK::kColorSpaceYUV422);
  if (kind == "yuv422") {
    if (input.size() != pixels * 3 ||
        !image.computeYUV422imageFromBGR(height, width, input.data())) {
      return 1;
    }
    putBytes(image.frame, pixels * 2);
    return 0;
  }
  if (input.size() != pixels * 2) {
    return 1;
  }
  std::copy(input.begin(), input.end(), image.frame);
  std::vector<unsigned char> output(pixels * 3);
  bool done = false;
  if (kind == "bgr") {
    done = image.computeBGRimageFromYUV422(output.data());
  } else if (kind == "yyyyuuvv") {
    output.resize(pixels * 2);
    done = image.computeYYYYUUVVimageFromYUV422(output.data());
  } else if (kind == "yyyuuuvvv") {
    done = image.computeYYYUUUVVVimageFromYUV422(output.data());
  }
  if (!done) {
    return 1;
  }
  putBytes(output.data(), output.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 3 && args[0] == "dump") {
      return dump(args[1], static_cast<unsigned int>(std::stoul(args[2])));
    }
    if (args.size() == 2 && args[0] == "ari") {
      return ari(args[1]);
    }
    if (args.size() == 5 && args[0] == "convert") {
      return convert(args[1], std::stoi(args[2]), std::stoi(args[3]), args[4]);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "oracle: %s\n", error.what());
    return 1;
  }
  std::fprintf(stderr, "usage: oracle dump FILE STREAM | ari FILE | convert KIND W H IN\n");
  return 2;
}
