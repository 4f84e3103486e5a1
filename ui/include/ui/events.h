#pragma once

namespace varnok::ui {

// Handles every pending window event of the current thread until the queue is empty, from inside a handler.
void ProcessPendingEvents();

}  // namespace varnok::ui
