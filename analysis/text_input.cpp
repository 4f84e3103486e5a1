#include "analysis/text_input.h"

#include "byte_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace varnok {

std::unique_ptr<TextModeInput> TextModeInput::Open(const std::string& path, bool regular_only) {
  // Opening a FIFO without a writer waits for one; O_NONBLOCK returns at once, and the mode is checked before reading.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (regular_only ? O_NONBLOCK : 0));
  if (fd < 0) return nullptr;
  return Over(fd, regular_only);
}

std::unique_ptr<TextModeInput> TextModeInput::FromDescriptor(int fd) {
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  return own < 0 ? nullptr : Over(own, false);
}

// Takes fd over. A regular file smaller than a block gets a buffer of its size: checking thousands of small
// files should not cost a large buffer each.
std::unique_ptr<TextModeInput> TextModeInput::Over(int fd, bool regular_only) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (regular_only && !S_ISREG(st.st_mode))) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<TextModeInput> input(new (std::nothrow) TextModeInput());
  if (input == nullptr) {
    ::close(fd);
    throw std::bad_alloc();
  }
  input->fd_ = fd;
  if (S_ISREG(st.st_mode)) {
    input->size_ = static_cast<std::uint64_t>(st.st_size);
    constexpr std::uint64_t kPage = 4096;
    input->block_size_ = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, (input->size_ / kPage + 1) * kPage));
  }
  input->buffer_.resize(input->block_size_ + kReadPadding);
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return input;
}

std::unique_ptr<TextModeInput> TextModeInput::FromMemory(std::string_view bytes, std::size_t block_size) {
  std::unique_ptr<TextModeInput> input(new TextModeInput());
  input->memory_.assign(bytes);
  input->size_ = bytes.size();
  input->block_size_ = std::max<std::size_t>(block_size, 1);
  input->buffer_.resize(input->block_size_ + kReadPadding);
  return input;
}

TextModeInput::~TextModeInput() {
  if (fd_ >= 0) ::close(fd_);
}

// Fills the buffer with the next block as text mode delivers it: the first 0x1A ends the input for
// good, and carriage returns are squeezed out in place. A block made only of carriage returns leaves
// nothing, so reading goes on until a character survives or the input ends.
bool TextModeInput::Refill() {
  pos_ = end_ = 0;
  while (!ended_) {
    std::size_t got = 0;
    if (fd_ >= 0) {
      ssize_t n;
      do {
        n = ::read(fd_, buffer_.data(), block_size_);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) {
        ended_ = true;
        failed_ = n < 0;
        break;
      }
      got = static_cast<std::size_t>(n);
    } else {
      got = std::min(block_size_, memory_.size() - memory_pos_);
      if (got == 0) {
        ended_ = true;
        break;
      }
      std::memcpy(buffer_.data(), memory_.data() + memory_pos_, got);
      memory_pos_ += got;
    }
    ++blocks_;
    bytes_read_ += got;
    char* data = buffer_.data();
    // One pass for the usual block that holds neither a carriage return nor 0x1A.
    if (FindEitherByte(data, got, '\r', 0x1A) == got) {
      end_ = got;
      return true;
    }
    if (const void* eof = std::memchr(data, 0x1A, got)) {
      got = static_cast<std::size_t>(static_cast<const char*>(eof) - data);
      ended_ = true;
    }
    char* out = static_cast<char*>(std::memchr(data, '\r', got));
    if (out != nullptr) {
      const char* in = out + 1;
      const char* const last = data + got;
      while (in < last) {
        const char* cr = static_cast<const char*>(std::memchr(in, '\r', static_cast<std::size_t>(last - in)));
        const char* stop = cr != nullptr ? cr : last;
        const std::size_t run = static_cast<std::size_t>(stop - in);
        std::memmove(out, in, run);
        out += run;
        in = stop + 1;
      }
      got = static_cast<std::size_t>(out - data);
    }
    end_ = got;
    if (got > 0) return true;
  }
  return false;
}

}  // namespace varnok
