#include "cli/scan.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace varnok {
namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Scan(const std::vector<std::string>& args, BlockAllocator allocate = &std::malloc) {
  std::ostringstream out, err;
  const int status = RunScan(args, out, err, allocate, &std::free);
  return {status, out.str(), err.str()};
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = ::testing::TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

const std::string kThreeLines =
    "S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F74\nS9030000FC\n";

TEST(Scan, PrintsTheNineFieldsAndExitStatus) {
  const struct {
    const char* name;
    std::string bytes;
    int status;
    std::string out;
  } cases[] = {
      {"success", kThreeLines, kScanSuccess,
       "Analyser status: Parsing successfully finished...\nModule name: HDR\nVersion.Revision:\nDescription:\n"
       "Total records: 3\nTotal databytes: 16\nHighest address: 0x0000000F\nLowest address: 0x00000000\n"
       "Execution address: 0x00000000\n"},
      {"analysis error", "S00600004844521B\nS9030000FD\n", kScanAnalysisError,
       "Analyser status: Checksum error @ line 2\nModule name: HDR\nVersion.Revision:\nDescription:\n"
       "Total records:\nTotal databytes:\nHighest address:\nLowest address:\nExecution address:\n"},
      // Module "a\b" + 0x01 + "é" (0xE9): escaped bytes, the backslash included.
      {"escaped values", "S0070000615C01E951\n", kScanSuccess,
       "Analyser status: Parsing successfully finished...\nModule name: a\\x5C\\x01\\xE9\nVersion.Revision:\n"
       "Description:\nTotal records: 1\nTotal databytes: 0\nHighest address: 0x00000000\nLowest address:\n"
       "Execution address:\n"},
  };
  for (const auto& c : cases) {
    const Result r = Scan({WriteFile("scan.s", c.bytes)});
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
  }
}

TEST(Scan, UsageAndFileErrors) {
  const std::string file = WriteFile("usage.s", kThreeLines);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string first_out_line;
    bool usage_on_stderr;
  } cases[] = {
      {{}, kScanUsageError, "", true},
      {{"--frobnicate", file}, kScanUsageError, "", true},
      {{file, file}, kScanUsageError, "", true},
      {{"--help"}, kScanSuccess, "Usage: varnok-scan [--map] [--json] FILE", false},
      {{"--version"}, kScanSuccess, "varnok-scan 1.0.1.18", false},
      {{::testing::TempDir() + "/missing.s"}, kScanAnalysisError, "Analyser status: Input file does not exist!", false},
      {{::testing::TempDir()}, kScanAnalysisError, "Analyser status: Input file does not exist!", false},
      {{"--", file}, kScanSuccess, "Analyser status: Parsing successfully finished...", false},
  };
  for (const auto& c : cases) {
    const Result r = Scan(c.args);
    const std::string label = c.args.empty() ? "(none)" : c.args.front();
    EXPECT_EQ(r.status, c.status) << label;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.first_out_line) << label;
    EXPECT_EQ(r.err.find("Usage: varnok-scan") != std::string::npos, c.usage_on_stderr) << label;
  }
}

TEST(Scan, MapPrintsHeaderAndWrittenRowsOnly) {
  // Data at 0x1000..0x1003 and 0x5000, start vector at 0x3000 (no data there), rows between unused.
  const std::string bytes =
      "S107100041422063E2\nS10450007F2C\nS9033000CC\n";
  const Result r = Scan({"--map", WriteFile("map.s", bytes)});
  ASSERT_EQ(r.status, kScanSuccess) << r.out;
  std::string expected_map = "\nAddress";
  for (int c = 0; c < 32; ++c) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", c);
    expected_map += hex;
  }
  expected_map += " ~~~~~~~ ASCII ~~~~~~~\n";
  std::string row1 = "00001000 .41 .42 .20 .63";
  for (int c = 4; c < 32; ++c) row1 += " FF";
  row1.append(" AB c").append(28, '.').append("\n");
  std::string row_sv = "00003000 !FF";
  for (int c = 1; c < 32; ++c) row_sv += " FF";
  row_sv.append(" ").append(32, '.').append("\n");
  std::string row2 = "00005000 .7F";
  for (int c = 1; c < 32; ++c) row2 += " FF";
  row2.append(" ").append(32, '.').append("\n");
  expected_map += row1 + row_sv + row2;
  const std::size_t map_start = r.out.find("\n\nAddress");
  ASSERT_NE(map_start, std::string::npos);
  EXPECT_EQ(r.out.substr(map_start + 1), expected_map);
}

TEST(Scan, JsonCarriesTextsNumbersAndLatin1) {
  const Result ok = Scan({"--json", WriteFile("json.s", "S0070000615C01E951\n" + kThreeLines.substr(17))});
  EXPECT_EQ(ok.status, kScanSuccess);
  EXPECT_NE(ok.out.find("\"success\": true"), std::string::npos);
  EXPECT_NE(ok.out.find("\"module_name\": \"a\\\\\\u0001\xC3\xA9\""), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("\"highest_address\": 15"), std::string::npos);
  EXPECT_NE(ok.out.find("\"total_databytes\": \"16\""), std::string::npos);
  const Result bad = Scan({"--json", WriteFile("json_bad.s", "junk\n")});
  EXPECT_EQ(bad.status, kScanAnalysisError);
  EXPECT_NE(bad.out.find("\"status\": \"No s-record found @ line 1\""), std::string::npos);
  EXPECT_NE(bad.out.find("\"success\": false"), std::string::npos);
  EXPECT_NE(bad.out.find("\"lowest_address\": null"), std::string::npos);
}

TEST(Scan, JsonWithMapIsOneValidObject) {
  const Result r = Scan({"--json", "--map", WriteFile("json_map.s", "S107100041422063E2\nS10450007F2C\nS9033000CC\n")});
  ASSERT_EQ(r.status, kScanSuccess);
  const nlohmann::json report = nlohmann::json::parse(r.out);
  EXPECT_EQ(report["map"]["header"].get<std::string>().substr(0, 11), "Address 00 ");
  ASSERT_EQ(report["map"]["rows"].size(), 3u);
  EXPECT_EQ(report["map"]["rows"][1].get<std::string>().substr(0, 12), "00003000 !FF");
  EXPECT_EQ(report["numbers"]["lowest_address"], 0x1000);
  // Without data rows the map holds only its header row.
  const Result empty = Scan({"--json", "--map", WriteFile("json_empty.s", "S0030000FC\n")});
  EXPECT_TRUE(nlohmann::json::parse(empty.out)["map"]["rows"].empty());
}

void* NoMemory(std::size_t) { return nullptr; }

TEST(Scan, OutOfMemoryExitsWithThree) {
  const std::string file = WriteFile("oom.s", kThreeLines);
  const Result with_map = Scan({"--map", file}, &NoMemory);
  EXPECT_EQ(with_map.status, kScanOutOfMemory);
  EXPECT_EQ(with_map.err, "Out of memory!!\n");
  EXPECT_EQ(with_map.out.find("Address"), std::string::npos);
  // Without the map option nothing is kept, so nothing is allocated.
  EXPECT_EQ(Scan({file}, &NoMemory).status, kScanSuccess);
}

TEST(Scan, RealProcessExitStatusAndStreams) {
  const std::string file = WriteFile("process.s", kThreeLines);
  const std::string out_path = ::testing::TempDir() + "/process.out";
  const std::string err_path = ::testing::TempDir() + "/process.err";
  const std::string command = std::string(VARNOK_SCAN_PATH) + " --map " + file + " >" + out_path + " 2>" + err_path;
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0);
  std::ifstream out(out_path);
  std::string first;
  std::getline(out, first);
  EXPECT_EQ(first, "Analyser status: Parsing successfully finished...");
  const struct {
    std::string args;
    int status;
  } cases[] = {
      {"", kScanUsageError},
      {WriteFile("process_bad.s", "S9030000FD\n"), kScanAnalysisError},
      {"--version", kScanSuccess},
  };
  for (const auto& c : cases) {
    const int status = std::system((std::string(VARNOK_SCAN_PATH) + " " + c.args + " >" + out_path + " 2>" + err_path).c_str());
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.args;
  }
}

}  // namespace
}  // namespace varnok
