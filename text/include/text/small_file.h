#pragma once

#include <cstddef>
#include <string>

namespace varnok {

// How the reading of a small file ended.
enum class SmallFileStatus { kOk, kMissing, kNotRegular, kTooLarge, kFailed };

// A small file's whole text, or why there is none.
struct SmallFile {
  SmallFileStatus status = SmallFileStatus::kFailed;
  std::string text;  // the whole file when status is kOk, else empty
  int error = 0;     // the system's error number for kMissing and kFailed, EISDIR for a folder, else 0
};

// Which files a reading takes besides regular files.
enum class SmallFileKinds {
  kRegular,  // a FIFO or a device is refused as not regular
  kStreams,  // a FIFO or a device is read too, up to the limit (a pipe from another program, /dev/stdin)
};

// Reads the file at path whole when it holds at most max_bytes. It never waits on the open (a FIFO that no one
// writes then reads as empty), refuses a folder, and refuses a file that grows past max_bytes while it is read.
SmallFile ReadSmallFile(const std::string& path, std::size_t max_bytes,
                        SmallFileKinds kinds = SmallFileKinds::kRegular);
// The same for a file already open, read on from where it stands.
SmallFile ReadSmallFile(int fd, std::size_t max_bytes, SmallFileKinds kinds = SmallFileKinds::kRegular);

}  // namespace varnok
