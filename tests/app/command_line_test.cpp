// The desktop program's command line, run as a user runs it: what it prints, where, and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/files.h"

namespace {

namespace fs = std::filesystem;
using varnok::test::Slurp;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with the arguments (shell words) in the environment (env's words); a run that would open the
// window is cut short after 10 seconds.
Outcome RunProgram(const std::string& args, const std::string& environment = "QT_QPA_PLATFORM=offscreen") {
  const fs::path dir = fs::temp_directory_path() / ("varnok_cl_" + std::to_string(::getpid()));
  fs::create_directories(dir / "runtime");
  fs::permissions(dir / "runtime", fs::perms::owner_all);
  const std::string command = "cd '" + dir.string() + "' && timeout 10 env " + environment + " XDG_RUNTIME_DIR=runtime '" VARNOK_PROGRAM
                              "' " +
                              args + " >out 2>err </dev/null";
  const int raw = std::system(command.c_str());
  Outcome outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir / "out"), Slurp(dir / "err")};
  fs::remove_all(dir);
  return outcome;
}

TEST(CommandLine, AnswersHelpVersionAndUsageErrors) {
  const std::string usage = "Usage: varnok [--map] [FILE]\n";
  const struct {
    const char* args;
    int status;
    std::string out;  // its first line
    std::string err;  // its first two lines
  } cases[] = {
      {"--help", 0, usage, ""},
      {"--map --help", 0, usage, ""},
      {"--version", 0, "varnok 1.0.1.18\n", ""},
      {"--bogus --help", 2, "", "varnok: unknown option '--bogus'\n" + usage},
      {"-x", 2, "", "varnok: unknown option '-x'\n" + usage},
      {"-platform offscreen -style Windows -x", 2, "", "varnok: unknown option '-x'\n" + usage},
      {"a.s19 b.s19", 2, "", "varnok: only one FILE can be opened\n" + usage},
      {"--diff a.s19", 2, "", "varnok: --diff compares two files, A and B\n" + usage},
      {"--diff a.s19 b.s19 c.s19", 2, "", "varnok: --diff compares two files, A and B\n" + usage},
      {"a.s19 --memory", 2, "", "varnok: --memory needs a SCRIPT\n" + usage},
  };
  for (const auto& c : cases) {
    const Outcome outcome = RunProgram(c.args);
    EXPECT_EQ(outcome.status, c.status) << c.args;
    EXPECT_EQ(outcome.out.substr(0, outcome.out.find('\n') + 1), c.out) << c.args;
    const std::size_t second = outcome.err.find('\n', outcome.err.find('\n') + 1);
    EXPECT_EQ(outcome.err.substr(0, second == std::string::npos ? second : second + 1), c.err) << c.args;
  }
}

TEST(CommandLine, HelpNeedsNoDisplay) {
  for (const char* args : {"--help", "--version", "--bogus"}) {
    const Outcome outcome = RunProgram(args, "-u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb");
    EXPECT_EQ(outcome.status, args == std::string("--bogus") ? 2 : 0) << args;
    EXPECT_EQ(outcome.out.empty(), args == std::string("--bogus")) << args;
  }
}

}  // namespace
