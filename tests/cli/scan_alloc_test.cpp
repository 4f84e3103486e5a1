// varnok-scan whose memory runs out at any allocation, its digest library's included, in any layout, with one file
// or several on several threads: it ends with status 3 and "Out of memory!!", or with the very report it prints when
// memory lasts; a report cut short never runs into the next one's line, and nothing leaks.
#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/scan.h"
#include "support/failing_allocation.h"
#include "support/files.h"
#include "support/sanitizer.h"
#include "support/srec_builder.h"

namespace varnok {
namespace {

// A stream buffer of a fixed size, so that writing the report allocates nothing.
class FixedBuffer : public std::streambuf {
 public:
  FixedBuffer() : bytes_(std::size_t{1} << 20) { setp(bytes_.data(), bytes_.data() + bytes_.size()); }
  std::string Text() const { return std::string(pbase(), pptr()); }

 private:
  std::vector<char> bytes_;
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
  bool ran_through;  // the allocation that was to fail never came
  long leaked;       // allocations the run left behind
};

// The digest library's allocations go through the same count; it takes its allocation functions only before it
// first allocates.
const bool kCryptoCounted = CRYPTO_set_mem_functions(
    [](std::size_t size, const char*, int) { return test::CountedMalloc(size); },
    [](void* memory, std::size_t size, const char*, int) { return test::CountedRealloc(memory, size); },
    [](void* memory, const char*, int) { std::free(memory); }) == 1;

Outcome ScanHere(const std::vector<std::string>& args, long fail_at, bool for_good) {
  FixedBuffer out_buffer, err_buffer;
  std::ostream out(&out_buffer), err(&err_buffer);
  ScanContext context;
  context.allocate = &test::CountedMalloc;  // the buffer the map gathers records in
  const long live_before = test::LiveAllocations();
  test::FailAllocationAfter(fail_at, for_good);
  const int status = RunScan(args, out, err, context);
  const bool ran_through = test::StopFailingAllocations();
  const long leaked = test::LiveAllocations() - live_before;
  return {status, out_buffer.Text(), err_buffer.Text(), ran_through, leaked};
}

// A run that digests goes to a child process, so that the digest library starts afresh in every run, as it does in
// varnok-scan; a child that a signal ends gives the negative signal number as its status. Every other run stays in
// this process, where the first makes what the program makes once (the map's header text). Under AddressSanitizer,
// where a process costs tens of milliseconds and the library is not instrumented, every run stays here.
Outcome Scan(const std::vector<std::string>& args, long fail_at, bool for_good) {
  if (test::kAddressSanitizer || std::find(args.begin(), args.end(), "--digest") == args.end()) {
    return ScanHere(args, fail_at, for_good);
  }
  // The child's outcome comes back through memory it shares with this process.
  struct Shared {
    int status;
    bool ran_through;
    long leaked;
    std::size_t out_size, err_size;
    char text[std::size_t{2} << 20];
  };
  void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return {-1, "", "no shared memory", false, 0};
  auto* shared = static_cast<Shared*>(memory);
  if (::fork() == 0) {
    const Outcome r = ScanHere(args, fail_at, for_good);
    shared->status = r.status;
    shared->ran_through = r.ran_through;
    shared->leaked = r.leaked;
    shared->out_size = r.out.size();
    shared->err_size = r.err.size();
    std::memcpy(shared->text, r.out.data(), r.out.size());
    std::memcpy(shared->text + r.out.size(), r.err.data(), r.err.size());
    ::_exit(0);
  }
  int wait_status = 0;
  ::wait(&wait_status);
  Outcome r{WIFSIGNALED(wait_status) ? -WTERMSIG(wait_status) : -1, "", "", false, 0};
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) {
    r = {shared->status, std::string(shared->text, shared->out_size),
         std::string(shared->text + shared->out_size, shared->err_size), shared->ran_through, shared->leaked};
  }
  ::munmap(memory, sizeof(Shared));
  return r;
}

// Whether every report starts a line of its own, a report after one cut short included.
bool ReportsStartLines(const std::string& out) {
  for (const std::string start : {"File: ", "{\"status\""}) {
    for (std::size_t at = out.find(start); at != std::string::npos; at = out.find(start, at + 1)) {
      if (at > 0 && out[at - 1] != '\n') return false;
    }
  }
  return true;
}

TEST(ScanAllocation, EveryFailedAllocationEndsInOutOfMemoryOrTheFullReport) {
  // Data in separate ranges, a start vector, and a module name with bytes that JSON escapes.
  const std::string image = test::Record(0, 0, "a\\\"\x01\xE9") + "\n" + test::Record(1, 0x100, std::string(40, 'x')) +
                            "\n" + test::Record(1, 0x2000, "\"\\y") + "\n" + test::Record(9, 0x100, "") + "\n";
  const std::string good = test::WriteFile("good.s", image);
  const std::string bad = test::WriteFile("bad.s", image + "S9030000FD\n");
  const struct {
    std::vector<std::string> args;
    bool for_good;
  } cases[] = {
      {{"--json", "--map", "--ranges", good}, true},
      {{"--json", "--map", "--ranges", good}, false},
      {{"--map", "--ranges", good}, true},
      {{"--json", "--map", "--ranges", "-j", "3", good, bad, good, good}, true},
      {{"--json", "--map", "--ranges", "-j", "3", good, bad, good, good}, false},
      {{"--map", "-j", "3", good, bad, good, good}, true},
      {{"--json", "--ranges", "--digest", "--region", "R=0x100,0x40", good, bad}, true},
      {{"--diff", good, good}, true},
  };
  ASSERT_TRUE(kCryptoCounted);
  for (const auto& c : cases) {
    std::string label;
    for (const std::string& arg : c.args) label += arg + " ";
    label += c.for_good ? "(every allocation from the n-th on fails)" : "(the n-th allocation fails)";
    const Outcome full = Scan(c.args, -1, false);
    ASSERT_NE(full.status, kScanOutOfMemory) << label;
    long fail_at = 0;
    for (;; ++fail_at) {
      const Outcome r = Scan(c.args, fail_at, c.for_good);
      ASSERT_EQ(r.leaked, 0) << label << ", failing at " << fail_at;
      ASSERT_TRUE(ReportsStartLines(r.out)) << label << ", failing at " << fail_at << ":\n" << r.out;
      if (r.status == kScanOutOfMemory) {
        // Besides the message, only the lines that name failed files as the full run does.
        std::string err;
        for (std::size_t at = 0, end; at < r.err.size(); at = end + 1) {
          end = r.err.find('\n', at);
          const std::string line = r.err.substr(at, end - at + 1);
          if (!line.starts_with("varnok-scan: ") || full.err.find(line) == std::string::npos) err += line;
        }
        ASSERT_FALSE(err.empty()) << label << ", failing at " << fail_at;
        std::string messages;
        while (messages.size() < err.size()) messages += "Out of memory!!\n";
        ASSERT_EQ(err, messages) << label << ", failing at " << fail_at;
      } else {
        ASSERT_EQ(r.status, full.status) << label << ", failing at " << fail_at;
        ASSERT_EQ(r.out, full.out) << label << ", failing at " << fail_at;
        ASSERT_EQ(r.err, full.err) << label << ", failing at " << fail_at;
      }
      if (r.ran_through) break;
    }
    EXPECT_GT(fail_at, 10) << label;
  }
  std::remove(good.c_str());
  std::remove(bad.c_str());
}

}  // namespace
}  // namespace varnok
