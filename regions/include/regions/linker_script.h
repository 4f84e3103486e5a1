#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "regions/memory_regions.h"

#include "text/small_file.h"

namespace varnok {

// The largest script file that is read, and the most script text one reading reads with its INCLUDEs; more is
// refused as it is read.
inline constexpr std::size_t kMaxScriptBytes = std::size_t{16} << 20;

// A script file's whole text, or why it cannot be read.
struct ScriptText {
  std::string text;
  std::string problem;   // empty when text is the whole file: else the system's reason, or that it is too large
  bool missing = false;  // the file does not exist (INCLUDE then looks in the next folder)
};

// Reads script files by name.
class ScriptFiles {
 public:
  virtual ~ScriptFiles() = default;
  virtual ScriptText Read(const std::string& path) const = 0;
};

// Script files on disk, each refused once it passes kMaxScriptBytes (an endless FIFO or /dev/zero included); a
// FIFO that no one writes reads as empty. With SmallFileKinds::kRegular, only regular files are read.
class DiskScriptFiles final : public ScriptFiles {
 public:
  explicit DiskScriptFiles(SmallFileKinds kinds = SmallFileKinds::kStreams) : kinds_(kinds) {}
  ScriptText Read(const std::string& path) const override;

 private:
  SmallFileKinds kinds_;
};

// What the command line gives every script, as ld's options of the same names do.
struct ScriptSettings {
  std::vector<std::string> search_dirs;  // -L: where INCLUDE looks after the current folder
  std::vector<std::string> defsyms;      // --defsym NAME=EXPRESSION, assigned before the script, in this order
  // The folder that stands for the process's current folder: relative paths (the script's, INCLUDE's, -L's) are
  // read from it when it is not empty. Messages name the files as the script and the settings write them.
  std::string current_dir = {};
};

// A line of a script; line 0 for a place without lines (the file as a whole, a --defsym).
struct ScriptPlace {
  std::string file;
  std::int64_t line = 0;

  bool operator==(const ScriptPlace&) const = default;
};

// Why a script gives no regions.
struct ScriptError {
  std::vector<ScriptPlace> places;  // where, then each INCLUDE that led there, innermost first
  std::string message;              // a byte of the script it quotes outside 0x20..0x7E is written \xNN

  bool operator==(const ScriptError&) const = default;
};

// Something a script says that Varnok reads differently from the target's memory.
struct ScriptWarning {
  ScriptPlace place;
  std::string message;

  bool operator==(const ScriptWarning&) const = default;
};

// The regions a script gives, or the error that ends its reading.
struct ScriptRead {
  std::vector<MemoryRegion> regions;  // in the order ld's map lists them, each with its file and line
  std::vector<ScriptWarning> warnings;
  std::optional<ScriptError> error;
};

// Reads the MEMORY commands of a GNU ld linker script as ld 2.40 on a 64-bit host does: its lexer's numbers and
// names, the symbol assignments at the top level (PROVIDE, HIDDEN and PROVIDE_HIDDEN too) evaluated in order
// before the regions, ld's expression grammar with 64-bit wrapping arithmetic, ORIGIN/LENGTH of regions, DEFINED,
// MIN, MAX, ALIGN(x, n), ABSOLUTE, LOG2CEIL, SEGMENT_START and INCLUDE at the top level and inside MEMORY (at most
// 1000 INCLUDEs in all). Every other command is skipped. A region that runs past 0xFFFFFFFF is cut there, with a
// warning.
ScriptRead ReadLinkerScript(const std::string& path, const ScriptSettings& settings, const ScriptFiles& files);

// The text of a place: "FILE:LINE", or "FILE" without a line; the file written as EscapeValue writes values.
std::string PlaceText(const std::string& file, std::int64_t line);

// "FILE:LINE: message", then "; included from FILE:LINE" for each INCLUDE that led there.
std::string ScriptErrorText(const ScriptError& error);

}  // namespace varnok
