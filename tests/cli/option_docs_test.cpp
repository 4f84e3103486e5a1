#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cctype>
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

// A man page's line as it reads: "\-" a dash, "\e" a backslash, font changes and quotes dropped.
std::string RoffText(std::string_view roff) {
  std::string text;
  for (std::size_t i = 0; i < roff.size(); ++i) {
    if (roff[i] == '"') continue;
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

// Whether text holds word, not as part of a longer name ("-j" is not in "--jobs", "crc32" not in "crc32c").
bool HasWord(const std::string& text, std::string_view word) {
  const auto part = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; };
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const std::size_t end = at + word.size();
    if ((at == 0 || !part(text[at - 1])) && (end == text.size() || !part(text[end]))) return true;
  }
  return false;
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
  std::string synopsis, tags;  // the SYNOPSIS section, and the lines that head a paragraph (after .TP or .TQ)
  std::string section;
  bool tag_line = false;
  std::istringstream man(test::Slurp(VARNOK_MAN_PAGE));
  for (std::string line; std::getline(man, line);) {
    if (line.starts_with(".SH ")) section = line.substr(4);
    if (section == "SYNOPSIS") synopsis += RoffText(line) + "\n";
    if (tag_line) tags += RoffText(line) + "\n";
    tag_line = line == ".TP" || line == ".TQ";
  }
  const std::string completion = test::Slurp(VARNOK_COMPLETION);
  for (const ScanOption& option : ScanOptionTable()) {
    bool in_synopsis = false;
    for (const std::string_view name : option.names) {
      if (name.empty()) continue;
      in_synopsis = in_synopsis || HasWord(synopsis, name);
      EXPECT_TRUE(HasWord(tags, name)) << name << " has no paragraph in the man page";
      EXPECT_TRUE(HasWord(completion, name)) << name << " is not completed";
    }
    EXPECT_TRUE(in_synopsis) << option.names[0] << " is not in the synopsis";
  }
  for (const std::string& key : JsonKeys()) EXPECT_TRUE(HasWord(tags, key)) << "JSON key " << key;
}

}  // namespace
}  // namespace varnok
