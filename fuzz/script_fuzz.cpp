// Drives the linker-script reader and the region option over arbitrary texts: the reading ends in regions or in
// one error, never in a signal; every region it gives lies below 2^32, and so does every region the option gives.
//
// Input: up to three files parted by "@@" (a byte ld never reads): a.ld, the script, and b.ld and c.ld, which the
// script can INCLUDE directly or from the -L folder "lib"; the first line of a.ld is also a --region value.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "regions/linker_script.h"
#include "regions/memory_regions.h"

namespace {

constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 32;

class MemoryFiles final : public varnok::ScriptFiles {
 public:
  explicit MemoryFiles(std::map<std::string, std::string> files) : files_(std::move(files)) {}

  varnok::ScriptText Read(const std::string& path) const override {
    const auto found = files_.find(path);
    if (found == files_.end()) return varnok::ScriptText{"", "No such file or directory", true};
    return varnok::ScriptText{found->second, "", false};
  }

 private:
  std::map<std::string, std::string> files_;
};

void CheckRegion(const varnok::MemoryRegion& region) {
  if (region.length > kAddressSpace - region.origin) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::map<std::string, std::string> files;
  const char* const names[] = {"a.ld", "lib/b.ld", "c.ld"};
  std::size_t start = 0;
  for (const char* name : names) {
    const std::size_t end = input.find("@@", start);
    files[name] = std::string(input.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 2;
  }
  const std::string first_line = files["a.ld"].substr(0, files["a.ld"].find('\n'));
  if (const auto region = varnok::ParseRegionOption(first_line)) CheckRegion(*region);

  const varnok::ScriptSettings settings{{"lib"}, {"FUZZ_SIZE=64K", "FUZZ_BASE=DEFINED(FUZZ_SIZE) ? 0x1000 : 0"}};
  const varnok::ScriptRead read = varnok::ReadLinkerScript("a.ld", settings, MemoryFiles(std::move(files)));
  if (read.error) {
    if (!read.regions.empty() || read.error->places.empty() || varnok::ScriptErrorText(*read.error).empty()) {
      __builtin_trap();
    }
    return 0;
  }
  for (const varnok::MemoryRegion& region : read.regions) CheckRegion(region);
  return 0;
}
