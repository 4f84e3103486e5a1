#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// Where a read block's characters begin in a stretch of text that text mode already delivered, and what Blocks()
// and BytesRead() of the input it came from told once it was read.
struct ReadMark {
  std::size_t offset = 0;
  std::uint64_t blocks = 0;
  std::uint64_t bytes_read = 0;
};

// Reads a file as the C runtime's "rt" text mode delivers it: every carriage-return byte is removed
// wherever it stands, and the first byte 0x1A ends the input. Reads in large blocks.
class TextModeInput {
 public:
  // The largest read block.
  static constexpr std::size_t kBlockSize = 128 * 1024;
  static constexpr int kEof = -1;
  // Bytes after the end of what Peek() shows that may be read (and must be ignored) by 32-byte scans.
  static constexpr std::size_t kReadPadding = 32;

  // nullptr when the file cannot be opened for reading. With regular_only, anything but a regular file (a FIFO,
  // a device, a folder) is refused without waiting for it; otherwise only a folder is.
  static std::unique_ptr<TextModeInput> Open(const std::string& path, bool regular_only = false);
  // An input over an open descriptor (standard input), which it reads through a copy of its own; nullptr when the
  // descriptor is not open or is a folder.
  static std::unique_ptr<TextModeInput> FromDescriptor(int fd);
  // An input over bytes held in memory (copied), handed out in read blocks of block_size bytes (at least 1).
  static std::unique_ptr<TextModeInput> FromMemory(std::string_view bytes, std::size_t block_size = kBlockSize);
  // An input over `size` characters at text that text mode already delivered (not copied: they must stay valid,
  // with kReadPadding readable bytes after them), handed out as they were read: the characters from a mark's offset
  // on show only once the reader asks for more, and Blocks() and BytesRead() then tell the mark's counts. The
  // characters before the first mark show at once. It ends after `size` characters, as failed when failed is set.
  static std::unique_ptr<TextModeInput> OverText(const char* text, std::size_t size, std::vector<ReadMark> marks,
                                                 bool failed);

  ~TextModeInput();
  TextModeInput(const TextModeInput&) = delete;
  TextModeInput& operator=(const TextModeInput&) = delete;

  // The next character (0..255), or kEof.
  int Get() {
    if (pos_ == end_ && !Refill()) return kEof;
    return static_cast<unsigned char>(data_[pos_++]);
  }

  // The characters buffered and not yet taken; empty only at the end of the input.
  std::string_view Peek() {
    if (pos_ == end_) Refill();
    return std::string_view(data_ + pos_, end_ - pos_);
  }
  // Takes n characters of what Peek() showed.
  void Skip(std::size_t n) { pos_ += n; }
  // What Peek() would show, without reading more when nothing is left.
  std::string_view Buffered() const { return std::string_view(data_ + pos_, end_ - pos_); }

  // Whether reading stopped at an error rather than at the end of the input.
  bool Failed() const { return failed_; }

  // The blocks read so far; it changes whenever new input has been read.
  std::uint64_t Blocks() const { return blocks_; }
  // The bytes read from the input so far, before text mode removed anything.
  std::uint64_t BytesRead() const { return bytes_read_; }
  // The input's size when it is known in advance (a regular file, bytes in memory); 0 otherwise.
  std::uint64_t Size() const { return size_; }

  // The largest block one read takes.
  std::size_t BlockSize() const { return block_size_; }
  // Reads the next block into out (room for BlockSize() + kReadPadding bytes) as text mode delivers it and returns
  // the characters left there, 0 when text mode removed every one; -1 once the input has ended. For a reader that
  // keeps the characters itself: it never mixes with Get() and Peek().
  std::ptrdiff_t ReadBlock(char* out);

 private:
  TextModeInput() = default;
  static std::unique_ptr<TextModeInput> Over(int fd, bool regular_only);
  bool Refill();
  bool NextMark();

  int fd_ = -1;
  std::string memory_;  // the whole input when it was given in memory
  std::size_t memory_pos_ = 0;
  bool ended_ = false;  // 0x1A seen, end of file or a read error
  bool failed_ = false;
  std::uint64_t blocks_ = 0;
  std::uint64_t bytes_read_ = 0;
  std::uint64_t size_ = 0;
  std::size_t block_size_ = kBlockSize;
  std::vector<char> buffer_;
  const char* data_ = nullptr;  // what Peek() shows from: buffer_, or the text of OverText
  std::vector<ReadMark> marks_;  // OverText's marks not yet reached
  std::size_t next_mark_ = 0;
  bool over_text_ = false;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
};

}  // namespace varnok
