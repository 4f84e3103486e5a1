#include "s0_header.h"

#include "analysis/hex_fields.h"

namespace varnok {
namespace {

constexpr int kModuleNameBytes = 20;

// Two payload bytes as text; the first is dropped when it is the character "0".
std::string TwoCharacterField(const char* p) {
  std::string text(1, static_cast<char>(HexByte(p)));
  if (text == "0") text.clear();
  text += static_cast<char>(HexByte(p + 2));
  return text;
}

}  // namespace

std::string LabelText(std::string text) {
  const std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

RunHeader InterpretS0(const char* line, std::int32_t byte_count) {
  RunHeader header;
  std::int32_t remaining = byte_count - 3;  // two address bytes and the checksum
  const char* p = line + 8;
  for (std::int32_t i = 0; i < remaining; ++i) header.text += static_cast<char>(HexByte(p + 2 * i));

  std::string module;
  for (int count = 0; remaining > 0 && count < kModuleNameBytes; ++count) {
    --remaining;
    module += static_cast<char>(HexByte(p));
    p += 2;
  }
  header.module = LabelText(std::move(module));

  if (remaining > 1) {
    header.has_version = true;
    header.version = LabelText(TwoCharacterField(p));
    remaining -= 2;
    p += 4;
    if (remaining > 1) {
      header.version = LabelText(header.version + "." + TwoCharacterField(p));
      remaining -= 2;
      p += 4;
    }
  }

  std::string description;
  for (; remaining > 0; --remaining) {
    description += static_cast<char>(HexByte(p));
    p += 2;
  }
  header.description = LabelText(std::move(description));
  return header;
}

}  // namespace varnok
