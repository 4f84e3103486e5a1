#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analysis_run.h"
#include "analysis/record_warnings.h"
#include "support/recording_sink.h"
#include "support/srec_builder.h"
#include "support/range_list.h"

namespace varnok {
namespace {

using test::Lines;
using test::Record;

// Everything a run shows and keeps, the progress reports included; it cancels at report number cancel_at.
struct Seen : AnalysisDisplay {
  std::size_t cancel_at = 0;  // 0: never
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;
  RunResult result;
  // What the sink took from a valid file; a failed run leaves in it as much as it had joined, which may differ.
  test::RecordingSink::Blocks blocks;
  std::vector<AddressRange> ranges;
  std::vector<std::string> warnings;

  bool ShowProgress(std::uint64_t read, std::uint64_t size) override {
    reports.emplace_back(read, size);
    return reports.size() != cancel_at;
  }
};

struct Setting {
  std::size_t block_size;
  std::size_t chunk_size;
  unsigned threads;  // 1: the one-thread path
  bool keep;         // map (a RecordingSink), ranges and warnings
  std::size_t cancel_at = 0;
  bool no_memory = false;  // the sink refuses every record
};

Seen Analyse(std::unique_ptr<TextModeInput> input, const Setting& s) {
  Seen seen;
  seen.cancel_at = s.cancel_at;
  AnalysisState state;
  RunRequest request;
  request.ranges = s.keep;
  request.parallel.threads = s.threads;
  request.parallel.chunk_size = s.chunk_size;
  request.parallel.min_size = 0;
  WarningCollector warnings;
  if (s.keep) request.warnings = &warnings;
  test::RecordingSink sink;
  sink.no_memory = s.no_memory;
  if (s.keep) request.sink = &sink;
  seen.result = RunAnalysisOn(std::move(input), request, state, seen);
  if (seen.result.Parsed()) {
    seen.warnings = WarningTexts(warnings.Result());
    seen.blocks = std::move(sink.blocks);
  }
  seen.ranges = test::ListOf(state.Ranges);
  return seen;
}

Seen Analyse(const std::string& input, const Setting& s) {
  return Analyse(TextModeInput::FromMemory(input, s.block_size), s);
}

// Compares a many-thread run with what the one-thread run over the same blocks showed.
void ExpectSame(const Seen& a, const Seen& b, const Setting& many) {
  SCOPED_TRACE(testing::Message() << "block " << many.block_size << ", chunk " << many.chunk_size << ", threads "
                                  << many.threads << ", keep " << many.keep << ", cancel at " << many.cancel_at
                                  << ", no memory " << many.no_memory);
  ASSERT_EQ(a.result, b.result);
  EXPECT_EQ(a.reports, b.reports);
  EXPECT_EQ(a.blocks, b.blocks);
  EXPECT_EQ(a.ranges, b.ranges);
  EXPECT_EQ(a.warnings, b.warnings);
}

void ExpectSame(const Seen& a, const std::string& input, const Setting& many) {
  ExpectSame(a, Analyse(input, many), many);
}

void ExpectSame(const std::string& input, const Setting& many) {
  Setting one = many;
  one.threads = 1;
  ExpectSame(Analyse(input, one), input, many);
}

std::string Data(unsigned& seed, std::size_t n) {
  std::string data;
  for (std::size_t i = 0; i < n; ++i) {
    data += static_cast<char>(test::NextRandom(seed));
  }
  return data;
}

// Records of every type and size, some of them broken the ways the run tells apart, with empty lines between.
std::string RandomRecords(unsigned seed, int count, bool broken) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    const unsigned pick = test::NextRandom(seed) % 100;
    const int type = static_cast<int>("012335789"[pick % 9] - '0');
    std::string line = Record(type, seed * 7919u, Data(seed, type == 0 ? pick % 30 : pick % 40));
    if (broken && pick < 4) {
      switch (pick) {
        case 0: line.back() = line.back() == '0' ? '1' : '0'; break;  // checksum
        case 1: line[0] = 's'; break;
        case 2: line[1] = '4'; break;
        default: line.resize(line.size() / 2); break;  // short: byte count
      }
    }
    text += line + (pick % 11 == 0 ? "\n\n" : "\n");
  }
  return text;
}

// Valid lines on both sides of what the fast reading of whole data records takes; the first one it takes.
std::vector<std::string> FastReadingEdges() {
  const std::string s1_12 = Record(1, 0x3000, std::string(12, 'a'));    // byte count 15
  const std::string s2_251 = Record(2, 0x3100, std::string(251, 'b'));  // byte count 255
  std::string not_hex = s1_12;
  // "GF" reads as 0xFFF by the general rules, 0x9E more than the "61" it replaces; "C3" in place of the next "61"
  // makes up for it, so the checksum holds there.
  not_hex.replace(10, 4, "GFC3");
  std::string lower = s2_251;
  std::transform(lower.begin() + 2, lower.end(), lower.begin() + 2,
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return {s1_12, Record(1, 0x3000, std::string(11, 'a')), s2_251, lower, not_hex,
          Record(3, 0x4000, std::string(250, 'c'))};
}

struct CorpusFile {
  const char* name;
  std::string text;
};

std::vector<CorpusFile> Corpus() {
  const std::string s1 = Record(1, 0x1000, "0123456789");
  const std::string s3 = Record(3, 0xFFFFFFF8, std::string(16, 'z'));  // wraps past 0xFFFFFFFF
  const std::string header = Record(0, 0, "FIRMWARE_MODULE_0001" "0105" "Desc");
  const std::string plain_header = Record(0, 0, "HDR");
  std::string crlf;
  for (const std::string& line : {header, s1, s3}) crlf += line + "\r\n";
  return {
      {"empty", ""},
      {"only line ends", "\n\n\n"},
      {"only carriage returns", "\r\r\r\r"},
      {"valid records", Lines({header, s1, Record(2, 0x123456, "abc"), s3, "S5030003F9", "S604000001FA",
                               Record(7, 0x12345678), Record(8, 0x123456), "S9030000FC"})},
      {"random valid records", RandomRecords(1, 60, false)},
      {"random records, some broken", RandomRecords(2, 60, true)},
      {"random records, broken late", RandomRecords(3, 50, false) + RandomRecords(4, 20, true)},
      {"headers between data records",
       Lines({header, s1, plain_header, plain_header, s1, "S0030000FC", header, s3, plain_header})},
      {"only headers", Lines({header, plain_header, header, plain_header, "S0030000FC", header})},
      {"lower-case s", Lines({s1, "s9030000FC", s1})},
      {"S4", Lines({s1, "S4030000FC"})},
      {"bad checksum", Lines({s1, s3.substr(0, s3.size() - 1) + "0", s1})},
      {"short lines", Lines({s1, "S", "S1", "S10", "S100", "S1030000FC", "S701FE", "S901FE", "S10200FD"})},
      {"records without data, past 0xFFFFFFFF and wide counts",
       Lines({s1, "S1031234B6", Record(3, 0xFFFFFFFF, std::string(250, 'w')), "S50500000003F7", "S604000002F9",
              "S3050000FFFFFC", s1, "S9030000FC"})},
      {"blank line", Lines({s1, "   ", s1})},
      {"CR LF and lone CRs", crlf + "S90\r3000\r0FC\r\n"},
      {"0x1A part-way", Lines({s1, s3}) + "S9030000FC\n" + s1.substr(0, 9) + "\x1A" + "garbage\n" + s1 + "\n"},
      {"0x1A at a line start", Lines({s1, s3}) + "\x1A" + s1 + "\n"},
      {"NUL bytes", Lines({s1, std::string("S9030\0000FC", 10), s1})},
      {"NUL after a line", Lines({s1}) + std::string("\0\n", 2) + s1},
      {"no final line end", Lines({header, s1}) + "S9030000FC"},
      {"a run of records written again, a count and data after the end", [&] {
         std::vector<std::string> lines;
         for (int pass = 0; pass < 2; ++pass) {
           for (std::uint32_t k = 0; k < 30; ++k) lines.push_back(Record(1, 0x2000 + 10 * k, "0123456789"));
         }
         lines.push_back("S5030003F9");
         lines.push_back("S9030000FC");
         lines.push_back(s1);
         return Lines(lines);
       }()},
      {"bad final line without line end", Lines({s1}) + "S9030000FD"},
      {"records at the edges of the fast reading", Lines(FastReadingEdges()) + FastReadingEdges().front()},
      {"a byte count that is not hex, at the edge of the fast reading",
       Lines(FastReadingEdges()) + "S1" "0G" + FastReadingEdges().front().substr(4) + "\n"},
      {"a line longer than its byte count, at the edge of the fast reading",
       Lines(FastReadingEdges()) + FastReadingEdges().front() + "00\n"},
      {"1024 characters", Lines({s1}) + std::string(1024, 'S') + "\n" + s1 + "\n"},
      {"1025 characters", Lines({s1, s1}) + std::string(1025, '1') + "\n"},
      {"2051 characters without line end", Lines({s1}) + "S1" + std::string(2049, '0')},
      {"no line end at all", std::string(2 * 1025 + 7, 'S')},
  };
}

// Chunk sizes from one line a chunk up to 200 characters, so that a chunk ends after every line and the lines group
// every way, and around the places where a long line is read in parts.
std::vector<std::size_t> ChunkSizes(const std::string& text) {
  std::vector<std::size_t> sizes;
  const std::size_t every = std::min<std::size_t>(text.size() + 1, 200);
  for (std::size_t size = 1; size <= every; ++size) sizes.push_back(size);
  for (const std::size_t around : {1024u, 2049u, 3075u}) {
    for (std::size_t size = around - 3; size <= around + 3 && text.size() > every; ++size) sizes.push_back(size);
  }
  return sizes;
}

// The many-thread run shows, returns and keeps what the one-thread run does, wherever the chunks are cut and
// however the input is read: one character at a time puts a read block's edge, and so a progress report, at every
// place of every line.
TEST(ParallelRun, AgreesWithTheOneThreadRun) {
  for (const CorpusFile& file : Corpus()) {
    SCOPED_TRACE(file.name);
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}}) {
      for (const bool keep : {false, true}) {
        const Seen one = Analyse(file.text, {block, 0, 1, keep});
        for (const std::size_t chunk : ChunkSizes(file.text)) {
          if ((chunk + block) % 2 == keep) ExpectSame(one, file.text, {block, chunk, 2, keep});
        }
      }
    }
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{100}, file.text.size()}) {
      ExpectSame(file.text, {TextModeInput::kBlockSize, chunk, 2, true});
    }
    ExpectSame(file.text, {5, 40, 3, true});
    // Read one character at a time, no whole record is ever buffered, so every line takes the general reading; read
    // in whole blocks, the fast reading of whole data records gives the same, but for the progress reports, which
    // follow the blocks.
    const Setting whole{TextModeInput::kBlockSize, 0, 1, true};
    Seen fast = Analyse(file.text, whole);
    const Seen general = Analyse(file.text, {1, 0, 1, true});
    fast.reports = general.reports;
    ExpectSame(general, fast, whole);
  }
}

// Cancelling at any progress report, and a sink that has no memory for the records, end both runs at the same line.
TEST(ParallelRun, CancelAndOutOfMemoryAgree) {
  for (const CorpusFile& file : Corpus()) {
    SCOPED_TRACE(file.name);
    const std::size_t reports = Analyse(file.text, {16, 1, 1, false}).reports.size();
    for (const std::size_t chunk : {1, 50, 300}) {
      for (std::size_t cancel = 1; cancel <= reports + 1; ++cancel) ExpectSame(file.text, {16, chunk, 2, true, cancel});
      ExpectSame(file.text, {16, chunk, 2, true, 0, true});
    }
  }
}

// An input whose reading fails part-way: this process's own memory read through /proc/self/mem, text pages
// followed by a page of an empty file, which cannot be read. (A page left unmapped could be mapped again by the
// run's own allocations.)
class FailingInput {
 public:
  explicit FailingInput(const std::string& text) : text_size_((text.size() / kPage + 1) * kPage) {
    void* pages = ::mmap(nullptr, text_size_ + kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return;
    pages_ = static_cast<char*>(pages);
    // The text ends at a page end; line feeds fill the pages before it.
    const std::size_t start = text_size_ - text.size();
    std::memset(pages_, '\n', start);
    std::memcpy(pages_ + start, text.data(), text.size());
    const int empty = ::memfd_create("empty", MFD_CLOEXEC);
    if (empty < 0 || ::mmap(pages_ + text_size_, kPage, PROT_READ, MAP_SHARED | MAP_FIXED, empty, 0) == MAP_FAILED) {
      ::munmap(pages_, text_size_ + kPage);
      pages_ = nullptr;
    }
    if (empty >= 0) ::close(empty);
  }
  ~FailingInput() {
    if (pages_ != nullptr) ::munmap(pages_, text_size_ + kPage);
  }
  FailingInput(const FailingInput&) = delete;
  FailingInput& operator=(const FailingInput&) = delete;

  std::unique_ptr<TextModeInput> Open() const {
    const int fd = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (fd < 0 || pages_ == nullptr) return nullptr;
    ::lseek(fd, static_cast<off_t>(reinterpret_cast<std::uintptr_t>(pages_)), SEEK_SET);
    std::unique_ptr<TextModeInput> input = TextModeInput::FromDescriptor(fd);
    ::close(fd);
    return input;
  }

 private:
  static constexpr std::size_t kPage = 4096;
  std::size_t text_size_;
  char* pages_ = nullptr;
};

// A read error part-way ends both runs at the line that could not be read, a line cut short by it not delivered.
TEST(ParallelRun, ReadErrorsAgree) {
  std::string records = RandomRecords(5, 200, false);
  records.resize(records.rfind('\n') + 1);
  for (const std::string& text : {records, records + "S1130000000102"}) {
    const FailingInput failing(text);
    Setting one{0, 0, 1, true};
    const Seen a = Analyse(failing.Open(), one);
    ASSERT_EQ(a.result.kind, RunKind::ReadFailed) << a.result.line;
    for (const std::size_t chunk : {1, 100, 1000, 4000, 9000}) {
      const Setting many{0, chunk, 2, true};
      ExpectSame(a, Analyse(failing.Open(), many), many);
    }
  }
}

}  // namespace
}  // namespace varnok
