#include "fd_output.h"

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

bool FdOutputBuffer::Drain() {
  const char* next = pbase();
  const char* const end = pptr();
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
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

}  // namespace varnok
