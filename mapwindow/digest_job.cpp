#include "digest_job.h"

#include <exception>
#include <new>
#include <utility>

#include "image/image_digest.h"

namespace varnok {

namespace {

// The byte varnok-scan fills the gaps of an image with unless told otherwise.
constexpr std::uint8_t kFill = 0xFF;

}  // namespace

DigestLines MapDigestLines(const MapGrid& map, const std::vector<MemoryRegion>& regions,
                           const std::atomic<bool>& stop) {
  DigestLines result;
  // The map's bytes go through the digest varnok-scan takes, and come out as the lines it prints.
  DigestSink sink(kFill, false, CrcKind::kCrc32, regions, {});
  const DigestSink::Result digests = DigestMap(map, sink);
  if (stop) {
    result.cancelled = true;
    return result;
  }
  result.lines = DigestReportLines(digests.image, digests.regions, regions, kFill, CrcKind::kCrc32);
  return result;
}

DigestJob::~DigestJob() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void DigestJob::Start(const ThreadStart& start) {
  thread_ = start([this] {
    DigestLines lines;
    // No exception may leave the thread: it would end the program. A digest without memory gives no lines.
    try {
      lines = MapDigestLines(map_, regions_, stop_);
    } catch (const std::bad_alloc&) {
      lines.lines.assign(1, "Digests: out of memory");
    } catch (const std::exception& error) {
      lines.lines.assign(1, std::string("Digests: ") + error.what());
    }
    if (stop_) lines.cancelled = true;
    emit finished(std::move(lines));
  });
}

}  // namespace varnok
