#include "about/version_info.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "about/version_resource.h"

namespace varnok {

VersionInfo ReadVersionInfo(const std::string& file_name) {
  std::error_code error;
  const bool exists = std::filesystem::is_regular_file(file_name, error);
  const std::string name = exists ? file_name : std::string(kRunningExecutable);
  const std::uint32_t size = GetFileVersionInfoSize(name);
  if (size == 0) return {};
  std::vector<std::uint8_t> buffer(size);
  if (!GetFileVersionInfo(name, size, buffer.data())) return {};
  return ReadVersionBlock(buffer);
}

VersionInfo ReadVersionBlock(std::span<const std::uint8_t> block) {
  VersionInfo info;
  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
  // A list shorter than one whole entry counts as empty: its first entry cannot be read.
  if (!VerQueryValue(block, "\\VarFileInfo\\Translation", &value, &length) || length < 4) return info;
  const unsigned language = value[0] | (value[1] << 8);
  const unsigned code_page = value[2] | (value[3] << 8);
  char table[32];
  std::snprintf(table, sizeof table, "\\StringFileInfo\\%04X%04X\\", language, code_page);
  for (std::size_t i = 0; i < kVersionKeys.size(); ++i) {
    const std::string path = table + std::string(kVersionKeys[i]);
    if (!VerQueryValue(block, path, &value, &length)) continue;
    // The text ends at its byte 0, or at the end of the value when a malformed block leaves that out.
    std::size_t text_length = 0;
    while (text_length < length && value[text_length] != 0) ++text_length;
    info.strings[i].assign(reinterpret_cast<const char*>(value), text_length);
  }
  return info;
}

std::string VersionField(const VersionInfo& info, int index) {
  if (index < 0 || index >= static_cast<int>(info.strings.size())) index = kFileVersionIndex;
  return info.strings[static_cast<std::size_t>(index)];
}

}  // namespace varnok
