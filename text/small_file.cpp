#include "text/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "text/descriptor.h"

namespace varnok {
namespace {

SmallFile Refused(SmallFileStatus status, int error) {
  SmallFile file;
  file.status = status;
  file.error = error;
  return file;
}

}  // namespace

SmallFile ReadSmallFile(const std::string& path, std::size_t max_bytes, SmallFileKinds kinds) {
  // Without O_NONBLOCK, opening a FIFO that nobody writes would wait for ever.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    const int error = errno;
    if (error == ENOENT) return Refused(SmallFileStatus::kMissing, error);
    // A folder opens for reading on some systems only; either way it is no file to read.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
      if (S_ISDIR(info.st_mode)) return Refused(SmallFileStatus::kNotRegular, EISDIR);
      if (!S_ISREG(info.st_mode) && kinds == SmallFileKinds::kRegular) return Refused(SmallFileStatus::kNotRegular, 0);
    }
    return Refused(SmallFileStatus::kFailed, error);
  }
  // The reading itself waits for a writer that has opened the FIFO: without one it reads the end at once.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return Refused(SmallFileStatus::kFailed, errno);
  }
  return ReadSmallFile(fd.get(), max_bytes, kinds);
}

SmallFile ReadSmallFile(int fd, std::size_t max_bytes, SmallFileKinds kinds) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Refused(SmallFileStatus::kFailed, errno);
  if (S_ISDIR(info.st_mode)) return Refused(SmallFileStatus::kNotRegular, EISDIR);
  if (!S_ISREG(info.st_mode) && kinds == SmallFileKinds::kRegular) return Refused(SmallFileStatus::kNotRegular, 0);
  if (S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > max_bytes) {
    return Refused(SmallFileStatus::kTooLarge, 0);
  }
  SmallFile file;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Refused(SmallFileStatus::kFailed, errno);
    }
    if (got == 0) break;
    // What is read counts, not what fstat said: a file that grows, a FIFO or /dev/zero stops at the limit.
    if (static_cast<std::size_t>(got) > max_bytes - file.text.size()) return Refused(SmallFileStatus::kTooLarge, 0);
    file.text.append(buffer, static_cast<std::size_t>(got));
  }
  file.status = SmallFileStatus::kOk;
  return file;
}

}  // namespace varnok
