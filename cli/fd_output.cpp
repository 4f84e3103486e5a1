#include "fd_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace varnok {

FdOutputBuffer::FdOutputBuffer(int fd) : fd_(fd), buffer_(std::size_t{1} << 16) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

FdOutputBuffer::~FdOutputBuffer() { Drain(); }

FdOutputBuffer::int_type FdOutputBuffer::overflow(int_type ch) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(ch, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
  }
  return traits_type::not_eof(ch);
}

int FdOutputBuffer::sync() { return Drain() ? 0 : -1; }

std::streamsize FdOutputBuffer::xsputn(const char_type* data, std::streamsize count) {
  // Text larger than the buffer (the map's text comes in pieces of a megabyte) goes out in one write rather
  // than being copied through the buffer.
  if (count < static_cast<std::streamsize>(buffer_.size())) return std::streambuf::xsputn(data, count);
  if (!pipe_grown_) {
    // A pipe holds 64 KiB by default, so a megabyte would take sixteen turns of writer and reader; a larger one
    // lets both run at once. Where the system refuses (a limit, not a pipe), the write goes on as it is.
    pipe_grown_ = true;
    ::fcntl(fd_, F_SETPIPE_SZ, static_cast<int>(kLargePipeBytes));
  }
  if (!Drain() || !WriteAll(data, static_cast<std::size_t>(count))) return 0;
  return count;
}

bool FdOutputBuffer::Drain() {
  WriteAll(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

bool FdOutputBuffer::WriteAll(const char* data, std::size_t count) {
  const char* next = data;
  const char* const end = data + count;
  while (next < end && error_ == 0) {
    const ssize_t n = ::write(fd_, next, static_cast<std::size_t>(end - next));
    if (n > 0) {
      next += n;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // A write that takes nothing would be retried for ever.
      error_ = n < 0 ? errno : EIO;
    }
  }
  return error_ == 0;
}

}  // namespace varnok
