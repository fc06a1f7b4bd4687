// Single pictures on disk: the raw `.ari` format and PPM export.
#include <ekvision/ekimage.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bytes.h"
#include "imagebuffer.h"
#include "imagesize.h"
#include "logrecord.h"

namespace EK {
namespace {

const std::uint32_t kAriVersion0 = 0x41524930u;  // "0IRA"
const std::uint32_t kAriVersion1 = 0x41524931u;  // "1IRA"

// Closes the file when the scope ends, unless close() already did.
class File {
 public:
  File(const char* path, const char* mode)
      : file_(path != nullptr ? std::fopen(path, mode) : nullptr) {}
  ~File() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  std::FILE* get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  // Closes now; true when the close, and the flush it implies, succeeded.
  bool close() {
    const int result = std::fclose(file_);
    file_ = nullptr;
    return result == 0;
  }
  // Bytes between the current position and the end of the file, or -1 when unknown.
  long long remaining() const {
    struct stat status;
    const long position = std::ftell(file_);
    if (position < 0 || fstat(fileno(file_), &status) != 0 || !S_ISREG(status.st_mode)) {
      return -1;
    }
    return static_cast<long long>(status.st_size) - position;
  }

 private:
  std::FILE* file_;
};

template <typename T>
bool writeField(std::FILE* file, T value) {
  unsigned char bytes[sizeof(T)];
  detail::storeLittleEndian(value, bytes);
  return std::fwrite(bytes, sizeof bytes, 1, file) == 1;
}

template <typename T>
bool readField(std::FILE* file, T& value) {
  unsigned char bytes[sizeof(T)];
  if (std::fread(bytes, sizeof bytes, 1, file) != 1) {
    return false;
  }
  value = detail::loadLittleEndian<T>(bytes);
  return true;
}

void logReadError(const char* message) {
  detail::logRecord(2, detail::kImageCategory, "readFile", message);
}

// The picture's byte count when the buffer holds it whole, or -1.
long long readableBytes(const EKImage& image) {
  int bytes = 0;
  if (!detail::pictureByteCount(image.width, image.height, image.nbLayers, bytes)) {
    return -1;
  }
  if (bytes > 0 && (image.frame == nullptr || image.allocatedSize < bytes)) {
    return -1;
  }
  return bytes;
}

// Writes the pixels of a PPM through a chunk buffer: each source byte range of
// `sourceStep` bytes becomes `expand(source, out)` output bytes.
template <typename Expand>
bool writeExpanded(std::FILE* file, const unsigned char* source, long long units, int sourceStep,
                   int outputStep, Expand expand) {
  const long long unitsPerChunk = 4096;
  std::vector<unsigned char> chunk(static_cast<std::size_t>(unitsPerChunk * outputStep));
  for (long long done = 0; done < units;) {
    const long long count = std::min(unitsPerChunk, units - done);
    unsigned char* out = chunk.data();
    for (long long i = 0; i < count; ++i, source += sourceStep, out += outputStep) {
      expand(source, out);
    }
    const std::size_t bytes = static_cast<std::size_t>(count * outputStep);
    if (std::fwrite(chunk.data(), 1, bytes, file) != bytes) {
      return false;
    }
    done += count;
  }
  return true;
}

}  // namespace

bool EKImage::writeFile(const char* path) {
  const long long bytes = readableBytes(*this);
  if (bytes < 0) {
    return false;
  }
  File file(path, "wb");
  if (!file) {
    return false;
  }
  std::FILE* out = file.get();
  const bool written =
      writeField(out, kAriVersion1) && writeField(out, width) && writeField(out, height) &&
      writeField(out, nbLayers) && writeField(out, colorSpace) && writeField(out, timeStamp) &&
      writeField(out, static_cast<int>(cameraId)) && writeField(out, leftAngle) &&
      writeField(out, topAngle) && writeField(out, rightAngle) && writeField(out, bottomAngle) &&
      (bytes == 0 || std::fwrite(frame, static_cast<std::size_t>(bytes), 1, out) == 1);
  if (!written) {
    return false;
  }
  return file.close();
}

bool EKImage::readFile(const char* path) {
  File file(path, "rb");
  if (!file) {
    return false;
  }
  std::FILE* in = file.get();
  std::uint32_t magic = 0;
  if (!readField(in, magic)) {
    return false;
  }
  if (magic != kAriVersion0 && magic != kAriVersion1) {
    logReadError("readFile: Error while reading image: not an .ari format\n");
    return false;
  }
  int fileWidth = 0, fileHeight = 0, fileLayers = 0, fileColorSpace = 0, fileCamera = 0;
  long long fileTimeStamp = 0;
  float angles[4] = {detail::defaultLeftAngle(), detail::defaultTopAngle(),
                     detail::defaultRightAngle(), detail::defaultBottomAngle()};
  if (!readField(in, fileWidth) || !readField(in, fileHeight) || !readField(in, fileLayers) ||
      !readField(in, fileColorSpace) || !readField(in, fileTimeStamp) ||
      !readField(in, fileCamera)) {
    return false;
  }
  if (magic == kAriVersion1) {
    for (float& angle : angles) {
      if (!readField(in, angle)) {
        return false;
      }
    }
  }
  // Hostile headers are refused before anything is allocated or changed.
  int bytes = 0;
  if (!detail::pictureByteCount(fileWidth, fileHeight, fileLayers, bytes)) {
    logReadError("readFile: Error while reading image: invalid picture size in header\n");
    return false;
  }
  const long long available = file.remaining();
  if (available >= 0 && bytes > available) {
    logReadError("readFile: Error while reading image: file shorter than its picture\n");
    return false;
  }
  if (!detail::holdsPictureOfShape(*this, fileWidth, fileHeight, fileLayers, bytes)) {
    if (externalBuffer) {
      logReadError("readFile: external buffer not compatible.\n");
      return false;
    }
    detail::replaceOwnedBuffer(*this, fileWidth, fileHeight, fileLayers, bytes);
  }
  colorSpace = fileColorSpace;
  timeStamp = fileTimeStamp;
  cameraId = static_cast<char>(fileCamera & 0xff);
  leftAngle = angles[0];
  topAngle = angles[1];
  rightAngle = angles[2];
  bottomAngle = angles[3];
  if (bytes > 0 && std::fread(frame, static_cast<std::size_t>(bytes), 1, in) != 1) {
    return false;
  }
  return file.close();
}

int EKImage::savePPM(const char* path) {
  const bool hasPixels = nbLayers >= 1 && nbLayers <= 3;
  const long long bytes = readableBytes(*this);
  if (hasPixels && bytes < 0) {
    return -7;
  }
  File file(path, "wb");
  if (!file) {
    return -1;
  }
  std::FILE* out = file.get();
  if (std::fprintf(out, "P6\n%d %d\n %d\n", width, height, 255) < 1) {
    return -2;
  }
  const long long pixels = hasPixels ? bytes / nbLayers : 0;
  switch (hasPixels ? nbLayers : 0) {
    case 3:
      if (bytes > 0 && std::fwrite(frame, static_cast<std::size_t>(bytes), 1, out) != 1) {
        return -3;
      }
      break;
    case 2: {
      // YUV422 samples as they are: Y0 U V, Y1 U V for each group.
      const bool groupsWritten =
          writeExpanded(out, frame, pixels / 2, 4, 6, [](const unsigned char* g, unsigned char* o) {
            o[0] = g[0];
            o[1] = g[1];
            o[2] = g[3];
            o[3] = g[2];
            o[4] = g[1];
            o[5] = g[3];
          });
      if (!groupsWritten) {
        return -4;
      }
      if (pixels % 2 != 0) {
        // The unpaired last pixel has no V of its own: a neutral 128 stands in.
        const unsigned char* last = frame + 2 * (pixels - 1);
        const unsigned char lone[3] = {last[0], last[1], 128};
        if (std::fwrite(lone, sizeof lone, 1, out) != 1) {
          return -4;
        }
      }
      break;
    }
    case 1:
      if (!writeExpanded(out, frame, pixels, 1, 3, [](const unsigned char* g, unsigned char* o) {
            o[0] = o[1] = o[2] = g[0];
          })) {
        return -5;
      }
      break;
    default:
      break;
  }
  return file.close() ? 1 : -6;
}

}  // namespace EK
