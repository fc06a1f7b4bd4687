/// @file
/// Inspection and recovery of `.arv` recordings on disk: what a file holds, whether a
/// writer is at work on it, and how to give a recording that was never closed its count.
///
/// These functions read the file themselves; they need no EKVideo and play nothing. They
/// accept any header the recorder may have written, also streams that EKVideo::readVideo
/// cannot play (their reason is given in EKVideoInspection::unplayableReason).
///
/// One writer at a time: EKVideo::recordVideo takes an exclusive advisory lock (`flock`)
/// on the recording and holds it until closeVideo() or destruction, or until the writing
/// process ends in any way (a crash or SIGKILL included: the system releases the lock).
/// A second writer is refused. Readers take no lock and are never blocked. recoverVideo()
/// takes the same lock while it rewrites the count, so it refuses a recording that a live
/// writer holds, and a recording cannot start while it is being recovered.
///
/// Limits of the lock: it is advisory (a program that does not use the library can still
/// write the file); on NFS the client emulates it with a byte-range lock that the server
/// keeps, so it works between machines only when the mount supports locking (not with
/// `nolock` or `local_lock=flock`, where it holds on one machine only), the writer's
/// process number cannot be known on another machine, and the lock of a machine that
/// crashed is held until the server's lease runs out.
#ifndef EKVISION_EKVIDEOINSPECTION_H
#define EKVISION_EKVIDEOINSPECTION_H

#include <cstdint>
#include <string>
#include <vector>

#include <ekerror/ekerror.h>
#include <ekvision/ekstatus.h>
#include <ekvision/ekvideo.h>
#include <ekvision/ekvision_api.h>

namespace EK {

/// The magic of version 0 recordings: the bytes "0VRA" in file order.
const std::uint32_t kVideoFormatVersion0 = 0x41525630u;
/// The magic of version 1 recordings, the version the recorder writes: "1VRA".
const std::uint32_t kVideoFormatVersion1 = 0x41525631u;
/// The frame count of a recording that was never closed.
const std::uint32_t kVideoOpenFrameCount = 0xFFFFFFFFu;
/// Bytes at the start of every record that hold its header (time stamp, camera id, four
/// angles) in place of the first pixel bytes.
const int kVideoRecordHeaderSize = 25;

/// @brief How a recording's stored frame count compares with the frames in its file.
enum class EKRecordingState {
  kClosed,          ///< closed, and the count is what the file holds (or cannot be checked)
  kOpen,            ///< never closed: the count is 0xFFFFFFFF (being written, or crashed)
  kCutShort,        ///< closed, but the file holds fewer complete frames than the count
  kUncountedFrames  ///< closed, and the file holds more complete frames than the count
};

/// @brief One stream of a recording, as stored in its stream table.
struct EKVideoStreamInfo {
  streamHeader header;     ///< the stream header exactly as stored
  std::uint32_t layers;    ///< layer count of its color space; 0 when the code is unknown
  std::uint32_t dataSize;  ///< record length D in bytes; 0 when the layer count is unknown
  int resolution;          ///< resolution code of its size, -1 when it has none
  bool playable;           ///< EKVideo::readVideo accepts this stream
};

/// @brief What the file of a recording holds.
///
/// Frames are counted as readers count them: a frame is one record of every stream, and
/// frames follow the header at `headerSize`. A frame size of 0 (a stream of unknown color
/// space, or records of 0 bytes) means frames cannot be counted: `completeFrames` and
/// `partialBytes` are then 0.
struct EKVideoInspection {
  std::string path;                        ///< the file inspected
  std::uint32_t version;                   ///< the magic: 0x41525630 or 0x41525631
  std::uint32_t extraHeaderSize;           ///< bytes of extra header after the stream table
  std::uint32_t storedFrameCount;          ///< the header's count; 0xFFFFFFFF while open
  std::uint32_t streamCount;               ///< streams, as readers take it (a stored 0 is 1)
  std::vector<EKVideoStreamInfo> streams;  ///< one entry per stream, stream 0 first
  std::uint64_t headerSize;                ///< offset of the first frame
  std::uint64_t frameSize;                 ///< bytes a frame, all streams; 0 when unknown
  std::uint64_t fileSize;                  ///< bytes in the file
  std::uint64_t completeFrames;            ///< whole frames after the header
  std::uint64_t partialBytes;              ///< bytes of an unfinished frame at the end
  std::uint64_t playableFrames;            ///< frames a reader delivers: the lesser of the
                                           ///< stored count and the complete frames
  bool closed;                             ///< the count was written (not 0xFFFFFFFF)
  EKRecordingState state;                  ///< the count against the file
  std::string unplayableReason;            ///< empty when readVideo() accepts the file,
                                           ///< else its refusal ("Unsupported resolution"...)
  bool beingWritten;                       ///< a live writer holds the recording's lock
  long long writerProcess;                 ///< that writer's process id; -1 when unknown
};

/// @brief Reads the header, stream table and size of the recording at @p path.
///
/// Opens the file read-only and takes no lock: it never blocks or disturbs a writer. A
/// live writer is seen through the system's lock table (/proc/locks), which also names
/// its process when it runs on this machine.
/// @throws EKFailure, an EKError (module "EKVideo", method "inspectVideo") whose
///   description is the cause in words and whose status carries its code: "no such file"
///   (kNotFound), "permission denied" (kPermissionDenied), "is a directory" (kIsDirectory),
///   "not seekable (a FIFO)", "not a regular file" (kNotRegularFile) and other system errors
///   in a few words, with the system error; "This arv file version isn't supported", "This
///   arv file is shorter than its header" (which bounds the stream count) and "This arv
///   file header is too large" (kBadFormat).
EKVISION_API EKVideoInspection inspectVideo(const std::string& path);

/// @brief What recoverVideo() may do.
struct EKRecoveryOptions {
  /// Also count frames that a closed recording holds beyond its stored count
  /// (EKRecordingState::kUncountedFrames). Off by default: such frames were written after
  /// the count, and nothing tells whether they belong to the recording.
  bool extend = false;
  /// Decide and report, change nothing.
  bool dryRun = false;
};

/// @brief What recoverVideo() found and did.
struct EKVideoRecovery {
  EKVideoInspection inspection;  ///< the file before recovery
  std::uint32_t frameCount;      ///< the count the file holds afterwards (in a dry run:
                                 ///< would hold)
  bool changed;                  ///< the count was rewritten (in a dry run: would be)
};

/// @brief Gives a recording the number of complete frames its file holds as its count.
///
/// A recording that was never closed (its writer crashed) or whose file was cut short
/// gets the count of complete frames; the records of an unfinished last frame stay in the
/// file and are not counted. A closed recording with frames beyond its count keeps its
/// count unless @p options asks to extend it. Only bytes 8 to 11 are rewritten, and
/// synced to the disk. While it works the function holds the recording's writer lock.
/// @throws EKFailure, an EKError (module "EKVideo", method "recoverVideo"): the causes of
///   inspectVideo(); "being written by process <pid>" (or "being written by another
///   process" when the process cannot be known) when a live writer holds the recording
///   (kBusy, system error EWOULDBLOCK); "the length of stream <k>'s records is unknown:
///   color space <c>" and "its frames hold no bytes", when frames cannot be counted, and
///   "it holds more complete frames than a frame count can say" (kUnsupported); "cannot
///   write the frame count: <cause>" (the cause of its system error: kNoSpace for a full
///   disk).
EKVISION_API EKVideoRecovery recoverVideo(const std::string& path,
                                          const EKRecoveryOptions& options = EKRecoveryOptions());

/// @brief Byte offset of the record of @p frame and @p stream in the file that @p video
/// reads: `headerSize + frameSize x frame` plus the records of the streams before @p stream,
/// in 64 bits (recordings beyond 4 GiB included).
///
/// For callers that read records themselves (many time stamps at once, say). A stream index
/// at or above the stream count adds the records of every stream; 0 when @p video reads no
/// file.
EKVISION_API std::uint64_t videoRecordOffset(const EKVideo& video, std::uint64_t frame,
                                             unsigned int stream);

/// @brief Why @p path cannot be opened to read a recording or, with @p forWriting, to
/// record one, in a few words from the system's error ("no such file", "permission
/// denied", "is a directory", "not seekable (a FIFO)", "not a regular file", "no such
/// directory"...); empty when nothing is known to stand in the way.
///
/// Meant for messages after EKVideo::readVideo or recordVideo threw, whose texts do not
/// say why. It examines the path and changes nothing: no file is created or truncated.
/// The message of videoFileStatus().
EKVISION_API std::string videoFileProblem(const std::string& path, bool forWriting);

/// @brief Why @p path cannot be opened to read a recording or, with @p forWriting, to
/// record one, as a cause with its system error; success when nothing is known to stand
/// in the way.
///
/// A missing file (or directory, when writing) is kNotFound with ENOENT, a directory
/// kIsDirectory with EISDIR, a FIFO, socket or (when reading) device kNotRegularFile, a
/// refusal of the system its cause (kPermissionDenied...). Changes nothing on disk.
EKVISION_API EKStatus videoFileStatus(const std::string& path, bool forWriting);

}  // namespace EK

#endif  // EKVISION_EKVIDEOINSPECTION_H
