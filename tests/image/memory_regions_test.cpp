#include "image/memory_regions.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace varnok {
namespace {

using Regions = std::vector<MemoryRegion>;

TEST(ParseRegionOption, ReadsNameStartAndSize) {
  const struct {
    const char* text;
    std::optional<MemoryRegion> region;
  } cases[] = {
      {"FLASH=0x08000000,512K", MemoryRegion{"FLASH", 0x08000000, 512 * 1024}},
      {"TOP=0xFFF00000,1M", MemoryRegion{"TOP", 0xFFF00000, 1 << 20}},
      {"PAST=0xFFF00000,2M", std::nullopt},
      {"EMPTY=0x100,0", MemoryRegion{"EMPTY", 0x100, 0}},
      {"=0,1", std::nullopt},
      {"NOSIZE=0", std::nullopt},
      {"BAD=1K,1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseRegionOption(c.text), c.region) << c.text;
}

TEST(ReadMemoryCommand, ReadsTheRegionsAsLdDoes) {
  using Result = std::variant<Regions, ScriptError>;
  const struct {
    const char* name;
    const char* script;
    Result result;
  } cases[] = {
      {"vendor style",
       "/* Entry Point */\nENTRY(Reset_Handler)\n_estack = ORIGIN(RAM) + LENGTH(RAM);\n"
       "/* Memories definition */\nMEMORY\n{\n  RAM    (xrw)    : ORIGIN = 0x20000000,   LENGTH = 128K\n"
       "  FLASH    (rx)    : ORIGIN = 0x8000000,   LENGTH = 512K - 16K /* the top keeps settings */\n"
       "  SETTINGS (r) : org = ORIGIN(FLASH) + LENGTH(FLASH), len = 16K\n}\n"
       "SECTIONS\n{\n  .text : { *(.text*) } >FLASH\n  .data : { \"x.o\"(.data) } >RAM AT> FLASH\n}\n",
       Regions{{"RAM", 0x20000000, 128 * 1024}, {"FLASH", 0x08000000, 496 * 1024}, {"SETTINGS", 0x0807C000, 16 * 1024}}},
      {"short keywords, octal, arithmetic", "MEMORY { rom : o = 010, l = (2 + 3) * 4 - 8 / 2 }",
       Regions{{"rom", 8, 16}}},
      {"M suffix", "MEMORY\n{\n  ext(rwx): ORIGIN = 0x60000000, LENGTH = 0x4M\n}\n",
       Regions{{"ext", 0x60000000, 4 << 20}}},
      {"no MEMORY", "SECTIONS { }", ScriptError{1, "no MEMORY command"}},
      {"undefined region", "MEMORY\n{\n  A : ORIGIN = ORIGIN(B), LENGTH = 1\n}",
       ScriptError{3, "ORIGIN(B) names no region defined before"}},
      {"missing =", "MEMORY {\n A : ORIGIN 0, LENGTH = 1 }", ScriptError{2, "expected '=' after ORIGIN"}},
      {"open comment", "MEMORY {\n /* RAM\n", ScriptError{2, "comment without its closing */"}},
      {"past the top", "MEMORY {\n A : ORIGIN = 0xFFFFFFFF, LENGTH = 2\n}", ScriptError{2, "region A does not end by 0xFFFFFFFF"}},
      {"division by zero", "MEMORY {\n A : ORIGIN = 4 / (2 - 2), LENGTH = 2\n}", ScriptError{2, "division by zero"}},
      {"unclosed", "MEMORY {\n A : ORIGIN = 0, LENGTH = 2\n", ScriptError{3, "MEMORY command without its closing '}'"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadMemoryCommand(c.script), c.result) << c.name;
}

TEST(MeasureRegions, CountsUsedBytesAndWhatLiesOutside) {
  const Regions regions = {{"FLASH", 0x1000, 0x1000}, {"BOOT", 0x1000, 0x100}, {"RAM", 0x4000, 0x100}};
  const struct {
    const char* name;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> loaded;  // address, length
    std::vector<std::uint64_t> used;
    std::vector<AddressRange> outside;
  } cases[] = {
      {"nothing loaded", {}, {0, 0, 0}, {}},
      {"inside", {{0x1000, 0x200}, {0x4000, 0x10}}, {0x200, 0x100, 0x10}, {}},
      {"both sides", {{0xF00, 0x2200}}, {0x1000, 0x100, 0}, {{0xF00, 0xFFF}, {0x2000, 0x30FF}}},
      {"between and above", {{0x3000, 0x1200}}, {0, 0, 0x100}, {{0x3000, 0x3FFF}, {0x4100, 0x41FF}}},
  };
  for (const auto& c : cases) {
    DataRanges loaded;
    for (const auto& [address, length] : c.loaded) loaded.Add(address, length);
    const RegionUsage usage = MeasureRegions(regions, loaded);
    EXPECT_EQ(usage.used, c.used) << c.name;
    EXPECT_EQ(usage.outside, c.outside) << c.name;
  }
}

}  // namespace
}  // namespace varnok
