#include "about/version_resource.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "about/version_block.h"

namespace varnok {

namespace {

// Opens an ELF file for reading and releases it on every path out.
class ElfFile {
 public:
  explicit ElfFile(const std::string& file_name) {
    if (elf_version(EV_CURRENT) == EV_NONE) return;
    fd_ = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    elf_ = elf_begin(fd_, ELF_C_READ, nullptr);
    if (elf_ != nullptr && elf_kind(elf_) != ELF_K_ELF) {
      elf_end(elf_);
      elf_ = nullptr;
    }
  }
  ~ElfFile() {
    if (elf_ != nullptr) elf_end(elf_);
    if (fd_ >= 0) ::close(fd_);
  }
  ElfFile(const ElfFile&) = delete;
  ElfFile& operator=(const ElfFile&) = delete;

  // The bytes of the version section; none when the file is no ELF file, has no such section, or the section
  // is too large to be a version block (which also keeps a hostile file from forcing a huge allocation).
  std::optional<std::span<const std::uint8_t>> VersionSection() const {
    if (elf_ == nullptr) return std::nullopt;
    std::size_t names = 0;
    if (elf_getshdrstrndx(elf_, &names) != 0) return std::nullopt;
    for (Elf_Scn* scn = elf_nextscn(elf_, nullptr); scn != nullptr; scn = elf_nextscn(elf_, scn)) {
      GElf_Shdr header;
      if (gelf_getshdr(scn, &header) == nullptr) continue;
      const char* name = elf_strptr(elf_, names, header.sh_name);
      if (name == nullptr || kVersionSectionName != name) continue;
      if (header.sh_type == SHT_NOBITS || header.sh_size == 0 || header.sh_size > kMaxVersionBlockSize) {
        return std::nullopt;
      }
      Elf_Data* data = elf_getdata(scn, nullptr);
      if (data == nullptr || data->d_buf == nullptr || data->d_size != header.sh_size) return std::nullopt;
      return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(data->d_buf), data->d_size);
    }
    return std::nullopt;
  }

 private:
  int fd_ = -1;
  Elf* elf_ = nullptr;
};

constexpr std::size_t Align4(std::size_t offset) { return (offset + 3) & ~static_cast<std::size_t>(3); }

std::uint16_t Word(std::span<const std::uint8_t> block, std::size_t offset) {
  return static_cast<std::uint16_t>(block[offset] | (block[offset + 1] << 8));
}

struct Node {
  std::size_t end = 0;
  std::string_view key;
  std::size_t value = 0;
  std::size_t value_length = 0;
  std::size_t children = 0;
};

// Every length is checked against the node's parent, since the block comes from an arbitrary file.
std::optional<Node> ParseNode(std::span<const std::uint8_t> block, std::size_t offset, std::size_t limit) {
  if (offset > limit || limit - offset < 4) return std::nullopt;
  const std::size_t length = Word(block, offset);
  if (length < 5 || length > limit - offset) return std::nullopt;
  Node node;
  node.end = offset + length;
  const auto* key_begin = block.data() + offset + 4;
  const auto* key_end = std::find(key_begin, block.data() + node.end, std::uint8_t{0});
  if (key_end == block.data() + node.end) return std::nullopt;
  node.key = std::string_view(reinterpret_cast<const char*>(key_begin), static_cast<std::size_t>(key_end - key_begin));
  node.value_length = Word(block, offset + 2);
  node.value = std::min(Align4(static_cast<std::size_t>(key_end - block.data()) + 1), node.end);
  if (node.value_length > node.end - node.value) return std::nullopt;
  node.children = Align4(node.value + node.value_length);
  return node;
}

bool KeysEqual(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

std::optional<Node> FindChild(std::span<const std::uint8_t> block, const Node& parent, std::string_view key) {
  for (std::size_t offset = parent.children; offset < parent.end;) {
    const std::optional<Node> child = ParseNode(block, offset, parent.end);
    if (!child) return std::nullopt;
    if (KeysEqual(child->key, key)) return child;
    offset = Align4(child->end);
  }
  return std::nullopt;
}

}  // namespace

std::uint32_t GetFileVersionInfoSize(const std::string& file_name) {
  const ElfFile file(file_name);
  const auto section = file.VersionSection();
  return section ? static_cast<std::uint32_t>(section->size()) : 0;
}

bool GetFileVersionInfo(const std::string& file_name, std::uint32_t size, void* buffer) {
  const ElfFile file(file_name);
  const auto section = file.VersionSection();
  if (!section || buffer == nullptr) return false;
  std::memcpy(buffer, section->data(), std::min<std::size_t>(size, section->size()));
  return true;
}

bool VerQueryValue(std::span<const std::uint8_t> block, std::string_view sub_block, const std::uint8_t** value,
                   std::uint32_t* length) {
  std::optional<Node> node = ParseNode(block, 0, block.size());
  if (!node || node->key != "VS_VERSION_INFO") return false;
  while (!sub_block.empty()) {
    const std::size_t skip = sub_block.find_first_not_of('\\');
    if (skip == std::string_view::npos) break;
    sub_block.remove_prefix(skip);
    const std::string_view key = sub_block.substr(0, sub_block.find('\\'));
    sub_block.remove_prefix(key.size());
    node = FindChild(block, *node, key);
    if (!node) return false;
  }
  *value = block.data() + node->value;
  *length = static_cast<std::uint32_t>(node->value_length);
  return true;
}

}  // namespace varnok
