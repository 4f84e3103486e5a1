#include "analysis/record_warnings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "support/srec_builder.h"

namespace varnok {
namespace {

using test::Lines;
using test::Record;

std::string Bytes(std::size_t count) { return std::string(count, '\x5A'); }

TEST(RecordWarnings, TellWhatAValidFileLacksOrRepeats) {
  const struct {
    const char* name;
    std::string file;
    std::vector<std::string> warnings;
  } cases[] = {
      {"whole", Lines({Record(0, 0, "HDR"), Record(1, 0, Bytes(16)), Record(1, 16, Bytes(16)), Record(5, 2),
                       Record(9, 0)}),
       {}},
      {"empty", "", {"no data record", "no termination record"}},
      {"cut before its end", Lines({Record(3, 0x08000000, Bytes(32))}), {"no termination record"}},
      {"data after the end", Lines({Record(1, 0, Bytes(4)), Record(9, 0), Record(1, 4, Bytes(4))}),
       {"data after the termination record @ line 3"}},
      {"count too high", Lines({Record(1, 0, Bytes(4)), Record(5, 3), Record(9, 0)}),
       {"count record says 3 data records, the file has 1"}},
      {"24-bit count", Lines({Record(2, 0, Bytes(4)), Record(6, 1), Record(8, 0)}), {}},
      {"record over two", Lines({Record(1, 0x100, Bytes(16)), Record(1, 0x110, Bytes(16)), Record(1, 0x10E, Bytes(4)),
                                 Record(9, 0)}),
       {"address 0x0000010E written twice @ lines 1 and 3, and 3 more addresses"}},
      {"inside a run of records",
       Lines({Record(1, 0, Bytes(16)), Record(1, 16, Bytes(16)), Record(1, 32, Bytes(16)), Record(1, 48, Bytes(16)),
              Record(1, 40, Bytes(4)), Record(1, 40, Bytes(5)), Record(9, 0)}),
       {"address 0x00000028 written twice @ lines 3 and 5, and 4 more addresses"}},
      {"inside a run downwards",
       Lines({Record(1, 0x30, Bytes(16)), Record(1, 0x20, Bytes(16)), Record(1, 0x10, Bytes(16)),
              Record(1, 0x2C, Bytes(4)), Record(9, 0)}),
       {"address 0x0000002C written twice @ lines 2 and 4, and 3 more addresses"}},
      {"one more", Lines({Record(1, 8, Bytes(2)), Record(1, 9, Bytes(1)), Record(9, 0)}),
       {"address 0x00000009 written twice @ lines 1 and 2"}},
      {"past 0xFFFFFFFF", Lines({Record(3, 0xFFFFFFFE, Bytes(4)), Record(3, 1, Bytes(1)), Record(7, 0)}),
       {"address 0x00000001 written twice @ lines 1 and 2", "record at line 1 runs past 0xFFFFFFFF"}},
  };
  for (const auto& c : cases) {
    AnalysisState state;
    AnalysisDisplay display;
    WarningCollector collector;
    RunRequest request;
    request.warnings = &collector;
    ASSERT_TRUE(RunAnalysisOn(TextModeInput::FromMemory(c.file), request, state, display).Parsed()) << c.name;
    EXPECT_EQ(WarningTexts(collector.Result()), c.warnings) << c.name;
  }
}

// Against every address's last writer: random records over a small space, mostly in order.
TEST(RecordWarnings, NameTheFirstAddressWrittenAgainAndItsWriter) {
  std::mt19937 random(11);
  for (int round = 0; round < 300; ++round) {
    constexpr std::uint32_t kSpace = 1024;  // past the furthest record: 600, or 350 + 30 * 20
    std::vector<std::int64_t> writer(kSpace, 0);
    std::vector<int> writes(kSpace, 0);
    std::optional<Overwrite> expected;
    WarningCollector collector;
    // Records follow one another upwards or, in every other round, downwards.
    const bool downwards = round % 2 == 1;
    std::uint32_t next = downwards ? 600 : 0;
    const int records = 1 + static_cast<int>(random() % 30);
    const std::uint32_t stride = 1 + static_cast<std::uint32_t>(random() % 16);
    for (std::int64_t line = 1; line <= records; ++line) {
      const std::uint32_t length = random() % 5 == 0 ? static_cast<std::uint32_t>(random() % 20) : stride;
      if (downwards) next = next >= length ? next - length : 0;
      const std::uint32_t address = random() % 4 == 0 ? static_cast<std::uint32_t>(random() % 350) : next;
      for (std::uint32_t a = address; a < address + length; ++a) {
        if (writes[a]++ > 0 && !expected) expected = Overwrite{a, writer[a], line, 0};
      }
      for (std::uint32_t a = address; a < address + length; ++a) writer[a] = line;
      collector.Add(RecordFact{RecordKind::Data, address, static_cast<std::int32_t>(length), line});
      next = downwards ? address : address + length;
    }
    const std::optional<Overwrite> found = collector.Result().overwrite;
    ASSERT_EQ(found.has_value(), expected.has_value()) << round;
    if (!found) continue;
    std::uint64_t twice = 0;
    for (const int count : writes) twice += count > 1 ? 1 : 0;
    EXPECT_EQ(found->address, expected->address) << round;
    EXPECT_EQ(found->first_line, expected->first_line) << round;
    EXPECT_EQ(found->second_line, expected->second_line) << round;
    EXPECT_EQ(found->more_addresses, twice - 1) << round;
  }
}

}  // namespace
}  // namespace varnok
