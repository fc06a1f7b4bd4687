// The `.arv` recorder and player: opening, checking and closing files.
#include <ekvision/ekvideo.h>

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <limits>

#include "arvlayout.h"
#include "bytes.h"

namespace EK {
namespace {

const char kModule[] = "EKVideo";
// Errors name the source without its extension: the whole class shares one name.
const char kSourceFile[] = "libekvision/src/ekvideo";

const std::uint32_t kMaxExtraHeaderSize = 1u << 20;
// The reader accepts the three smallest resolution codes only.
const int kLargestPlayableResolution = kResolution640x480;
const std::uint32_t kLargestPlayableColorSpace = 16;

const char kUnsupportedResolution[] = "Unsupported resolution";
const char kInvalidColorSpace[] = "invalid color space";
const char kCantOpenForRecording[] = "Can't open file. Check its path and presence";

[[noreturn]] void fail(const char* method, const std::string& message, int line) {
  throw EKError(kModule, method, message, kSourceFile, line);
}

std::string cantOpenForReading(const std::string& path) {
  return "Can't open file " + path + ". Check its path and presence";
}

// The resolution code of a stream the reader can play, or -1.
int playableResolution(std::uint32_t width, std::uint32_t height) {
  if (width > static_cast<std::uint32_t>(std::numeric_limits<int>::max()) ||
      height > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
    return -1;
  }
  const int code = getResolutionFromSize(static_cast<int>(width), static_cast<int>(height));
  return code > kLargestPlayableResolution ? -1 : code;
}

// The record length of a stream, in the 32-bit arithmetic that the format fixes.
std::uint32_t recordLength(std::uint32_t width, std::uint32_t height, std::uint32_t layers,
                           std::uint32_t depth) {
  return (height * width * layers * depth) >> 3;
}

// Bytes of the file behind @p in, leaving the position at the start; 0 when unknown.
std::uint64_t fileSize(std::ifstream& in) {
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  in.clear();
  in.seekg(0, std::ios::beg);
  return end > 0 ? static_cast<std::uint64_t>(end) : 0;
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

EKVideo::~EKVideo() = default;

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
  outputFile.open(filePath, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!outputFile.is_open()) {
    outputFile.clear();
    fail(method, kCantOpenForRecording, __LINE__);
  }
  const std::uint32_t count = static_cast<std::uint32_t>(headers.size());
  // Header, stream table and the zeroed extra header go out in one write.
  std::vector<unsigned char> bytes(static_cast<std::size_t>(detail::headerBytes(count, extraSize)),
                                   0);
  detail::storeLittleEndian(detail::kArvVersion1, &bytes[0]);
  detail::storeLittleEndian(static_cast<std::uint32_t>(extraSize), &bytes[4]);
  detail::storeLittleEndian(detail::kArvOpenFrameCount, &bytes[8]);
  detail::storeLittleEndian(count, &bytes[12]);
  unsigned char* table = &bytes[detail::kArvFixedHeaderSize];
  for (const streamHeader& header : headers) {
    detail::storeLittleEndian(header.width, table);
    detail::storeLittleEndian(header.height, table + 4);
    detail::storeLittleEndian(header.colorSpace, table + 8);
    detail::storeLittleEndian(header.depth, table + 12);
    table += detail::kArvStreamHeaderSize;
  }
  outputFile.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
  if (!outputFile) {
    outputFile.close();
    outputFile.clear();
    fail(method, "Can't write the file header", __LINE__);
  }
  version = detail::kArvVersion1;
  extraHeaderSize = extraSize;
  frameCount = 0;
  streamCount = count;
  headerSize = static_cast<unsigned int>(bytes.size());
  isRecording = true;
  return true;
}

bool EKVideo::readVideo(std::string fileName) {
  const char* method = "readVideo";
  // The file being read stays open and its position and indexes untouched.
  if (isReading || inputFile.is_open()) {
    fail(method, cantOpenForReading(fileName), __LINE__);
  }
  filePath = fileName;
  std::error_code error;
  if (!std::filesystem::is_directory(filePath, error)) {
    inputFile.open(filePath, std::ios::in | std::ios::binary);
  }
  if (!inputFile.is_open()) {
    inputFile.clear();
    fail(method, cantOpenForReading(filePath), __LINE__);
  }
  // Every refusal below closes the file, so that no file stays open while not reading.
  const auto refuse = [this, method](const std::string& message, int line) {
    inputFile.close();
    inputFile.clear();
    fail(method, message, line);
  };
  try {
    const std::uint64_t size = fileSize(inputFile);
    unsigned char fixed[detail::kArvFixedHeaderSize];
    inputFile.read(reinterpret_cast<char*>(fixed), sizeof fixed);
    const std::streamsize got = inputFile.gcount();
    if (got >= 4) {
      version = detail::loadLittleEndian<std::uint32_t>(fixed);
      if (version != detail::kArvVersion0 && version != detail::kArvVersion1) {
        refuse("This arv file version isn't supported", __LINE__);
      }
    }
    const char* truncated = "This arv file is shorter than its header";
    if (got < static_cast<std::streamsize>(sizeof fixed)) {
      refuse(truncated, __LINE__);
    }
    extraHeaderSize = detail::loadLittleEndian<std::uint32_t>(fixed + 4);
    frameCount = detail::loadLittleEndian<std::uint32_t>(fixed + 8);
    streamCount = detail::loadLittleEndian<std::uint32_t>(fixed + 12);
    if (streamCount == 0) {
      streamCount = 1;
    }
    // The file size bounds the stream count before anything is allocated for it.
    const std::uint64_t wholeHeader = detail::headerBytes(streamCount, extraHeaderSize);
    if (wholeHeader > size) {
      refuse(truncated, __LINE__);
    }
    if (wholeHeader > std::numeric_limits<std::uint32_t>::max()) {
      refuse("This arv file header is too large", __LINE__);
    }
    std::vector<unsigned char> table(static_cast<std::size_t>(streamCount) *
                                     detail::kArvStreamHeaderSize);
    inputFile.read(reinterpret_cast<char*>(table.data()),
                   static_cast<std::streamsize>(table.size()));
    if (inputFile.gcount() != static_cast<std::streamsize>(table.size())) {
      refuse(truncated, __LINE__);
    }
    streams.assign(streamCount, streamProperties{});
    frameSize = 0;
    std::uint64_t wholeFrame = 0;
    for (std::uint32_t s = 0; s < streamCount; ++s) {
      const unsigned char* field = &table[static_cast<std::size_t>(s) * 16];
      streamProperties& stream = streams[s];
      stream.width = detail::loadLittleEndian<std::uint32_t>(field);
      stream.height = detail::loadLittleEndian<std::uint32_t>(field + 4);
      stream.colorSpace = detail::loadLittleEndian<std::uint32_t>(field + 8);
      stream.depth = detail::loadLittleEndian<std::uint32_t>(field + 12);
      const int resolution = playableResolution(stream.width, stream.height);
      if (resolution < 0) {
        refuse(kUnsupportedResolution, __LINE__);
      }
      stream.resolution = static_cast<std::uint32_t>(resolution);
      if (stream.colorSpace > kLargestPlayableColorSpace) {
        refuse(kInvalidColorSpace, __LINE__);
      }
      stream.nbLayers =
          static_cast<std::uint32_t>(getNumLayersInColorSpace(static_cast<int>(stream.colorSpace)));
      stream.dataSize = recordLength(stream.width, stream.height, stream.nbLayers, stream.depth);
      wholeFrame += stream.dataSize;
      frameSize += stream.dataSize;
    }
    if (wholeFrame > std::numeric_limits<std::uint32_t>::max()) {
      refuse("This arv file's frames are too large", __LINE__);
    }
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
    unsigned char bytes[4];
    detail::storeLittleEndian(frames, bytes);
    outputFile.seekp(detail::kArvFrameCountOffset, std::ios::beg);
    outputFile.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    outputFile.flush();
    // A full disk or an I/O error may have cost records that write() had accepted into the
    // stream's buffer, and the count: closeVideo() has no result, so it says so on stderr.
    bool failed = !outputFile;
    outputFile.close();
    failed = failed || outputFile.fail();
    outputFile.clear();
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
