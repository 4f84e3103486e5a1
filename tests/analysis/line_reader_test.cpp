#include "analysis/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/text_input.h"
#include "support/files.h"
#include "support/srec_builder.h"

namespace varnok {
namespace {

struct Read {
  int result;
  std::string text;  // the buffer's text after the call, when result > 0
  bool operator==(const Read&) const = default;
};

std::vector<Read> ReadAll(std::unique_ptr<TextModeInput> input) {
  std::vector<Read> reads;
  LineBuffer buffer;
  for (;;) {
    const int n = ReadLine(*input, buffer.text, kLineLimit);
    reads.push_back({n, n > 0 ? std::string(buffer.text) : std::string()});
    if (n < 0 || reads.size() > 1000000) return reads;
  }
}

std::vector<int> Results(const std::vector<Read>& reads) {
  std::vector<int> out;
  for (const Read& r : reads) out.push_back(r.result);
  return out;
}

TEST(LineReading, ReturnsLineLengthsEmptyLinesAndEnd) {
  const std::string long_line(1030, 'A');
  const struct {
    const char* name;
    std::string input;
    std::vector<int> results;
  } cases[] = {
      {"empty file", "", {-1}},
      {"one line", "S9030000FC\n", {10, -1}},
      {"last line without line feed", "S9030000FC", {10, -1}},
      {"two line feeds", "AB\n\nCD\n", {2, 0, 2, -1}},
      {"CRLF ends a line once", "AB\r\nCD\r\n", {2, 2, -1}},
      {"lone CR vanishes", "A\rB\n", {2, -1}},
      {"CR-only file is one line", "AB\rCD\r", {4, -1}},
      {"0x1A ends the input", "AB\nCD\x1A" "EF\n", {2, 2, -1}},
      {"0x1A right after a line", "AB\n\x1A" "CD\n", {2, -1}},
      {"1030 characters", long_line + "\n", {1024, 5, -1}},
      {"1030 characters without line feed", long_line, {1024, 5, -1}},
      {"exactly 1024 then line feed", std::string(1024, 'B') + "\nC\n", {1024, 1, -1}},
      {"exactly 1024 at the end", std::string(1024, 'B'), {1024, -1}},
      {"1025th character dropped", std::string(1024, 'B') + "XY\n", {1024, 1, -1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Results(ReadAll(TextModeInput::FromMemory(c.input))), c.results) << c.name;
  }
}

TEST(ReadLine, DeliversTheTextOfEachLine) {
  const auto reads = ReadAll(TextModeInput::FromMemory("S1\r\nab\rc\n" + std::string(1024, 'x') + "12345"));
  ASSERT_EQ(reads.size(), 5u);
  EXPECT_EQ(reads[0].text, "S1");
  EXPECT_EQ(reads[1].text, "abc");
  EXPECT_EQ(reads[2].text, std::string(1024, 'x'));
  EXPECT_EQ(reads[3].text, "2345");
}

TEST(ReadLine, EmptyLineLeavesTheBufferUntouched) {
  auto input = TextModeInput::FromMemory("ABCD\n\n");
  LineBuffer buffer;
  EXPECT_EQ(ReadLine(*input, buffer.text, kLineLimit), 4);
  EXPECT_EQ(ReadLine(*input, buffer.text, kLineLimit), 0);
  EXPECT_STREQ(buffer.text, "ABCD");
}

// The reader one character at a time, as text mode and the line rules describe it.
std::vector<Read> Reference(const std::string& bytes) {
  std::string text;
  for (const char c : bytes) {
    if (c == '\x1A') break;
    if (c != '\r') text += c;
  }
  std::vector<Read> reads;
  std::size_t pos = 0;
  for (;;) {
    std::string line;
    int stop = -1;
    while (pos < text.size()) {
      const char c = text[pos++];
      if (c == '\n') {
        stop = '\n';
        break;
      }
      if (line.size() == static_cast<std::size_t>(kLineLimit)) {
        stop = c;
        break;
      }
      line += c;
    }
    if (stop == -1 && line.empty()) {
      reads.push_back({-1, ""});
      return reads;
    }
    reads.push_back({static_cast<int>(line.size()), line});
  }
}

// Lines, carriage returns and 0x1A that straddle the input's block boundaries read as in one piece.
TEST(LineReading, BlockBoundariesDoNotMatter) {
  const std::size_t block = TextModeInput::kBlockSize;
  std::string text;
  unsigned seed = 12345;
  while (text.size() < 3 * block) {
    const unsigned pick = test::NextRandom(seed) % 100;
    if (pick < 2) {
      text += std::string(block / 3, '\r');
    } else if (pick < 4) {
      text += std::string(1100 + pick, 'L');
    } else if (pick < 30) {
      text += "\r\n";
    } else if (pick < 40) {
      text += '\n';
    } else {
      text += static_cast<char>('0' + pick % 10);
    }
  }
  const std::string cut = text + "tail\x1A" "never\n";
  for (const std::string& bytes : {text, cut}) {
    const std::string path = test::WriteFile("blocks.txt", bytes);
    const auto expected = Reference(bytes);
    ASSERT_GT(expected.size(), 100u);
    EXPECT_TRUE(ReadAll(TextModeInput::Open(path)) == expected);
    EXPECT_TRUE(ReadAll(TextModeInput::FromMemory(bytes)) == expected);
    for (const std::size_t small : {1, 3, 1000, 1025}) {
      EXPECT_TRUE(ReadAll(TextModeInput::FromMemory(bytes, small)) == expected) << small;
    }
  }
}

TEST(TextModeInput, OpenRefusesMissingFilesAndFolders) {
  EXPECT_EQ(TextModeInput::Open(::testing::TempDir() + "/no-such-file"), nullptr);
  EXPECT_EQ(TextModeInput::Open(::testing::TempDir()), nullptr);
}

}  // namespace
}  // namespace varnok
