#include "progress_line.h"

#include <algorithm>

namespace varnok {
namespace {

// Returns to the start of the line and clears it to its end.
constexpr const char* kEraseLine = "\r\x1b[K";

}  // namespace

void ProgressLine::Show(std::size_t input, const std::string& name, std::uint64_t read, std::uint64_t size, double seconds) {
  if (!Enabled() || size == 0) return;
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
  if (text.size() > static_cast<std::size_t>(columns_ - 1)) text.resize(static_cast<std::size_t>(columns_ - 1));
  const std::lock_guard<std::mutex> lock(mutex_);
  err_ << kEraseLine << text << std::flush;
  shown_ = input;
}

void ProgressLine::Finish(std::size_t input) {
  if (!Enabled()) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (shown_ == input) EraseLocked();
}

void ProgressLine::EraseLocked() {
  if (shown_ == kNone) return;
  err_ << kEraseLine << std::flush;
  shown_ = kNone;
}

}  // namespace varnok
