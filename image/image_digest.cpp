#include "image/image_digest.h"

#include <libdeflate.h>
#include <openssl/evp.h>

#include <algorithm>
#include <new>
#include <utility>

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

namespace {

// Digests spans handed over in ascending address order, none overlapping: the image with its gaps filled and,
// when asked for, each maximal run of loaded addresses on its own.
class SpanDigester {
 public:
  SpanDigester(std::uint8_t fill, bool per_range) : fill_(fill) {
    if (per_range) range_.emplace();
  }

  // False, taking nothing, for a span that does not come after the ones before it.
  bool Add(std::uint64_t address, const std::uint8_t* data, std::size_t length) {
    if (length == 0) return true;
    if (started_ && address < end_) return false;
    if (!started_) {
      result_.first = static_cast<std::uint32_t>(address);
      range_first_ = address;
      started_ = true;
    } else if (address != end_) {
      image_.Fill(fill_, address - end_);
      if (range_) {
        CloseRange();
        range_first_ = address;
      }
    }
    image_.Update(data, length);
    if (range_) range_->Update(data, length);
    end_ = address + length;
    return true;
  }

  std::optional<ImageDigest> Finish() {
    if (!started_) return std::nullopt;
    if (range_) CloseRange();
    result_.last = static_cast<std::uint32_t>(end_ - 1);
    result_.image = image_.Finish();
    return std::move(result_);
  }

 private:
  void CloseRange() {
    result_.ranges.push_back(RangeDigest{static_cast<std::uint32_t>(range_first_), static_cast<std::uint32_t>(end_ - 1),
                                         range_->Finish()});
  }

  const std::uint8_t fill_;
  DigestStream image_;
  std::optional<DigestStream> range_;
  ImageDigest result_;
  bool started_ = false;
  std::uint64_t range_first_ = 0;
  std::uint64_t end_ = 0;  // one past the last address digested
};

}  // namespace

std::optional<ImageDigest> DigestImage(const MapGrid& grid, std::uint8_t fill, bool per_range) {
  SpanDigester digester(fill, per_range);
  const std::uint64_t base = grid.BaseAddress();
  for (std::optional<FilledSpan> span = grid.SpanFrom(0); span; span = grid.SpanFrom(span->offset + span->length)) {
    digester.Add(base + span->offset, span->data, span->length);
  }
  return digester.Finish();
}

std::optional<ImageDigest> DigestBlocksInOrder(const DataBlockStore& blocks, std::uint8_t fill, bool per_range) {
  SpanDigester digester(fill, per_range);
  for (const DataBlock block : blocks) {
    const auto length = static_cast<std::size_t>(block.Length);
    // A block past 0xFFFFFFFF goes on at 0 in the map, which only the map's order places.
    if (block.Address + std::uint64_t{length} > (std::uint64_t{1} << 32) ||
        !digester.Add(block.Address, block.Data, length)) {
      return std::nullopt;
    }
  }
  return digester.Finish();
}

}  // namespace varnok
