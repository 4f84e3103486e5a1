#include "image/image_digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "address_spans.h"
#include "text/line_text.h"

namespace varnok {
namespace {

// Large enough that the per-call costs of both libraries vanish, small enough to stay in the cache.
constexpr std::size_t kFillBlock = std::size_t{64} << 10;

// The libraries take lengths of size_t but are fed in pieces that no caller's int arithmetic can overflow.
constexpr std::size_t kPiece = std::size_t{1} << 30;

// The addresses from `first` up to `end`, exclusive.
AddressRange Range(std::uint64_t first, std::uint64_t end) {
  return AddressRange{static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(end - 1)};
}

// The library's SHA-256, found once for the whole program. Where the library fails to start, finding it would
// crash inside the library, so its start is checked first; a failed start throws, and the library remembers it.
const EVP_MD* Sha256() {
  static const EVP_MD* const sha256 = [] {
    if (OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr) != 1 || OSSL_LIB_CTX_get0_global_default() == nullptr) {
      throw std::bad_alloc();
    }
    const EVP_MD* found = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (found == nullptr) throw std::bad_alloc();
    return found;
  }();
  return sha256;
}

EVP_MD_CTX* NewSha256Context() {
  const EVP_MD* sha256 = Sha256();
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context == nullptr || EVP_DigestInit_ex(context, sha256, nullptr) != 1) {
    EVP_MD_CTX_free(context);
    throw std::bad_alloc();
  }
  return context;
}

}  // namespace

void PrepareDigests() { Sha256(); }

DigestStream::DigestStream(CrcKind crc, std::uint8_t pad) : sha_(NewSha256Context()), crc_(crc, pad) {}

DigestStream::~DigestStream() { EVP_MD_CTX_free(sha_); }

void DigestStream::Update(const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const std::size_t piece = std::min(length, kPiece);
    crc_.Update(data, piece);
    if (EVP_DigestUpdate(sha_, data, piece) != 1) throw std::bad_alloc();
    data += piece;
    length -= piece;
  }
}

void DigestStream::Fill(std::uint8_t byte, std::uint64_t count) {
  if (count == 0) return;
  if (fill_block_.empty() || fill_byte_ != byte) {
    fill_block_.assign(kFillBlock, byte);
    fill_byte_ = byte;
  }
  for (; count >= kFillBlock; count -= kFillBlock) Update(fill_block_.data(), kFillBlock);
  Update(fill_block_.data(), static_cast<std::size_t>(count));
}

Digest DigestStream::Finish() {
  Digest digest;
  digest.crc = crc_.Value();
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(sha_, digest.sha256.data(), &size) != 1 || EVP_DigestInit_ex(sha_, Sha256(), nullptr) != 1) {
    throw std::bad_alloc();
  }
  crc_.Restart();
  return digest;
}

std::unique_ptr<DigestStream> DigestStream::Fork() const {
  auto fork = std::make_unique<DigestStream>(crc_.Kind());
  if (EVP_MD_CTX_copy_ex(fork->sha_, sha_) != 1) throw std::bad_alloc();
  fork->crc_ = crc_;
  return fork;
}

DigestSink::DigestSink(std::uint8_t fill, bool per_range, CrcKind crc, std::vector<MemoryRegion> regions,
                       std::vector<bool> wanted)
    : fill_(fill), crc_(crc), image_(crc, fill) {
  if (per_range) range_.emplace(crc, fill);
  regions_.reserve(regions.size());
  for (std::size_t i = 0; i < regions.size(); ++i) {
    RegionStream& region = regions_.emplace_back();
    region.origin = regions[i].origin;
    region.end = std::uint64_t{regions[i].origin} + regions[i].length;
    if (wanted.empty() || wanted[i]) waiting_.push_back(i);
  }
  region_digests_.resize(regions_.size());
  // Each block then meets only the regions it reaches and those the image has not left: the work grows with the
  // regions plus the blocks, not with their product.
  std::stable_sort(waiting_.begin(), waiting_.end(),
                   [&](std::size_t a, std::size_t b) { return regions_[a].origin > regions_[b].origin; });
}

DigestSink::~DigestSink() = default;

bool DigestSink::Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
  return gathered_.Take(address, length, data);
}

bool DigestSink::Blocks::Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
  try {
    sink_.DigestBlock(address, static_cast<std::size_t>(length), data);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void DigestSink::EndRun() {
  if (range_) ranges_.push_back(RangeDigest{Range(run_, end_), range_->Finish()});
}

void DigestSink::EndRegion(std::size_t i) {
  RegionStream& region = regions_[i];
  if (!region.stream) return;
  region.stream->Fill(fill_, region.end - region.at);
  region_digests_[i] = region.stream->Finish();
  region.stream.reset();
}

void DigestSink::DigestBlock(std::uint32_t address, std::size_t size, const std::uint8_t* data) {
  const std::uint64_t end = std::uint64_t{address} + size;
  // A region that shares the image's stream goes apart where the image leaves it, before the gap up to this
  // block is filled.
  while (!sharing_.empty() && end > regions_[sharing_.back()].end) {
    RegionStream& region = regions_[sharing_.back()];
    region.stream = image_.Fork();
    region.at = end_;
    open_.push_back(sharing_.back());
    sharing_.pop_back();
  }
  const bool first = !started_;
  if (first) {
    started_ = true;
    first_ = run_ = end_ = address;
  } else if (address != end_) {
    EndRun();
    image_.Fill(fill_, address - end_);
    run_ = address;
  }
  for (; !waiting_.empty() && regions_[waiting_.back()].origin < end; waiting_.pop_back()) {
    open_.push_back(waiting_.back());
  }
  std::size_t kept = 0;
  for (const std::size_t i : open_) {
    RegionStream& region = regions_[i];
    const std::uint64_t from = std::max<std::uint64_t>(address, region.origin);
    const std::uint64_t to = std::min(end, region.end);
    if (from < to) {
      if (!region.stream) {
        if (first && address == region.origin && end <= region.end) {
          sharing_.push_back(i);
          continue;
        }
        region.stream = std::make_unique<DigestStream>(crc_, fill_);
        region.at = region.origin;
      }
      region.stream->Fill(fill_, from - region.at);
      region.stream->Update(data + (from - address), static_cast<std::size_t>(to - from));
      region.at = to;
    }
    // No later block reaches back into a region that ends here.
    if (region.end <= end) {
      EndRegion(i);
    } else {
      open_[kept++] = i;
    }
  }
  open_.resize(kept);
  if (first) {
    std::stable_sort(sharing_.begin(), sharing_.end(),
                     [&](std::size_t a, std::size_t b) { return regions_[a].end > regions_[b].end; });
  }
  image_.Update(data, size);
  if (range_) range_->Update(data, size);
  end_ = end;
}

DigestSink::Result DigestSink::Finish() {
  if (!gathered_.Flush()) throw std::bad_alloc();
  Result result;
  if (started_) {
    for (const std::size_t i : sharing_) {
      regions_[i].stream = image_.Fork();
      regions_[i].at = end_;
      EndRegion(i);
    }
    for (const std::size_t i : open_) EndRegion(i);
    EndRun();
    result.image = ImageDigest{Range(first_, end_), image_.Finish(), std::move(ranges_)};
  }
  result.regions = std::move(region_digests_);
  result.regions.resize(regions_.size());
  return result;
}

DigestSink::Result DigestMap(const MapGrid& grid, DigestSink& sink) {
  AddressSpans spans(grid);
  for (std::optional<FilledSpan> span = spans.From(0); span; span = spans.From(span->offset + span->length)) {
    // A length the sink takes fits an int32_t.
    for (std::uint32_t at = 0; at < span->length; at += static_cast<std::uint32_t>(kPiece)) {
      const auto length = static_cast<std::int32_t>(std::min<std::uint64_t>(kPiece, span->length - at));
      if (!sink.Take(static_cast<std::uint32_t>(span->offset + at), length, span->data + at)) throw std::bad_alloc();
    }
  }
  return sink.Finish();
}

std::vector<std::string> DigestReportLines(const std::optional<ImageDigest>& image,
                                           const std::vector<std::optional<Digest>>& region_digests,
                                           const std::vector<MemoryRegion>& regions, std::uint8_t fill,
                                           CrcKind crc) {
  std::vector<std::string> lines;
  const auto add = [&](const std::string& prefix, const Digest& digest) {
    lines.push_back(prefix + CrcLabel(crc) + ": " + CrcText(crc, digest.crc));
    lines.push_back(prefix + "SHA-256: " + LowerHexText(digest.sha256));
  };
  if (image) {
    lines.push_back("Image: " + AddressText(image->range.first) + " - " + AddressText(image->range.last) +
                    ", gaps filled with 0x" + HexText(fill, 2));
    add(std::string(), image->image);
  }
  for (std::size_t i = 0; i < region_digests.size() && i < regions.size(); ++i) {
    if (region_digests[i]) add("Region " + EscapeValue(regions[i].name) + " ", *region_digests[i]);
  }
  return lines;
}

}  // namespace varnok
