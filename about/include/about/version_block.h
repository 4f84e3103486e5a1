#pragma once

// The version block: the program's version information as the build embeds it in the executable.
//
// The block lives in the ELF section ".varnok_version". It is a tree of nodes; all numbers are little-endian
// 16-bit words, and every node starts at a 4-byte boundary counted from the start of the block:
//
//   u16   length        bytes of the node from its first byte to its last (children included,
//                       padding after the node excluded)
//   u16   value_length  bytes of the value
//   key                 8-bit text ending in a byte 0, then bytes 0 up to a 4-byte boundary
//   value               value_length bytes
//   children            nodes, each after bytes 0 up to a 4-byte boundary, until length is used up
//
// The root is keyed "VS_VERSION_INFO" and has no value. Its children:
//
//   "StringFileInfo"    one child per string table, keyed "LLLLCCCC" (language and code page as 4 upper-case
//                       hex digits each); a table's children are its strings, keyed by name (for example
//                       "FileVersion"), whose value is the text followed by one byte 0
//   "VarFileInfo"       one child "Translation" whose value is a list of entries of two words each: the
//                       language, then the code page; the first entry names the table readers use
//
// A value is found by its path of keys, e.g. "\StringFileInfo\040704E4\FileVersion"; keys compare without
// regard to ASCII case. The writer below runs at compile time, so the embedded block is plain constant data.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

// The attributes that place one constant in the version section and keep it through linking.
#define VARNOK_VERSION_BLOCK [[gnu::section(".varnok_version"), gnu::used, gnu::retain]]

namespace varnok {

// The name of the ELF section that holds the version block.
inline constexpr std::string_view kVersionSectionName = ".varnok_version";

// The largest block the 16-bit lengths can describe, padding included.
inline constexpr std::size_t kMaxVersionBlockSize = 0x10000;

// One string of a string table.
struct VersionString {
  std::string_view key;
  std::string_view value;
};

// One language and code page.
struct VersionTranslation {
  std::uint16_t language = 0;
  std::uint16_t code_page = 0;
};

// The strings of one language and code page.
struct VersionStringTable {
  VersionTranslation translation;
  std::span<const VersionString> strings;
};

// Everything a version block carries: the translation list and the string tables.
struct VersionBlockContents {
  std::span<const VersionTranslation> translations;
  std::span<const VersionStringTable> tables;
};

namespace version_block_detail {

// Writes the block into out, or only measures it when out is null.
class Writer {
 public:
  constexpr explicit Writer(unsigned char* out) : out_(out) {}

  constexpr std::size_t Size() const { return pos_; }

  // Starts a node; returns its offset for End.
  constexpr std::size_t Begin(std::string_view key, std::size_t value_length) {
    if (value_length > 0xFFFF) throw std::length_error("version value too long");
    Align();
    const std::size_t start = pos_;
    Word(0);
    Word(static_cast<std::uint16_t>(value_length));
    for (char c : key) Byte(static_cast<unsigned char>(c));
    Byte(0);
    Align();
    return start;
  }

  constexpr void Text(std::string_view text) {
    for (char c : text) Byte(static_cast<unsigned char>(c));
    Byte(0);
  }

  constexpr void Word(std::uint16_t word) {
    Byte(static_cast<unsigned char>(word & 0xFF));
    Byte(static_cast<unsigned char>(word >> 8));
  }

  constexpr void End(std::size_t start) {
    const std::size_t length = pos_ - start;
    if (length > 0xFFFF) throw std::length_error("version block too long");
    if (out_ != nullptr) {
      out_[start] = static_cast<unsigned char>(length & 0xFF);
      out_[start + 1] = static_cast<unsigned char>(length >> 8);
    }
  }

 private:
  constexpr void Byte(unsigned char byte) {
    if (out_ != nullptr) out_[pos_] = byte;
    ++pos_;
  }

  constexpr void Align() {
    while (pos_ % 4 != 0) Byte(0);
  }

  unsigned char* out_;
  std::size_t pos_ = 0;
};

constexpr char HexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

constexpr std::array<char, 8> TableKey(VersionTranslation translation) {
  std::array<char, 8> key{};
  for (int i = 0; i < 4; ++i) {
    key[static_cast<std::size_t>(i)] = HexDigit(translation.language >> (12 - 4 * i));
    key[static_cast<std::size_t>(4 + i)] = HexDigit(translation.code_page >> (12 - 4 * i));
  }
  return key;
}

constexpr std::size_t Write(const VersionBlockContents& contents, unsigned char* out) {
  Writer w(out);
  const std::size_t root = w.Begin("VS_VERSION_INFO", 0);
  const std::size_t string_info = w.Begin("StringFileInfo", 0);
  for (const VersionStringTable& table : contents.tables) {
    const std::array<char, 8> key = TableKey(table.translation);
    const std::size_t table_node = w.Begin(std::string_view(key.data(), key.size()), 0);
    for (const VersionString& string : table.strings) {
      const std::size_t string_node = w.Begin(string.key, string.value.size() + 1);
      w.Text(string.value);
      w.End(string_node);
    }
    w.End(table_node);
  }
  w.End(string_info);
  const std::size_t var_info = w.Begin("VarFileInfo", 0);
  const std::size_t translation = w.Begin("Translation", 4 * contents.translations.size());
  for (const VersionTranslation& entry : contents.translations) {
    w.Word(entry.language);
    w.Word(entry.code_page);
  }
  w.End(translation);
  w.End(var_info);
  w.End(root);
  return w.Size();
}

}  // namespace version_block_detail

// The size in bytes of the block that holds `contents`.
constexpr std::size_t VersionBlockSize(const VersionBlockContents& contents) {
  return version_block_detail::Write(contents, nullptr);
}

// The block that holds `contents`, as a constant of its exact size.
template <std::size_t N>
constexpr std::array<unsigned char, N> BuildVersionBlock(const VersionBlockContents& contents) {
  std::array<unsigned char, N> block{};
  if (version_block_detail::Write(contents, block.data()) != N) throw std::length_error("version block size mismatch");
  return block;
}

// The block that holds `contents`, built at run time.
inline std::vector<std::uint8_t> BuildVersionBlock(const VersionBlockContents& contents) {
  std::vector<std::uint8_t> block(VersionBlockSize(contents));
  version_block_detail::Write(contents, block.data());
  return block;
}

}  // namespace varnok
