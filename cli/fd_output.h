#pragma once

#include <streambuf>
#include <vector>

namespace varnok {

// A buffered stream buffer over a file descriptor (standard output) that remembers why writing failed: after the
// first failed write it drops everything, and the stream reports the failure.
class FdOutputBuffer : public std::streambuf {
 public:
  explicit FdOutputBuffer(int fd);
  ~FdOutputBuffer() override;
  FdOutputBuffer(const FdOutputBuffer&) = delete;
  FdOutputBuffer& operator=(const FdOutputBuffer&) = delete;

  // The errno of the first failed write; 0 while every write succeeded.
  int Error() const { return error_; }

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;
  std::streamsize xsputn(const char_type* data, std::streamsize count) override;

 private:
  bool Drain();
  bool WriteAll(const char* data, std::size_t count);

  static constexpr std::size_t kLargePipeBytes = std::size_t{1} << 20;

  int fd_;
  int error_ = 0;
  bool pipe_grown_ = false;
  std::vector<char> buffer_;
};

}  // namespace varnok
