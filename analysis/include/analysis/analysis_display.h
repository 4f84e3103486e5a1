#pragma once

#include <cstdint>

namespace varnok {

// What an analysis run tells while it goes on: how far it has got, and whether to go on.
class AnalysisDisplay {
 public:
  virtual ~AnalysisDisplay() = default;

  // Told between blocks of input how many bytes of it the run has read and the input's size (0 when a stream does
  // not tell it in advance). Returning false cancels the run.
  virtual bool ShowProgress(std::uint64_t /*read*/, std::uint64_t /*size*/) { return true; }
};

}  // namespace varnok
