#pragma once

#include <array>
#include <charconv>
#include <concepts>
#include <cstddef>
#include <ostream>
#include <string_view>
#include <type_traits>

namespace varnok {

// Writes one JSON value to a stream as it is made, value by value, so that no report is ever held whole. It
// allocates nothing: a failed allocation elsewhere can only cut the text, never corrupt the writer.
//
// Compact output puts everything on one line with no spaces. Pretty output indents every level by 2 and lays out
// each container as it is begun.
class JsonWriter {
 public:
  // How a container's members are laid out in pretty output; compact output is one line whatever the layout.
  enum class Layout {
    kLines,    // one member a line; an empty container is {} or []
    kInline,   // all on one line, members parted by ", "
    kListing,  // one member a line, the closing bracket on a line of its own even when there is no member
  };

  // Containers nest at most this deep.
  static constexpr std::size_t kMaxDepth = 16;

  JsonWriter(std::ostream& out, bool pretty) : out_(out), pretty_(pretty) {}

  JsonWriter& BeginObject(Layout layout = Layout::kLines) { return Open('{', layout); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray(Layout layout = Layout::kLines) { return Open('[', layout); }
  JsonWriter& EndArray() { return Close(']'); }

  // The name of the next member of the open object.
  JsonWriter& Key(std::string_view name);

  // A string of UTF-8 text. Quotes, backslashes and control characters are escaped; the rest is written as it is.
  JsonWriter& String(std::string_view utf8);
  // A string of Latin-1 text: each byte stands for the character of that code.
  JsonWriter& Latin1String(std::string_view latin1);

  template <std::integral Integer>
    requires(!std::is_same_v<Integer, bool>)
  JsonWriter& Number(Integer value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    BeginValue();
    out_.write(digits, end - digits);
    return *this;
  }
  JsonWriter& Bool(bool value) { return Literal(value ? "true" : "false"); }
  JsonWriter& Null() { return Literal("null"); }

 private:
  struct Level {
    Layout layout;
    std::size_t members;
  };

  JsonWriter& Open(char bracket, Layout layout);
  JsonWriter& Close(char bracket);
  JsonWriter& Literal(std::string_view text);
  // Writes what goes before a value: the separator from the member before and the line break and indentation of
  // its layout; nothing after a key.
  void BeginValue();
  void NewLine(std::size_t depth);
  template <bool kLatin1>
  void Quoted(std::string_view text);

  std::ostream& out_;
  const bool pretty_;
  std::array<Level, kMaxDepth> levels_{};
  std::size_t depth_ = 0;
  bool after_key_ = false;
};

}  // namespace varnok
