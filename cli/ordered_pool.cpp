#include "ordered_pool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace varnok {

// Whichever thread finishes the next index in line consumes it and every finished one after it, so that no thread
// waits for another to consume.
bool RunInOrder(std::size_t count, std::size_t threads, std::size_t cores,
                const std::function<void(std::size_t)>& produce, const std::function<bool(std::size_t)>& consume) {
  // Production may run ahead of consumption by this many indexes: enough to keep every thread busy while one slow
  // result is consumed, few enough that finished results do not pile up in memory.
  const std::size_t window = 2 * threads;
  std::vector<char> done(count, 0);
  std::mutex mutex;
  std::condition_variable room;     // a result was consumed, or the consuming stopped
  std::condition_variable started;  // every index has been taken, or the consuming stopped
  std::size_t next_index = 0;
  std::size_t consumed = 0;
  std::size_t finished = 0;  // productions finished
  bool consuming = false;
  bool stop = false;

  auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      room.wait(lock, [&] { return stop || next_index == count || next_index < consumed + window; });
      if (stop || next_index == count) return;
      const std::size_t index = next_index++;
      if (next_index == count) {
        room.notify_all();  // whoever waits for room now ends
        started.notify_one();
      }
      lock.unlock();
      produce(index);
      lock.lock();
      done[index] = 1;
      ++finished;
      if (consuming) continue;
      consuming = true;
      while (!stop && consumed < count && done[consumed] != 0) {
        const std::size_t next = consumed;
        lock.unlock();
        const bool go_on = consume(next);
        lock.lock();
        ++consumed;
        stop = !go_on;
        // One consumed result makes room for one more index: waking every waiting thread for it would only send
        // all but one back to sleep.
        if (stop) {
          room.notify_all();
          started.notify_one();
        } else {
          room.notify_one();
        }
      }
      consuming = false;
    }
  };

  std::vector<std::thread> pool;
  pool.reserve(threads);
  const auto start_threads = [&](std::size_t more) {
    for (std::size_t t = 0; t < more; ++t) {
      try {
        pool.emplace_back(work);
      } catch (const std::system_error&) {
        return false;  // fewer threads than asked for still do the work
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    return true;
  };
  // Threads beyond the cores only pay when productions wait (a FIFO without its writer yet, a slow disk); starting
  // them all at once would cost more than many small files take. So they start when no production has finished for
  // a while although indexes wait to be taken, twice as many each time, up to the number asked for.
  bool can_grow = start_threads(std::min<std::size_t>(threads, cores));
  if (pool.empty()) return false;
  {
    constexpr auto kStall = std::chrono::milliseconds(10);
    std::unique_lock<std::mutex> lock(mutex);
    std::size_t seen = finished;
    while (can_grow && pool.size() < threads) {
      if (started.wait_for(lock, kStall, [&] { return stop || next_index == count; })) break;
      const bool stalled = finished == seen && next_index < consumed + window;
      seen = finished;
      if (!stalled) continue;
      lock.unlock();
      can_grow = start_threads(std::min(pool.size(), threads - pool.size()));
      lock.lock();
    }
  }
  for (std::thread& thread : pool) thread.join();
  return true;
}

}  // namespace varnok
