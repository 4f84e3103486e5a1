#include "mapwindow/job_slot.h"

namespace varnok {

std::thread StartThread(std::function<void()> work) { return std::thread(std::move(work)); }

JobSlot::~JobSlot() {
  // The job's destructor stops it and waits for its thread; its end no longer reaches a handler.
  Cancel();
  job_.reset();
}

}  // namespace varnok
