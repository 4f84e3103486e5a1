#pragma once

#include <cstddef>
#include <functional>

namespace varnok {

// Runs produce(0) .. produce(count - 1) on up to `threads` threads and calls consume(i) once produce(i) and every
// consume before it have returned, on whichever thread finished the next one in line; consume returning false stops
// the run. Starts at most `cores` threads at first and more only while the work waits. False when no thread could
// be started, and then nothing ran.
bool RunInOrder(std::size_t count, std::size_t threads, std::size_t cores,
                const std::function<void(std::size_t)>& produce, const std::function<bool(std::size_t)>& consume);

}  // namespace varnok
