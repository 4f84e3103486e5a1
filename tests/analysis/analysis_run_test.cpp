#include "analysis/analysis_run.h"
#include "analysis/record_warnings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/display_contract.h"
#include "support/recording_sink.h"
#include "support/shown_result.h"
#include "support/srec_builder.h"
#include "support/range_list.h"

namespace varnok {
namespace {

using test::kThreeLines;
using test::Record;
using test::ShownResult;

struct Outcome {
  AnalysisDisplay progress;
  ShownResult display;
  AnalysisState state;
  test::RecordingSink sink;  // takes the records with the map option
  RunResult result;
};

void Analyse(Outcome& o, const std::string& input, bool map = false) {
  RunRequest request;
  if (map) request.sink = &o.sink;
  o.result = RunAnalysisOn(TextModeInput::FromMemory(input), request, o.state, o.progress);
  o.display.Show(o.result);
}

const std::string kOk = "Parsing successfully finished...";

// What a user reads in the nine fields after a run, empty meaning the field stays empty.
struct Expected {
  const char* name;
  std::string input;
  std::string status;
  std::string records = "";
  std::string databytes = "";
  std::string highest = "";
  std::string lowest = "";
  std::string exec = "";
};

TEST(AnalysisRun, SummaryFieldsAndMessages) {
  const std::string long_s1 = Record(1, 0x1000, std::vector<std::uint8_t>(252, 0xAB));
  const Expected cases[] = {
      {"three lines", kThreeLines, kOk, "3", "16", "0x0000000F", "0x00000000", "0x00000000"},
      {"one data byte: lowest equals highest", Record(1, 0x1234, std::vector<std::uint8_t>{7}) + "\n", kOk, "1", "1", "0x00001234",
       "0x00001234"},
      {"no data records", "S00600004844521B\nS9030000FC\n", kOk, "2", "0", "0x00000000", "", "0x00000000"},
      {"empty file", "", kOk, "0", "0", "0x00000000"},
      {"empty lines are not counted",
       "\n\nS00600004844521B\n\n\nS1130000000102030405060708090A0B0C0D0E0F75\n", "Checksum error @ line 2"},
      {"a line of blanks is counted", "S9030000FC\n   \n", "No s-record found @ line 2"},
      {"lower-case s", "s9030000FC\n", "No s-record found @ line 1"},
      {"S4 is unknown", "S9030000FC\nS4030000FC\n", "Unknown s-record found @ line 2"},
      {"S6 is the 24-bit record count", "S604000001FA\nS9030000FC\n", kOk, "2", "0", "0x00000000", "",
       "0x00000000"},
      {"S6 with a bad checksum", "S604000001FB\n", "Checksum error @ line 1"},
      {"letter type", "SX030000FC\n", "Unknown s-record found @ line 1"},
      {"the one-character line S", "S\n", "Unknown s-record found @ line 1"},
      {"byte count error comes first", "S00600004844521C  \n", "Byte count error @ line 1"},
      {"two S9: the second counts", "S9030000FC\nS9031234B6\n", kOk, "2", "0", "0x00000000", "", "0x00001234"},
      {"S8 and S7 addresses", Record(8, 0x123456) + "\n" + Record(7, 0x12345678) + "\n", kOk, "2", "0", "0x00000000", "",
       "0x12345678"},
      {"termination records do not end the run", "S9030000FC\n" + Record(2, 0x123456, std::vector<std::uint8_t>{1, 2}) + "\n", kOk, "2",
       "2", "0x00123457", "0x00123456", "0x00000000"},
      {"last line without line break is analysed", "S00600004844521B\nS9030000FC", kOk, "2", "0",
       "0x00000000", "", "0x00000000"},
      {"last bad line without line break is reported", "S9030000FC\nS9030000FD", "Checksum error @ line 2"},
      {"0x1A ends the input", "S9030000FC\n\x1AS9030000FD\n", kOk, "1", "0", "0x00000000", "", "0x00000000"},
      {"CR inside a line is removed", "S90300\r00FC\r\n", kOk, "1", "0", "0x00000000", "", "0x00000000"},
      {"252 data bytes", long_s1 + "\n", kOk, "1", "252", "0x000010FB", "0x00001000"},
  };
  for (const Expected& c : cases) {
    Outcome o;
    Analyse(o, c.input);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(o.display.status, c.status);
    EXPECT_EQ(o.display.colour, c.status == kOk ? StatusColour::Black : StatusColour::Maroon);
    EXPECT_EQ(o.display.Field(DisplayField::RecordLines), c.records);
    EXPECT_EQ(o.display.Field(DisplayField::TotalDatabytes), c.databytes);
    EXPECT_EQ(o.display.Field(DisplayField::Highest), c.highest);
    EXPECT_EQ(o.display.Field(DisplayField::Lowest), c.lowest);
    EXPECT_EQ(o.display.Field(DisplayField::Exec), c.exec);
  }
}

TEST(AnalysisRun, TotalDatabytesUnitAboveOneKilobyte) {
  const struct {
    int bytes;
    std::string text;
  } cases[] = {{1024, "1024"}, {1025, "1025 bytes (1 kb)"}, {4096, "4096 bytes (4 kb)"}, {0, "0"}};
  for (const auto& c : cases) {
    std::string input;
    for (int left = c.bytes, address = 0; left > 0; left -= 200, address += 200) {
      input += Record(3, static_cast<std::uint32_t>(address), std::vector<std::uint8_t>(std::min(left, 200), 0x55)) + "\n";
    }
    Outcome o;
    Analyse(o, input);
    EXPECT_EQ(o.display.Field(DisplayField::TotalDatabytes), c.text) << c.bytes;
  }
}

// Records that other readers refuse or read otherwise: a count that leaves no room for the address field and the
// checksum, a data record without data bytes, a record past 0xFFFFFFFF and a count record in a field wider than its
// type's address.
TEST(AnalysisRun, RecordsAtTheEdgesOfTheirFields) {
  const std::string data = "S1130000000102030405060708090A0B0C0D0E0F74\n";  // 16 bytes at 0
  const std::string end = Record(9, 0) + "\n";
  const std::string at_2000 = Record(1, 0x2000, std::vector<std::uint8_t>{1, 2, 3, 4}) + "\n";
  const std::string past_end = Record(3, 0xFFFFFFFF, std::vector<std::uint8_t>(250, 0x5A)) + "\n";
  const struct {
    std::string input;
    std::string status;
    std::string highest = "", lowest = "";
    std::vector<std::string> warnings = {};
    std::size_t blocks = 0;  // handed to the map
  } cases[] = {
      {data + "S10212EB\n", "Byte count error @ line 2"},
      {data + "S2030000FC\n", "Byte count error @ line 2"},
      {data + "S304000000FB\n", "Byte count error @ line 2"},
      {data + "S90212EB\n", "Byte count error @ line 2"},
      {data + "S50212EB\n", "Byte count error @ line 2"},
      {data + "S6030001FB\n", "Byte count error @ line 2"},
      {"S00200FD\n", "Byte count error @ line 1"},
      {"S1030000FC\n" + end, kOk, "0x00000000", "", {}, 0},
      {"S1031234B6\n" + data + end, kOk, "0x0000000F", "0x00000000", {}, 1},
      {Record(1, 0x1000) + "\n" + at_2000 + end, kOk, "0x00002003", "0x00002000", {}, 1},
      {at_2000 + Record(1, 0x3000) + "\n" + end, kOk, "0x00002003", "0x00002000", {}, 1},
      {Record(3, 0xFFFFFFFF) + "\n" + Record(7, 0) + "\n", kOk, "0x00000000", "", {}, 0},
      {past_end + end, kOk, "0xFFFFFFFF", "0x00000000", {"record at line 1 runs past 0xFFFFFFFF"}, 1},
      {data + data + past_end + past_end + end, kOk, "0xFFFFFFFF", "0x00000000",
       {"address 0x00000000 written twice @ lines 1 and 2, and 249 more addresses",
        "record at line 3 runs past 0xFFFFFFFF"},
       4},
      {data + "S504000001FA\n" + end, kOk, "0x0000000F", "0x00000000", {}, 1},
      {data + "S50500000001F9\n" + end, kOk, "0x0000000F", "0x00000000", {}, 1},
      {data + "S60500000001F9\n" + end, kOk, "0x0000000F", "0x00000000", {}, 1},
      {data + "S504000002F9\n" + end, kOk, "0x0000000F", "0x00000000",
       {"count record says 2 data records, the file has 1"}, 1},
      {data + "S50501000001F8\n" + end, kOk, "0x0000000F", "0x00000000",
       {"count record says 16777217 data records, the file has 1"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    Outcome o;
    WarningCollector warnings;
    RunRequest request;
    request.sink = &o.sink;
    request.warnings = &warnings;
    o.result = RunAnalysisOn(TextModeInput::FromMemory(c.input), request, o.state, o.progress);
    o.display.Show(o.result);
    EXPECT_EQ(o.display.status, c.status);
    EXPECT_EQ(o.display.Field(DisplayField::Highest), c.highest);
    EXPECT_EQ(o.display.Field(DisplayField::Lowest), c.lowest);
    if (!o.result.Parsed()) continue;
    // Every line is a record, one without data bytes too.
    const auto lines = std::count(c.input.begin(), c.input.end(), '\n');
    EXPECT_EQ(o.display.Field(DisplayField::RecordLines), std::to_string(lines));
    EXPECT_EQ(WarningTexts(warnings.Result()), c.warnings);
    EXPECT_EQ(o.sink.blocks.size(), c.blocks);
  }
}

TEST(AnalysisRun, S0HeaderFields) {
  const std::string name20 = "FIRMWARE_MODULE_0001";
  const struct {
    const char* name;
    std::vector<std::string> payloads;  // one S0 record each
    std::string module, version, description;
  } cases[] = {
      {"HDR", {"HDR"}, "HDR", "", ""},
      {"full header", {name20 + "01" + "05" + "Demo"}, name20, "1.5", "Demo"},
      {"12.0", {name20 + "12" + "00"}, name20, "12.0", ""},
      {"0.10", {name20 + "00" + "10"}, name20, "0.10", ""},
      {"21 bytes", {name20 + "X"}, name20, "", "X"},
      {"version only", {name20 + "07"}, name20, "7", ""},
      {"zero padded name", {std::string("ABC\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20) + "01" + "02" + "D"}, "ABC",
       "1.2", "D"},
      {"version keeps up to its zero", {name20 + std::string("1\0", 2) + "05"}, name20, "1.5", ""},
      {"later S0 without version keeps the earlier version",
       {name20 + "02" + "03" + "First", "Second"}, "Second", "2.3", ""},
      {"description with a zero byte", {name20 + "01" + "05" + std::string("ab\0cd", 5)}, name20, "1.5", "ab"},
  };
  for (const auto& c : cases) {
    std::string input;
    for (const auto& payload : c.payloads) input += Record(0, 0, payload) + "\n";
    Outcome o;
    Analyse(o, input);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(o.display.status, kOk);
    EXPECT_EQ(o.display.Field(DisplayField::Module), c.module);
    EXPECT_EQ(o.display.Field(DisplayField::Version), c.version);
    EXPECT_EQ(o.display.Field(DisplayField::Description), c.description);
  }
}

TEST(AnalysisRun, ShortS0ClearsNameAndDescriptionButKeepsVersion) {
  Outcome o;
  Analyse(o, Record(0, 0, "NAME0102Desc") + "\nS0030000FC\n");
  EXPECT_EQ(o.display.status, kOk);
  EXPECT_EQ(o.display.Field(DisplayField::Module), "");
  EXPECT_EQ(o.display.Field(DisplayField::Description), "");
  EXPECT_EQ(o.display.Field(DisplayField::Version), "");  // a 4-byte name takes the whole payload
  Outcome p;
  Analyse(p, Record(0, 0, "FIRMWARE_MODULE_00010102Desc") + "\nS0030000FC\n");
  EXPECT_EQ(p.display.Field(DisplayField::Module), "");
  EXPECT_EQ(p.display.Field(DisplayField::Version), "1.2");
}

TEST(AnalysisRun, HeaderFieldsSurviveALaterError) {
  Outcome o;
  Analyse(o,
          Record(0, 0, "HDR") +
              "\nS1130000000102030405060708090A0B0C0D0E0F74\nS1130000000102030405060708090A0B0C0D0E0F00\n",
          true);
  EXPECT_EQ(o.display.status, "Checksum error @ line 3");
  EXPECT_EQ(o.display.Field(DisplayField::Module), "HDR");
  EXPECT_EQ(o.display.Field(DisplayField::Highest), "");
  EXPECT_EQ(o.result.kind, RunKind::ChecksumError);
  EXPECT_EQ(o.result.line, 3);
  EXPECT_EQ(o.state.InFile, nullptr);
}

TEST(AnalysisRun, HandsTheSinkEveryRecordInFileOrder) {
  const std::string input = Record(1, 0x20, std::vector<std::uint8_t>{1, 2, 3}) + "\n" + Record(3, 5) + "\n" +
                            "S1130000000102030405060708090A0B0C0D0E0F74\n" + Record(2, 0x11, std::vector<std::uint8_t>{9}) + "\nS9030007F5\n";
  Outcome o;
  Analyse(o, input, true);
  ASSERT_TRUE(o.result.Parsed());
  EXPECT_EQ(o.result.totals, (RunTotals{5, 20, 0, 0x22, 7}));
  const std::vector<std::uint8_t> sixteen = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const test::RecordingSink::Blocks expected = {{0x20, {1, 2, 3}}, {0, sixteen}, {0x11, {9}}};
  EXPECT_EQ(o.sink.blocks, expected);
}

TEST(AnalysisRun, CollectsRangesOnlyWhenAskedAndKeepsNoneAfterAFailure) {
  const std::string input = Record(1, 0x20, std::vector<std::uint8_t>{1, 2, 3}) + "\n" + Record(3, 5) + "\n" +
                            "S1130000000102030405060708090A0B0C0D0E0F74\n";
  RunRequest request;
  request.ranges = true;
  AnalysisDisplay display;
  AnalysisState state;
  ASSERT_TRUE(RunAnalysisOn(TextModeInput::FromMemory(input), request, state, display).Parsed());
  EXPECT_EQ(test::ListOf(state.Ranges), (std::vector<AddressRange>{{0, 0xF}, {0x20, 0x22}}));

  EXPECT_FALSE(RunAnalysisOn(TextModeInput::FromMemory(input + "S9030000FD\n"), request, state, display).Parsed());
  EXPECT_TRUE(state.Ranges.empty());
  ASSERT_TRUE(RunAnalysisOn(TextModeInput::FromMemory(input), {}, state, display).Parsed());
  EXPECT_TRUE(state.Ranges.empty());
}

// What the run reports for inputs that cannot be read as they should: a name that is not there, one that cannot
// be reached, something that is not a regular file where only one will do, and a read that fails.
TEST(AnalysisRun, FileErrors) {
  const std::string dir = ::testing::TempDir();
  const std::string file = dir + "/run_test.s";
  std::ofstream(file) << kThreeLines;
  const std::string fifo = dir + "/run_test.fifo";
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    bool regular_only;
    RunKind kind;
    std::string status;
  } cases[] = {
      {dir + "/missing.s", false, RunKind::MissingFile, "Input file does not exist!"},
      {dir, false, RunKind::MissingFile, "Input file does not exist!"},
      {file + "/inside", false, RunKind::MissingFile, "Input file does not exist!"},
      {dir + "/" + std::string(300, 'n'), false, RunKind::OpenFailed, "Unable to open selected input file!"},
      // A FIFO without a writer would hold the opening up for ever.
      {fifo, true, RunKind::OpenFailed, "Unable to open selected input file!"},
      {"/proc/self/mem", false, RunKind::ReadFailed, "Read error @ line 1"},
      {file, true, RunKind::Parsed, kOk},
  };
  for (const auto& c : cases) {
    Outcome o;
    RunRequest request;
    request.path = c.path;
    request.regular_only = c.regular_only;
    o.result = RunAnalysis(request, o.state, o.progress);
    o.display.Show(o.result);
    SCOPED_TRACE(c.path);
    EXPECT_EQ(o.result.kind, c.kind);
    EXPECT_EQ(o.display.status, c.status);
    EXPECT_EQ(o.display.colour, c.kind == RunKind::Parsed ? StatusColour::Black : StatusColour::Maroon);
    EXPECT_EQ(o.display.Field(DisplayField::Module), c.kind == RunKind::Parsed ? "HDR" : "");
    EXPECT_EQ(o.state.InFile, nullptr);
  }
  std::remove(file.c_str());
  std::remove(fifo.c_str());
}

TEST(AnalysisRun, SinkWithoutMemoryEndsTheRun) {
  Outcome o;
  o.sink.no_memory = true;
  Analyse(o, "S00600004844521B\n" + Record(1, 0x100, {1, 2}) + "\nS9030000FC\n", true);
  EXPECT_EQ(o.result.kind, RunKind::OutOfMemory);
  EXPECT_EQ(o.result.line, 2);
  EXPECT_EQ(o.display.status, "Out of memory!!");
  EXPECT_EQ(o.display.colour, StatusColour::Maroon);
  EXPECT_EQ(o.display.Field(DisplayField::Module), "HDR");
  EXPECT_EQ(o.display.Field(DisplayField::RecordLines), "");
}

// A display that cancels the run after a number of progress reports and keeps what it was told.
struct CancellingDisplay : AnalysisDisplay {
  int allowed = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;
  bool ShowProgress(std::uint64_t read, std::uint64_t size) override {
    reports.emplace_back(read, size);
    return static_cast<int>(reports.size()) <= allowed;
  }
};

TEST(AnalysisRun, ProgressIsReportedPerBlockAndCanCancel) {
  // Lines of 13 characters filling a little less than two blocks.
  std::string input;
  const int lines = static_cast<int>(2 * TextModeInput::kBlockSize / 13) - 100;
  for (int i = 0; i < lines; ++i) {
    input += Record(1, static_cast<std::uint32_t>(i), std::vector<std::uint8_t>{1}) + "\n";
  }
  const std::uint64_t size = input.size();
  const std::int64_t lines_per_block = static_cast<std::int64_t>(TextModeInput::kBlockSize / 13);

  CancellingDisplay all;
  all.allowed = 1000;
  AnalysisState state;
  EXPECT_TRUE(RunAnalysisOn(TextModeInput::FromMemory(input), {}, state, all).Parsed());
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> expected = {
      {TextModeInput::kBlockSize, size}, {size, size}};
  EXPECT_EQ(all.reports, expected);

  CancellingDisplay one;
  one.allowed = 1;
  const RunResult cancelled = RunAnalysisOn(TextModeInput::FromMemory(input), {}, state, one);
  EXPECT_EQ(cancelled.kind, RunKind::Cancelled);
  EXPECT_EQ(cancelled.line, lines_per_block + 1);
  ShownResult shown;
  shown.Show(cancelled);
  EXPECT_EQ(shown.status, "Parsing cancelled @ line " + std::to_string(lines_per_block + 1));
  EXPECT_EQ(shown.colour, StatusColour::Maroon);
}

}  // namespace
}  // namespace varnok

namespace varnok::test {
namespace {

// Reads back the texts that varnok-scan's report takes from a run's result.
struct ResultProbe {
  AnalysisState state;
  ShownResult shown;
  void Run(const std::string& input) {
    AnalysisDisplay progress;
    shown.Show(RunAnalysisOn(TextModeInput::FromMemory(input), {}, state, progress));
  }
  std::string Shown(DisplayField field) { return shown.Field(field); }
  std::string Status() { return shown.status; }
  StatusColour Colour() { return shown.colour; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Result, AnalysisDisplayContract, ::testing::Types<ResultProbe>);

}  // namespace
}  // namespace varnok::test
