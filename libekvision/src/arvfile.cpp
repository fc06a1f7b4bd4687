// The recording as a file of the system.
#include "arvfile.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <ekvision/ekstatus.h>

#include "arvlayout.h"
#include "bytes.h"

namespace EK {
namespace detail {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    reset(other.release());
  }
  return *this;
}

int FileDescriptor::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  fd_ = fd;
}

EKStatus fileTypeStatus(mode_t mode, bool devicesAllowed) {
  if (S_ISREG(mode)) {
    return EKStatus();
  }
  if (S_ISDIR(mode)) {
    return EKStatus::fromSystemError(EISDIR);
  }
  if (S_ISFIFO(mode)) {
    return EKStatus(EKCause::kNotRegularFile, "not seekable (a FIFO)");
  }
  if ((S_ISCHR(mode) || S_ISBLK(mode)) && devicesAllowed) {
    return EKStatus();
  }
  if (S_ISSOCK(mode)) {
    return EKStatus(EKCause::kNotRegularFile, "not a regular file (a socket)");
  }
  return EKStatus(EKCause::kNotRegularFile, "not a regular file (a device)");
}

EKStatus openFailure(const std::string& path, int error, bool devicesAllowed) {
  // A socket cannot be opened at all (ENXIO): what it is says more than the error.
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    EKStatus problem = fileTypeStatus(status.st_mode, devicesAllowed);
    if (!problem.ok()) {
      return problem;
    }
  }
  return EKStatus::fromSystemError(error);
}

FileDescriptor openRegularForReading(const std::string& path, struct stat& status,
                                     EKStatus& problem) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    problem = openFailure(path, errno, false);
    return fd;
  }
  if (::fstat(fd.get(), &status) != 0) {
    problem = EKStatus::fromSystemError(errno);
    fd.reset();
    return fd;
  }
  problem = fileTypeStatus(status.st_mode, false);
  if (!problem.ok()) {
    fd.reset();
  }
  return fd;
}

LockResult lockForWriting(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    return LockResult::kTaken;
  }
  return errno == EWOULDBLOCK ? LockResult::kHeld : LockResult::kUnsupported;
}

namespace {

// The process named by a lock-table entry, when it still runs; -1 otherwise.
long long liveProcess(long long pid) {
  if (pid <= 0) {
    return -1;
  }
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? pid : -1;
}

// A shared lock taken and dropped at once: refused when a writer holds the file.
bool probeHolds(int fd) {
  if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
    ::flock(fd, LOCK_UN);
    return false;
  }
  return errno == EWOULDBLOCK;
}

}  // namespace

bool writerHolds(const struct stat& status, int fd, long long& process) {
  process = -1;
  std::ifstream table("/proc/locks");
  if (!table) {
    return probeHolds(fd);
  }
  // Entries read "1: FLOCK  ADVISORY  WRITE 1234 fe:00:5678 0 EOF"; waiters carry "->".
  const unsigned long wantMajor = major(status.st_dev);
  const unsigned long wantMinor = minor(status.st_dev);
  bool inodeElsewhere = false;
  std::string line;
  while (std::getline(table, line)) {
    if (line.find("->") != std::string::npos) {
      continue;
    }
    std::istringstream fields(line);
    std::string id, kind, mode, access, device;
    long long pid = -1;
    if (!(fields >> id >> kind >> mode >> access >> pid >> device) || kind != "FLOCK" ||
        access != "WRITE") {
      continue;
    }
    unsigned long fileMajor = 0, fileMinor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(device.c_str(), "%lx:%lx:%llu", &fileMajor, &fileMinor, &inode) != 3 ||
        inode != static_cast<unsigned long long>(status.st_ino)) {
      continue;
    }
    if (fileMajor == wantMajor && fileMinor == wantMinor) {
      process = liveProcess(pid);
      return true;
    }
    inodeElsewhere = true;
  }
  // Some file systems give stat() another device number than the lock table: ask the
  // lock itself when an entry has the same inode.
  return inodeElsewhere && probeHolds(fd);
}

int storeFrameCount(int fd, std::uint32_t count) {
  unsigned char bytes[4];
  storeLittleEndian(count, bytes);
  std::size_t done = 0;
  while (done < sizeof bytes) {
    const ssize_t written =
        ::pwrite(fd, bytes + done, sizeof bytes - done, kArvFrameCountOffset + done);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (written == 0) {
      return EIO;
    }
    done += static_cast<std::size_t>(written);
  }
  return 0;
}

}  // namespace detail
}  // namespace EK
