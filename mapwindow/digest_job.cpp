#include "digest_job.h"

#include <exception>
#include <new>
#include <utility>

#include "image/image_digest.h"
#include "text/line_text.h"

namespace varnok {

namespace {

// The byte varnok-scan fills the gaps of an image with unless told otherwise.
constexpr std::uint8_t kFill = 0xFF;

void AddDigestLines(std::vector<std::string>& lines, const std::string& prefix, const Digest& digest) {
  lines.push_back(prefix + "CRC-32: 0x" + HexText(digest.crc, 8));
  lines.push_back(prefix + "SHA-256: " + LowerHexText(digest.sha256));
}

}  // namespace

DigestLines MapDigestLines(const MapGrid& map, const std::vector<MemoryRegion>& regions,
                           const std::atomic<bool>& stop) {
  DigestLines result;
  // The one place the window digests a map, so that another digest path can take its place alone.
  const std::optional<ImageDigest> image = DigestImage(map, kFill, false);
  if (!image) return result;
  result.lines.push_back("Image: " + AddressText(image->range.first) + " - " + AddressText(image->range.last) +
                         ", gaps filled with 0x" + HexText(kFill, 2));
  AddDigestLines(result.lines, std::string(), image->image);
  for (const MemoryRegion& region : regions) {
    if (stop) {
      result.cancelled = true;
      return result;
    }
    if (const std::optional<Digest> digest = DigestRegion(map, region.origin, region.length, kFill)) {
      AddDigestLines(result.lines, "Region " + EscapeValue(region.name) + " ", *digest);
    }
  }
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
