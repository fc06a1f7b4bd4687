/// @file
/// EKVideo: records camera frames into `.arv` files and plays them back into EKImage objects.
#ifndef EKVISION_EKVIDEO_H
#define EKVISION_EKVIDEO_H

#include <fstream>
#include <string>
#include <vector>

#include <ekerror/ekerror.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekstatus.h>
#include <ekvision/ekvision_api.h>

/// OpenCV's C image record. Only its declaration is needed here: the recorder reads its
/// `width`, `height` and `imageData` fields and the library does not link OpenCV.
struct _IplImage;

namespace EK {

/// @brief One stream of a recording, as the caller of EKVideo::recordVideo describes it.
///
/// Written to the file's stream table exactly as it stands (four little-endian 32-bit
/// integers in this order).
struct streamHeader {
  int width;       ///< pixels per row
  int height;      ///< rows
  int colorSpace;  ///< color-space code
  int depth;       ///< bits per layer sample (8 for the library's image buffers)
};

/// @brief What a reader keeps about one stream of the file it reads.
struct streamProperties {
  unsigned int width;       ///< pixels per row, from the stream header
  unsigned int height;      ///< rows, from the stream header
  unsigned int resolution;  ///< resolution code of the size (0, 1 or 2)
  unsigned int colorSpace;  ///< color-space code, from the stream header
  unsigned int nbLayers;    ///< layer count of the color space
  unsigned int depth;       ///< bits per layer sample, from the stream header
  unsigned int dataSize;    ///< record length: width x height x nbLayers x depth / 8 bytes
};

/// @brief Recorder and player of `.arv` video files.
///
/// A file is a 16-byte header (version, extra header size, frame count, stream count), a
/// table of 16-byte stream headers, an optional block of extra header bytes, and then the
/// frames: each frame holds one record per stream, in stream order, and every record of a
/// stream has the same length. A record is the frame's pixel buffer whose first 25 bytes
/// carry the time stamp (8 bytes), the camera id (1 byte) and the four angles (4 floats).
/// Records are found by arithmetic from the header: there is no index. Offsets are computed
/// in 64 bits, so recordings larger than 4 GiB are read correctly.
///
/// The object is closed, recording (`isRecording`), reading (`isReading`) or both; the two
/// directions share `frameCount` and the other counters below, so an object that reads
/// while it records writes the count of the file it read when it closes. Operations
/// that the state does not allow return false; recordVideo() and readVideo() throw EKError
/// (module "EKVideo", source file "libekvision/src/ekvideo") when a file cannot be opened
/// or is not a readable recording: an EKFailure, whose status says why. Why the last
/// recordVideo(), readVideo(), write() or closeVideo() failed is kept too, for callers of
/// the operations that return false: EK::lastVideoStatus(). There is no locking: one
/// object serves one thread at a time.
///
/// `currentFrame` and `currentStream` name the current record, and the input position is
/// part of the state: readVideo() leaves it at the first record, goToFrame() at the start
/// of the record it selects, and every read at the end of the record it read.
class EKVISION_API EKVideo {
 public:
  bool isReading;                         ///< a file is open for reading
  bool isRecording;                       ///< a recording is open
  std::ifstream inputFile;                ///< the file being read, binary
  std::ofstream outputFile;               ///< the recording, binary
  std::string filePath;                   ///< the file being recorded or read
  unsigned int version;                   ///< magic of the file; 0x41525631 when recording
  unsigned int extraHeaderSize;           ///< bytes of extra header after the stream table
  unsigned int frameCount;                ///< records appended (recording) or frames (reading)
  unsigned int streamCount;               ///< number of streams, at least 1 when reading
  unsigned int headerSize;                ///< offset of the first frame
  unsigned int frameSize;                 ///< bytes a frame, all streams (reading only)
  std::vector<streamProperties> streams;  ///< one entry per stream (reading only)
  unsigned int currentStream;             ///< index of the current stream
  unsigned int currentFrame;              ///< index of the current frame

  /// A closed object: no file open, counters and indexes 0.
  EKVideo();
  /// @brief Closes both files, writing out pending output, and releases the writer lock.
  ///
  /// It does not finish a recording: its frame count stays 0xFFFFFFFF and no line is
  /// printed. Such a file is still readable, and EK::recoverVideo() (`ekvision recover`)
  /// restores its count.
  ~EKVideo();

  EKVideo(const EKVideo&) = delete;
  EKVideo& operator=(const EKVideo&) = delete;

  /// @brief Creates `fileName + ".arv"` and writes its header and stream table.
  ///
  /// The extension is always appended. The frame count field holds 0xFFFFFFFF until
  /// closeVideo() writes the count. @p extraHeaderSize zero bytes follow the stream table,
  /// so that readers find the first frame right after them. The headers are written as
  /// they stand, whatever they say; only streams that readVideo() accepts (640x480,
  /// 320x240 or 160x120, color space 0 to 16) can be played back. The header reaches the
  /// file at once, so that a recording whose writer dies early can still be recovered.
  ///
  /// One writer at a time: the recording holds an exclusive advisory lock (`flock`) on
  /// its file until closeVideo() or destruction, or until the process ends in any way.
  /// When another writer (of this process or another) holds the file, nothing is touched
  /// and the call throws EKError "<filePath> is being written by process <pid>; a
  /// recording takes one writer at a time" ("by another process" when the process cannot
  /// be known): like every reason not to record, a refusal is an exception, never a false
  /// result. Readers take no lock.
  /// See ekvision/ekvideoinspection.h for the limits of the lock (NFS).
  /// @param fileName        path without the extension
  /// @param extraHeaderSize bytes reserved after the stream table, at most 1 MiB
  /// @param headers         one header per stream; the caller appends, for every frame,
  ///                        one record per stream in this order
  /// @return true (failures throw)
  /// @throws EKError "Can't open file. Check its path and presence" when the file cannot
  ///   be created (also a directory, FIFO or socket, which cannot hold a recording;
  ///   EK::videoFileProblem() says why) or a recording is already open (which then goes
  ///   on untouched, its `filePath` included); "Extra header too large"; "Can't write the
  ///   file header" when the header cannot be written (the file is then closed); the
  ///   refusal above when another writer holds the file. Each is an EKFailure whose status
  ///   gives the cause: the system's (kNotFound, kPermissionDenied, kIsDirectory,
  ///   kNotRegularFile, kNoSpace...) with its system error, kBusy for another writer,
  ///   kInvalidArgument for a recording already open or an extra header too large.
  bool recordVideo(std::string fileName, unsigned int extraHeaderSize,
                   const std::vector<streamHeader>& headers);

  /// @brief Opens a recording for reading: reads and checks its header and stream table.
  ///
  /// No extension is added. A stream count of 0 is read as 1. Afterwards `currentFrame`
  /// and `currentStream` are 0 and the input stands at the first record, so that
  /// getNextFrame() delivers frame 0. A recording that was never closed reads with a
  /// frame count of 0xFFFFFFFF; the reading operations then stop at the end of the file.
  /// @return true; every failure throws, with the file closed and `isReading` false
  /// @throws EKError "Can't open file <fileName>. Check its path and presence" when the
  ///   file cannot be opened (also a directory, FIFO or socket, which cannot be read by
  ///   position; EK::videoFileProblem() or EK::inspectVideo() say why) or a file is
  ///   already being read (which then stays open and untouched, its `filePath` included);
  ///   "This arv file version isn't supported" for an unknown magic;
  ///   "This arv file is shorter than its header" when the file ends before the end of
  ///   its header, stream table or extra header (the stream count is bounded this way);
  ///   "This arv file header is too large" when the header does not fit 32 bits or has
  ///   more than 65536 streams;
  ///   "Unsupported resolution" and "invalid color space" for a stream the library cannot
  ///   play (the first failing check of the first failing stream);
  ///   "This arv file's frames are too large" when a frame does not fit 32 bits.
  ///   Each is an EKFailure whose status gives the cause: the system's with its system
  ///   error for a file that cannot be opened, kInvalidArgument for a file already being
  ///   read, kBadFormat for the header, kUnsupported for a stream or frame it cannot play.
  bool readVideo(std::string fileName);

  /// @brief Finishes an open recording and closes the file being read.
  ///
  /// A recording gets its frame count written (the only bytes rewritten, 8 to 11), its
  /// writer lock released, and one line on standard output: "stop recording <filePath>
  /// file (<count> frames)". With
  /// several streams the count is the number of complete frames (records / streams); the
  /// records of an unfinished last frame stay in the file but are not counted. When any
  /// write of the recording failed (a full disk, an I/O error), records accepted into the
  /// stream's buffer may be lost and the count is not stored: a second line then goes to
  /// standard error, "EKVideo: <filePath> could not be written completely (<cause>); its
  /// frame count is not stored", the cause in the words of EK::systemErrorText() ("file
  /// too large"), EK::lastVideoStatus() gives it as a cause (kNoSpace for a full disk) with
  /// its system error, and `ekvision recover` restores the complete frames that did reach
  /// the file. Counters and indexes are zeroed in every case, also when nothing was open.
  /// Never throws.
  void closeVideo();

  /// @name Recording
  /// Each appends one record: a 25-byte record header (time stamp, camera id, left, top,
  /// right and bottom angle) and the pixel bytes from byte 25 on. The caller appends, for
  /// every frame, one record per stream, in stream order, each as long as its stream's
  /// record. Each returns false, appending nothing and counting nothing, when no recording
  /// is open or the arguments cannot make a record; false also when the file write fails
  /// (disk full): the record is then not counted and the recording takes no more records,
  /// its count stays 0xFFFFFFFF, and `ekvision recover` restores the complete frames.
  /// EK::lastVideoStatus() says why a write failed: kNoSpace with the system error for a
  /// full disk, kInvalidArgument for arguments that cannot make a record.
  /// Output is buffered: a small record may be accepted into the buffer and fail only when
  /// the buffer is written out, at a later write() or at closeVideo(), which reports it.
  /// @{

  /// @brief Appends a record made from a whole pixel buffer of @p size bytes.
  ///
  /// The first 25 bytes of @p buffer are not stored: the record header takes their place.
  /// A null buffer or a size below 25 (no room for the record header) is refused.
  bool write(char* buffer, int size, long long timeStamp, char cameraId, float leftAngle,
             float topAngle, float rightAngle, float bottomAngle);

  /// @brief Appends a record made from a packed BGR picture, converted to YUV422.
  ///
  /// Note the argument order: height first. @p bgrPixels holds height rows of width
  /// pixels, blue, green, red, rows without gaps. The record is width x height x 2 bytes,
  /// the record of a 2-layer stream of that size with depth 8. A negative size, a null
  /// picture or a record shorter than 25 bytes is refused.
  bool write(int height, int width, char* bgrPixels, long long timeStamp, char cameraId,
             float leftAngle, float topAngle, float rightAngle, float bottomAngle);

  /// @brief The same for OpenCV's image record: its `height`, `width` and `imageData`.
  ///
  /// The data must be packed BGR whatever the record's channel count and row step say.
  /// A null image is refused.
  bool write(_IplImage* image, long long timeStamp, char cameraId, float leftAngle, float topAngle,
             float rightAngle, float bottomAngle);
  /// @}

  /// @name Playback
  /// The reading operations return false, changing nothing, when no file is being read or
  /// its frame count is 0. An index at or above the frame count (stream count) selects the
  /// last frame (stream).
  ///
  /// With @p adaptImage true the image is first given the stream's color space and size
  /// (its buffer grows when needed); an image with an external buffer is then refused.
  /// A record is read straight into the image's buffer and never written past it: a record
  /// longer than `allocatedSize` (a depth above 8, or adaptImage false with a small image),
  /// an image without buffer, or a record shorter than its 25-byte header is refused with
  /// false and nothing read. These refusals leave the indexes at their new values and the
  /// input position unchanged. On success the buffer holds the record, its first 25 bytes
  /// the record header, and the image's `timeStamp`, `cameraId` and angles are taken from
  /// it (version 0 files carry no angles: the image gets the default ones). A record cut
  /// short by the end of the file gives false: the image's fields are then unchanged but
  /// its buffer may hold part of the record.
  /// @throws std::invalid_argument from EKImage::setColorSpace / setResolution in the
  ///   adapt step (an image built from a size without resolution code that must grow)
  /// @{

  /// @brief Selects a record and places the input at its start.
  ///
  /// Indexes beyond the file are clamped to the last frame and the last stream.
  bool goToFrame(unsigned int frameIndex, unsigned int streamIndex);

  /// @brief Selects a record and reads it into @p image.
  bool getFrame(EKImage& image, unsigned int frameIndex, unsigned int streamIndex, bool adaptImage);

  /// @brief Steps `currentFrame` on by one and reads the record that lies one frame past
  /// the end of the last record read, in the current stream.
  ///
  /// The step is relative to the input position: after a read it delivers the next frame of
  /// the same stream. Right after readVideo() or goToFrame(f, 0), which leave the input at
  /// the start of a record, it delivers that record (frame 0, or frame f) while
  /// `currentFrame` becomes 1, or f + 1; with several streams the step from there lands in
  /// another stream's record. Past the last frame it returns false with `currentFrame` at
  /// the last frame and the input position unchanged. A refusal of the adapt step or of a
  /// buffer too small also leaves `currentFrame` advanced.
  bool getNextFrame(EKImage& image, bool adaptImage);

  /// @brief Reads the current stream's record of frame `currentFrame - 1`.
  ///
  /// At frame 0 it returns false and nothing changes.
  bool getPrecedingFrame(EKImage& image, bool adaptImage);
  /// @}

  /// @brief Finds the last frame recorded at or before @p timeStamp, by binary search.
  ///
  /// Reads O(log n) time stamps of 8 bytes from stream @p streamIndex (clamped like
  /// goToFrame()); builds no index, and leaves the indexes and the input position as they
  /// were. Only frames that lie whole in the file are searched, so an unclosed recording
  /// is searched up to its last complete frame. When the time stamps are not sorted, the
  /// answer is some frame whose stamp is at or before @p timeStamp and whose successor's
  /// is after it (or the last frame).
  /// @return the frame index; -1 when @p timeStamp is before the first frame, when no
  ///   file is being read, when it has no complete frame, or when a read fails
  long long findFrame(long long timeStamp, unsigned int streamIndex);

 private:
  friend EKVISION_API const EKStatus& lastVideoStatus(const EKVideo& video);

  void releaseWriterLock();

  int writerLock_ = -1;  // descriptor that holds the recording's writer lock, or -1
  EKStatus status_;      // why the last operation failed, for lastVideoStatus()
};

/// @brief Why the last recordVideo(), readVideo(), write() or closeVideo() of @p video
/// failed: a cause with the system error behind it (kNoSpace and EFBIG for a file size
/// limit, kBusy when another writer holds the recording...) and a message.
///
/// Success after a recordVideo(), readVideo() or closeVideo() of a recording that
/// succeeded; a failure stays until the next of them, as a failed recording takes no more
/// records. Callers read it instead of
/// `errno`, which the library does not promise to leave meaningful.
EKVISION_API const EKStatus& lastVideoStatus(const EKVideo& video);

}  // namespace EK

#endif  // EKVISION_EKVIDEO_H
