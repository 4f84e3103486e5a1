// Drives the version-block reader over arbitrary blocks: a value it finds must lie inside the block.
//
// Input: one byte that gives the length of a key path (0 to 47), that many bytes of path, then the block.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "about/version_info.h"
#include "about/version_resource.h"

namespace {

void CheckQuery(std::span<const std::uint8_t> block, std::string_view path) {
  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
  if (!varnok::VerQueryValue(block, path, &value, &length)) return;
  if (value < block.data() || length > block.size() || value > block.data() + (block.size() - length)) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t path_length = data[0] % 48;
  if (size < 1 + path_length) return 0;
  const std::string_view path(reinterpret_cast<const char*>(data + 1), path_length);
  const std::span<const std::uint8_t> block(data + 1 + path_length, size - 1 - path_length);

  CheckQuery(block, path);
  CheckQuery(block, "\\VarFileInfo\\Translation");
  CheckQuery(block, "\\");
  const varnok::VersionInfo info = varnok::ReadVersionBlock(block);
  for (int index = -1; index <= static_cast<int>(info.strings.size()); ++index) (void)varnok::VersionField(info, index);
  return 0;
}
