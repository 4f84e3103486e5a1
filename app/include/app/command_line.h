#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace varnok {

// What the command line `varnok [--memory SCRIPT] [--map] [FILE]` or `varnok --diff A B` asks of the desktop
// program.
struct CommandLine {
  enum class Action { Run, Help, Version, UsageError };
  Action action = Action::Run;
  bool map = false;                 // --map: tick "Generate graphical memory map"
  std::optional<std::string> file;  // FILE: choose it and start the analysis
  std::optional<std::string> diff;  // --diff: B, whose image the map of FILE (A) is compared with
  std::optional<std::string> memory;  // --memory: the linker script whose regions the map shows
  std::string error;                // what was wrong, for a usage error
};

// Reads the arguments that follow the program's name. While the toolkit has yet to take its own options
// (toolkit_options_pending), only options of the form "--name" are judged and FILE is left for later, since a
// toolkit option such as "-platform offscreen" may take the next argument; afterwards every argument is.
// "--" ends the options.
CommandLine ParseCommandLine(const std::vector<std::string>& args, bool toolkit_options_pending);

// Answers --help and --version on out (exit status 0) and a usage error on err (exit status 2); nothing is
// printed and no status given when the program is to run.
std::optional<int> AnswerCommandLine(const CommandLine& command, std::ostream& out, std::ostream& err);

}  // namespace varnok
