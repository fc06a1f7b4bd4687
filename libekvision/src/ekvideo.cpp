// The `.arv` recorder and player: opening, checking and closing files.
#include <ekvision/ekvideo.h>

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <limits>

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

[[noreturn]] void fail(const char* method, const std::string& message, int line) {
  throw EKError(kModule, method, message, kSourceFile, line);
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

// Whether a recording can be read from @p path: not a directory, FIFO or socket, which
// cannot be read by position (and opening a FIFO would wait for a writer).
bool readableByPosition(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) != 0 ||
         detail::fileTypeProblem(status.st_mode, true).empty();
}

// Opens @p path to record into it and takes its writer lock, truncating nothing yet. A
// descriptor of -1 means it cannot be opened; @p heldBy is set when another writer holds
// it (its process id, or -1 when unknown), and the file is then left untouched.
detail::FileDescriptor openForRecording(const std::string& path, bool& held, long long& heldBy) {
  held = false;
  // O_NONBLOCK: opening a FIFO without reader fails at once instead of waiting for one.
  detail::FileDescriptor fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0 ||
      !detail::fileTypeProblem(status.st_mode, true).empty()) {
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

// Opens @p path into @p in to read it by position, or refuses it.
void openForReading(std::ifstream& in, const std::string& path) {
  if (readableByPosition(path)) {
    in.open(path, std::ios::in | std::ios::binary);
  }
  if (!in.is_open()) {
    in.clear();
    fail(kReadVideo, cantOpenForReading(path), __LINE__);
  }
}

// Refuses the file being read. It is closed first, so that no file stays open while not
// reading.
[[noreturn]] void refuseReading(std::ifstream& in, const std::string& message, int line) {
  in.close();
  in.clear();
  fail(kReadVideo, message, line);
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
      refuseReading(in, detail::kArvUnknownVersion, __LINE__);
    }
  }
  if (got < static_cast<std::streamsize>(sizeof bytes)) {
    refuseReading(in, detail::kArvTruncatedHeader, __LINE__);
  }
  video.extraHeaderSize = fixed.extraHeaderSize;
  video.frameCount = fixed.frameCount;
  video.streamCount = detail::readerStreamCount(fixed.streamCount);
  // The file size bounds the stream count before anything is allocated for it.
  const std::uint64_t wholeHeader = detail::headerBytes(video.streamCount, video.extraHeaderSize);
  if (wholeHeader > size) {
    refuseReading(in, detail::kArvTruncatedHeader, __LINE__);
  }
  if (wholeHeader > std::numeric_limits<std::uint32_t>::max() ||
      video.streamCount > detail::kArvMaxStreams) {
    refuseReading(in, detail::kArvHeaderTooLarge, __LINE__);
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
    refuseReading(in, detail::kArvTruncatedHeader, __LINE__);
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
      refuseReading(in, reason, __LINE__);
    }
    stream = detail::playableProperties(stored);
    wholeFrame += stream.dataSize;
    video.frameSize += stream.dataSize;
  }
  if (wholeFrame > std::numeric_limits<std::uint32_t>::max()) {
    refuseReading(in, detail::kArvFramesTooLarge, __LINE__);
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
  // A recording in progress is never disturbed: its records and its count stay its own.
  if (isRecording || outputFile.is_open()) {
    fail(method, kCantOpenForRecording, __LINE__);
  }
  if (extraSize > kMaxExtraHeaderSize) {
    fail(method, "Extra header too large", __LINE__);
  }

  filePath = fileName + ".arv";
  bool held = false;
  long long heldBy = -1;
  detail::FileDescriptor lock = openForRecording(filePath, held, heldBy);
  if (held) {
    // Like every other reason not to record, a refusal is an EKError; the file is left as
    // its writer has it.
    fail(method,
         filePath + " is being written by " +
             (heldBy > 0 ? "process " + std::to_string(heldBy) : "another process") +
             "; a recording takes one writer at a time",
         __LINE__);
  }
  if (!lock.valid()) {
    fail(method, kCantOpenForRecording, __LINE__);
  }
  outputFile.open(filePath, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!outputFile.is_open() || !sameFile(filePath, lock.get())) {
    outputFile.close();
    outputFile.clear();
    fail(method, kCantOpenForRecording, __LINE__);
  }
  const std::uint32_t count = static_cast<std::uint32_t>(headers.size());
  // Header, stream table and the zeroed extra header go out in one write, at once: a
  // recording whose writer dies early still has a header to recover.
  std::vector<unsigned char> bytes(static_cast<std::size_t>(detail::headerBytes(count, extraSize)),
                                   0);
  detail::encodeHeader({detail::kArvVersion1, extraSize, detail::kArvOpenFrameCount, count},
                       headers, bytes.data());
  outputFile.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
  outputFile.flush();
  if (!outputFile) {
    outputFile.close();
    outputFile.clear();
    fail(method, "Can't write the file header", __LINE__);
  }
  writerLock_ = lock.release();
  version = detail::kArvVersion1;
  extraHeaderSize = extraSize;
  frameCount = 0;
  streamCount = count;
  headerSize = static_cast<unsigned int>(bytes.size());
  isRecording = true;
  return true;
}

bool EKVideo::readVideo(std::string fileName) {
  // The file being read stays open and its position and indexes untouched.
  if (isReading || inputFile.is_open()) {
    fail(kReadVideo, cantOpenForReading(fileName), __LINE__);
  }
  filePath = fileName;
  openForReading(inputFile, filePath);
  try {
    const std::uint64_t wholeHeader = readFixedHeader(*this, fileSize(inputFile));
    readStreamTable(*this);
    headerSize = static_cast<unsigned int>(wholeHeader);
    // The input stands at the first record, past any extra header bytes.
    inputFile.seekg(static_cast<std::streamoff>(headerSize), std::ios::beg);
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
    outputFile.flush();
    bool failed = !outputFile;
    outputFile.close();
    failed = failed || outputFile.fail();
    outputFile.clear();
    if (!failed && writerLock_ >= 0) {
      failed = detail::storeFrameCount(writerLock_, frames) != 0;
    }
    releaseWriterLock();
    // closeVideo() has no result, so a failure is said on stderr.
    std::cout << "stop recording " << filePath << " file (" << frames << " frames)" << std::endl;
    if (failed) {
      std::cerr << "EKVideo: " << filePath
                << " could not be written completely; its frame count is not stored" << std::endl;
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

}  // namespace EK
