// The public pieces around the reader: script files on disk and the texts of places and errors.
#include <cstring>
#include <utility>

#include "regions/linker_script.h"
#include "text/line_text.h"
#include "text/small_file.h"

namespace varnok {

ScriptText DiskScriptFiles::Read(const std::string& path) const {
  SmallFile file = ReadSmallFile(path, kMaxScriptBytes, kinds_);
  ScriptText read;
  switch (file.status) {
    case SmallFileStatus::kOk:
      read.text = std::move(file.text);
      break;
    case SmallFileStatus::kTooLarge:
      read.problem = "larger than " + std::to_string(kMaxScriptBytes >> 20) + " MiB";
      break;
    case SmallFileStatus::kNotRegular:  // a folder in the system's own words, a FIFO or a device as not regular
      read.problem = file.error != 0 ? std::strerror(file.error) : "not a regular file";
      break;
    case SmallFileStatus::kMissing:
    case SmallFileStatus::kFailed:
      read.missing = file.status == SmallFileStatus::kMissing;
      read.problem = std::strerror(file.error);
      break;
  }
  return read;
}

std::string PlaceText(const std::string& file, std::int64_t line) {
  return EscapeValue(file) + (line > 0 ? ":" + std::to_string(line) : "");
}

std::string ScriptErrorText(const ScriptError& error) {
  std::string text;
  for (std::size_t i = 0; i < error.places.size(); ++i) {
    text += (i == 0 ? "" : "; included from ") + PlaceText(error.places[i].file, error.places[i].line);
    if (i == 0) text += ": " + error.message;
  }
  return text;
}

}  // namespace varnok
