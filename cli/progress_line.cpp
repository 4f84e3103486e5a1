#include "progress_line.h"

#include <algorithm>

namespace varnok {
namespace {

// Returns to the start of the line and clears it to its end.
constexpr const char* kEraseLine = "\r\x1b[K";

// A few updates a second are enough to read; more would only cost.
constexpr auto kRunUpdate = std::chrono::milliseconds(100);

std::string Megabytes(std::uint64_t bytes) { return std::to_string(bytes / 1000000); }

}  // namespace

void ProgressLine::Show(std::size_t input, const std::string& name, std::uint64_t read, std::uint64_t size, double seconds) {
  if (!Enabled() || size == 0 || ShowsRun()) return;
  const std::uint64_t percent = std::min<std::uint64_t>(100, read * 100 / size);
  const std::uint64_t rate = seconds > 0 ? static_cast<std::uint64_t>(static_cast<double>(read) / seconds / 1e6) : 0;
  const std::string figures = ": " + std::to_string(percent) + " %, " + std::to_string(rate) + " MB/s";
  // The line must never wrap, or returning to its start would not erase it: a long name keeps its end.
  const std::size_t room = static_cast<std::size_t>(columns_ - 1) > figures.size()
                               ? static_cast<std::size_t>(columns_ - 1) - figures.size()
                               : 0;
  std::string text = name;
  if (text.size() > room) text = room > 3 ? "..." + text.substr(text.size() - (room - 3)) : std::string();
  text += figures;
  const std::lock_guard<std::mutex> lock(mutex_);
  DrawLocked(std::move(text));
  shown_ = input;
}

void ProgressLine::StartRun(std::size_t files, std::uint64_t bytes) {
  // Runs as small as one small input finish too soon to need the line.
  if (!Enabled() || files < 2 || bytes <= kMinSize) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  run_files_ = files;
  run_bytes_ = bytes;
  files_done_ = 0;
  bytes_read_ = 0;
  read_.assign(files, 0);
  run_start_ = std::chrono::steady_clock::now();
}

void ProgressLine::RunRead(std::size_t input, std::uint64_t read) {
  if (!ShowsRun()) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (read > read_[input]) {
    bytes_read_ += read - read_[input];
    read_[input] = read;
  }
  ShowRunLocked();
}

void ProgressLine::ShowRunLocked() {
  const auto now = std::chrono::steady_clock::now();
  if (now - run_shown_ < kRunUpdate) return;
  run_shown_ = now;
  const double seconds = std::chrono::duration<double>(now - run_start_).count();
  const std::uint64_t rate = seconds > 0 ? static_cast<std::uint64_t>(static_cast<double>(bytes_read_) / seconds / 1e6) : 0;
  std::string text = std::to_string(files_done_) + " of " + std::to_string(run_files_) + " files, " +
                     Megabytes(bytes_read_);
  if (run_bytes_ >= bytes_read_) text += " of " + Megabytes(run_bytes_);
  text += " MB, " + std::to_string(rate) + " MB/s";
  DrawLocked(std::move(text));
  shown_ = kRun;
}

void ProgressLine::DrawLocked(std::string text) {
  if (text.size() > static_cast<std::size_t>(columns_ - 1)) text.resize(static_cast<std::size_t>(columns_ - 1));
  err_ << kEraseLine << text << std::flush;
}

void ProgressLine::Finish(std::size_t input) {
  if (!Enabled()) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (ShowsRun()) {
    ++files_done_;
    ShowRunLocked();
    return;
  }
  if (shown_ == input) EraseLocked();
}

void ProgressLine::EndRun() {
  if (!Enabled()) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  EraseLocked();
}

void ProgressLine::EraseLocked() {
  if (shown_ == kNone) return;
  err_ << kEraseLine << std::flush;
  shown_ = kNone;
}

}  // namespace varnok
