// The desktop program under an address space limit (ulimit -v), as a user runs `varnok --map` on a large image:
// whatever runs out, it reports "Out of memory!!" or shows the map, and a SIGTERM then ends it; it never hangs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/files.h"
#include "support/sanitizer.h"
#include "support/srec_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using varnok::test::Slurp;

// The CPU time the process has used, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return -1;
  // The fields after the command name, which ends at the last ')': utime is the 12th, stime the 13th.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int index = 1; index <= 13 && fields >> field; ++index) {
    if (index >= 12) ticks += std::stol(field);
  }
  return ticks;
}

// Waits up to `limit` for the process to end, and takes its wait status.
bool WaitForEnd(pid_t pid, std::chrono::seconds limit, int& status) {
  for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

struct Outcome {
  bool hung = false;
  int status = -1;  // the exit status, or -1 when a signal ended it
  std::string err;
};

// Runs the program in dir on file under the limit. Once it has used no CPU for a second (its work done, or stuck),
// it gets one SIGTERM, which must end it within 30 seconds.
Outcome RunLimited(const fs::path& dir, const fs::path& file, rlim_t kilobytes) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit limit{kilobytes * 1024, kilobytes * 1024};
    const std::string runtime = (dir / "runtime").string();
    const std::string err = (dir / "err").string();
    const std::string config = (dir / "config").string();
    if (::setrlimit(RLIMIT_AS, &limit) != 0 || !std::freopen("/dev/null", "w", stdout) ||
        !std::freopen(err.c_str(), "w", stderr) || ::setenv("QT_QPA_PLATFORM", "offscreen", 1) != 0 ||
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1) != 0 || ::setenv("XDG_CONFIG_HOME", config.c_str(), 1) != 0) {
      ::_exit(120);
    }
    const std::string program = (dir / "varnok").string();
    ::execl(program.c_str(), program.c_str(), "--map", file.c_str(), static_cast<char*>(nullptr));
    ::_exit(121);
  }
  Outcome outcome;
  int status = 0;
  bool ended = false;
  long last = -2;
  int quiet_rounds = 0;
  for (int round = 0; round < 240 && quiet_rounds < 4 && !ended; ++round) {
    std::this_thread::sleep_for(250ms);
    ended = ::waitpid(pid, &status, WNOHANG) == pid;
    const long ticks = CpuTicks(pid);
    quiet_rounds = ticks == last ? quiet_rounds + 1 : 0;
    last = ticks;
  }
  if (!ended) {
    ::kill(pid, SIGTERM);
    if (!WaitForEnd(pid, 30s, status)) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      outcome.hung = true;
    }
  }
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.err = Slurp(dir / "err");
  return outcome;
}

TEST(MemoryLimit, MapUnderAnyLimitEndsInOutOfMemoryOrSuccessNeverInAHang) {
  if (varnok::test::kAddressSanitizer) GTEST_SKIP() << "the sanitizer needs more address space than any limit leaves";
  const fs::path dir = fs::temp_directory_path() / ("varnok_limit_" + std::to_string(::getpid()));
  fs::create_directories(dir / "runtime");
  fs::permissions(dir / "runtime", fs::perms::owner_all);
  // A copy of its own, so that the settings it writes at its end lie in dir (in dir/config when root owns dir).
  fs::copy_file(VARNOK_PROGRAM, dir / "varnok");
  // A dense 12 MiB image (a 30 MB file): its blocks and its map leave the toolkit's painting little room.
  const fs::path file = dir / "dense.s";
  {
    std::ofstream out(file, std::ios::binary);
    const std::string data(32, 'm');
    for (std::uint32_t address = 0; address < (12u << 20); address += 32) {
      out << varnok::test::Record(3, address, data) << '\n';
    }
    out << varnok::test::Record(7, 0) << '\n';
  }
  // The program takes about 80 MB of address space before main: the tightest limits leave it too little room to
  // start, the middle ones run out with the file's data or while the map is painted, the wide ones show the map.
  for (const rlim_t kilobytes : {90000, 100000, 105000, 110000, 115000, 120000, 130000, 200000, 400000}) {
    const Outcome outcome = RunLimited(dir, file, kilobytes);
    EXPECT_FALSE(outcome.hung) << kilobytes << " kB: SIGTERM did not end it";
    if (outcome.status == 1) {
      EXPECT_EQ(outcome.err, "Out of memory!!\n") << kilobytes << " kB";
    } else {
      EXPECT_EQ(outcome.status, 0) << kilobytes << " kB: " << outcome.err;
    }
  }
  fs::remove_all(dir);
}

}  // namespace
