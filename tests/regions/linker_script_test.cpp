#include "regions/linker_script.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace varnok {
namespace {

// Script files held in memory, by the name that the reader asks for.
class MemoryFiles final : public ScriptFiles {
 public:
  explicit MemoryFiles(std::map<std::string, std::string> files) : files_(std::move(files)) {}

  ScriptText Read(const std::string& path) const override {
    const auto found = files_.find(path);
    if (found == files_.end()) return ScriptText{"", std::strerror(ENOENT), true};
    return ScriptText{found->second, "", false};
  }

 private:
  std::map<std::string, std::string> files_;
};

TEST(ReadLinkerScript, GivesTheRegionsLdGives) {
  // The regions are those of the "Memory Configuration" in the map of GNU ld 2.40 (binutils 2.40, x86-64 host)
  // linking an empty object with -T a.ld (with the row's -L and --defsym); avr-ld and arm-none-eabi-ld 2.40 where
  // the script names their machine. Where ld refused the script the row holds our error, ld's in a comment; where
  // Varnok refuses what ld takes, ld's regions are in the comment.
  const std::string kAvrScript =
      "/* Default script for an 8-bit part: sizes come from the command line or the defaults */\n"
      "OUTPUT_FORMAT(\"elf32-avr\",\"elf32-avr\",\"elf32-avr\")\n"
      "OUTPUT_ARCH(avr:5)\n"
      "__FLASH_ORIGIN__ = DEFINED(__FLASH_ORIGIN__) ? __FLASH_ORIGIN__ : 0;\n"
      "__FLASH_SIZE__ = DEFINED(__FLASH_SIZE__) ? __FLASH_SIZE__ : 32K;\n"
      "__SRAM_ORIGIN__ = DEFINED(__SRAM_ORIGIN__) ? __SRAM_ORIGIN__ : 0x800100;\n"
      "__SRAM_SIZE__ = DEFINED(__SRAM_SIZE__) ? __SRAM_SIZE__ : 0x800;\n"
      "__EE_SIZE__ = DEFINED(__EE_SIZE__) ? __EE_SIZE__ : 1k;\n"
      "MEMORY\n"
      "{\n"
      "  text      (rx)   : ORIGIN = __FLASH_ORIGIN__, LENGTH = __FLASH_SIZE__\n"
      "  data      (rw!x) : ORIGIN = __SRAM_ORIGIN__, LENGTH = __SRAM_SIZE__\n"
      "  eeprom    (rw!x) : ORIGIN = 0x810000, LENGTH = __EE_SIZE__\n"
      "  fuse      (rw!x) : ORIGIN = 0x820000, LENGTH = 3\n"
      "  lock      (rw!x) : ORIGIN = 0x830000, LENGTH = 1\n"
      "  signature (rw!x) : ORIGIN = 0x840000, LENGTH = 3\n"
      "}\n"
      "SECTIONS\n"
      "{\n"
      "  .text : { KEEP(*(.vectors)) *(.text*) _etext = . ; } > text\n"
      "  .data : { PROVIDE (__data_start = .) ; *(.data*) } > data AT> text\n"
      "}\n";
  const struct {
    const char* name;
    std::map<std::string, std::string> files;
    std::vector<std::string> search_dirs;
    std::vector<std::string> defsyms;
    std::vector<MemoryRegion> regions;  // as ld gave them; a region past 0xFFFFFFFF is read cut there
    std::string error;
  } cases[] = {
      {"AVR default style, sizes by default",
       {{"a.ld", kAvrScript}},
       {}, {},
       // avr-ld
       {{"text", 0x0, 0x8000}, {"data", 0x800100, 0x800}, {"eeprom", 0x810000, 0x400}, {"fuse", 0x820000, 0x3},
        {"lock", 0x830000, 0x1}, {"signature", 0x840000, 0x3}}, ""},
      {"AVR default style, sizes from --defsym",
       {{"a.ld", kAvrScript}},
       {}, {"__FLASH_SIZE__=0x20000", "__SRAM_SIZE__=16K-256"},
       // avr-ld
       {{"text", 0x0, 0x20000}, {"data", 0x800100, 0x3F00}, {"eeprom", 0x810000, 0x400}, {"fuse", 0x820000, 0x3},
        {"lock", 0x830000, 0x1}, {"signature", 0x840000, 0x3}}, ""},
      {"vendor IDE style, symbols in ORIGIN and LENGTH",
       {{"a.ld", "/*\n"
       "** Linker script for a 512 KB Cortex-M4 part with a 32 KB bootloader in front of the application\n"
       "*/\n"
       "ENTRY(Reset_Handler)\n"
       "\n"
       "/* Highest address of the user mode stack */\n"
       "_estack = ORIGIN(RAM) + LENGTH(RAM);\t/* end of \"RAM\" Ram type memory */\n"
       "\n"
       "_Min_Heap_Size = 0x200;\t/* required amount of heap */\n"
       "_Min_Stack_Size = 0x400;\t/* required amount of stack */\n"
       "\n"
       "BOOT_SIZE = 32K;\n"
       "APP_BASE = 0x08000000 + BOOT_SIZE;\n"
       "SETTINGS_SIZE = 2 * 8K;\n"
       "\n"
       "/* Memories definition */\n"
       "MEMORY\n"
       "{\n"
       "  CCMRAM    (xrw)    : ORIGIN = 0x10000000,   LENGTH = 64K\n"
       "  RAM    (xrw)    : ORIGIN = 0x20000000,   LENGTH = 128K\n"
       "  BOOT    (rx)    : ORIGIN = 0x8000000,   LENGTH = BOOT_SIZE\n"
       "  FLASH    (rx)    : ORIGIN = APP_BASE,   LENGTH = 512K - BOOT_SIZE - SETTINGS_SIZE\n"
       "  SETTINGS (r) : ORIGIN = ORIGIN(FLASH) + LENGTH(FLASH), LENGTH = SETTINGS_SIZE\n"
       "}\n"
       "\n"
       "/* Sections */\n"
       "SECTIONS\n"
       "{\n"
       "  .isr_vector : { . = ALIGN(4); KEEP(*(.isr_vector)) } >FLASH /* Startup code */\n"
       "  .text :\n"
       "  {\n"
       "    *(.text*)          /* .text* sections (code) */\n"
       "    _etext = .;        /* define a global symbols at end of code */\n"
       "  } >FLASH\n"
       "\n"
       "  .data : { _sdata = .; *(.data*) _edata = .; } >RAM AT> FLASH\n"
       "  /DISCARD/ :\n"
       "  {\n"
       "    *(.note.GNU-stack)\n"
       "  }\n"
       "\n"
       "  .ARM.attributes 0 : { *(.ARM.attributes) }\n"
       "}\n"}},
       {}, {},
       // arm-none-eabi-ld
       {{"CCMRAM", 0x10000000, 0x10000}, {"RAM", 0x20000000, 0x20000}, {"BOOT", 0x8000000, 0x8000},
        {"FLASH", 0x8008000, 0x74000}, {"SETTINGS", 0x807C000, 0x4000}}, ""},
      {"RISC-V vendor style",
       {{"a.ld", "ENTRY( _enter )\n"
       "\n"
       "__stack_size = DEFINED(__stack_size) ? __stack_size : 0x800;\n"
       "__heap_size = DEFINED(__heap_size) ? __heap_size : 0x800;\n"
       "\n"
       "MEMORY\n"
       "{\n"
       "\titim (airwx) : ORIGIN = 0x8000000, LENGTH = 0x4000\n"
       "\tram (arw!xi) : ORIGIN = 0x80000000, LENGTH = 0x10000\n"
       "\trom (irx!wa) : ORIGIN = 0x20010000, LENGTH = 0x6a120\n"
       "}\n"
       "\n"
       "PHDRS { rom PT_LOAD; ram_init PT_LOAD; ram PT_LOAD; }\n"
       "\n"
       "SECTIONS\n"
       "{\n"
       "\t.init : { KEEP (*(SORT_NONE(.init))) } >rom :rom\n"
       "\n"
       "\t.stack (NOLOAD) : ALIGN(16) {\n"
       "\t\tPROVIDE(metal_segment_stack_begin = .);\n"
       "\t\t. += __stack_size; /* Hart 0 */\n"
       "\t\tPROVIDE( _sp = . );\n"
       "\t\tPROVIDE(metal_segment_stack_end = .);\n"
       "\t} >ram :ram\n"
       "\n"
       "\t.heap (NOLOAD) : ALIGN(8) {\n"
       "\t\tPROVIDE( __end = . );\n"
       "\t\t. = __heap_size == 0 ? 0 : ORIGIN(ram) + LENGTH(ram);\n"
       "\t} >ram :ram\n"
       "}\n"}},
       {}, {},
       {{"itim", 0x8000000, 0x4000}, {"ram", 0x80000000, 0x10000}, {"rom", 0x20010000, 0x6A120}}, ""},
      {"SDK style: INCLUDE of a fragment from -L, a generated region file inside MEMORY",
       {{"a.ld", "/* Board script: the flash size comes from the board's configuration */\n"
       "INCLUDE \"flash_size.ld\"\n"
       "\n"
       "MEMORY\n"
       "{\n"
       "    INCLUDE memory_regions.ld\n"
       "    RAM(rwx) : ORIGIN =  0x20000000, LENGTH = 256k\n"
       "    SCRATCH_X(rwx) : ORIGIN = 0x20040000, LENGTH = 4k\n"
       "    SCRATCH_Y(rwx) : ORIGIN = 0x20041000, LENGTH = 4k\n"
       "}\n"
       "\n"
       "ENTRY(_entry_point)\n"
       "\n"
       "SECTIONS\n"
       "{\n"
       "    .flash_begin : {\n"
       "        __flash_binary_start = .;\n"
       "    } > FLASH\n"
       "\n"
       "    .boot2 : {\n"
       "        __boot2_start__ = .;\n"
       "        KEEP (*(.boot2))\n"
       "        __boot2_end__ = .;\n"
       "    } > FLASH\n"
       "\n"
       "    ASSERT(__boot2_end__ - __boot2_start__ <= 256,\n"
       "        \"ERROR: Pico second stage bootloader must be 256 bytes in size\")\n"
       "}\n"}, {"config/flash_size.ld", "/* generated */\n"
       "FLASH_SIZE = 2048k;\n"}, {"memory_regions.ld", "/* generated from the board file */\n"
       "FLASH(rx) : ORIGIN = 0x10000000, LENGTH = FLASH_SIZE\n"}},
       {"config"}, {},
       {{"FLASH", 0x10000000, 0x200000}, {"RAM", 0x20000000, 0x40000}, {"SCRATCH_X", 0x20040000, 0x1000},
        {"SCRATCH_Y", 0x20041000, 0x1000}}, ""},
      {"memory.x style with a zero-length region",
       {{"a.ld", "/* memory.x for the target's runtime crate */\n"
       "MEMORY\n"
       "{\n"
       "  /* NOTE 1 K = 1 KiBi = 1024 bytes */\n"
       "  FLASH : ORIGIN = 0x00000000, LENGTH = 256K\n"
       "  RAM : ORIGIN = 0x20000000, LENGTH = 64K\n"
       "  /* two parts of the information memory, the second one empty on this part */\n"
       "  INFOA : ORIGIN = 0x1980, LENGTH = 0x0080\n"
       "  INFOB : ORIGIN = 0x1900, LENGTH = 0x0000\n"
       "}\n"
       "\n"
       "/* This is where the call stack will be allocated. */\n"
       "_stack_start = ORIGIN(RAM) + LENGTH(RAM);\n"}},
       {}, {},
       {{"FLASH", 0x0, 0x40000}, {"RAM", 0x20000000, 0x10000}, {"INFOA", 0x1980, 0x80}, {"INFOB", 0x1900, 0x0}}, ""},
      {"operators and functions with ld's precedence",
       {{"a.ld", "x = 1; x += 1; x <<= 4; x |= 1; x &= 0xff; x -= 1; x *= 3; x /= 2; x >>= 1;\n"
       "MEMORY\n"
       "{\n"
       "  A : ORIGIN = 2 + 3 * 4 << 1 & 0xff | 1 == 1, LENGTH = !0 + ~0 + (3 > 2) + (3 >= 3) + (2 <= 1) + (1 != 1) +"
       " (1 && 2) + (0 || 0)\n"
       "  B : ORIGIN = x, LENGTH = (-7 / 2) & 0xffff\n"
       "  C : ORIGIN = (-7 % 2) & 0xff, LENGTH = 1 ? 2 : 3 ? 4 : 5\n"
       "  D : ORIGIN = MAX(-1, 1) & 0x1000, LENGTH = MIN(-1, 1) + ALIGN(5, 3) + ABSOLUTE(0x10) + LOG2CEIL(1000) +"
       " SEGMENT_START(\"text\", 4)\n"
       "  E : ORIGIN = 1 << 64, LENGTH = (-1 < 0) + (1 << 65) + (0x8000000000000000 >> 63)\n"
       "  F : ORIGIN = DEFINED(x) ? 0x100 : 0x200, LENGTH = DEFINED(later) + DEFINED(never)\n"
       "}\n"
       "later = 1;\n"}},
       {}, {},
       {{"A", 0x1D, 0x3}, {"B", 0x18, 0xFFFD}, {"C", 0xFF, 0x2}, {"D", 0x1000, 0x25}, {"E", 0x1, 0x3},
        {"F", 0x100, 0x1}}, ""},
      {"LENGTH written with the region's own ORIGIN, regions named before and after",
       {{"a.ld", "MEMORY\n"
       "{\n"
       "  A : ORIGIN = 0x10, LENGTH = ORIGIN(A) + 4\n"
       "  B : ORIGIN = ORIGIN(A) + LENGTH(A), LENGTH = LENGTH(B) + 4\n"
       "  C : ORIGIN = ORIGIN(D), LENGTH = 4\n"
       "  D : ORIGIN = 0x100, LENGTH = 4\n"
       "}\n"}},
       {}, {},
       {{"A", 0x10, 0x14}, {"B", 0x24, 0x3}, {"C", 0x0, 0x4}, {"D", 0x100, 0x4}}, ""},
      {"symbols assigned after MEMORY, PROVIDE and HIDDEN",
       {{"a.ld", "PROVIDE(provided = 0x5000);\n"
       "early = DEFINED(late) ? 1 : 2;\n"
       "taken = 0x3000; PROVIDE(taken = 0x9000);\n"
       "MEMORY\n"
       "{\n"
       "  A : ORIGIN = late, LENGTH = early\n"
       "  B : ORIGIN = provided, LENGTH = DEFINED(provided)\n"
       "  C : ORIGIN = taken + hidden, LENGTH = region_end\n"
       "}\n"
       "late = 0x1000;\n"
       "HIDDEN(hidden = 0x100);\n"
       "region_end = ORIGIN(A) + 4;\n"}},
       {}, {},
       {{"A", 0x1000, 0x2}, {"B", 0x5000, 0x1}, {"C", 0x3100, 0x4}}, ""},
      {"comments, strings and commands that hold braces or MEMORY",
       {{"a.ld", "/* MEMORY { X : ORIGIN = 0, LENGTH = 1 } */\n"
       "# a line comment, as ld 2.40 reads it: MEMORY {\n"
       "SECTIONS { .text : { *(\".text.a}b\") *(.text*) *(MEMORY) } }\n"
       "MEMORY { \"FLASH AREA\" (rx) : ORIGIN = 0x100, LENGTH = 0x100 } MEMORY { RAM : ORIGIN = 0x200, LENGTH = 0x10"
       " }\n"}},
       {}, {},
       {{"FLASH AREA", 0x100, 0x100}, {"RAM", 0x200, 0x10}}, ""},
      {"REGION_ALIAS names a region for ORIGIN and LENGTH",
       {{"a.ld", "MEMORY { ROM (rx) : ORIGIN = 0x10000, LENGTH = 64K }\n"
       "REGION_ALIAS(\"REGION_TEXT\", ROM);\n"
       "MEMORY { CONFIG (r) : ORIGIN = ORIGIN(REGION_TEXT) + LENGTH(REGION_TEXT), LENGTH = 4K }\n"}},
       {}, {},
       {{"ROM", 0x10000, 0x10000}, {"CONFIG", 0x20000, 0x1000}}, ""},
      {"a comma-less region and several MEMORY commands",
       {{"a.ld", "MEMORY { A : ORIGIN = 0 LENGTH = 4K B(rx):org = 8K LENGTH = 4K, C : o = 16K, len = 1K }\n"}},
       {}, {},
       {{"A", 0x0, 0x1000}, {"B", 0x2000, 0x1000}, {"C", 0x4000, 0x400}}, ""},
      {"a region past 0xFFFFFFFF",
       {{"a.ld", "MEMORY\n"
       "{\n"
       "  LOW : ORIGIN = 0, LENGTH = 4K\n"
       "  TOP : ORIGIN = 0xFFFF0000, LENGTH = 128K\n"
       "}\n"}},
       {}, {},
       {{"LOW", 0x0, 0x1000}, {"TOP", 0xFFFF0000, 0x20000}}, ""},
      {"short keywords without the comma",
       {{"a.ld", "MEMORY { A : o = 8 l = 4 }\n"}},
       {}, {},
       {}, "a.ld:1: expected ',' or LENGTH of region 'A', not 'l'"},  // ld: ld:a.ld:1: syntax error
      {"a region name that is a number to an expression",
       {{"a.ld", "MEMORY {\n"
       " A : ORIGIN = 0, LENGTH = 4\n"
       " ah : ORIGIN = 8, LENGTH = 4\n"
       "}\n"}},
       {}, {},
       {}, "a.ld:3: expected a region or '}', not 'ah'"},  // ld: ld:a.ld:3: syntax error
      {"an assignment inside MEMORY",
       {{"a.ld", "MEMORY {\n"
       " x = 5;\n"
       "}\n"}},
       {}, {},
       {}, "a.ld:2: expected ':' after region 'x', not '='"},  // ld: ld:a.ld:2: syntax error
      {"an unknown attribute",
       {{"a.ld", "MEMORY {\n"
       " A (rq) : ORIGIN = 0, LENGTH = 4\n"
       "}\n"}},
       {}, {},
       // ld: ld: invalid character %c (113) in flags
       {}, "a.ld:2: invalid character 'q' in the attributes of region 'A'"},
      {"an assignment without its ;",
       {{"a.ld", "x = 5\n"
       "MEMORY { A : ORIGIN = x, LENGTH = 4 }\n"}},
       {}, {},
       {}, "a.ld:2: expected ';' after the assignment to 'x', not 'MEMORY'"},  // ld: ld:a.ld:2: syntax error
      {"a name that is not defined",
       {{"a.ld", "MEMORY {\n"
       " A : ORIGIN = 0, LENGTH = 4\n"
       "}\n"
       "x = y + 1;\n"}},
       {}, {},
       {}, "a.ld:4: symbol 'y' is not defined"},  // ld: ld:a.ld:4: undefined symbol `y' referenced in expression
      {"an error in an included file",
       {{"a.ld", "/* regions */\n"
       "MEMORY {\n"
       " INCLUDE b.ld\n"
       "}\n"}, {"b.ld", "A : ORIGIN = 0, LENGTH = 4\n"
       "B : ORIGIN = 4 / 0, LENGTH = 4\n"}},
       {}, {},
       {}, "b.ld:2: division by zero; included from a.ld:3"},  // ld: ld:b.ld:2 / by zero
      {"an INCLUDE that -L does not find before -L",
       {{"a.ld", "INCLUDE lib.ld\n"
       "MEMORY { A : ORIGIN = 0, LENGTH = 4 }\n"}, {"inc/lib.ld", "x = 1;\n"}},
       {}, {},
       // ld: ld: cannot open linker script file lib.ld: No such file or directory
       {}, "a.ld:1: INCLUDE file 'lib.ld' not found in the current folder or a -L folder"},
      {"an unclosed MEMORY command",
       {{"a.ld", "MEMORY {\n"
       "  A : ORIGIN = 0, LENGTH = 2\n"}},
       {}, {},
       {}, "a.ld:3: MEMORY command without its closing '}'"},  // ld: ld:a.ld:0: syntax error
      {"a division by zero where its value is never used",
       {{"a.ld", "MEMORY { A : ORIGIN = 0, LENGTH = 4 }\n"
       "x = 1 ? 2 : 4 / (3 - 3);\n"}},
       {}, {},
       {}, "a.ld:2: division by zero"},  // ld: ld:a.ld:2 / by zero
      {"a division by DEFINED, which is 0 when ld first evaluates the regions",
       {{"a.ld", "x = 1;\n"
       "MEMORY {\n"
       "  A : ORIGIN = 0, LENGTH = 4 / DEFINED(x)\n"
       "}\n"}},
       {}, {},
       {}, "a.ld:3: division by zero"},  // ld: ld:a.ld:3 / by zero
      {"no MEMORY command",
       {{"a.ld", "SECTIONS { .text : { *(.text) } }\n"}},
       {}, {},
       {}, "a.ld:1: no MEMORY command"},  // ld: no error, no regions
      {"a region that is not declared",
       {{"a.ld", "MEMORY {\n"
       "  A : ORIGIN = ORIGIN(B), LENGTH = 1\n"
       "}\n"}},
       {}, {},
       {}, "a.ld:2: memory region 'B' is not declared"},  // ld: warning: memory region `B' not declared
      {"a second PROVIDE of a symbol that a PROVIDE defined does nothing, an INCLUDEd one too",
       {{"a.ld", "PROVIDE(size = 0x1000); PROVIDE(size = 0x2000);\n"
       "INCLUDE defaults.ld\n"
       "PROVIDE(base = 0x3000);\n"
       "MEMORY { A : ORIGIN = 0, LENGTH = size  B : ORIGIN = base, LENGTH = 4 }\n"},
        {"defaults.ld", "PROVIDE(base = 0x100);\n"}},
       {}, {},
       {{"A", 0x0, 0x1000}, {"B", 0x100, 0x4}}, ""},
      {"DEFINED of a symbol SECTIONS assigns counts from the SECTIONS command on; a PROVIDE there only once wanted",
       {{"a.ld", "before = DEFINED(late) ? 0x1000 : 0x2000;\n"
       "SECTIONS { late = 5; PROVIDE(only_provided = 6); PROVIDE(wanted = 7); .text : { *(.text) } }\n"
       "after = DEFINED(late) ? 0x1000 : 0x2000;\n"
       "wanted = DEFINED(wanted) ? 0x3000 : 0x4000;\n"
       "MEMORY { A : ORIGIN = before, LENGTH = after  B : ORIGIN = DEFINED(only_provided) ? 0x1000 : 0x2000,"
       " LENGTH = DEFINED(late)  C : ORIGIN = wanted, LENGTH = 1 }\n"}},
       {}, {},
       {{"A", 0x2000, 0x1000}, {"B", 0x2000, 0x1}, {"C", 0x3000, 0x1}}, ""},
      {"an assignment without a value defines as 0 a symbol that nothing named before it",
       {{"a.ld", "p0 = q; q = 1;\n"
       "PROVIDE(p1 = 7); p2 = p1;\n"
       "y = p3; p3 = q; x = p0;\n"
       "z = p4; p4 = r; r = 1;\n"
       "MEMORY { R0 : ORIGIN = DEFINED(p0) ? 0x1000 : 0x2000, LENGTH = DEFINED(p2) ? 1 : 2\n"
       " R1 : ORIGIN = DEFINED(p3) ? 0x1000 : 0x2000, LENGTH = x + 5\n"
       " R2 : ORIGIN = DEFINED(p4) ? 0x1000 : 0x2000, LENGTH = 1 }\n"}},
       {}, {},
       {{"R0", 0x1000, 0x1}, {"R1", 0x1000, 0x5}, {"R2", 0x2000, 0x1}}, ""},
      {"a flat chain of 129 terms is no nesting",
       {{"a.ld", "x = 1;\nMEMORY { A : ORIGIN = 0, LENGTH = x" + [] {
           std::string terms;
           for (int i = 1; i < 129; ++i) terms += " + x";
           return terms;
         }() + " }\n"}},
       {}, {},
       {{"A", 0x0, 0x81}}, ""},
      {"a symbol that SECTIONS assigns again after the top level",
       {{"a.ld", "y = 0x1000;\n"
       "SECTIONS {\n"
       "  y = 0x2000;\n"
       "}\n"
       "MEMORY { A : ORIGIN = 0, LENGTH = y }\n"}},
       {}, {},
       {}, "a.ld:5: symbol 'y' gets its value inside SECTIONS, which is not evaluated"},  // ld: A 0x0 0x2000
      // The last two are what Varnok refuses although ld goes on, as long as it has files to open.
      {"more than 1000 INCLUDEs in all",
       {{"a.ld", [] {
           std::string lines;
           for (int i = 0; i < 1001; ++i) lines += "INCLUDE e.ld\n";
           return lines + "MEMORY { A : ORIGIN = 0, LENGTH = 1 }\n";
         }()}, {"e.ld", ""}},
       {}, {},
       {}, "a.ld:1001: more than 1000 INCLUDEs in all"},  // ld: A 0x0 0x1
      {"more than 16 MiB of script text in all",
       {{"a.ld", "INCLUDE big.ld\nINCLUDE big.ld\nMEMORY { A : ORIGIN = 0, LENGTH = 1 }\n"},
        {"big.ld", std::string(std::size_t{9} << 20, ' ')}},
       {}, {},
       {}, "a.ld:2: more than 16 MiB of script text in all"},  // ld: A 0x0 0x1
  };
  for (const auto& c : cases) {
    const ScriptRead read = ReadLinkerScript("a.ld", ScriptSettings{c.search_dirs, c.defsyms}, MemoryFiles(c.files));
    EXPECT_EQ(read.error ? ScriptErrorText(*read.error) : "", c.error) << c.name;
    std::vector<MemoryRegion> expected = c.regions;
    std::size_t cut = 0;
    for (MemoryRegion& region : expected) {
      if (region.length > (std::uint64_t{1} << 32) - region.origin) {
        region.length = (std::uint64_t{1} << 32) - region.origin;
        ++cut;
      }
    }
    EXPECT_EQ(read.regions, expected) << c.name;
    EXPECT_EQ(read.warnings.size(), cut) << c.name;
  }
}

// A current folder in the settings stands for the process's: relative paths are read from it, and messages name
// the files as written.
TEST(ReadLinkerScript, ReadsRelativePathsFromTheCurrentFolderItIsGiven) {
  const MemoryFiles files({{"/work/a.ld", "INCLUDE sizes.ld\nINCLUDE lib.ld\nMEMORY { A : ORIGIN = 0, LENGTH = S }\n"},
                           {"/work/sizes.ld", "S = 0x100;\n"},
                           {"/work/inc/lib.ld", "INCLUDE /abs/missing.ld\n"}});
  const struct {
    std::string path;
    std::string current_dir;
    std::string error;
  } cases[] = {
      {"a.ld", "/work", "inc/lib.ld:1: INCLUDE file '/abs/missing.ld' not found in the current folder or a -L folder;"
                        " included from a.ld:2"},
      {"/work/a.ld", "/elsewhere", "/work/a.ld:1: INCLUDE file 'sizes.ld' not found in the current folder or a -L"
                                   " folder"},
      {"a.ld", "", "a.ld: cannot read: No such file or directory"},
  };
  for (const auto& c : cases) {
    ScriptSettings settings;
    settings.search_dirs = {"inc"};
    settings.current_dir = c.current_dir;
    const ScriptRead read = ReadLinkerScript(c.path, settings, files);
    EXPECT_EQ(read.error ? ScriptErrorText(*read.error) : "", c.error) << c.path << " in " << c.current_dir;
  }
}

}  // namespace
}  // namespace varnok
