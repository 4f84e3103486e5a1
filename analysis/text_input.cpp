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
  input->data_ = input->buffer_.data();
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
  input->data_ = input->buffer_.data();
  return input;
}

std::unique_ptr<TextModeInput> TextModeInput::OverText(const char* text, std::size_t size, std::vector<ReadMark> marks,
                                                       bool failed) {
  std::unique_ptr<TextModeInput> input(new TextModeInput());
  input->over_text_ = true;
  input->data_ = text;
  input->size_ = size;
  input->ended_ = true;
  input->failed_ = failed;
  input->marks_ = std::move(marks);
  input->end_ = input->marks_.empty() ? size : std::min(size, input->marks_.front().offset);
  return input;
}

TextModeInput::~TextModeInput() {
  if (fd_ >= 0) ::close(fd_);
}

std::ptrdiff_t TextModeInput::ReadBlock(char* out) {
  if (ended_) return -1;
  std::size_t got = 0;
  if (fd_ >= 0) {
    ssize_t n;
    do {
      n = ::read(fd_, out, block_size_);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      ended_ = true;
      failed_ = n < 0;
      return -1;
    }
    got = static_cast<std::size_t>(n);
  } else {
    got = std::min(block_size_, memory_.size() - memory_pos_);
    if (got == 0) {
      ended_ = true;
      return -1;
    }
    std::memcpy(out, memory_.data() + memory_pos_, got);
    memory_pos_ += got;
  }
  ++blocks_;
  bytes_read_ += got;
  // One pass for the usual block that holds neither a carriage return nor 0x1A.
  if (FindEitherByte(out, got, '\r', 0x1A) == got) return static_cast<std::ptrdiff_t>(got);
  if (const void* eof = std::memchr(out, 0x1A, got)) {
    got = static_cast<std::size_t>(static_cast<const char*>(eof) - out);
    ended_ = true;
  }
  char* kept = static_cast<char*>(std::memchr(out, '\r', got));
  if (kept != nullptr) {
    const char* in = kept + 1;
    const char* const last = out + got;
    while (in < last) {
      const char* cr = static_cast<const char*>(std::memchr(in, '\r', static_cast<std::size_t>(last - in)));
      const char* stop = cr != nullptr ? cr : last;
      const std::size_t run = static_cast<std::size_t>(stop - in);
      std::memmove(kept, in, run);
      kept += run;
      in = stop + 1;
    }
    got = static_cast<std::size_t>(kept - out);
  }
  return static_cast<std::ptrdiff_t>(got);
}

// Fills the buffer with the next block as text mode delivers it: the first 0x1A ends the input for good, and
// carriage returns are squeezed out in place. A block made only of carriage returns leaves nothing, so reading goes
// on until a character survives or the input ends.
bool TextModeInput::Refill() {
  if (over_text_) return NextMark();
  pos_ = end_ = 0;
  for (;;) {
    const std::ptrdiff_t got = ReadBlock(buffer_.data());
    if (got < 0) return false;
    if (got > 0) {
      end_ = static_cast<std::size_t>(got);
      return true;
    }
  }
}

// Shows the text up to the next mark not yet reached; the marks at one offset stand for blocks that text mode
// emptied, read together with the one after them.
bool TextModeInput::NextMark() {
  while (next_mark_ < marks_.size() && marks_[next_mark_].offset <= end_) {
    blocks_ = marks_[next_mark_].blocks;
    bytes_read_ = marks_[next_mark_].bytes_read;
    ++next_mark_;
  }
  end_ = next_mark_ < marks_.size() ? std::min(static_cast<std::size_t>(size_), marks_[next_mark_].offset)
                                    : static_cast<std::size_t>(size_);
  return end_ > pos_;
}

}  // namespace varnok
