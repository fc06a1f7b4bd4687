// Internal: the recording as a file of the system: opening it with the cause of a failure,
// the one-writer lock, the lock table, and the frame-count write.
#ifndef EKVISION_SRC_ARVFILE_H
#define EKVISION_SRC_ARVFILE_H

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include <ekvision/ekstatus.h>

namespace EK {
namespace detail {

// A file descriptor, closed with its owner.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Why a file of this type cannot hold a recording ("is a directory", "not seekable (a
// FIFO)", "not a regular file"), or success. Character and block devices are accepted when
// @p devicesAllowed, so that a recording can be written to a device such as /dev/full.
EKStatus fileTypeStatus(mode_t mode, bool devicesAllowed);

// The cause of a failed open of @p path: the file's type when it cannot hold a recording
// (a socket cannot be opened at all), else the system error @p error.
EKStatus openFailure(const std::string& path, int error, bool devicesAllowed);

// Opens @p path read-only without blocking on a FIFO, and checks that it is a regular
// file. On failure the descriptor is invalid and @p problem says why.
FileDescriptor openRegularForReading(const std::string& path, struct stat& status,
                                     EKStatus& problem);

// Takes the exclusive writer lock of the open file @p fd without waiting.
enum class LockResult { kTaken, kHeld, kUnsupported };
LockResult lockForWriting(int fd);

// Whether a live writer holds the lock of the file with @p status, as the system's lock
// table says; @p process gets its process id when the table names it, else -1. Takes no
// lock. When the table cannot be read, @p fd (any descriptor of the file) is probed.
bool writerHolds(const struct stat& status, int fd, long long& process);

// Writes @p count into the frame-count field of the recording open on @p fd; 0 on success,
// else the errno of the failure.
int storeFrameCount(int fd, std::uint32_t count);

}  // namespace detail
}  // namespace EK

#endif  // EKVISION_SRC_ARVFILE_H
