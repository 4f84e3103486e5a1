#pragma once

// The ten standard version strings of an executable file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace varnok {

// The keys of the version strings, in index order.
inline constexpr std::array<std::string_view, 10> kVersionKeys = {
    "CompanyName",      "FileDescription", "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTrademarks",  "OriginalFilename", "ProductName", "ProductVersion", "Comments"};

// The index of "FileVersion", the string the about window shows.
inline constexpr int kFileVersionIndex = 2;

// The version strings of one file, each empty unless its key was found.
struct VersionInfo {
  std::array<std::string, kVersionKeys.size()> strings;
};

// The version strings of the executable file at file_name; a name under which no file exists (a folder
// included) reads the running executable instead. Never fails: whatever cannot be read stays empty.
VersionInfo ReadVersionInfo(const std::string& file_name);

// The version strings of a version block, read from the table that its first translation names.
VersionInfo ReadVersionBlock(std::span<const std::uint8_t> block);

// A copy of the string at index; any index outside 0..9 gives the "FileVersion" string.
std::string VersionField(const VersionInfo& info, int index);

}  // namespace varnok
