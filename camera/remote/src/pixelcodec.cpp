#include "pixelcodec.h"

#include <turbojpeg.h>
#include <zstd.h>

#include <cstring>
#include <memory>

#include <ekvision/ekimage.h>
#include <ekvision/ekvisiondefinitions.h>

namespace EK {
namespace remote {
namespace {

// zstd's level 1: about as fast as a frame is grabbed, and most of the gain.
constexpr int kZstdLevel = 1;

struct TurboJpegCloser {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TurboJpeg = std::unique_ptr<void, TurboJpegCloser>;

EKStatus badPixels(const std::string& message) {
  return EKStatus(EKCause::kBadFormat, "refused frame: " + message);
}

EKEncodedFrame compressZstd(int width, int height, const std::uint8_t* pixels) {
  const std::size_t size = static_cast<std::size_t>(width) * height * 2;
  auto buffer = std::make_shared<std::vector<std::uint8_t>>(ZSTD_compressBound(size));
  const std::size_t written =
      ZSTD_compress(buffer->data(), buffer->size(), pixels, size, kZstdLevel);
  EKEncodedFrame frame;
  if (ZSTD_isError(written) == 0) {
    frame.payload = buffer->data();
    frame.payloadSize = written;
    frame.owner = std::move(buffer);
  }
  return frame;
}

// The planes of a 4:2:2 picture in the library's YYYYUUVV layout (docs/formats.md).
struct Planes {
  unsigned char* planes[3];
  int strides[3];
};

Planes planesOf(unsigned char* planar, int width, int height) {
  const std::size_t luma = static_cast<std::size_t>(width) * height;
  return {{planar, planar + luma, planar + luma + luma / 2}, {width, width / 2, width / 2}};
}

EKEncodedFrame compressJpeg(int quality, int width, int height, const std::uint8_t* pixels) {
  EKEncodedFrame frame;
  TurboJpeg handle(tjInitCompress());
  if (!handle) {
    return frame;
  }
  std::vector<unsigned char> planar(static_cast<std::size_t>(width) * height * 2);
  EKImage packed(width, height, kColorSpaceYUV422, true);
  packed.frame = const_cast<unsigned char*>(pixels);  // only read
  packed.computeYYYYUUVVimageFromYUV422(planar.data());
  const Planes source = planesOf(planar.data(), width, height);
  const unsigned char* planes[3] = {source.planes[0], source.planes[1], source.planes[2]};
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompressFromYUVPlanes(handle.get(), planes, width, source.strides, height, TJSAMP_422,
                              &jpeg, &size, quality, 0) != 0) {
    tjFree(jpeg);
    return frame;
  }
  frame.payload = jpeg;
  frame.payloadSize = size;
  frame.owner = std::shared_ptr<const void>(jpeg, [](const void* bytes) {
    tjFree(static_cast<unsigned char*>(const_cast<void*>(bytes)));
  });
  return frame;
}

EKStatus decodeZstd(const EKFrameHeader& header, const std::uint8_t* payload,
                    std::vector<std::uint8_t>& pixels) {
  const std::size_t picture = pictureBytes(header);
  const unsigned long long content = ZSTD_getFrameContentSize(payload, header.payloadSize);
  if (content != picture) {
    return badPixels(content == ZSTD_CONTENTSIZE_ERROR || content == ZSTD_CONTENTSIZE_UNKNOWN
                         ? std::string("the zstd part is not one zstd frame of known size")
                         : "the zstd part holds " + std::to_string(content) + " bytes, not " +
                               std::to_string(picture));
  }
  pixels.resize(picture);
  const std::size_t written =
      ZSTD_decompress(pixels.data(), pixels.size(), payload, header.payloadSize);
  if (ZSTD_isError(written) != 0 || written != picture) {
    return badPixels(std::string("the zstd part does not decompress: ") +
                     (ZSTD_isError(written) != 0 ? ZSTD_getErrorName(written) : "short"));
  }
  return EKStatus();
}

EKStatus decodeJpeg(const EKFrameHeader& header, const std::uint8_t* payload,
                    std::vector<std::uint8_t>& pixels) {
  TurboJpeg handle(tjInitDecompress());
  if (!handle) {
    return EKStatus(EKCause::kUnavailable, "cannot start the JPEG decoder");
  }
  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colorspace = 0;
  const unsigned long size = static_cast<unsigned long>(header.payloadSize);
  if (tjDecompressHeader3(handle.get(), payload, size, &width, &height, &subsampling,
                          &colorspace) != 0) {
    return badPixels(std::string("the jpeg part is not a JPEG: ") + tjGetErrorStr2(handle.get()));
  }
  if (width != header.width || height != header.height || subsampling != TJSAMP_422) {
    return badPixels("the jpeg part is " + std::to_string(width) + "x" + std::to_string(height) +
                     (subsampling == TJSAMP_422 ? "" : " without 4:2:2 chroma") +
                     ", its header says " + std::to_string(header.width) + "x" +
                     std::to_string(header.height));
  }
  std::vector<unsigned char> planar(pictureBytes(header));
  const Planes target = planesOf(planar.data(), width, height);
  if (tjDecompressToYUVPlanes(handle.get(), payload, size,
                              const_cast<unsigned char**>(target.planes), width,
                              const_cast<int*>(target.strides), height, TJFLAG_LIMITSCANS) != 0) {
    return badPixels(std::string("the jpeg part does not decode: ") + tjGetErrorStr2(handle.get()));
  }
  // Pack the planes as Y0 U Y1 V.
  pixels.resize(planar.size());
  const std::size_t pairs = planar.size() / 4;
  const unsigned char* y = target.planes[0];
  const unsigned char* u = target.planes[1];
  const unsigned char* v = target.planes[2];
  for (std::size_t k = 0; k < pairs; ++k) {
    pixels[4 * k] = y[2 * k];
    pixels[4 * k + 1] = u[k];
    pixels[4 * k + 2] = y[2 * k + 1];
    pixels[4 * k + 3] = v[k];
  }
  return EKStatus();
}

}  // namespace

EKEncodedFrame compressPixels(const EKEncodingChoice& choice, int width, int height,
                              const std::uint8_t* pixels) {
  switch (choice.encoding) {
    case EKFrameEncoding::kZstd:
      return compressZstd(width, height, pixels);
    case EKFrameEncoding::kJpeg:
      return compressJpeg(choice.quality, width, height, pixels);
    case EKFrameEncoding::kRaw:
      break;
  }
  return EKEncodedFrame();
}

EKStatus decodePixels(const EKFrameHeader& header, const std::uint8_t* payload,
                      std::vector<std::uint8_t>& pixels) {
  switch (header.encoding) {
    case EKFrameEncoding::kRaw:
      pixels.assign(payload, payload + header.payloadSize);
      return EKStatus();
    case EKFrameEncoding::kZstd:
      return decodeZstd(header, payload, pixels);
    case EKFrameEncoding::kJpeg:
      return decodeJpeg(header, payload, pixels);
  }
  return badPixels("unknown encoding");
}

}  // namespace remote
}  // namespace EK
