// Single pictures on disk: the raw `.ari` format and PPM export.
#include <ekvision/ekimage.h>

#include <errno.h>
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

// Why a picture file is refused; the status says the words, readFile() logs some of them
// with its own prefix.
const char kNotAri[] = "not an .ari format";
const char kInvalidSize[] = "invalid picture size in header";
const char kShorterThanPicture[] = "file shorter than its picture";
const char kExternalBuffer[] = "external buffer not compatible";
const char kBufferTooSmall[] = "the buffer is smaller than the picture";
const char kWritePicture[] = "cannot write the picture";
const char kWritePPM[] = "cannot write the PPM picture";

// The status of a failed stdio call on @p file (null when it could not be opened): its
// system error, or @p truncated when the file merely ended.
EKStatus streamFailure(std::FILE* file, const char* context, const char* truncated = nullptr) {
  if (truncated != nullptr && file != nullptr && !std::ferror(file)) {
    return EKStatus(EKCause::kBadFormat, truncated);
  }
  return EKStatus::fromSystemError(errno != 0 ? errno : EIO, context);
}

// The failure of a read; logged by readFile() when @p logged (its words as the records have
// always said them).
EKStatus readRefusal(bool logged, EKCause cause, const char* words, const std::string& record) {
  if (logged) {
    detail::logRecord(2, detail::kImageCategory, "readFile", record);
  }
  return EKStatus(cause, words);
}

std::string readErrorRecord(const char* words) {
  return std::string("readFile: Error while reading image: ") + words + "\n";
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

// Saves @p image as a version 1 `.ari` file.
EKStatus writeAri(const EKImage& image, const char* path) {
  const long long bytes = readableBytes(image);
  if (bytes < 0) {
    return EKStatus(EKCause::kInvalidArgument, kBufferTooSmall);
  }
  errno = 0;
  File file(path, "wb");
  if (!file) {
    return streamFailure(nullptr, kWritePicture);
  }
  std::FILE* out = file.get();
  const bool written =
      writeField(out, kAriVersion1) && writeField(out, image.width) &&
      writeField(out, image.height) && writeField(out, image.nbLayers) &&
      writeField(out, image.colorSpace) && writeField(out, image.timeStamp) &&
      writeField(out, static_cast<int>(image.cameraId)) && writeField(out, image.leftAngle) &&
      writeField(out, image.topAngle) && writeField(out, image.rightAngle) &&
      writeField(out, image.bottomAngle) &&
      (bytes == 0 || std::fwrite(image.frame, static_cast<std::size_t>(bytes), 1, out) == 1);
  if (!written) {
    return streamFailure(out, kWritePicture);
  }
  return file.close() ? EKStatus() : streamFailure(nullptr, kWritePicture);
}

// Loads an `.ari` file into @p image; with @p logged, the refusals of the header are logged
// as readFile() has always logged them.
EKStatus readAri(EKImage& image, const char* path, bool logged) {
  const char* const kCutHeader = "not a whole .ari picture (it ends inside its header)";
  errno = 0;
  File file(path, "rb");
  if (!file) {
    return streamFailure(nullptr, "cannot read the picture");
  }
  std::FILE* in = file.get();
  std::uint32_t magic = 0;
  if (!readField(in, magic)) {
    return streamFailure(in, "cannot read the picture", kCutHeader);
  }
  if (magic != kAriVersion0 && magic != kAriVersion1) {
    return readRefusal(logged, EKCause::kBadFormat, kNotAri, readErrorRecord(kNotAri));
  }
  int fileWidth = 0, fileHeight = 0, fileLayers = 0, fileColorSpace = 0, fileCamera = 0;
  long long fileTimeStamp = 0;
  float angles[4] = {detail::defaultLeftAngle(), detail::defaultTopAngle(),
                     detail::defaultRightAngle(), detail::defaultBottomAngle()};
  if (!readField(in, fileWidth) || !readField(in, fileHeight) || !readField(in, fileLayers) ||
      !readField(in, fileColorSpace) || !readField(in, fileTimeStamp) ||
      !readField(in, fileCamera)) {
    return streamFailure(in, "cannot read the picture", kCutHeader);
  }
  if (magic == kAriVersion1) {
    for (float& angle : angles) {
      if (!readField(in, angle)) {
        return streamFailure(in, "cannot read the picture", kCutHeader);
      }
    }
  }
  // Hostile headers are refused before anything is allocated or changed.
  int bytes = 0;
  if (!detail::pictureByteCount(fileWidth, fileHeight, fileLayers, bytes)) {
    return readRefusal(logged, EKCause::kBadFormat, kInvalidSize, readErrorRecord(kInvalidSize));
  }
  const long long available = file.remaining();
  if (available >= 0 && bytes > available) {
    return readRefusal(logged, EKCause::kBadFormat, kShorterThanPicture,
                       readErrorRecord(kShorterThanPicture));
  }
  if (!detail::holdsPictureOfShape(image, fileWidth, fileHeight, fileLayers, bytes)) {
    if (image.externalBuffer) {
      return readRefusal(logged, EKCause::kInvalidArgument, kExternalBuffer,
                         std::string("readFile: ") + kExternalBuffer + ".\n");
    }
    detail::replaceOwnedBuffer(image, fileWidth, fileHeight, fileLayers, bytes);
  }
  image.colorSpace = fileColorSpace;
  image.timeStamp = fileTimeStamp;
  image.cameraId = static_cast<char>(fileCamera & 0xff);
  image.leftAngle = angles[0];
  image.topAngle = angles[1];
  image.rightAngle = angles[2];
  image.bottomAngle = angles[3];
  if (bytes > 0 && std::fread(image.frame, static_cast<std::size_t>(bytes), 1, in) != 1) {
    return streamFailure(in, "cannot read the picture",
                         "not a whole .ari picture (it ends inside its pixels)");
  }
  return file.close() ? EKStatus() : streamFailure(nullptr, "cannot read the picture");
}

// Exports @p image as a binary PPM; the result code of savePPM(), and in @p status why it
// failed.
int writePPM(const EKImage& image, const char* path, EKStatus& status) {
  const int width = image.width;
  const int height = image.height;
  const int nbLayers = image.nbLayers;
  const unsigned char* const frame = image.frame;
  const bool hasPixels = nbLayers >= 1 && nbLayers <= 3;
  const long long bytes = readableBytes(image);
  if (hasPixels && bytes < 0) {
    status = EKStatus(EKCause::kInvalidArgument, kBufferTooSmall);
    return -7;
  }
  errno = 0;
  File file(path, "wb");
  if (!file) {
    status = streamFailure(nullptr, kWritePPM);
    return -1;
  }
  std::FILE* out = file.get();
  const auto failed = [&](int code) {
    status = streamFailure(out, kWritePPM);
    return code;
  };
  if (std::fprintf(out, "P6\n%d %d\n %d\n", width, height, 255) < 1) {
    return failed(-2);
  }
  const long long pixels = hasPixels ? bytes / nbLayers : 0;
  switch (hasPixels ? nbLayers : 0) {
    case 3:
      if (bytes > 0 && std::fwrite(frame, static_cast<std::size_t>(bytes), 1, out) != 1) {
        return failed(-3);
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
        return failed(-4);
      }
      if (pixels % 2 != 0) {
        // The unpaired last pixel has no V of its own: a neutral 128 stands in.
        const unsigned char* last = frame + 2 * (pixels - 1);
        const unsigned char lone[3] = {last[0], last[1], 128};
        if (std::fwrite(lone, sizeof lone, 1, out) != 1) {
          return failed(-4);
        }
      }
      break;
    }
    case 1:
      if (!writeExpanded(out, frame, pixels, 1, 3, [](const unsigned char* g, unsigned char* o) {
            o[0] = o[1] = o[2] = g[0];
          })) {
        return failed(-5);
      }
      break;
    default:
      break;
  }
  if (!file.close()) {
    status = streamFailure(nullptr, kWritePPM);
    return -6;
  }
  return 1;
}

}  // namespace

bool EKImage::writeFile(const char* path) {
  return writeAri(*this, path).ok();
}

bool EKImage::readFile(const char* path) {
  return readAri(*this, path, true).ok();
}

int EKImage::savePPM(const char* path) {
  EKStatus status;
  return writePPM(*this, path, status);
}

EKStatus readImageFile(EKImage& image, const std::string& path) {
  // What cannot hold a picture is refused before it is opened: opening a FIFO would wait
  // for a writer, and a directory opens but cannot be read.
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISCHR(status.st_mode) &&
      !S_ISBLK(status.st_mode)) {
    return S_ISDIR(status.st_mode) ? EKStatus::fromSystemError(EISDIR)
                                   : EKStatus(EKCause::kNotRegularFile, "not a regular file");
  }
  return readAri(image, path.c_str(), false);
}

EKStatus writeImageFile(EKImage& image, const std::string& path) {
  return writeAri(image, path.c_str());
}

EKStatus saveImagePPM(EKImage& image, const std::string& path) {
  EKStatus status;
  writePPM(image, path.c_str(), status);
  return status;
}

}  // namespace EK
