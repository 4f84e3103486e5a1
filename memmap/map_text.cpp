#include "memmap/map_text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnok {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Every byte cell as it follows its separating blank: " .XY" for a filled byte. An unused cell is " FF", so its
// four bytes are copied and the fourth is overwritten by what follows.
struct CellTables {
  std::array<std::uint32_t, 256> filled{};
  std::array<char, 256> printable{};
  std::array<char, 512> hex_pairs{};
};

constexpr CellTables MakeTables() {
  CellTables t;
  for (std::uint32_t b = 0; b < 256; ++b) {
    const char hi = kHexDigits[b >> 4];
    const char lo = kHexDigits[b & 0x0F];
    t.filled[b] = std::uint32_t{' '} | std::uint32_t{'.'} << 8 | std::uint32_t(static_cast<unsigned char>(hi)) << 16 |
                  std::uint32_t(static_cast<unsigned char>(lo)) << 24;
    t.printable[b] = PrintableChar(static_cast<std::uint8_t>(b));
    t.hex_pairs[2 * b] = hi;
    t.hex_pairs[2 * b + 1] = lo;
  }
  return t;
}

constexpr CellTables kTables = MakeTables();
constexpr char kUnusedCell[4] = {' ', 'F', 'F', ' '};

inline char* PutCell(char* out, std::uint32_t cell) {
  std::memcpy(out, &cell, 4);
  return out + 4;
}

// The header row, made once: "Address" padded to the 8 digits of an address, the column numbers right-aligned in
// 3-character cells, then the ASCII column's title.
std::string MakeHeader() {
  std::string header = "Address ";
  for (std::uint32_t column = 0; column < MapGrid::kBytesPerRow; ++column) {
    header += "  ";
    header += kTables.hex_pairs[2 * column];
    header += kTables.hex_pairs[2 * column + 1];
  }
  header += " ~~~~~~~ ASCII ~~~~~~~";
  return header;
}

// A whole row's 32 cells and the ASCII column after its address: " .XY" for every byte, a blank, the characters.
char* PutWholeRow(const std::uint8_t* bytes, char* out) {
#if defined(__SSE2__)
  // Sixteen bytes at a time: the nibbles become digits by adding '0' and, above 9, 7 more; the cells are the
  // prefix " ." interleaved with the digit pairs.
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i zero_digit = _mm_set1_epi8('0');
  const __m128i letter_step = _mm_set1_epi8('A' - '0' - 10);
  const __m128i prefix = _mm_set1_epi16(static_cast<short>(' ' | '.' << 8));
  const __m128i blank = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  const __m128i dot = _mm_set1_epi8('.');
  const auto digits = [&](__m128i n) {
    return _mm_add_epi8(_mm_add_epi8(n, zero_digit), _mm_and_si128(_mm_cmpgt_epi8(n, nine), letter_step));
  };
  char* ascii = out + 4 * MapGrid::kBytesPerRow + 1;
  for (std::size_t half = 0; half < 2; ++half) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * half));
    const __m128i hi = digits(_mm_and_si128(_mm_srli_epi16(v, 4), nibble));
    const __m128i lo = digits(_mm_and_si128(v, nibble));
    const __m128i pairs_low = _mm_unpacklo_epi8(hi, lo);
    const __m128i pairs_high = _mm_unpackhi_epi8(hi, lo);
    auto* cells = reinterpret_cast<__m128i*>(out + 64 * half);
    _mm_storeu_si128(cells, _mm_unpacklo_epi16(prefix, pairs_low));
    _mm_storeu_si128(cells + 1, _mm_unpackhi_epi16(prefix, pairs_low));
    _mm_storeu_si128(cells + 2, _mm_unpacklo_epi16(prefix, pairs_high));
    _mm_storeu_si128(cells + 3, _mm_unpackhi_epi16(prefix, pairs_high));
    // Signed compares: bytes from 0x80 on are negative and so below the blank.
    const __m128i shown = _mm_and_si128(_mm_cmpgt_epi8(v, blank), _mm_cmplt_epi8(v, del));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(ascii + 16 * half),
                     _mm_or_si128(_mm_and_si128(shown, v), _mm_andnot_si128(shown, dot)));
  }
  out += 4 * MapGrid::kBytesPerRow;
#else
  for (std::size_t c = 0; c < MapGrid::kBytesPerRow; ++c) out = PutCell(out, kTables.filled[bytes[c]]);
  char* ascii = out + 1;
  for (std::size_t c = 0; c < MapGrid::kBytesPerRow; ++c) ascii[c] = kTables.printable[bytes[c]];
#endif
  *out = ' ';
  return ascii + MapGrid::kBytesPerRow;
}

}  // namespace

std::string_view MapTextHeader() {
  static const std::string header = MakeHeader();
  return header;
}

char* FormatMapRow(std::uint32_t address, const RowCells& cells, char* out) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    std::memcpy(out, &kTables.hex_pairs[2 * ((address >> shift) & 0xFF)], 2);
    out += 2;
  }
  const auto& bytes = cells.bytes;
  if (cells.filled == 0xFFFFFFFFu && cells.start_vector == 0) return PutWholeRow(bytes.data(), out);
  for (std::uint32_t c = 0; c < MapGrid::kBytesPerRow; ++c) {
    const std::uint32_t bit = 1u << c;
    if (cells.filled & bit) {
      out = PutCell(out, kTables.filled[bytes[c]]);
      if (cells.start_vector & bit) out[-3] = '!';
    } else if (cells.start_vector & bit) {
      out = PutCell(out, kTables.filled[0xFF]);
      out[-3] = '!';
    } else {
      std::memcpy(out, kUnusedCell, 4);
      out += 3;
    }
  }
  *out++ = ' ';
  for (std::uint32_t c = 0; c < MapGrid::kBytesPerRow; ++c) {
    out[c] = (cells.filled & (1u << c)) ? kTables.printable[bytes[c]] : '.';
  }
  return out + MapGrid::kBytesPerRow;
}

bool MapTextWriter::ForEachChunk(const MapGrid& grid, const TakeText& take, unsigned threads) {
  // A stretch of 256 KiB of the map is at most 8,192 rows: its text fits a buffer of 1.4 MB.
  constexpr std::uint64_t kStretch = std::uint64_t{1} << 18;
  constexpr std::size_t kStretchText = kStretch / MapGrid::kBytesPerRow * (kMapTextRowMax + 1);
  const std::uint64_t stretches = (grid.Span() + kStretch - 1) / kStretch;
  // Four make the text faster than a file or a pipe takes it; more would only hold more buffers.
  threads = std::min(threads, 4u);
  if (threads <= 1 || stretches <= 1) return ForEachChunk(grid, take);

  std::string header(MapTextHeader());
  header += '\n';
  if (!take(header, 0)) return false;
  std::atomic<std::uint64_t> next_stretch = 0;
  std::mutex mutex;
  std::condition_variable turn_changed;
  std::uint64_t turn = 0;  // the stretch whose text goes out next
  bool stop = false;
  bool taken = true;  // take never refused
  std::exception_ptr failure;
  // The buffers are had before any thread starts: a thread without one is not started.
  std::vector<std::unique_ptr<char[]>> buffers;
  buffers.reserve(threads);
  buffers.push_back(std::make_unique_for_overwrite<char[]>(kStretchText));
  try {
    while (buffers.size() < threads) buffers.push_back(std::make_unique_for_overwrite<char[]>(kStretchText));
  } catch (const std::bad_alloc&) {
    // fewer threads make the text
  }
  const auto work = [&](char* const buffer) {
    try {
      for (;;) {
        const std::uint64_t stretch = next_stretch.fetch_add(1);
        if (stretch >= stretches) return;
        char* out = buffer;
        std::uint64_t rows = 0;
        grid.ForEachWrittenRowBetween(stretch * kStretch, (stretch + 1) * kStretch,
                                      [&](std::uint32_t address, const RowCells& cells) {
                                        out = FormatMapRow(address, cells, out);
                                        *out++ = '\n';
                                        ++rows;
                                        return true;
                                      });
        std::unique_lock<std::mutex> lock(mutex);
        turn_changed.wait(lock, [&] { return turn == stretch || stop; });
        if (stop) return;
        if (rows > 0 && !take(std::string_view(buffer, static_cast<std::size_t>(out - buffer)), rows)) {
          taken = false;
          stop = true;
        }
        ++turn;
        turn_changed.notify_all();
      }
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mutex);
      if (!failure) failure = std::current_exception();
      stop = true;
      turn_changed.notify_all();
    }
  };
  std::vector<std::thread> helpers;
  helpers.reserve(buffers.size() - 1);
  for (std::size_t t = 1; t < buffers.size(); ++t) {
    try {
      helpers.emplace_back(work, buffers[t].get());
    } catch (const std::system_error&) {
      break;  // fewer threads still make the whole text
    }
  }
  work(buffers[0].get());
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
  return taken;
}

}  // namespace varnok
