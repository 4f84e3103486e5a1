#include "app/command_line.h"

#include "varnok/version.h"

namespace varnok {

namespace {

constexpr const char* kUsage =
    "Usage: varnok [--map] [FILE]\n"
    "       varnok --memory SCRIPT [--map] FILE\n"
    "       varnok --diff A B\n"
    "Opens the main window; with FILE, chooses that Motorola S-record file and analyses it at once.\n"
    "\n"
    "  --map      tick \"Generate graphical memory map\" first\n"
    "  --diff     analyse A with its memory map and compare it with the image of B\n"
    "  --memory SCRIPT\n"
    "             show the memory regions of the linker script SCRIPT over the map (and keep it for the next)\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "The toolkit's own options, such as -platform or -style, are taken as well.\n";

CommandLine UsageError(std::string error) {
  CommandLine command;
  command.action = CommandLine::Action::UsageError;
  command.error = std::move(error);
  return command;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args, bool toolkit_options_pending) {
  CommandLine command;
  bool options_end = false;
  bool diff = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && arg == "--help") {
      command.action = CommandLine::Action::Help;
      return command;
    } else if (!options_end && arg == "--version") {
      command.action = CommandLine::Action::Version;
      return command;
    } else if (!options_end && arg == "--map") {
      command.map = true;
    } else if (!options_end && arg == "--diff") {
      diff = true;
    } else if (!options_end && arg == "--memory") {
      if (i + 1 == args.size()) return UsageError("--memory needs a SCRIPT");
      command.memory = args[++i];
      command.map = true;
    } else if (!options_end && arg.size() > 1 && arg[0] == '-') {
      // Single-dash options are the toolkit's until it has taken those it knows.
      if (toolkit_options_pending && arg[1] != '-') continue;
      return UsageError("unknown option '" + arg + "'");
    } else if (toolkit_options_pending) {
      continue;
    } else if (diff && command.file && !command.diff) {
      command.diff = arg;
    } else if (command.file) {
      return UsageError(diff ? "--diff compares two files, A and B" : "only one FILE can be opened");
    } else {
      command.file = arg;
    }
  }
  if (diff && !toolkit_options_pending && !command.diff) return UsageError("--diff compares two files, A and B");
  if (diff) command.map = true;
  return command;
}

std::optional<int> AnswerCommandLine(const CommandLine& command, std::ostream& out, std::ostream& err) {
  switch (command.action) {
    case CommandLine::Action::Run: return std::nullopt;
    case CommandLine::Action::Help: out << kUsage; return 0;
    case CommandLine::Action::Version: out << "varnok " << kVersion << "\n"; return 0;
    case CommandLine::Action::UsageError: err << "varnok: " << command.error << "\n" << kUsage; return 2;
  }
  return std::nullopt;
}

}  // namespace varnok
