#include "text/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace varnok {
namespace {

// Closes the descriptor it holds at the end of its scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

SmallFile Refused(SmallFileStatus status, int error) {
  SmallFile file;
  file.status = status;
  file.error = error;
  return file;
}

}  // namespace

SmallFile ReadSmallFile(const std::string& path, std::size_t max_bytes) {
  // Without O_NONBLOCK, opening a FIFO that nobody writes would wait for ever.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0) {
    const int error = errno;
    if (error == ENOENT) return Refused(SmallFileStatus::kMissing, error);
    // A folder opens for reading on some systems only; either way it is no file to read.
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
      return Refused(SmallFileStatus::kNotRegular, S_ISDIR(info.st_mode) ? EISDIR : 0);
    }
    return Refused(SmallFileStatus::kFailed, error);
  }
  return ReadSmallFile(fd.get(), max_bytes);
}

SmallFile ReadSmallFile(int fd, std::size_t max_bytes) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Refused(SmallFileStatus::kFailed, errno);
  if (!S_ISREG(info.st_mode)) return Refused(SmallFileStatus::kNotRegular, S_ISDIR(info.st_mode) ? EISDIR : 0);
  if (static_cast<std::uint64_t>(info.st_size) > max_bytes) return Refused(SmallFileStatus::kTooLarge, 0);
  SmallFile file;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(file.text.size()));
    if (got < 0) {
      if (errno == EINTR) continue;
      return Refused(SmallFileStatus::kFailed, errno);
    }
    if (got == 0) break;
    // A file that grows while it is read is measured by what is read, not by what fstat said.
    if (static_cast<std::size_t>(got) > max_bytes - file.text.size()) return Refused(SmallFileStatus::kTooLarge, 0);
    file.text.append(buffer, static_cast<std::size_t>(got));
  }
  file.status = SmallFileStatus::kOk;
  return file;
}

}  // namespace varnok
