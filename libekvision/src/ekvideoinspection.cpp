// Inspection and recovery of `.arv` recordings on disk.
#include <ekvision/ekvideoinspection.h>

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <utility>

#include "arvfile.h"
#include "arvlayout.h"

namespace EK {
namespace {

const char kInspectionModule[] = "EKVideo";
const char kInspectionSource[] = "libekvision/src/ekvideoinspection";

[[noreturn]] void refuseFile(const char* method, EKStatus status, int line) {
  throw EKFailure(kInspectionModule, method, std::move(status), kInspectionSource, line);
}

[[noreturn]] void refuseFormat(const char* method, const char* message, int line) {
  refuseFile(method, EKStatus(EKCause::kBadFormat, message), line);
}

// Reads @p size bytes at @p offset; the count read (short at the end of the file).
std::size_t readFileAt(int fd, std::uint64_t offset, unsigned char* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

EKRecordingState stateOf(const EKVideoInspection& file) {
  if (!file.closed) {
    return EKRecordingState::kOpen;
  }
  if (file.frameSize == 0 || file.storedFrameCount == file.completeFrames) {
    return EKRecordingState::kClosed;
  }
  return file.storedFrameCount > file.completeFrames ? EKRecordingState::kCutShort
                                                     : EKRecordingState::kUncountedFrames;
}

// Why readVideo() refuses the file, with its message, or empty.
std::string unplayableReason(const EKVideoInspection& file) {
  std::uint64_t frame = 0;
  for (const EKVideoStreamInfo& stream : file.streams) {
    int resolution = -1;
    if (const char* reason = detail::unplayableStream(stream.header, resolution)) {
      return reason;
    }
    frame += stream.dataSize;
  }
  return frame > std::numeric_limits<std::uint32_t>::max() ? detail::kArvFramesTooLarge : "";
}

// Decodes the recording open on @p fd; @p method names the caller in errors.
EKVideoInspection inspectOpenFile(int fd, const struct stat& status, const std::string& path,
                                  const char* method) {
  EKVideoInspection file{};
  file.path = path;
  file.fileSize = static_cast<std::uint64_t>(status.st_size);
  file.writerProcess = -1;
  unsigned char fixedBytes[detail::kArvFixedHeaderSize];
  const std::size_t got = readFileAt(fd, 0, fixedBytes, sizeof fixedBytes);
  const detail::ArvFixedHeader fixed = detail::decodeFixedHeader(fixedBytes);
  if (got >= 4 && !detail::isArvVersion(fixed.version)) {
    refuseFormat(method, detail::kArvUnknownVersion, __LINE__);
  }
  if (got < sizeof fixedBytes) {
    refuseFormat(method, detail::kArvTruncatedHeader, __LINE__);
  }
  file.version = fixed.version;
  file.extraHeaderSize = fixed.extraHeaderSize;
  file.storedFrameCount = fixed.frameCount;
  file.streamCount = detail::readerStreamCount(fixed.streamCount);
  file.headerSize = detail::headerBytes(file.streamCount, file.extraHeaderSize);
  // The file size bounds the stream count before anything is allocated for it.
  if (file.headerSize > file.fileSize) {
    refuseFormat(method, detail::kArvTruncatedHeader, __LINE__);
  }
  if (file.headerSize > std::numeric_limits<std::uint32_t>::max() ||
      file.streamCount > detail::kArvMaxStreams) {
    refuseFormat(method, detail::kArvHeaderTooLarge, __LINE__);
  }
  std::vector<unsigned char> table(static_cast<std::size_t>(file.streamCount) *
                                   detail::kArvStreamHeaderSize);
  if (readFileAt(fd, detail::kArvFixedHeaderSize, table.data(), table.size()) != table.size()) {
    refuseFormat(method, detail::kArvTruncatedHeader, __LINE__);
  }
  bool sizesKnown = true;
  file.streams.reserve(file.streamCount);
  for (std::uint32_t s = 0; s < file.streamCount; ++s) {
    EKVideoStreamInfo stream{};
    stream.header = detail::decodeStreamHeader(
        &table[static_cast<std::size_t>(s) * detail::kArvStreamHeaderSize]);
    stream.layers =
        detail::layersOfColorSpace(static_cast<std::uint32_t>(stream.header.colorSpace));
    stream.dataSize = detail::recordLength(stream.header);
    stream.playable = detail::unplayableStream(stream.header, stream.resolution) == nullptr;
    sizesKnown = sizesKnown && stream.layers > 0;
    file.frameSize += stream.dataSize;
    file.streams.push_back(stream);
  }
  if (!sizesKnown) {
    file.frameSize = 0;
  }
  const detail::ArvFrameSpan span =
      detail::framesInFile(file.fileSize, file.headerSize, file.frameSize);
  file.completeFrames = span.complete;
  file.partialBytes = span.partial;
  file.closed = file.storedFrameCount != detail::kArvOpenFrameCount;
  file.playableFrames = std::min<std::uint64_t>(file.storedFrameCount, file.completeFrames);
  file.state = stateOf(file);
  file.unplayableReason = unplayableReason(file);
  return file;
}

// The refusal of a recording that a live writer holds: the lock said EWOULDBLOCK.
EKStatus beingWritten(long long process) {
  return EKStatus(EKCause::kBusy,
                  process > 0 ? "being written by process " + std::to_string(process)
                              : "being written by another process",
                  EWOULDBLOCK);
}

// Whether frames can be counted; the reason why not, or empty.
std::string uncountable(const EKVideoInspection& file) {
  for (std::size_t s = 0; s < file.streams.size(); ++s) {
    if (file.streams[s].layers == 0) {
      return "the length of stream " + std::to_string(s) + "'s records is unknown: color space " +
             std::to_string(file.streams[s].header.colorSpace);
    }
  }
  return file.frameSize == 0 ? "its frames hold no bytes" : "";
}

}  // namespace

EKVideoInspection inspectVideo(const std::string& path) {
  const char* method = "inspectVideo";
  struct stat status {};
  EKStatus problem;
  const detail::FileDescriptor fd = detail::openRegularForReading(path, status, problem);
  if (!fd.valid()) {
    refuseFile(method, std::move(problem), __LINE__);
  }
  EKVideoInspection file = inspectOpenFile(fd.get(), status, path, method);
  file.beingWritten = detail::writerHolds(status, fd.get(), file.writerProcess);
  return file;
}

EKVideoRecovery recoverVideo(const std::string& path, const EKRecoveryOptions& options) {
  const char* method = "recoverVideo";
  detail::FileDescriptor fd(
      ::open(path.c_str(), (options.dryRun ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    refuseFile(method, detail::openFailure(path, errno, false), __LINE__);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    refuseFile(method, EKStatus::fromSystemError(errno), __LINE__);
  }
  EKStatus typeProblem = detail::fileTypeStatus(status.st_mode, false);
  if (!typeProblem.ok()) {
    refuseFile(method, std::move(typeProblem), __LINE__);
  }
  // Holding the writer's lock keeps a new recording from starting meanwhile. Where the
  // file system has no locks, nothing can be known of other writers.
  long long process = -1;
  bool held = false;
  if (options.dryRun) {
    held = detail::writerHolds(status, fd.get(), process);
  } else if (detail::lockForWriting(fd.get()) == detail::LockResult::kHeld) {
    held = true;
    detail::writerHolds(status, fd.get(), process);
  }
  if (held) {
    refuseFile(method, beingWritten(process), __LINE__);
  }
  EKVideoRecovery recovery{};
  recovery.inspection = inspectOpenFile(fd.get(), status, path, method);
  const EKVideoInspection& file = recovery.inspection;
  recovery.frameCount = file.storedFrameCount;
  const bool wanted = file.state == EKRecordingState::kOpen ||
                      file.state == EKRecordingState::kCutShort ||
                      (file.state == EKRecordingState::kUncountedFrames && options.extend);
  if (!wanted) {
    return recovery;
  }
  const std::string why = uncountable(file);
  if (!why.empty()) {
    refuseFile(method, EKStatus(EKCause::kUnsupported, why), __LINE__);
  }
  if (file.completeFrames >= detail::kArvOpenFrameCount) {
    refuseFile(
        method,
        EKStatus(EKCause::kUnsupported, "it holds more complete frames than a frame count can say"),
        __LINE__);
  }
  recovery.frameCount = static_cast<std::uint32_t>(file.completeFrames);
  recovery.changed = recovery.frameCount != file.storedFrameCount;
  if (!recovery.changed || options.dryRun) {
    return recovery;
  }
  int error = detail::storeFrameCount(fd.get(), recovery.frameCount);
  if (error == 0 && ::fsync(fd.get()) != 0) {
    error = errno;
  }
  if (error != 0) {
    refuseFile(method, EKStatus::fromSystemError(error, "cannot write the frame count"), __LINE__);
  }
  return recovery;
}

std::uint64_t videoRecordOffset(const EKVideo& video, std::uint64_t frame, unsigned int stream) {
  if (!video.isReading) {
    return 0;
  }
  return static_cast<std::uint64_t>(video.headerSize) +
         static_cast<std::uint64_t>(video.frameSize) * frame +
         detail::streamOffsetInFrame(video.streams, stream);
}

EKStatus videoFileStatus(const std::string& path, bool forWriting) {
  struct stat status {};
  if (!forWriting) {
    EKStatus problem;
    detail::openRegularForReading(path, status, problem);
    return problem;
  }
  if (::stat(path.c_str(), &status) == 0) {
    EKStatus problem = detail::fileTypeStatus(status.st_mode, true);
    if (!problem.ok()) {
      return problem;
    }
    // Opening an existing file for writing, without creating or truncating, changes nothing.
    const detail::FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    return fd.valid() ? EKStatus() : detail::openFailure(path, errno, true);
  }
  if (errno != ENOENT) {
    return EKStatus::fromSystemError(errno);
  }
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (parent.empty()) {
    parent = ".";
  }
  struct stat directory {};
  if (::stat(parent.c_str(), &directory) != 0) {
    const int error = errno;
    return error == ENOENT
               ? EKStatus(EKCause::kNotFound, "no such directory: " + parent.string(), ENOENT)
               : EKStatus::fromSystemError(error);
  }
  if (!S_ISDIR(directory.st_mode)) {
    return EKStatus(EKCause::kNotFound, "not a directory: " + parent.string(), ENOTDIR);
  }
  return ::access(parent.c_str(), W_OK | X_OK) == 0 ? EKStatus() : EKStatus::fromSystemError(errno);
}

std::string videoFileProblem(const std::string& path, bool forWriting) {
  return videoFileStatus(path, forWriting).message();
}

}  // namespace EK
