#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace varnok {

// The one updating line on a terminal's standard error that tells how far a large input has got, or with several
// inputs how far the whole run has got. Safe to use from several threads.
class ProgressLine {
 public:
  // Inputs up to this size finish too soon to need a progress line.
  static constexpr std::uint64_t kMinSize = std::uint64_t{64} << 20;

  // columns is the terminal's width; 0 (standard error is not a terminal) shows nothing ever.
  ProgressLine(std::ostream& err, int columns) : err_(err), columns_(columns) {}

  bool Enabled() const { return columns_ > 0; }

  // Makes the line show the whole run of `files` inputs, `bytes` in all (what their sizes tell beforehand), when
  // there are several and bytes is over kMinSize: files done of all and bytes read. Called again, it starts over, as
  // for inputs read again.
  void StartRun(std::size_t files, std::uint64_t bytes);
  bool ShowsRun() const { return run_files_ > 1; }
  // Tells that input number `input` has read `read` bytes, for the line of the whole run.
  void RunRead(std::size_t input, std::uint64_t read);
  // Erases the line of the whole run, at its end.
  void EndRun();

  // Shows that `read` of the `size` bytes of input number `input`, called `name`, were read in `seconds`.
  void Show(std::size_t input, const std::string& name, std::uint64_t read, std::uint64_t size, double seconds);
  // Erases the line if it shows input number `input`; with the whole run shown, counts the input as done.
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
  // Writes text as the line, cut to the terminal's width keeping its end.
  void DrawLocked(std::string text);
  void ShowRunLocked();

  std::ostream& err_;
  const int columns_;
  std::mutex mutex_;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t shown_ = kNone;  // the input the line shows; kRun for the whole run
  static constexpr std::size_t kRun = static_cast<std::size_t>(-2);
  std::size_t run_files_ = 0;
  std::uint64_t run_bytes_ = 0;
  std::size_t files_done_ = 0;
  std::uint64_t bytes_read_ = 0;
  std::vector<std::uint64_t> read_;  // by input
  std::chrono::steady_clock::time_point run_start_;
  std::chrono::steady_clock::time_point run_shown_;  // the epoch until first shown
};

}  // namespace varnok
