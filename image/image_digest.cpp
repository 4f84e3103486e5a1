#include "image/image_digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "address_spans.h"

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

std::optional<ImageDigest> DigestImage(const MapGrid& grid, std::uint8_t fill, bool per_range, CrcKind crc) {
  AddressSpans spans(grid);
  std::optional<FilledSpan> span = spans.From(0);
  if (!span) return std::nullopt;
  ImageDigest result;
  DigestStream image(crc, fill);
  std::optional<DigestStream> range;
  if (per_range) range.emplace(crc, fill);
  const std::uint64_t first = span->offset;
  std::uint64_t run = first;  // the first address of the run of loaded addresses being digested
  std::uint64_t end = first;  // the address after the last byte digested
  const auto end_run = [&] {
    if (range) result.ranges.push_back(RangeDigest{Range(run, end), range->Finish()});
  };
  for (; span; span = spans.From(end)) {
    if (span->offset != end) {
      end_run();
      image.Fill(fill, span->offset - end);
      run = span->offset;
    }
    image.Update(span->data, span->length);
    if (range) range->Update(span->data, span->length);
    end = span->offset + span->length;
  }
  end_run();
  result.range = Range(first, end);
  result.image = image.Finish();
  return result;
}

std::optional<Digest> DigestRegion(const MapGrid& grid, std::uint32_t origin, std::uint64_t length, std::uint8_t fill,
                                   CrcKind crc) {
  AddressSpans spans(grid);
  const std::uint64_t end = std::uint64_t{origin} + length;
  std::uint64_t at = origin;  // the address after the last byte digested
  bool holds = false;
  DigestStream stream(crc, fill);
  for (std::optional<FilledSpan> span = spans.From(at); span && span->offset < end; span = spans.From(at)) {
    stream.Fill(fill, span->offset - at);
    const std::uint64_t taken = std::min<std::uint64_t>(span->length, end - span->offset);
    stream.Update(span->data, static_cast<std::size_t>(taken));
    at = span->offset + taken;
    holds = true;
  }
  if (!holds) return std::nullopt;
  stream.Fill(fill, end - at);
  return stream.Finish();
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
    region.wanted = wanted.empty() || wanted[i];
  }
}

DigestSink::~DigestSink() = default;

void DigestSink::EndRun() {
  if (range_) ranges_.push_back(RangeDigest{Range(run_, end_), range_->Finish()});
}

bool DigestSink::Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
  if (length <= 0 || !in_order_) return true;
  const auto size = static_cast<std::size_t>(length);
  const std::uint64_t end = std::uint64_t{address} + size;
  if ((taken_ && address < taken_end_) || end > (std::uint64_t{1} << 32)) {
    in_order_ = false;
    return true;
  }
  taken_ = true;
  taken_end_ = end;
  try {
    // The digests' per-call costs would outweigh records of a few dozen bytes: those that follow one another are
    // digested together.
    if (gathered_ > 0 && address == gathered_at_ + gathered_ && gathered_ + size <= kGather) {
      std::memcpy(gather_.data() + gathered_, data, size);
      gathered_ += size;
      return true;
    }
    Flush();
    if (size >= kGather) {
      DigestBlock(address, size, data);
    } else {
      if (gather_.empty()) gather_.resize(kGather);
      std::memcpy(gather_.data(), data, size);
      gathered_at_ = address;
      gathered_ = size;
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void DigestSink::Flush() {
  if (gathered_ == 0) return;
  const std::size_t size = gathered_;
  gathered_ = 0;
  DigestBlock(gathered_at_, size, gather_.data());
}

void DigestSink::DigestBlock(std::uint32_t address, std::size_t size, const std::uint8_t* data) {
  const std::uint64_t end = std::uint64_t{address} + size;
  // A region that shares the image's stream goes apart where the image leaves it, before the gap up to this
  // block is filled.
  for (RegionStream& region : regions_) {
    if (!region.shares_image || end <= region.end) continue;
    region.shares_image = false;
    region.stream = image_.Fork();
    region.at = end_;
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
  for (RegionStream& region : regions_) {
    if (!region.wanted || region.shares_image) continue;
    const std::uint64_t from = std::max<std::uint64_t>(address, region.origin);
    const std::uint64_t to = std::min(end, region.end);
    if (from >= to) continue;
    if (!region.stream) {
      if (first && address == region.origin && end <= region.end) {
        region.shares_image = true;
        continue;
      }
      region.stream = std::make_unique<DigestStream>(crc_, fill_);
      region.at = region.origin;
    }
    region.stream->Fill(fill_, from - region.at);
    region.stream->Update(data + (from - address), static_cast<std::size_t>(to - from));
    region.at = to;
  }
  image_.Update(data, size);
  if (range_) range_->Update(data, size);
  end_ = end;
}

DigestSink::Result DigestSink::Finish() {
  Flush();
  Result result;
  result.regions.resize(regions_.size());
  if (!started_) return result;
  for (std::size_t i = 0; i < regions_.size(); ++i) {
    RegionStream& region = regions_[i];
    if (region.shares_image) {
      region.stream = image_.Fork();
      region.at = end_;
    }
    if (!region.stream) continue;
    region.stream->Fill(fill_, region.end - region.at);
    result.regions[i] = region.stream->Finish();
  }
  EndRun();
  result.image = ImageDigest{Range(first_, end_), image_.Finish(), std::move(ranges_)};
  return result;
}

}  // namespace varnok
