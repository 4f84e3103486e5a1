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
  std::optional<FilledSpan> span = grid.SpanFrom(0);
  if (!span) return std::nullopt;
  ImageDigest result;
  DigestStream image;
  std::optional<DigestStream> range;
  if (per_range) range.emplace();
  const std::uint32_t base = grid.BaseAddress();
  std::uint64_t range_first = span->offset;
  std::uint64_t end = span->offset;  // one past the last offset digested
  const auto close_range = [&] {
    result.ranges.push_back(RangeDigest{base + static_cast<std::uint32_t>(range_first),
                                        base + static_cast<std::uint32_t>(end - 1), range->Finish()});
  };
  result.first = base + static_cast<std::uint32_t>(span->offset);
  for (; span; span = grid.SpanFrom(end)) {
    if (span->offset != end) {
      image.Fill(fill, span->offset - end);
      if (range) {
        close_range();
        range_first = span->offset;
      }
    }
    image.Update(span->data, span->length);
    if (range) range->Update(span->data, span->length);
    end = span->offset + span->length;
  }
  if (range) close_range();
  result.last = base + static_cast<std::uint32_t>(end - 1);
  result.image = image.Finish();
  return result;
}

}  // namespace varnok
