// The `.arv` recorder and player: opening, checking and closing files.
#include <ekvision/ekvideo.h>

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <limits>
#include <utility>

#include "arvfile.h"
#include "arvlayout.h"
#include "logrecord.h"

namespace EK {
namespace {

const char kModule[] = "EKVideo";
// Errors name the source without its extension: the whole class shares one name.
const char kSourceFile[] = "libekvision/src/ekvideo";

const std::uint32_t kMaxExtraHeaderSize = 1u << 20;

const char kCantOpenForRecording[] = "Can't open file. Check its path and presence";

[[noreturn]] void fail(const char* method, EKStatus status, int line) {
  throw EKFailure(kModule, method, std::move(status), kSourceFile, line);
}

[[noreturn]] void failWith(const char* method, EKCause cause, const std::string& message,
                           int line) {
  fail(method, EKStatus(cause, message), line);
}

std::string cantOpenForReading(const std::string& path) {
  return "Can't open file " + path + ". Check its path and presence";
}

// Bytes of the file behind @p in, leaving the position at the start; 0 when unknown.
std::uint64_t fileSize(std::ifstream& in) {
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  in.clear();
  in.seekg(0, std::ios::beg);
  return end > 0 ? static_cast<std::uint64_t>(end) : 0;
}

// Why a recording cannot be read from @p path by its type: a directory, FIFO or socket
// cannot be read by position (and opening a FIFO would wait for a writer).
EKStatus readableByPosition(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) != 0 ? EKStatus()
                                            : detail::fileTypeStatus(status.st_mode, true);
}

// Opens @p path to record into it and takes its writer lock, truncating nothing yet. A
// descriptor of -1 means it cannot be opened, and @p problem says why; @p held is set
// when another writer holds it, @p heldBy to its process id (or -1 when unknown), and the
// file is then left untouched.
detail::FileDescriptor openForRecording(const std::string& path, bool& held, long long& heldBy,
                                        EKStatus& problem) {
  held = false;
  // O_NONBLOCK: opening a FIFO without reader fails at once instead of waiting for one.
  detail::FileDescriptor fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!fd.valid()) {
    problem = detail::openFailure(path, errno, true);
    return fd;
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    problem = EKStatus::fromSystemError(errno);
    return detail::FileDescriptor();
  }
  problem = detail::fileTypeStatus(status.st_mode, true);
  if (!problem.ok()) {
    return detail::FileDescriptor();
  }
  if (detail::lockForWriting(fd.get()) == detail::LockResult::kHeld) {
    held = true;
    detail::writerHolds(status, fd.get(), heldBy);
    return detail::FileDescriptor();
  }
  return fd;
}

// Whether @p path still names the file open on @p fd.
bool sameFile(const std::string& path, int fd) {
  struct stat named {};
  struct stat opened {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 &&
         named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

const char kReadVideo[] = "readVideo";

// Opens @p path into @p in to read it by position, or refuses it with the cause.
void openForReading(std::ifstream& in, const std::string& path) {
  EKStatus problem = readableByPosition(path);
  if (problem.ok()) {
    errno = 0;
    in.open(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) {
      problem = detail::openFailure(path, errno != 0 ? errno : EIO, true);
    }
  }
  if (!problem.ok()) {
    in.clear();
    fail(kReadVideo, EKStatus(problem.cause(), cantOpenForReading(path), problem.systemError()),
         __LINE__);
  }
}

// Refuses the file being read. It is closed first, so that no file stays open while not
// reading.
[[noreturn]] void refuseReading(std::ifstream& in, EKCause cause, const std::string& message,
                                int line) {
  in.close();
  in.clear();
  failWith(kReadVideo, cause, message, line);
}

// Reads the fixed header into @p video and checks it against the @p size of the file; returns
// the bytes of the whole header (fixed part, stream table and extra header).
std::uint64_t readFixedHeader(EKVideo& video, std::uint64_t size) {
  std::ifstream& in = video.inputFile;
  unsigned char bytes[detail::kArvFixedHeaderSize];
  in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
  const std::streamsize got = in.gcount();
  const detail::ArvFixedHeader fixed = detail::decodeFixedHeader(bytes);
  // An unknown version is named as such even when the rest of the header is missing.
  if (got >= 4) {
    video.version = fixed.version;
    if (!detail::isArvVersion(video.version)) {
      refuseReading(in, EKCause::kBadFormat, detail::kArvUnknownVersion, __LINE__);
    }
  }
  if (got < static_cast<std::streamsize>(sizeof bytes)) {
    refuseReading(in, EKCause::kBadFormat, detail::kArvTruncatedHeader, __LINE__);
  }
  video.extraHeaderSize = fixed.extraHeaderSize;
  video.frameCount = fixed.frameCount;
  video.streamCount = detail::readerStreamCount(fixed.streamCount);
  // The file size bounds the stream count before anything is allocated for it.
  const std::uint64_t wholeHeader = detail::headerBytes(video.streamCount, video.extraHeaderSize);
  if (wholeHeader > size) {
    refuseReading(in, EKCause::kBadFormat, detail::kArvTruncatedHeader, __LINE__);
  }
  if (wholeHeader > std::numeric_limits<std::uint32_t>::max() ||
      video.streamCount > detail::kArvMaxStreams) {
    refuseReading(in, EKCause::kBadFormat, detail::kArvHeaderTooLarge, __LINE__);
  }
  return wholeHeader;
}

// Reads the stream table that follows the fixed header into the properties of every stream and
// the frame size; refuses a stream the player cannot play.
void readStreamTable(EKVideo& video) {
  std::ifstream& in = video.inputFile;
  std::vector<unsigned char> table(static_cast<std::size_t>(video.streamCount) *
                                   detail::kArvStreamHeaderSize);
  in.read(reinterpret_cast<char*>(table.data()), static_cast<std::streamsize>(table.size()));
  if (in.gcount() != static_cast<std::streamsize>(table.size())) {
    refuseReading(in, EKCause::kBadFormat, detail::kArvTruncatedHeader, __LINE__);
  }
  video.streams.assign(video.streamCount, streamProperties{});
  video.frameSize = 0;
  std::uint64_t wholeFrame = 0;
  for (std::uint32_t s = 0; s < video.streamCount; ++s) {
    const streamHeader stored = detail::decodeStreamHeader(
        &table[static_cast<std::size_t>(s) * detail::kArvStreamHeaderSize]);
    streamProperties& stream = video.streams[s];
    int resolution = -1;
    if (const char* reason = detail::unplayableStream(stored, resolution)) {
      // The fields read so far keep their values, as the header said them.
      stream.width = static_cast<std::uint32_t>(stored.width);
      stream.height = static_cast<std::uint32_t>(stored.height);
      stream.colorSpace = static_cast<std::uint32_t>(stored.colorSpace);
      stream.depth = static_cast<std::uint32_t>(stored.depth);
      stream.resolution = static_cast<std::uint32_t>(resolution);
      refuseReading(in, EKCause::kUnsupported, reason, __LINE__);
    }
    stream = detail::playableProperties(stored);
    wholeFrame += stream.dataSize;
    video.frameSize += stream.dataSize;
  }
  if (wholeFrame > std::numeric_limits<std::uint32_t>::max()) {
    refuseReading(in, EKCause::kUnsupported, detail::kArvFramesTooLarge, __LINE__);
  }
}

}  // namespace

EKVideo::EKVideo()
    : isReading(false),
      isRecording(false),
      version(0),
      extraHeaderSize(0),
      frameCount(0),
      streamCount(0),
      headerSize(0),
      frameSize(0),
      currentStream(0),
      currentFrame(0) {}

EKVideo::~EKVideo() {
  // Pending records go out before the lock is released.
  outputFile.close();
  releaseWriterLock();
}

void EKVideo::releaseWriterLock() {
  if (writerLock_ >= 0) {
    ::close(writerLock_);
    writerLock_ = -1;
  }
}

bool EKVideo::recordVideo(std::string fileName, unsigned int extraSize,
                          const std::vector<streamHeader>& headers) {
  const char* method = "recordVideo";
  // Every refusal is kept for lastVideoStatus() as well as thrown.
  const auto refuse = [&](EKStatus status, int line) {
    status_ = status;
    fail(method, std::move(status), line);
  };
  // A recording in progress is never disturbed: its records and its count stay its own.
  if (isRecording || outputFile.is_open()) {
    refuse(EKStatus(EKCause::kInvalidArgument, kCantOpenForRecording), __LINE__);
  }
  if (extraSize > kMaxExtraHeaderSize) {
    refuse(EKStatus(EKCause::kInvalidArgument, "Extra header too large"), __LINE__);
  }

  filePath = fileName + ".arv";
  bool held = false;
  long long heldBy = -1;
  EKStatus problem;
  detail::FileDescriptor lock = openForRecording(filePath, held, heldBy, problem);
  if (held) {
    // Like every other reason not to record, a refusal is an EKError; the file is left as
    // its writer has it. The lock said EWOULDBLOCK.
    refuse(EKStatus(EKCause::kBusy,
                    filePath + " is being written by " +
                        (heldBy > 0 ? "process " + std::to_string(heldBy) : "another process") +
                        "; a recording takes one writer at a time",
                    EWOULDBLOCK),
           __LINE__);
  }
  if (!lock.valid()) {
    refuse(EKStatus(problem.cause(), kCantOpenForRecording, problem.systemError()), __LINE__);
  }
  errno = 0;
  outputFile.open(filePath, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!outputFile.is_open() || !sameFile(filePath, lock.get())) {
    // Another file took the name between the two opens: nothing of the system failed.
    const int error = outputFile.is_open() ? 0 : errno != 0 ? errno : EIO;
    outputFile.close();
    outputFile.clear();
    refuse(EKStatus(error != 0 ? causeOfSystemError(error) : EKCause::kUnavailable,
                    kCantOpenForRecording, error),
           __LINE__);
  }
  const std::uint32_t count = static_cast<std::uint32_t>(headers.size());
  // Header, stream table and the zeroed extra header go out in one write, at once: a
  // recording whose writer dies early still has a header to recover.
  std::vector<unsigned char> bytes(static_cast<std::size_t>(detail::headerBytes(count, extraSize)),
                                   0);
  detail::encodeHeader({detail::kArvVersion1, extraSize, detail::kArvOpenFrameCount, count},
                       headers, bytes.data());
  errno = 0;
  outputFile.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
  outputFile.flush();
  if (!outputFile) {
    const int error = errno != 0 ? errno : EIO;
    outputFile.close();
    outputFile.clear();
    refuse(EKStatus(causeOfSystemError(error), "Can't write the file header", error), __LINE__);
  }
  writerLock_ = lock.release();
  version = detail::kArvVersion1;
  extraHeaderSize = extraSize;
  frameCount = 0;
  streamCount = count;
  headerSize = static_cast<unsigned int>(bytes.size());
  isRecording = true;
  status_ = EKStatus();
  return true;
}

bool EKVideo::readVideo(std::string fileName) {
  // The file being read stays open and its position and indexes untouched.
  if (isReading || inputFile.is_open()) {
    status_ = EKStatus(EKCause::kInvalidArgument, cantOpenForReading(fileName));
    fail(kReadVideo, status_, __LINE__);
  }
  filePath = fileName;
  try {
    openForReading(inputFile, filePath);
    const std::uint64_t wholeHeader = readFixedHeader(*this, fileSize(inputFile));
    readStreamTable(*this);
    headerSize = static_cast<unsigned int>(wholeHeader);
    // The input stands at the first record, past any extra header bytes.
    inputFile.seekg(static_cast<std::streamoff>(headerSize), std::ios::beg);
  } catch (const EKFailure& failure) {
    status_ = failure.status();
    throw;
  } catch (const EKError&) {
    throw;
  } catch (...) {
    inputFile.close();
    inputFile.clear();
    throw;
  }
  currentStream = 0;
  currentFrame = 0;
  isReading = true;
  status_ = EKStatus();
  return true;
}

void EKVideo::closeVideo() {
  if (isRecording) {
    isRecording = false;
    // Readers take the count as frames: with several streams a frame is one record each,
    // and the records of an unfinished last frame are left out.
    const unsigned int streamsPerFrame = streamCount == 0 ? 1 : streamCount;
    const std::uint32_t frames = frameCount / streamsPerFrame;
    // The count is written only after every record reached the file: a full disk or an
    // I/O error may have cost records that write() had accepted into the stream's buffer,
    // and a count that says more than the file holds would hide that.
    // A stream that failed before keeps the system error of that write.
    int error = outputFile ? 0 : status_.systemError() != 0 ? status_.systemError() : EIO;
    errno = 0;
    outputFile.flush();
    if (error == 0 && !outputFile) {
      error = errno != 0 ? errno : EIO;
    }
    errno = 0;
    outputFile.close();
    if (error == 0 && outputFile.fail()) {
      error = errno != 0 ? errno : EIO;
    }
    outputFile.clear();
    if (error == 0 && writerLock_ >= 0) {
      error = detail::storeFrameCount(writerLock_, frames);
    }
    releaseWriterLock();
    // closeVideo() has no result, so a failure is said on stderr.
    std::cout << "stop recording " << filePath << " file (" << frames << " frames)" << std::endl;
    if (error != 0) {
      status_ = EKStatus(causeOfSystemError(error),
                         filePath + " could not be written completely (" + systemErrorText(error) +
                             "); its frame count is not stored",
                         error);
      std::cerr << "EKVideo: " << status_.message() << std::endl;
    } else {
      status_ = EKStatus();
    }
  }
  if (isReading) {
    isReading = false;
    inputFile.close();
    inputFile.clear();
  }
  frameCount = 0;
  streamCount = 0;
  currentFrame = 0;
  currentStream = 0;
}

const EKStatus& lastVideoStatus(const EKVideo& video) {
  return video.status_;
}

}  // namespace EK
