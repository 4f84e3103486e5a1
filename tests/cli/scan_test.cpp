#include "cli/scan.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/no_memory.h"
#include "support/sanitizer.h"
#include "support/srec_builder.h"

namespace varnok {
namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Scan(const std::vector<std::string>& args, const ScanContext& context = {}) {
  std::ostringstream out, err;
  const int status = RunScan(args, out, err, context);
  return {status, out.str(), err.str()};
}

using test::kThreeLines;
using test::Slurp;
using test::TestDir;
using test::WriteFile;

const std::string kThreeLinesReport =
    "Analyser status: Parsing successfully finished...\nModule name: HDR\nVersion.Revision:\nDescription:\n"
    "Total records: 3\nTotal databytes: 16\nHighest address: 0x0000000F\nLowest address: 0x00000000\n"
    "Execution address: 0x00000000\n";
const std::string kBadChecksumReport =
    "Analyser status: Checksum error @ line 2\nModule name: HDR\nVersion.Revision:\nDescription:\n"
    "Total records:\nTotal databytes:\nHighest address:\nLowest address:\nExecution address:\n";

// Runs the command in a shell (redirections and limits included); the exit status, or 128 + the signal.
int Shell(const std::string& command) {
  const int raw = std::system(command.c_str());
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return WEXITSTATUS(raw);
}

TEST(Scan, PrintsTheNineFieldsAndExitStatus) {
  // Standard error names the file that failed or warned: "FILE" stands for its path.
  const struct {
    const char* name;
    std::string bytes;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {"success", kThreeLines, kScanSuccess, kThreeLinesReport, ""},
      {"analysis error", "S00600004844521B\nS9030000FD\n", kScanAnalysisError, kBadChecksumReport,
       "varnok-scan: FILE:2: Checksum error\n"},
      // Module "a\b" + 0x01 + "é" (0xE9): escaped bytes, the backslash included.
      {"escaped values", "S0070000615C01E951\n", kScanSuccess,
       "Analyser status: Parsing successfully finished...\nModule name: a\\x5C\\x01\\xE9\nVersion.Revision:\n"
       "Description:\nTotal records: 1\nTotal databytes: 0\nHighest address: 0x00000000\nLowest address:\n"
       "Execution address:\nWarning: no data record\nWarning: no termination record\n",
       "varnok-scan: FILE: warning: no data record; no termination record\n"},
  };
  for (const auto& c : cases) {
    const std::string file = WriteFile("scan.s", c.bytes);
    const Result r = Scan({file});
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    std::string err = c.err;
    if (const std::size_t at = err.find("FILE"); at != std::string::npos) err.replace(at, 4, file);
    EXPECT_EQ(r.err, err) << c.name;
  }
}

TEST(Scan, UsageAndFileErrors) {
  const std::string file = WriteFile("usage.s", kThreeLines);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string first_out_line;
    bool usage_error;
  } cases[] = {
      {{}, kScanUsageError, "", true},
      {{"--frobnicate", file}, kScanUsageError, "", true},
      {{"-", file, "-"}, kScanUsageError, "", true},
      {{"-j", "0", file}, kScanUsageError, "", true},
      {{file, "--jobs"}, kScanUsageError, "", true},
      {{"--help"}, kScanSuccess, "Usage: varnok-scan [OPTIONS] FILE...", false},
      {{"--version"}, kScanSuccess, "varnok-scan 1.0.1.18", false},
      {{TestDir() + "/missing.s"}, kScanAnalysisError, "Analyser status: Input file does not exist!", false},
      {{"--", file}, kScanSuccess, "Analyser status: Parsing successfully finished...", false},
      {{"--region", "ROM=0x100", file}, kScanUsageError, "", true},
      {{file, "--region"}, kScanUsageError, "", true},
      {{"--fill=0x100", "--digest", file}, kScanUsageError, "", true},
      {{"--diff", file}, kScanUsageError, "", true},
      {{"--region", "ROM=0,1", "--require", "RAM", file}, kScanUsageError, "", true},
      {{"--region", "ROM=0,1", "--max-use", "100.5", file}, kScanUsageError, "", true},
      {{"--crc", "crc16-ccitt", "--expect", "0x12345", file}, kScanUsageError, "", true},
      {{"--expect", "0x0x40ECB62D", file}, kScanUsageError, "", true},
      {{"--diff", "--digest", file, file}, kScanUsageError, "", true},
      {{"--memory", TestDir() + "/missing.ld", file}, kScanUsageError, "", false},
  };
  for (const auto& c : cases) {
    const Result r = Scan(c.args);
    const std::string label = c.args.empty() ? "(none)" : c.args.front();
    EXPECT_EQ(r.status, c.status) << label;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.first_out_line) << label;
    // A usage error is one line that names it and one that points to --help.
    const std::size_t first_line_end = r.err.find('\n') + 1;
    EXPECT_EQ(r.err.substr(std::min(first_line_end, r.err.size())) == "Try 'varnok-scan --help' for more information.\n",
              c.usage_error)
        << label;
  }
}

TEST(Scan, UsageErrorsEchoArgumentsEscaped) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--x\x1B[2J", "f"}, "varnok-scan: unknown option '--x\\x1B[2J'\n"},
      {{"-\\\xE9\n", "f"}, "varnok-scan: unknown option '-\\x5C\\xE9\\x0A'\n"},
      {{"-j", "\x1B[31m", "f"}, "varnok-scan: the number of jobs must be a whole number from 1 on, not '\\x1B[31m'\n"},
      {{"--jobs=\x7F", "f"}, "varnok-scan: the number of jobs must be a whole number from 1 on, not '\\x7F'\n"},
      {{"-j\r", "f"}, "varnok-scan: the number of jobs must be a whole number from 1 on, not '\\x0D'\n"},
      {{"-json", "f"}, "varnok-scan: unknown option '-json'\n"},
  };
  for (const auto& c : cases) {
    const Result r = Scan(c.args);
    EXPECT_EQ(r.status, kScanUsageError) << c.message;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.message);
  }
}

TEST(Scan, MapPrintsHeaderAndWrittenRowsOnly) {
  // Data at 0x1000..0x1003 and 0x5000, start vector at 0x3000 (no data there), rows between unused.
  const std::string bytes =
      "S107100041422063E2\nS10450007F2C\nS9033000CC\n";
  const Result r = Scan({"--map", WriteFile("map.s", bytes)});
  ASSERT_EQ(r.status, kScanSuccess) << r.out;
  // A row: its address, its filled or marked cells, the rest unused, then its printable characters.
  const auto row = [](const std::string& address, const std::string& cells, const std::string& ascii) {
    std::string text = address + cells;
    for (std::size_t c = cells.size() / 4; c < 32; ++c) text += " FF";
    return text + " " + ascii + std::string(32 - ascii.size(), '.') + "\n";
  };
  std::string expected_map = "\nAddress ";
  for (int c = 0; c < 32; ++c) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "  %02X", c);
    expected_map += hex;
  }
  expected_map += " ~~~~~~~ ASCII ~~~~~~~\n" + row("00001000", " .41 .42 .20 .63", "AB c") + row("00003000", " !FF", "") +
                  row("00005000", " .7F", "");
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
  // The header "A", byte 0, "B": the module name stops at the byte 0, the header's text does not.
  const nlohmann::json cut = nlohmann::json::parse(Scan({"--json", WriteFile("json_zero.s", "S006000041004276\n")}).out);
  EXPECT_EQ(cut["module_name"], "A");
  EXPECT_EQ(cut["header_text"], std::string("A\0B", 3));
}

TEST(Scan, JsonWithMapIsOneValidObject) {
  const Result r = Scan({"--json", "--map", WriteFile("json_map.s", "S107100041422063E2\nS10450007F2C\nS9033000CC\n")});
  ASSERT_EQ(r.status, kScanSuccess);
  const nlohmann::json report = nlohmann::json::parse(r.out);
  EXPECT_EQ(report["map"]["header"].get<std::string>().substr(0, 13), "Address   00 ");
  ASSERT_EQ(report["map"]["rows"].size(), 3u);
  EXPECT_EQ(report["map"]["rows"][1].get<std::string>().substr(0, 12), "00003000 !FF");
  // Without data rows the map holds only its header row.
  const Result empty = Scan({"--json", "--map", WriteFile("json_empty.s", "S0030000FC\n")});
  EXPECT_TRUE(nlohmann::json::parse(empty.out)["map"]["rows"].empty());
}

ScanContext NoMemoryContext() {
  ScanContext context;
  context.allocate = &test::NoMemory;
  return context;
}

TEST(Scan, OutOfMemoryExitsWithThree) {
  const std::string file = WriteFile("oom.s", kThreeLines);
  const Result with_map = Scan({"--map", file}, NoMemoryContext());
  EXPECT_EQ(with_map.status, kScanOutOfMemory);
  EXPECT_EQ(with_map.err, "Out of memory!!\n");
  EXPECT_EQ(with_map.out.find("Address"), std::string::npos);
  // Without the map option nothing is kept, so nothing is allocated.
  EXPECT_EQ(Scan({file}, NoMemoryContext()).status, kScanSuccess);
}

TEST(Scan, SeveralFilesKeepTheirOrderWithAnyNumberOfJobs) {
  const std::string ok = WriteFile("several_ok.s", kThreeLines);
  const std::string bad = WriteFile("several_bad.s", "S00600004844521B\nS9030000FD\n");
  const std::string missing = TestDir() + "/several_missing.s";
  // Large enough that the first file finishes last when the files run side by side.
  std::string big;
  for (std::uint32_t i = 0; i < 100000; ++i) big += test::Record(1, i * 16 % 0x10000, std::string(16, 'b')) + "\n";
  const std::string slow = WriteFile("several_slow.s", big);
  const std::vector<std::string> files = {slow, ok, bad, missing, ok};
  std::vector<std::string> args = {"-j", "1"};
  args.insert(args.end(), files.begin(), files.end());
  const Result one = Scan(args);
  EXPECT_EQ(one.status, kScanAnalysisError);
  const std::string slow_part = "File: " + slow + "\nAnalyser status: Parsing successfully finished...\n";
  EXPECT_EQ(one.out.substr(0, slow_part.size()), slow_part);
  const std::string rest = "File: " + ok + "\n" + kThreeLinesReport + "\nFile: " + bad + "\n" + kBadChecksumReport +
                           "\nFile: " + missing + "\nAnalyser status: Input file does not exist!\nModule name:\n" +
                           "Version.Revision:\nDescription:\nTotal records:\nTotal databytes:\nHighest address:\n" +
                           "Lowest address:\nExecution address:\n\nFile: " + ok + "\n" + kThreeLinesReport + "\n";
  ASSERT_GT(one.out.size(), rest.size());
  EXPECT_EQ(one.out.substr(one.out.size() - rest.size()), rest);
  for (const char* jobs : {"2", "8"}) {
    args[1] = jobs;
    const Result many = Scan(args);
    EXPECT_EQ(many.status, one.status) << jobs;
    EXPECT_EQ(many.out, one.out) << jobs;
  }

  // The exit status is the highest of the files'; quiet mode prints nothing on standard output and tells the same,
  // naming the failing files on standard error.
  const std::string bad_line = "varnok-scan: " + bad + ":2: Checksum error\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } statuses[] = {
      {{ok, ok}, kScanSuccess, ""},
      {{ok, bad}, kScanAnalysisError, bad_line},
      {{"--map", bad, ok}, kScanOutOfMemory, bad_line + "Out of memory!!\n"},
  };
  for (const auto& c : statuses) {
    EXPECT_EQ(Scan(c.args, NoMemoryContext()).status, c.status) << c.args.back();
    std::vector<std::string> quiet = c.args;
    quiet.insert(quiet.begin(), "-q");
    const Result q = Scan(quiet, NoMemoryContext());
    EXPECT_EQ(q.status, c.status) << c.args.back();
    EXPECT_EQ(q.out, "") << c.args.back();
    EXPECT_EQ(q.err, c.err) << c.args.back();
  }
}

TEST(Scan, AsManyFilesAtATimeAsJobsWhenInputsWait) {
  // FIFOs written in the reverse order of the files: the last one's writer comes first, and only once that file
  // is open, so every file must be open at once, whatever the number of cores.
  const std::size_t count = std::thread::hardware_concurrency() + 2;
  std::vector<std::string> args = {"-j", std::to_string(count)};
  std::string expected;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string fifo = TestDir() + "/chain_" + std::to_string(i);
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    args.push_back(fifo);
    expected += "File: " + fifo + "\n" + kThreeLinesReport + "\n";
  }
  bool in_order = true;
  std::thread writer([&] {
    // A FIFO opens for writing without waiting only while its reader has it open. Past the deadline the files are
    // written in any order, so that a scan that waits for ever still ends.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::vector<bool> fed(count, false);
    for (std::size_t left = count; left > 0;) {
      in_order = in_order && std::chrono::steady_clock::now() < deadline;
      for (std::size_t i = count; i-- > 0;) {
        if (fed[i]) continue;
        const int fd = ::open(args[2 + i].c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          fed[i] = ::write(fd, kThreeLines.data(), kThreeLines.size()) == static_cast<ssize_t>(kThreeLines.size());
          ::close(fd);
          left -= fed[i] ? 1 : 0;
        }
        if (in_order) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const Result r = Scan(args);
  writer.join();
  EXPECT_TRUE(in_order);
  EXPECT_EQ(r.status, kScanSuccess);
  EXPECT_EQ(r.out, expected);
}

TEST(Scan, RangesFollowTheWrittenAddresses) {
  // Adjacent records merge, overlapping ones too, a record past 0xFFFFFFFF goes on at 0, a lone byte is a range.
  const std::string bytes = test::Record(3, 0x318, std::string(16, 'a')) + "\n" +
                            test::Record(3, 0x328, std::string(12, 'b')) + "\n" +
                            test::Record(3, 0x320, std::string(4, 'c')) + "\n" +
                            test::Record(3, 0xFFFFFFFC, std::string(8, 'd')) + "\n" +
                            test::Record(1, 0x1000, std::string(1, 'e')) + "\n";
  const std::string file = WriteFile("ranges.s", bytes);
  const Result text = Scan({"--ranges", file});
  EXPECT_EQ(text.status, kScanSuccess);
  // The warnings follow the ranges.
  const std::string data_lines =
      "Data: 0x00000000 - 0x00000003\nData: 0x00000318 - 0x00000333\nData: 0x00001000 - 0x00001000\n"
      "Data: 0xFFFFFFFC - 0xFFFFFFFF\nWarning: no termination record\n"
      "Warning: address 0x00000320 written twice @ lines 1 and 3, and 3 more addresses\n"
      "Warning: record at line 4 runs past 0xFFFFFFFF\n";
  ASSERT_GT(text.out.size(), data_lines.size());
  EXPECT_EQ(text.out.substr(text.out.size() - data_lines.size()), data_lines);
  EXPECT_EQ(text.out.substr(0, text.out.size() - data_lines.size()).find("Data:"), std::string::npos);

  const nlohmann::json json = nlohmann::json::parse(Scan({"--json", "--ranges", file}).out);
  const nlohmann::json expected = nlohmann::json::parse(
      R"([{"start": 0, "end": 3}, {"start": 792, "end": 819}, {"start": 4096, "end": 4096},)"
      R"( {"start": 4294967292, "end": 4294967295}])");
  EXPECT_EQ(json["ranges"], expected);
  // A failed run has no ranges.
  const Result failed = Scan({"--json", "--ranges", WriteFile("ranges_bad.s", bytes + "S9030000FD\n")});
  EXPECT_TRUE(nlohmann::json::parse(failed.out)["ranges"].is_null());
}

TEST(Scan, JsonNamesTheFileAndTheError) {
  const struct {
    const char* name;
    std::string path;
    const char* kind;  // nullptr: no error
    nlohmann::json line;
    nlohmann::json checksums;  // what a checksum error adds
  } cases[] = {
      {"parsed", WriteFile("kind_ok.s", kThreeLines), nullptr, nullptr, {}},
      {"missing", TestDir() + "/kind_missing.s", "missing", nullptr, {}},
      {"open", TestDir() + "/" + std::string(300, 'n'), "open", nullptr, {}},
      {"read", "/proc/self/mem", "read", 1, {}},
      {"no_record", WriteFile("kind_no_record.s", "S9030000FC\njunk\n"), "no_record", 2, {}},
      {"unknown_type", WriteFile("kind_unknown.s", "S4030000FC\n"), "unknown_type", 1, {}},
      {"byte_count", WriteFile("kind_count.s", "S9040000FC\n"), "byte_count", 1, {}},
      // The termination record carries 0xFD where its bytes call for 0xFC.
      {"checksum", WriteFile("kind_checksum.s", "S00600004844521B\nS9030000FD\n"), "checksum", 2,
       {{"checksum", 253}, {"expected_checksum", 252}}},
  };
  std::vector<std::string> all;
  for (const auto& c : cases) {
    const nlohmann::json report = nlohmann::json::parse(Scan({"--json", c.path}).out);
    EXPECT_EQ(report["file"], c.path) << c.name;
    if (c.kind == nullptr) {
      EXPECT_TRUE(report["error"].is_null()) << c.name;
    } else {
      nlohmann::json error = {{"kind", c.kind}, {"line", c.line}};
      if (!c.checksums.is_null()) error.update(c.checksums);
      EXPECT_EQ(report["error"], error) << c.name;
    }
    all.push_back(c.path);
  }
  const nlohmann::json oom = nlohmann::json::parse(Scan({"--json", "--map", cases[0].path}, NoMemoryContext()).out);
  EXPECT_EQ(oom["error"]["kind"], "out_of_memory");

  // Several files: one object per line, in the order given.
  all.insert(all.begin(), "--json");
  std::istringstream lines(Scan(all).out);
  std::string line;
  std::size_t index = 0;
  while (std::getline(lines, line)) {
    ASSERT_LT(index, std::size(cases));
    EXPECT_EQ(nlohmann::json::parse(line)["file"], cases[index].path);
    ++index;
  }
  EXPECT_EQ(index, std::size(cases));
}

TEST(Scan, StreamsAreReadToTheirEnd) {
  // Standard input, named "-" among several files.
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ASSERT_EQ(::write(pipe_fds[1], kThreeLines.data(), kThreeLines.size()), static_cast<ssize_t>(kThreeLines.size()));
  ::close(pipe_fds[1]);
  ScanContext context;
  context.stdin_fd = pipe_fds[0];
  const Result piped = Scan({"-", "/dev/zero"}, context);
  ::close(pipe_fds[0]);
  EXPECT_EQ(piped.status, kScanAnalysisError);
  EXPECT_EQ(piped.out.substr(0, 8 + kThreeLinesReport.size()), "File: -\n" + kThreeLinesReport);
  // An endless input ends at its first bad line.
  EXPECT_NE(piped.out.find("File: /dev/zero\nAnalyser status: No s-record found @ line 1\n"), std::string::npos);

  // A FIFO whose writer comes later.
  const std::string fifo = TestDir() + "/scan_fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << kThreeLines; });
  const Result from_fifo = Scan({fifo});
  writer.join();
  std::remove(fifo.c_str());
  EXPECT_EQ(from_fifo.status, kScanSuccess);
  EXPECT_EQ(from_fifo.out, kThreeLinesReport);
}

TEST(Scan, ReportThatCannotBeWrittenExitsWithFour) {
  const std::string file = WriteFile("unwritten.s", kThreeLines);
  const std::string err_path = TestDir() + "/unwritten.err";
  const struct {
    const char* redirect;
    const char* reason;
  } cases[] = {
      {">/dev/full", "No space left on device"},
      {">&-", "Bad file descriptor"},
  };
  for (const auto& c : cases) {
    const int status = Shell(std::string(VARNOK_SCAN_PATH) + " " + file + " " + c.redirect + " 2>" + err_path);
    EXPECT_EQ(status, kScanOutputError) << c.redirect;
    EXPECT_EQ(Slurp(err_path), std::string("varnok-scan: cannot write output: ") + c.reason + "\n") << c.redirect;
  }
  // Quiet mode writes nothing, so nothing can fail.
  EXPECT_EQ(Shell(std::string(VARNOK_SCAN_PATH) + " -q " + file + " >/dev/full"), kScanSuccess);
}

TEST(Scan, MemoryLimitEndsInOutOfMemoryNeverInASignal) {
  if (test::kAddressSanitizer) {
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than any limit leaves";
  }
  // A dense 8 MiB image: the map that fills while it is read and its lay-out need more than the tighter limits leave.
  std::string image;
  const std::string data(32, 'm');
  for (std::uint32_t address = 0; address < (8u << 20); address += 32) image += test::Record(3, address, data) + "\n";
  const std::string file = WriteFile("ulimit.s", image);
  const std::string out_path = TestDir() + "/ulimit.out";
  const std::string err_path = TestDir() + "/ulimit.err";
  int out_of_memory = 0;
  for (const int megabytes : {12, 16, 20, 24, 28, 32, 40, 64}) {
    const int status = Shell("ulimit -v " + std::to_string(megabytes * 1024) + "; exec " + VARNOK_SCAN_PATH +
                             " --map " + file + " >" + out_path + " 2>" + err_path);
    ASSERT_TRUE(status == kScanSuccess || status == kScanOutOfMemory) << megabytes << " MB: " << status;
    if (status == kScanOutOfMemory) {
      ++out_of_memory;
      EXPECT_EQ(Slurp(err_path), "Out of memory!!\n") << megabytes << " MB";
      EXPECT_EQ(Slurp(out_path).substr(0, 33), "Analyser status: Out of memory!!\n") << megabytes << " MB";
    }
  }
  EXPECT_GT(out_of_memory, 0);
}

TEST(Scan, ProgressLineOnlyOnATerminal) {
  // A sparse file over the size that shows progress: its first line ends the run after one block.
  const std::string large = TestDir() + "/progress_large.s";
  {
    const int fd = ::open(large.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, (65 << 20) + 1), 0);
    ::close(fd);
  }
  const std::string small = WriteFile("progress_small.s", kThreeLines);
  const std::string large_failure = "varnok-scan: " + large + ":1: No s-record found\n";
  // What the line starts with, or nothing when it is not shown; then what standard error ends with.
  const struct {
    std::vector<std::string> files;
    bool terminal;
    std::string shown;
    std::string end;
  } cases[] = {
      {{large}, true, "\r\x1b[K" + large + ": 0 %, ", "\r\x1b[K" + large_failure},
      {{small}, true, "", ""},
      {{large}, false, "", large_failure},
      {{large, large}, true, "\r\x1b[K0 of 2 files, ", large_failure},
  };
  for (const auto& c : cases) {
    // Standard output goes to a file; standard error to a pseudo-terminal or to a pipe.
    const std::string out_path = TestDir() + "/progress.out";
    int master = -1;
    int pipe_fds[2] = {-1, -1};
    pid_t child;
    if (c.terminal) {
      child = ::forkpty(&master, nullptr, nullptr, nullptr);
    } else {
      ASSERT_EQ(::pipe(pipe_fds), 0);
      child = ::fork();
    }
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (!c.terminal) ::dup2(pipe_fds[1], STDERR_FILENO);
      const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, STDOUT_FILENO);
      std::vector<char*> argv = {const_cast<char*>(VARNOK_SCAN_PATH), const_cast<char*>("-j1")};
      for (const std::string& file : c.files) argv.push_back(const_cast<char*>(file.c_str()));
      argv.push_back(nullptr);
      ::execv(VARNOK_SCAN_PATH, argv.data());
      ::_exit(127);
    }
    const int reader = c.terminal ? master : pipe_fds[0];
    if (!c.terminal) ::close(pipe_fds[1]);
    std::string err;
    char buffer[4096];
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) err.append(buffer, static_cast<std::size_t>(n));
    ::close(reader);
    int raw = 0;
    ::waitpid(child, &raw, 0);
    const std::string label = c.files[0] + (c.files.size() > 1 ? " and more" : "") + (c.terminal ? " on a terminal" : "");
    ASSERT_TRUE(WIFEXITED(raw)) << label;
    // The terminal turns a line end into CR LF.
    for (std::size_t at; (at = err.find("\r\n")) != std::string::npos;) err.erase(at, 1);
    if (!c.shown.empty()) {
      // One line: the file or the run, how far, how fast, then erased before the failure is named.
      EXPECT_EQ(err.substr(0, c.shown.size()), c.shown) << label;
      EXPECT_NE(err.find(" MB/s"), std::string::npos) << label;
      ASSERT_GE(err.size(), c.end.size()) << label;
      EXPECT_EQ(err.substr(err.size() - c.end.size()), c.end) << label;
    } else {
      EXPECT_EQ(err, c.end) << label;
    }
    EXPECT_NE(Slurp(out_path).find("Analyser status: "), std::string::npos) << label;
  }
  std::remove(large.c_str());
}

// The lines after the summary: regions, digest, warnings; "FILE" in err stands for the file's path.
TEST(Scan, FindingsFollowTheSummary) {
  const std::string image = test::Record(1, 0x100, "abcd") + "\n" + test::Record(1, 0x108, "ef") + "\n";
  const std::string file = WriteFile("findings.s", image + test::Record(9, 0x100) + "\n");
  const std::string cut = WriteFile("findings_cut.s", image);
  const std::string bad = WriteFile("findings_bad.s", image + "S9030000FD\n");
  const std::string script = WriteFile("findings.ld", "MEMORY\n{\n  ROM (rx) : ORIGIN = 0x100, LENGTH = 8\n"
                                                      "  RAM (rw) : ORIGIN = 0x2000, LENGTH = 1K\n}\n");
  const std::string sized = WriteFile("findings_sized.ld", "MEMORY\n{\n  ROM (rx) : ORIGIN = 0x100, LENGTH = ROM_SIZE\n"
                                                          "  RAM (rw) : ORIGIN = 0x2000, LENGTH = 1K\n}\n");
  const std::string top = WriteFile("findings_top.ld", "MEMORY\n{\n  ROM : ORIGIN = 0x100, LENGTH = 16\n"
                                                        "  TOP : ORIGIN = 0xFFFFFF00, LENGTH = 1K\n}\n");
  const std::string regions =
      "Region ROM: 0x00000100 - 0x00000107, 4 of 8 bytes used (50.00 %)\n"
      "Region RAM: 0x00002000 - 0x000023FF, 0 of 1024 bytes used (0.00 %)\nOutside regions: 0x00000108 - 0x00000109\n";
  const std::string outside = "varnok-scan: FILE: data outside every region @ 0x00000108\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string tail;  // what follows "Execution address:..."
    std::string err;
  } cases[] = {
      {{"--digest", file}, kScanSuccess,
       "Image: 0x00000100 - 0x00000109, gaps filled with 0xFF\nCRC-32: 0x7CC16467\n"
       "SHA-256: 79720b4f286c096bf52e5fa4fb4c47c7fbed5f70e8ff4319b1fd1bfc2a59c5df\n",
       ""},
      {{"--digest", "--fill", "0", file}, kScanSuccess,
       "Image: 0x00000100 - 0x00000109, gaps filled with 0x00\nCRC-32: 0x32FC3A3B\n"
       "SHA-256: 3c49ba9ed27fb23e35a9c7a73f2e6ba24585b030236fd3b35d0664af7408d525\n",
       ""},
      {{"--region", "ROM=0x100,8", "--region=RAM=0x2000,1K", file}, kScanOutsideRegions, regions, outside},
      {{"--memory", script, "-q", file}, kScanOutsideRegions, "", outside},
      {{"--memory", sized, "--defsym", "ROM_SIZE=4 * 2", "-q", file}, kScanOutsideRegions, "", outside},
      // A region's own limit wins over the one for every region, whatever their order.
      {{"--max-use", "ROM=40", "--max-use=60", "--require", "RAM", "--memory", script, file}, kScanOutsideRegions,
       regions + "Region ROM: 50.00 % used, limit 40 %\nRegion RAM: no data, required\n",
       outside.substr(0, outside.size() - 1) + "; Region ROM: 50.00 % used, limit 40 %; Region RAM: no data, required\n"},
      // The region padded to its end: "abcd" and four 0xFF; an expected digest that differs fails the file.
      {{"--region", "ROM=0x100,8", "--expect", "ROM:5923ae1a", "--expect", "0x7CC16466", file}, kScanAnalysisError,
       "Region ROM: 0x00000100 - 0x00000107, 4 of 8 bytes used (50.00 %)\nOutside regions: 0x00000108 - 0x00000109\n"
       "Image: 0x00000100 - 0x00000109, gaps filled with 0xFF\nCRC-32: 0x7CC16467\n"
       "SHA-256: 79720b4f286c096bf52e5fa4fb4c47c7fbed5f70e8ff4319b1fd1bfc2a59c5df\nRegion ROM CRC-32: 0x5923AE1A\n"
       "Region ROM SHA-256: 887b18d104dfa0362c91087385da4f526d11e96043f54fac42644baed2905666\n"
       "Digest mismatch: CRC-32 is 0x7CC16467, expected 0x7CC16466\n",
       "varnok-scan: FILE: data outside every region @ 0x00000108; Digest mismatch: CRC-32 is 0x7CC16467, expected "
       "0x7CC16466\n"},
      {{"--region", "ROM=0x100,16", "--region", "NONE=0x104,0", cut}, kScanSuccess,
       "Region ROM: 0x00000100 - 0x0000010F, 6 of 16 bytes used (37.50 %)\nRegion NONE: 0x00000104, empty (0 bytes)\n"
       "Warning: no termination record\n",
       "varnok-scan: FILE: warning: no termination record\n"},
      {{"--memory", top, "-q", file}, kScanSuccess, "",
       "varnok-scan: SCRIPT:4: warning: region 'TOP' runs past 0xFFFFFFFF; only its part below 4 GiB is counted\n"},
      {{"--strict", cut}, kScanAnalysisError, "Warning: no termination record\n",
       "varnok-scan: FILE: warning: no termination record\n"},
      {{"--digest", "--region", "ROM=0,1", bad}, kScanAnalysisError, "", "varnok-scan: FILE:3: Checksum error\n"},
  };
  for (const auto& c : cases) {
    const Result r = Scan(c.args);
    const std::string& path = c.args.back();
    EXPECT_EQ(r.status, c.status) << path;
    const std::size_t exec = r.out.find("Execution address:");
    const std::string tail = exec == std::string::npos ? r.out : r.out.substr(r.out.find('\n', exec) + 1);
    EXPECT_EQ(tail, c.tail) << path;
    std::string err = c.err;
    if (const std::size_t at = err.find("FILE"); at != std::string::npos) err.replace(at, 4, path);
    if (const std::size_t at = err.find("SCRIPT"); at != std::string::npos) err.replace(at, 6, top);
    EXPECT_EQ(r.err, err) << path;
  }
}

// A script that cannot be read ends the command before any file with one line and status 2, never a signal, and
// within a second however large or endless it is.
TEST(Scan, RefusesHostileScripts) {
  const std::string file = WriteFile("hostile.s", kThreeLines);
  const std::string dir = TestDir();
  const auto script = [](const std::string& name, const std::string& text) { return WriteFile(name, text); };
  const std::string deep = script("deep.ld", "MEMORY { A : ORIGIN = " + std::string(1000000, '(') + "1" +
                                                 std::string(1000000, ')') + ", LENGTH = 4 }");
  const std::string huge = script("huge.ld", "");
  ASSERT_EQ(::truncate(huge.c_str(), off_t{200} << 20), 0);
  const std::string endless = dir + "/endless.ld";
  ASSERT_EQ(::mkfifo(endless.c_str(), 0600), 0);
  const std::string silent = dir + "/silent.ld";  // no one ever writes it
  ASSERT_EQ(::mkfifo(silent.c_str(), 0600), 0);
  std::signal(SIGPIPE, SIG_IGN);
  std::thread writer([&endless] {
    const int fd = ::open(endless.c_str(), O_WRONLY);
    const std::string blanks(65536, ' ');
    while (::write(fd, blanks.data(), blanks.size()) > 0) {
    }
    ::close(fd);
  });
  for (int i = 1; i <= 17; ++i) {
    std::string name = "d";
    name += std::to_string(i);
    std::string next = "INCLUDE d";
    next += std::to_string(i + 1);
    script(name + ".ld", next + ".ld\n");
  }
  const std::string a = script("a.ld", "MEMORY { FLASH : ORIGIN = 0, LENGTH = 4K }\n");
  const std::string b = script("b.ld", "MEMORY { FLASH : ORIGIN = 8K, LENGTH = 4K }\n");
  const auto region = [&script](const std::string& name, const std::string& origin) {
    return script(name, "MEMORY {\n  A : ORIGIN = " + origin + ", LENGTH = 4\n}\n");
  };
  const std::string not_address = ":2: ORIGIN of region 'A' is not an address from 0 to 0xFFFFFFFF";
  const struct {
    std::vector<std::string> args;
    std::string start;  // of what standard error begins with, after "varnok-scan: "
  } cases[] = {
      {{"--memory", deep}, deep + ":1: expression nested more than 128 deep"},
      {{"--memory", huge}, huge + ": cannot read: larger than 16 MiB"},
      {{"--memory", endless}, endless + ": cannot read: larger than 16 MiB"},
      {{"--memory", "/dev/zero"}, "/dev/zero: cannot read: larger than 16 MiB"},
      {{"--memory", silent}, silent + ":1: no MEMORY command"},
      {{"--memory", dir}, dir + ": cannot read: Is a directory"},
      {{"--memory", region("nul.ld", std::string("0,\0", 3))}, dir + "/nul.ld:2: unexpected character '\\x00'"},
      {{"--memory", region("escape.ld", "\x1B[2J0")}, dir + "/escape.ld:2: unexpected character '\\x1B'"},
      {{"--memory", region("comment.ld", "0 /* 4")}, dir + "/comment.ld:2: comment without its closing */"},
      {{"--memory", region("string.ld", "\"0")}, dir + "/string.ld:2: string without its closing quote"},
      {{"-L", dir, "--memory", script("self.ld", "INCLUDE self.ld\n")},
       dir + "/self.ld:1: INCLUDE '" + dir + "/self.ld' while it is being read\n"},
      {{"-L" + dir, "--memory", dir + "/d1.ld"},
       dir + "/d10.ld:1: INCLUDE nested too deeply: more than 10 files open; included from " + dir + "/d9.ld:1"},
      {{"--memory", region("min.ld", "0x8000000000000000 / -1")}, dir + "/min.ld" + not_address},
      {{"--memory", region("rem.ld", "(0x8000000000000000 % -1) - 1")}, dir + "/rem.ld" + not_address},
      {{"--memory", region("zero.ld", "1 / (2 - 2)")}, dir + "/zero.ld:2: division by zero"},
      {{"--memory", a, "--memory", b}, b + ":1: region 'FLASH' defined twice, first at " + a + ":1"},
      {{"--memory", a, "--region", "FLASH=0,4K"}, "--region FLASH=0,4K: region 'FLASH' defined twice, first at " + a + ":1"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(file);
    const Result r = Scan(args);
    EXPECT_EQ(r.status, kScanUsageError) << c.start;
    EXPECT_EQ(r.err.substr(0, 13 + c.start.size()), "varnok-scan: " + c.start);
    EXPECT_EQ(r.out, "") << c.start;
  }
  writer.join();
}

// The same image written with other record types, lengths and order is the same; "A"/"B" stand for the files.
TEST(Scan, DiffComparesWhatTheFilesLoad) {
  const std::string bytes = "0123456789abcdef";
  const std::string a = test::Record(0, 0, "A") + "\n" + test::Record(1, 0x1000, bytes) + "\n" +
                        test::Record(1, 0x1010, bytes) + "\n" + test::Record(9, 0x1000) + "\n";
  const std::string one_byte = test::Record(1, 0x1000, bytes) + "\n" + test::Record(1, 0x1010, bytes) + "\n" +
                               test::Record(1, 0x1013, "X") + "\n" + test::Record(9, 0x1000) + "\n";
  const std::string shorter = test::Record(1, 0x0F00, "z") + "\n" + test::Record(1, 0x1000, bytes) + "\n" +
                              test::Record(1, 0x1010, "01") + "\n" + test::Record(9, 0x0F00) + "\n";
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::string b;
    int status;
    std::string out;
  } cases[] = {
      {"other records", {},
       test::Record(3, 0x1018, bytes.substr(8)) + "\n" + test::Record(3, 0x1000, bytes + bytes.substr(0, 8)) + "\n" +
           test::Record(7, 0x1000) + "\n",
       kDiffSame, "Same image\nDifferences: 0 bytes in 0 ranges (A: 32 bytes, B: 32 bytes)\n"},
      {"one byte", {"-v"}, one_byte, kDiffDifferent,
       "Different: 0x00001013 - 0x00001013\n  0x00001013  A: 33" + std::string(45, ' ') + "  B: 58\n"
       "Differences: 1 bytes in 1 ranges (A: 32 bytes, B: 32 bytes)\n"},
      {"one byte, read side by side", {"--bytes"},
       test::Record(1, 0x1000, bytes) + "\n" + test::Record(1, 0x1010, "012X456789abcdef") + "\n" +
           test::Record(9, 0x1000) + "\n",
       kDiffDifferent,
       "Different: 0x00001013 - 0x00001013\n  0x00001013  A: 33" + std::string(45, ' ') + "  B: 58\n"
       "Differences: 1 bytes in 1 ranges (A: 32 bytes, B: 32 bytes)\n"},
      {"shorter, more, other start", {}, shorter, kDiffDifferent,
       "Only in B: 0x00000F00 - 0x00000F00\nOnly in A: 0x00001012 - 0x0000101F\n"
       "Execution address: 0x00001000 in A, 0x00000F00 in B\nDifferences: 15 bytes in 2 ranges (A: 32 bytes, B: 19 bytes)\n"},
      {"limited", {"--limit", "1"}, shorter, kDiffDifferent,
       "Only in B: 0x00000F00 - 0x00000F00\n... and 14 more differing bytes\n"
       "Execution address: 0x00001000 in A, 0x00000F00 in B\nDifferences: 15 bytes in 2 ranges (A: 32 bytes, B: 19 bytes)\n"},
      {"invalid", {}, "S9030000FD\n", kDiffTrouble, "File: B\nAnalyser status: Checksum error @ line 1\n"},
  };
  const std::string path_a = WriteFile("diff_a.s", a);
  for (const auto& c : cases) {
    const std::string path_b = WriteFile("diff_b.s", c.b);
    std::vector<std::string> args = {"--diff", path_a, path_b};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Result r = Scan(args);
    EXPECT_EQ(r.status, c.status) << c.name;
    std::string out = c.out;
    if (const std::size_t at = out.find("File: B"); at != std::string::npos) out.replace(at + 6, 1, path_b);
    EXPECT_EQ(c.status == kDiffTrouble ? r.out.substr(0, out.size()) : r.out, out) << c.name;
    EXPECT_EQ(r.err.empty(), c.status != kDiffTrouble) << c.name;
  }
}

// Files read side by side: one of many small records with gaps, all above the data of a slower, larger one, is held
// until the other passes it; what it holds stays within a few tens of MiB however many records it has.
TEST(Scan, DiffSideBySideHoldsLittleMemory) {
  if (test::kAddressSanitizer) GTEST_SKIP() << "the sanitizer's own memory would swamp the measure";
  std::string sparse;
  for (std::uint32_t i = 0; i < 10000; ++i) sparse += test::Record(3, 0x10000000 + 2 * i, "s") + "\n";
  const std::string a = WriteFile("diff_held_a.s", sparse);
  // Written a line at a time, so that this process stays small: its size before the command starts counts in the
  // command's peak.
  const std::string b = TestDir() + "/diff_held_b.s";
  {
    std::ofstream dense(b, std::ios::binary);
    const std::string data(32, 'd');
    for (std::uint32_t address = 0; address < 750000 * 32; address += 32) dense << test::Record(3, address, data) << '\n';
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int nowhere = ::open("/dev/null", O_WRONLY);
    ::dup2(nowhere, STDOUT_FILENO);
    ::dup2(nowhere, STDERR_FILENO);
    ::execl(VARNOK_SCAN_PATH, VARNOK_SCAN_PATH, "-j", "2", "--diff", a.c_str(), b.c_str(), nullptr);
    ::_exit(127);
  }
  int raw = 0;
  rusage usage{};
  ASSERT_EQ(::wait4(child, &raw, 0, &usage), child);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), kDiffDifferent);
  EXPECT_LT(usage.ru_maxrss, 32 << 10) << "peak resident KiB";
  std::remove(b.c_str());
}

// The last record runs past 0xFFFFFFFF: its two ranges get their digests and the image spans the whole 4 GiB.
TEST(Scan, JsonCarriesTheFindings) {
  const std::string file = WriteFile("findings_json.s", test::Record(1, 0x100, "abcd") + "\n" +
                                                            test::Record(1, 0x108, "ef") + "\n" +
                                                            test::Record(1, 0x101, "b") + "\n" +
                                                            test::Record(3, 0xFFFFFFFE, "wxyz") + "\n");
  const nlohmann::json json = nlohmann::json::parse(
      Scan({"--json", "--ranges", "--digest", "--region", "ROM=0x100,8", "--region", "NONE=0x104,0", file}).out);
  const nlohmann::json expected = nlohmann::json::parse(R"({
    "ranges": [{"start": 0, "end": 1, "crc32": 267667554,
                "sha256": "68d617d6d2ee5715af77d9795566cfaba9a43a33d14cbbc95831c507c935bad1"},
               {"start": 256, "end": 259, "crc32": 3984772369,
                "sha256": "88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589"},
               {"start": 264, "end": 265, "crc32": 4253174128,
                "sha256": "4ca669ac3713d1f4aea07dae8dcc0d1c9867d27ea82a3ba4e6158a42206f959b"},
               {"start": 4294967294, "end": 4294967295, "crc32": 2138637504,
                "sha256": "2eb0f31d74a9c43844d3dfd59208eabe5dd5d59cc84c565485f11af676f0e740"}],
    "regions": [{"name": "ROM", "start": 256, "end": 263, "size": 8, "used": 4, "free": 4, "crc32": 1495510554,
                 "sha256": "887b18d104dfa0362c91087385da4f526d11e96043f54fac42644baed2905666"},
                {"name": "NONE", "start": 260, "end": null, "size": 0, "used": 0, "free": 0}],
    "outside_regions": [{"start": 0, "end": 1}, {"start": 264, "end": 265}, {"start": 4294967294, "end": 4294967295}],
    "image": {"start": 0, "end": 4294967295, "fill": 255, "crc32": 3631695925,
              "sha256": "c87c58276dbc54fcc7dc10d4b40e976061cb7fda2cfdeeb4796221130001a126"},
    "warnings": ["no termination record", "address 0x00000101 written twice @ lines 1 and 3",
                 "record at line 4 runs past 0xFFFFFFFF"]
  })");
  for (const auto& [key, value] : expected.items()) EXPECT_EQ(json[key], value) << key;

  const nlohmann::json diff = nlohmann::json::parse(Scan({"--diff", "--json", file, file}).out);
  EXPECT_EQ(diff["differences"], nlohmann::json::array());
  EXPECT_EQ(diff["same"], true);
  EXPECT_EQ(diff["differing_bytes"], 0);
  EXPECT_EQ(diff["loaded_bytes"], nlohmann::json::parse(R"({"a": 10, "b": 10})"));
}

}  // namespace
}  // namespace varnok
