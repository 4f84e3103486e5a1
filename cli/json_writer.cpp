#include "json_writer.h"

#include <stdexcept>

namespace varnok {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeginValue();
  Quoted<false>(name);
  out_.write(pretty_ ? ": " : ":", pretty_ ? 2 : 1);
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view utf8) {
  BeginValue();
  Quoted<false>(utf8);
  return *this;
}

JsonWriter& JsonWriter::Latin1String(std::string_view latin1) {
  BeginValue();
  Quoted<true>(latin1);
  return *this;
}

JsonWriter& JsonWriter::Open(char bracket, Layout layout) {
  // A fixed stack keeps the writer free of allocations; no report nests anywhere near this deep.
  if (depth_ == kMaxDepth) throw std::logic_error("JSON nested too deep");
  BeginValue();
  out_.put(bracket);
  levels_[depth_++] = Level{layout, 0};
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  const Level level = levels_[--depth_];
  if (pretty_ && level.layout != Layout::kInline && (level.members > 0 || level.layout == Layout::kListing)) {
    NewLine(depth_);
  }
  out_.put(bracket);
  return *this;
}

JsonWriter& JsonWriter::Literal(std::string_view text) {
  BeginValue();
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  return *this;
}

void JsonWriter::BeginValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (depth_ == 0) return;
  Level& level = levels_[depth_ - 1];
  if (level.members++ > 0) out_.put(',');
  if (!pretty_) return;
  if (level.layout != Layout::kInline) {
    NewLine(depth_);
  } else if (level.members > 1) {
    out_.put(' ');
  }
}

void JsonWriter::NewLine(std::size_t depth) {
  static constexpr std::array<char, 2 * kMaxDepth> kSpaces = [] {
    std::array<char, 2 * kMaxDepth> spaces{};
    spaces.fill(' ');
    return spaces;
  }();
  out_.put('\n');
  out_.write(kSpaces.data(), static_cast<std::streamsize>(2 * depth));
}

template <bool kLatin1>
void JsonWriter::Quoted(std::string_view text) {
  out_.put('"');
  // Runs of bytes that need no escape go out in one write; a map row is nearly all such bytes.
  std::size_t plain = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool latin1_high = kLatin1 && byte >= 0x80;
    if (byte >= 0x20 && byte != '"' && byte != '\\' && !latin1_high) continue;
    out_.write(text.data() + plain, static_cast<std::streamsize>(i - plain));
    plain = i + 1;
    if (latin1_high) {
      out_.put(static_cast<char>(0xC0 | (byte >> 6)));
      out_.put(static_cast<char>(0x80 | (byte & 0x3F)));
      continue;
    }
    out_.put('\\');
    switch (byte) {
      case '"': out_.put('"'); break;
      case '\\': out_.put('\\'); break;
      case '\b': out_.put('b'); break;
      case '\f': out_.put('f'); break;
      case '\n': out_.put('n'); break;
      case '\r': out_.put('r'); break;
      case '\t': out_.put('t'); break;
      default: {
        const char code[] = {'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
        out_.write(code, sizeof code);
      }
    }
  }
  out_.write(text.data() + plain, static_cast<std::streamsize>(text.size() - plain));
  out_.put('"');
}

}  // namespace varnok
