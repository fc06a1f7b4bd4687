// Recordings: EKVideo playing a `.arv` file into numpy arrays, and recording arrays into one.
#include <ekerror/ekerror.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>
#include <ekvision/ekvideoplayback.h>
#include <ekvision/ekvideorecord.h>
#include <ekvision/ekvisiondefinitions.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include <pybind11/stl.h>

#include "pyarrays.h"
#include "pybindings.h"
#include "pyerrors.h"

namespace py = pybind11;

namespace ekpy {
namespace {

using Angles = std::array<float, 4>;

// Time stamp, camera and four angles lead every record, in place of its first pixel bytes.
const std::size_t kRecordHeaderBytes = EK::kVideoRecordHeaderSize;
const unsigned int kVersion0 = EK::kVideoFormatVersion0;

PictureShape shapeOf(const EK::streamProperties& stream) {
  return {stream.height, stream.width, stream.nbLayers};
}

// A reader of one recording. The GIL is released while the file is read; a mutex keeps
// two Python threads from moving the player's position at once.
class Reader {
 public:
  explicit Reader(const std::string& path) : path_(path) {
    // The player's refusal to open says no more than "Can't open file": the status says why.
    const EK::EKStatus problem = EK::videoFileStatus(path, false);
    if (!problem.ok()) {
      raiseStatus(problem, path);
    }
    try {
      video_.readVideo(path);
    } catch (const EK::EKFailure& failure) {
      raiseStatus(failure.status(), path);
    }
    // Only frames that lie whole in the file count: a recording that was never closed says
    // 0xFFFFFFFF, and a file cut short ends inside a frame.
    try {
      frames_ = EK::inspectVideo(path).playableFrames;
    } catch (const EK::EKFailure& failure) {
      video_.closeVideo();
      raiseStatus(failure.status(), path);
    }
  }

  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    video_.closeVideo();
    closed_ = true;
  }

  bool closed() const { return closed_; }

  unsigned long long length() const { return frames_; }

  py::list streams() {
    requireOpen();
    py::list list;
    for (const EK::streamProperties& stream : video_.streams) {
      list.append(py::make_tuple(stream.width, stream.height, stream.colorSpace, stream.nbLayers,
                                 stream.depth, stream.dataSize));
    }
    return list;
  }

  py::tuple readFrame(long long index, const py::handle& streamIndex) {
    const unsigned int stream = requireStream(streamIndex);
    const EK::streamProperties& properties = pixelStream(stream);
    requireIndex(index, index + 1);
    py::array_t<unsigned char> pixels = newPicture(shapeOf(properties), false);
    EK::EKImage image(static_cast<int>(properties.width), static_cast<int>(properties.height),
                      static_cast<int>(properties.colorSpace), true);
    image.frame = pixels.mutable_data();
    bool read = false;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      read = video_.getFrame(image, static_cast<unsigned int>(index), stream, false);
    }
    if (!read) {
      raiseFormatError("cannot read frame " + std::to_string(index) + " (the file changed?)",
                       path_);
    }
    const Angles angles{image.leftAngle, image.topAngle, image.rightAngle, image.bottomAngle};
    return py::make_tuple(pixels, image.timeStamp, static_cast<int>(image.cameraId), angles);
  }

  py::array readFrames(long long start, long long stop, const py::handle& streamIndex) {
    const unsigned int stream = requireStream(streamIndex);
    const EK::streamProperties& properties = pixelStream(stream);
    requireIndex(start, stop);
    const PictureShape shape = shapeOf(properties);
    const long long count = std::max(0LL, stop - start);
    py::array_t<unsigned char> pixels({count, shape.height, shape.width, shape.layers});
    unsigned char* data = pixels.mutable_data();
    long long failed = -1;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      EK::EKImage image(static_cast<int>(properties.width), static_cast<int>(properties.height),
                        static_cast<int>(properties.colorSpace), true);
      for (long long i = 0; i < count && failed < 0; ++i) {
        image.frame = data + static_cast<std::size_t>(i) * shape.bytes();
        if (!video_.getFrame(image, static_cast<unsigned int>(start + i), stream, false)) {
          failed = start + i;
        }
      }
    }
    if (failed >= 0) {
      raiseFormatError("cannot read frame " + std::to_string(failed) + " (the file changed?)",
                       path_);
    }
    return std::move(pixels);
  }

  // The 25-byte record headers of every frame of @p stream, one row each, read without the
  // pixels. Version 0 records carry no angles: their rows get the player's default ones.
  py::array metadata(const py::handle& streamIndex) {
    const unsigned int stream = requireStream(streamIndex);
    py::array_t<unsigned char> rows(
        {static_cast<py::ssize_t>(frames_), static_cast<py::ssize_t>(kRecordHeaderBytes)});
    unsigned char* data = rows.mutable_data();
    if (video_.streams[stream].dataSize < kRecordHeaderBytes) {
      raiseFormatError(
          "the records of stream " + std::to_string(stream) + " are too short to hold a time stamp",
          path_);
    }
    long long failed = -1;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      // The player's own input reads the headers: every read of it selects its record by
      // offset, so moving it here disturbs none. Another thread may have closed the
      // recording since the check above.
      std::ifstream& in = video_.inputFile;
      for (unsigned long long f = 0; f < frames_ && failed < 0; ++f) {
        in.seekg(static_cast<std::streamoff>(EK::videoRecordOffset(video_, f, stream)));
        in.read(reinterpret_cast<char*>(data + f * kRecordHeaderBytes),
                static_cast<std::streamsize>(kRecordHeaderBytes));
        if (!video_.isReading || in.gcount() != static_cast<std::streamsize>(kRecordHeaderBytes)) {
          failed = static_cast<long long>(f);
          in.clear();
        }
      }
    }
    if (failed >= 0) {
      raiseFormatError(
          "cannot read the header of frame " + std::to_string(failed) + " (the file changed?)",
          path_);
    }
    if (video_.version == kVersion0 && frames_ > 0) {
      giveDefaultAngles(data, stream);
    }
    return std::move(rows);
  }

  long long find(long long timeStamp, const py::handle& streamIndex) {
    const unsigned int stream = requireStream(streamIndex);
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    return video_.findFrame(timeStamp, stream);
  }

 private:
  void requireOpen() const {
    if (closed()) {
      throw py::value_error("I/O operation on a closed recording");
    }
  }

  // The stream @p index names, of an open recording. Any integer is taken, so that every
  // index out of range (negative, or beyond what a C++ integer holds) is an IndexError.
  unsigned int requireStream(const py::handle& index) const {
    requireOpen();
    const long long count = static_cast<long long>(video_.streams.size());
    const std::optional<long long> stream = integerIn(index, 0, count - 1);
    if (!stream) {
      throw py::index_error("stream " + std::string(py::str(index)) +
                            " out of range: the recording has " + std::to_string(count));
    }
    return static_cast<unsigned int>(*stream);
  }

  void requireIndex(long long start, long long stop) const {
    if (start < 0 || stop > static_cast<long long>(frames_) || start > stop) {
      throw py::index_error("frames " + std::to_string(start) + " to " + std::to_string(stop) +
                            " out of range: the recording has " + std::to_string(frames_));
    }
  }

  // A stream whose records are whole pictures of one byte a sample.
  const EK::streamProperties& pixelStream(unsigned int stream) const {
    const EK::streamProperties& properties = video_.streams[stream];
    const EK::streamHeader header{
        static_cast<int>(properties.width), static_cast<int>(properties.height),
        static_cast<int>(properties.colorSpace), static_cast<int>(properties.depth)};
    // The player refused what it cannot play when it opened the file; this adds the depth.
    if (const char* reason = EK::unplayableReason(header, EK::EKStreamUse::kPictures)) {
      throw py::value_error("stream " + std::to_string(stream) + " has " +
                            std::to_string(properties.depth) + "-bit samples; " + reason);
    }
    return properties;
  }

  // The player gives frames of version 0 files fixed angles: read one frame through it and
  // copy its angles into every row.
  void giveDefaultAngles(unsigned char* rows, unsigned int stream) {
    const EK::streamProperties& properties = video_.streams[stream];
    std::vector<unsigned char> buffer(properties.dataSize);
    EK::EKImage image(0, 0, static_cast<int>(properties.colorSpace), true);
    image.frame = buffer.data();
    image.allocatedSize = static_cast<int>(buffer.size());
    std::lock_guard<std::mutex> lock(mutex_);
    if (!video_.getFrame(image, 0, stream, false)) {
      raiseFormatError("cannot read frame 0", path_);
    }
    for (unsigned long long f = 0; f < frames_; ++f) {
      unsigned char* row = rows + f * kRecordHeaderBytes;
      EK::EKRecordHeader header = EK::decodeRecordHeader(row);
      header.leftAngle = image.leftAngle;
      header.topAngle = image.topAngle;
      header.rightAngle = image.rightAngle;
      header.bottomAngle = image.bottomAngle;
      EK::encodeRecordHeader(header, row);
    }
  }

  std::mutex mutex_;
  EK::EKVideo video_;
  std::string path_;
  bool closed_ = false;
  unsigned long long frames_ = 0;
};

// A recording being written: one record per stream and frame, from numpy arrays.
class Writer {
 public:
  Writer(const std::string& baseName, const std::vector<std::array<int, 3>>& streams) {
    if (streams.empty()) {
      throw py::value_error("a recording needs at least one stream");
    }
    std::vector<EK::streamHeader> headers;
    for (const auto& [width, height, colorSpace] : streams) {
      const EK::streamHeader header{width, height, colorSpace, EK::kPictureSampleDepth};
      if (const char* reason = EK::unplayableReason(header, EK::EKStreamUse::kPictures)) {
        throw py::value_error("stream " + std::to_string(width) + "x" + std::to_string(height) +
                              " in color space " + std::to_string(colorSpace) +
                              " cannot be played back: " + reason);
      }
      headers.push_back(header);
      shapes_.push_back({height, width, EK::getNumLayersInColorSpace(colorSpace)});
      colorSpaces_.push_back(colorSpace);
    }
    const std::string path = baseName + ".arv";
    // The recorder's refusal to open says no more than "Can't open file": the status says why.
    const EK::EKStatus problem = EK::videoFileStatus(path, true);
    if (!problem.ok()) {
      raiseStatus(problem, path);
    }
    try {
      video_.recordVideo(baseName, 0, headers);
    } catch (const EK::EKFailure& failure) {
      raiseStatus(failure.status(), path);
    }
    path_ = video_.filePath;
  }

  ~Writer() {
    if (video_.isRecording) {
      video_.closeVideo();
    }
  }

  void append(const py::list& pixels, long long timeStamp, const py::handle& camera,
              const Angles& angles) {
    if (!video_.isRecording) {
      throw py::value_error("I/O operation on a closed recording");
    }
    if (pixels.size() != shapes_.size()) {
      throw py::value_error("append takes one array per stream: " + std::to_string(shapes_.size()) +
                            " expected, " + std::to_string(pixels.size()) + " given");
    }
    const char cameraId = cameraIndex(camera);
    // Every array is checked before the first record is written.
    std::vector<py::array> arrays;
    std::vector<bool> fromBgr;
    for (std::size_t s = 0; s < shapes_.size(); ++s) {
      const std::string what = "pixels of stream " + std::to_string(s);
      py::array array = packedBytes(pixels[s], what.c_str(), false);
      const PictureShape& expected = shapes_[s];
      const PictureShape given = pictureShape(array, what.c_str(), 0);
      const bool bgr = colorSpaces_[s] == EK::kColorSpaceYUV422 && given.layers == 3;
      if (given.height != expected.height || given.width != expected.width ||
          (given.layers != expected.layers && !bgr)) {
        throw py::value_error(
            what + " must have the shape (" + std::to_string(expected.height) + ", " +
            std::to_string(expected.width) +
            (expected.layers == 1 ? "" : ", " + std::to_string(expected.layers)) + ")" +
            (colorSpaces_[s] == EK::kColorSpaceYUV422 ? ", or (H, W, 3) for BGR pixels to convert"
                                                      : ""));
      }
      arrays.push_back(array);
      fromBgr.push_back(bgr);
    }
    bool written = true;
    bool closed = false;
    EK::EKStatus status;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      closed = !video_.isRecording;  // by another thread meanwhile
      written = !closed;
      for (std::size_t s = 0; s < arrays.size() && written; ++s) {
        char* data = reinterpret_cast<char*>(bytesOf(arrays[s]));
        const PictureShape& shape = shapes_[s];
        written = fromBgr[s] ? video_.write(static_cast<int>(shape.height),
                                            static_cast<int>(shape.width), data, timeStamp,
                                            cameraId, angles[0], angles[1], angles[2], angles[3])
                             : video_.write(data, static_cast<int>(shape.bytes()), timeStamp,
                                            cameraId, angles[0], angles[1], angles[2], angles[3]);
      }
      status = EK::lastVideoStatus(video_);
    }
    if (closed) {
      throw py::value_error("I/O operation on a closed recording");
    }
    if (!written) {
      raiseStatus(
          EK::EKStatus(status.cause(), status.message() + "; the recording takes no more frames",
                       status.systemError()),
          path_);
    }
    ++frames_;
  }

  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!video_.isRecording) {
      return;
    }
    video_.closeVideo();
    const EK::EKStatus& status = EK::lastVideoStatus(video_);
    if (!status.ok()) {
      raiseStatus(EK::EKStatus(status.cause(),
                               status.message() + "; recover() gives it its complete frames",
                               status.systemError()),
                  path_);
    }
  }

  bool closed() const { return !video_.isRecording; }
  // Bytes, as the file system has the name: os.fsdecode() makes it a str.
  py::bytes path() const { return py::bytes(path_); }
  unsigned long long length() const { return frames_; }

 private:
  std::mutex mutex_;  // one append or close at a time, while the GIL is released
  EK::EKVideo video_;
  std::string path_;
  std::vector<PictureShape> shapes_;
  std::vector<int> colorSpaces_;
  unsigned long long frames_ = 0;
};

const char* stateName(EK::EKRecordingState state) {
  switch (state) {
    case EK::EKRecordingState::kClosed:
      return "closed";
    case EK::EKRecordingState::kOpen:
      return "open";
    case EK::EKRecordingState::kCutShort:
      return "cut short";
    case EK::EKRecordingState::kUncountedFrames:
      return "uncounted frames";
  }
  return "unknown";
}

py::tuple recover(const std::string& path, bool extend, bool dryRun) {
  EK::EKRecoveryOptions options;
  options.extend = extend;
  options.dryRun = dryRun;
  EK::EKVideoRecovery recovery;
  try {
    py::gil_scoped_release release;
    recovery = EK::recoverVideo(path, options);
  } catch (const EK::EKFailure& failure) {
    raiseStatus(failure.status(), path);
  }
  const EK::EKVideoInspection& before = recovery.inspection;
  return py::make_tuple(recovery.frameCount, recovery.changed, stateName(before.state),
                        before.storedFrameCount, before.completeFrames, before.partialBytes);
}

}  // namespace

void bindRecordings(py::module_& module) {
  py::class_<Reader>(module, "_Reader")
      .def(py::init<const std::string&>(), py::arg("path"))
      .def("close", &Reader::close)
      .def_property_readonly("closed", &Reader::closed)
      .def("__len__", &Reader::length)
      .def("streams", &Reader::streams)
      .def("read_frame", &Reader::readFrame, py::arg("index"), py::arg("stream"))
      .def("read_frames", &Reader::readFrames, py::arg("start"), py::arg("stop"), py::arg("stream"))
      .def("metadata", &Reader::metadata, py::arg("stream"))
      .def("find", &Reader::find, py::arg("time_stamp"), py::arg("stream"));
  py::class_<Writer>(module, "_Writer")
      .def(py::init<const std::string&, const std::vector<std::array<int, 3>>&>(),
           py::arg("base_name"), py::arg("streams"))
      .def("append", &Writer::append, py::arg("pixels"), py::arg("time_stamp"), py::arg("camera"),
           py::arg("angles"))
      .def("close", &Writer::close)
      .def_property_readonly("closed", &Writer::closed)
      .def_property_readonly("path", &Writer::path)
      .def("__len__", &Writer::length);
  module.def("_recover", &recover, py::arg("path"), py::arg("extend"), py::arg("dry_run"));
  // Where the fields of a record header lie, for the numpy view of the metadata rows.
  module.attr("RECORD_HEADER_SIZE") = EK::kVideoRecordHeaderSize;
  module.attr("RECORD_TIME_STAMP_OFFSET") = EK::kVideoRecordTimeStampOffset;
  module.attr("RECORD_CAMERA_OFFSET") = EK::kVideoRecordCameraOffset;
  module.attr("RECORD_ANGLES_OFFSET") = EK::kVideoRecordAnglesOffset;
  // The camera indices a record holds: those of the library's char.
  module.attr("CAMERA_MIN") = int{std::numeric_limits<char>::min()};
  module.attr("CAMERA_MAX") = int{std::numeric_limits<char>::max()};
  // The sample depth of the streams the writer makes.
  module.attr("PICTURE_SAMPLE_DEPTH") = EK::kPictureSampleDepth;
}

}  // namespace ekpy
