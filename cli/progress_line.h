#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

namespace varnok {

// The one updating line on a terminal's standard error that tells how far a large input has got. Files analysed
// at the same time take turns on it. Safe to use from several threads.
class ProgressLine {
 public:
  // Inputs up to this size finish too soon to need a progress line.
  static constexpr std::uint64_t kMinSize = std::uint64_t{64} << 20;

  // columns is the terminal's width; 0 (standard error is not a terminal) shows nothing ever.
  ProgressLine(std::ostream& err, int columns) : err_(err), columns_(columns) {}

  bool Enabled() const { return columns_ > 0; }

  // Shows that `read` of the `size` bytes of input number `input`, called `name`, were read in `seconds`.
  void Show(std::size_t input, const std::string& name, std::uint64_t read, std::uint64_t size, double seconds);
  // Erases the line if it shows input number `input`.
  void Finish(std::size_t input);

  // Runs write with the line erased, so that a report on the same terminal never runs into it.
  template <typename Write>
  void Without(Write write) {
    if (!Enabled()) {
      write();
      return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    EraseLocked();
    write();
  }

 private:
  void EraseLocked();

  std::ostream& err_;
  const int columns_;
  std::mutex mutex_;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t shown_ = kNone;  // the input the line shows
};

}  // namespace varnok
