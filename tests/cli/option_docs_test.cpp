#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/scan.h"
#include "image/crc.h"
#include "options.h"
#include "support/files.h"
#include "support/srec_builder.h"

namespace varnok {
namespace {

// The text a roff argument prints: "\-" a dash, font changes dropped.
std::string RoffText(std::string_view roff) {
  std::string text;
  for (std::size_t i = 0; i < roff.size(); ++i) {
    if (roff[i] != '\\' || i + 1 == roff.size()) {
      text += roff[i];
    } else if (roff[++i] == 'f') {
      ++i;
    } else {
      text += roff[i] == 'e' ? '\\' : roff[i];
    }
  }
  return text;
}

// The words a man page's line sets in bold: every argument of .B, every other one of .BR, .RB, .BI and .IB.
std::vector<std::string> BoldWords(std::string_view line) {
  const std::size_t blank = line.find(' ');
  const std::string_view macro = line.substr(0, blank);
  int first_bold = 0;
  if (macro == ".RB" || macro == ".IB") {
    first_bold = 1;
  } else if (macro != ".B" && macro != ".BR" && macro != ".BI") {
    return {};
  }
  std::vector<std::string> arguments;
  bool quoted = false;
  std::string argument;
  for (const char c : line.substr(blank + 1)) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      if (!argument.empty()) arguments.push_back(argument);
      argument.clear();
    } else {
      argument += c;
    }
  }
  if (!argument.empty()) arguments.push_back(argument);
  std::vector<std::string> words;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (macro != ".B" && static_cast<int>(i % 2) != first_bold) continue;
    std::istringstream split(RoffText(arguments[i]));
    for (std::string word; split >> word;) {
      while (!word.empty() && (word.back() == ',' || word.back() == ';')) word.pop_back();
      words.push_back(word);
    }
  }
  return words;
}

void CollectKeys(const nlohmann::json& value, std::set<std::string>& keys) {
  if (value.is_object()) {
    for (const auto& [key, member] : value.items()) {
      keys.insert(key);
      CollectKeys(member, keys);
    }
  } else if (value.is_array()) {
    for (const nlohmann::json& member : value) CollectKeys(member, keys);
  }
}

// The keys of the JSON reports of runs that make every key appear: a file with data in and outside the regions,
// failed demands and digests, a warning, under every CRC; a checksum error; a comparison with differences.
std::set<std::string> JsonKeys() {
  const std::string data = test::Record(1, 0x100, "0123456789abcdef") + "\n";
  const std::string file = test::WriteFile("keys.s", "S00600004844521B\n" + data);
  const std::string other = test::WriteFile("keys_other.s", data + test::Record(1, 0x200, "x") + "\nS9030000FC\n");
  const std::string bad = test::WriteFile("keys_bad.s", "S00600004844521B\nS9030000FD\n");
  std::vector<std::vector<std::string>> runs = {{"--json", bad}, {"--diff", "--json", file, other}};
  for (int kind = 0; !CrcKindName(static_cast<CrcKind>(kind)).empty(); ++kind) {
    runs.push_back({"--json", "--map", "--ranges", "--crc", std::string(CrcKindName(static_cast<CrcKind>(kind))),
                    "--region", "ROM=0x100,8", "--region", "RAM=0x8000,16", "--max-use", "1", "--require", "RAM",
                    "--expect", "0x1", file});
  }
  std::set<std::string> keys;
  for (const std::vector<std::string>& args : runs) {
    std::ostringstream out, err;
    RunScan(args, out, err);
    CollectKeys(nlohmann::json::parse(out.str()), keys);
  }
  return keys;
}

// The man page tells every option in its synopsis and in a paragraph of its own, and every JSON key the reports
// can carry; the bash completion offers every option.
TEST(OptionTable, ManPageAndCompletionTellEveryOptionAndKey) {
  std::set<std::string> synopsis, tags;
  std::string section;
  bool tag_line = false;
  std::istringstream man(test::Slurp(VARNOK_MAN_PAGE));
  for (std::string line; std::getline(man, line);) {
    if (line.starts_with(".SH ")) section = line.substr(4);
    for (const std::string& word : BoldWords(line)) {
      if (section == "SYNOPSIS") synopsis.insert(word);
      if (tag_line) tags.insert(word);
    }
    tag_line = line == ".TP" || line == ".TQ";
  }
  std::set<std::string> completed;
  const std::string completion = test::Slurp(VARNOK_COMPLETION);
  for (std::size_t open = completion.find('\''); open != std::string::npos;) {
    const std::size_t close = completion.find('\'', open + 1);
    std::istringstream words(completion.substr(open + 1, close - open - 1));
    for (std::string word; words >> word;) completed.insert(word);
    open = close == std::string::npos ? close : completion.find('\'', close + 1);
  }

  for (const ScanOption& option : ScanOptionTable()) {
    bool in_synopsis = false;
    for (const std::string_view name : option.names) {
      if (name.empty()) continue;
      in_synopsis = in_synopsis || synopsis.contains(std::string(name));
      EXPECT_TRUE(tags.contains(std::string(name))) << name << " has no paragraph in the man page";
      EXPECT_TRUE(completed.contains(std::string(name))) << name << " is not completed";
    }
    EXPECT_TRUE(in_synopsis) << option.names[0] << " is not in the synopsis";
  }
  for (const std::string& key : JsonKeys()) EXPECT_TRUE(tags.contains(key)) << "JSON key " << key;
}

}  // namespace
}  // namespace varnok
