#include "support/srec_builder.h"

#include "text/line_text.h"

namespace varnok::test {

int AddressWidth(int type) {
  switch (type) {
    case 2:
    case 6:
    case 8: return 3;
    case 3:
    case 7: return 4;
    default: return 2;
  }
}

void AppendRecord(std::string& out, int type, std::uint32_t address, const std::uint8_t* data, std::size_t length) {
  const int width = AddressWidth(type);
  const auto count = static_cast<std::uint32_t>(static_cast<std::size_t>(width) + length + 1);
  std::uint32_t sum = count;
  out += 'S';
  out += static_cast<char>('0' + type);
  AppendHex(out, count, 2);
  for (int i = width - 1; i >= 0; --i) {
    const std::uint32_t byte = (address >> (8 * i)) & 0xFF;
    sum += byte;
    AppendHex(out, byte, 2);
  }
  for (std::size_t i = 0; i < length; ++i) {
    sum += data[i];
    AppendHex(out, data[i], 2);
  }
  AppendHex(out, ~sum & 0xFF, 2);
}

std::string Record(int type, std::uint32_t address, std::string_view data) {
  std::string line;
  AppendRecord(line, type, address, reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  return line;
}

std::string Record(int type, std::uint32_t address, const std::vector<std::uint8_t>& data) {
  std::string line;
  AppendRecord(line, type, address, data.data(), data.size());
  return line;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace varnok::test
