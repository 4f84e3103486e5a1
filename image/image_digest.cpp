#include "image/image_digest.h"

#include <libdeflate.h>
#include <openssl/evp.h>

#include <algorithm>
#include <new>

namespace varnok {
namespace {

// Large enough that the per-call costs of both libraries vanish, small enough to stay in the cache.
constexpr std::size_t kFillBlock = std::size_t{64} << 10;

// The libraries take lengths of size_t but are fed in pieces that no caller's int arithmetic can overflow.
constexpr std::size_t kPiece = std::size_t{1} << 30;

}  // namespace

DigestStream::DigestStream() : sha_(EVP_MD_CTX_new()) {
  if (sha_ == nullptr || EVP_DigestInit_ex(sha_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(sha_);
    throw std::bad_alloc();
  }
}

DigestStream::~DigestStream() { EVP_MD_CTX_free(sha_); }

void DigestStream::Update(const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const std::size_t piece = std::min(length, kPiece);
    crc_ = libdeflate_crc32(crc_, data, piece);
    EVP_DigestUpdate(sha_, data, piece);
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
  digest.crc32 = crc_;
  unsigned int size = 0;
  EVP_DigestFinal_ex(sha_, digest.sha256.data(), &size);
  EVP_DigestInit_ex(sha_, EVP_sha256(), nullptr);
  crc_ = 0;
  return digest;
}

std::optional<ImageDigest> DigestImage(const MapGrid& grid, std::uint8_t fill, bool per_range) {
  const std::vector<AddressRange>& regions = grid.Regions();
  if (regions.empty()) return std::nullopt;
  ImageDigest result;
  result.range = AddressRange{regions.front().first, regions.back().last};
  DigestStream image;
  std::optional<DigestStream> range;
  if (per_range) range.emplace();
  PageCursor cursor;
  std::uint64_t end = 0;  // the map offset after the last region digested
  for (const AddressRange& region : regions) {
    const std::uint64_t first = region.first - grid.BaseAddress();
    if (&region != &regions.front()) image.Fill(fill, first - end);
    end = first + region.Size();
    // A region's spans follow one another without a gap.
    for (std::optional<FilledSpan> span = grid.SpanFrom(first, cursor); span && span->offset < end;
         span = grid.SpanFrom(span->offset + span->length, cursor)) {
      image.Update(span->data, span->length);
      if (range) range->Update(span->data, span->length);
    }
    if (range) result.ranges.push_back(RangeDigest{region, range->Finish()});
  }
  result.image = image.Finish();
  return result;
}

}  // namespace varnok
