#pragma once

// The version functions of the platform, over the version block in an executable's ".varnok_version" section
// (layout in about/version_block.h).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace varnok {

// A name under which the running executable's own file can always be opened.
inline constexpr char kRunningExecutable[] = "/proc/self/exe";

// The size in bytes of the file's version block; 0 when the file has none or cannot be read.
std::uint32_t GetFileVersionInfoSize(const std::string& file_name);

// Fills buffer with up to size bytes of the file's version block; false when the file has none or cannot be read.
bool GetFileVersionInfo(const std::string& file_name, std::uint32_t size, void* buffer);

// Finds the value at sub_block (keys separated by "\") in a version block; on success value points at it inside
// block and length is its size in bytes. A malformed block finds nothing.
bool VerQueryValue(std::span<const std::uint8_t> block, std::string_view sub_block, const std::uint8_t** value,
                   std::uint32_t* length);

}  // namespace varnok
