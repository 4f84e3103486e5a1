// The MEMORY command of a GNU ld linker script, read the way ld reads it as far as regions go.
#include <cctype>
#include <cstdint>
#include <string>
#include <utility>

#include "image/memory_regions.h"
#include "text/number_reader.h"

namespace varnok {
namespace {

// A failure that ends the reading; thrown only inside this file and caught at its entry point.
struct Failure {
  ScriptError error;
};

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.' || c == '$';
}

class ScriptReader {
 public:
  explicit ScriptReader(std::string_view text) : text_(text) {}

  std::vector<MemoryRegion> Read() {
    bool found = false;
    for (;;) {
      SkipSpace();
      if (AtEnd()) break;
      const char c = text_[pos_];
      if (c == '"') {
        SkipString();
      } else if (IsNameChar(c)) {
        if (Name() == "MEMORY") {
          SkipSpace();
          Expect('{', "expected '{' after MEMORY");
          ReadRegions();
          found = true;
        }
      } else {
        ++pos_;
      }
    }
    if (!found) Fail("no MEMORY command");
    return std::move(regions_);
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  [[noreturn]] void Fail(std::string message) const { throw Failure{ScriptError{line_, std::move(message)}}; }

  void SkipSpace() {
    while (!AtEnd()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
        const std::int64_t start = line_;
        const std::size_t close = text_.find("*/", pos_ + 2);
        if (close == std::string_view::npos) {
          line_ = start;
          Fail("comment without its closing */");
        }
        for (std::size_t i = pos_; i < close; ++i) line_ += text_[i] == '\n' ? 1 : 0;
        pos_ = close + 2;
      } else {
        return;
      }
    }
  }

  void SkipString() {
    const std::size_t close = text_.find('"', pos_ + 1);
    if (close == std::string_view::npos) Fail("string without its closing quote");
    for (std::size_t i = pos_; i < close; ++i) line_ += text_[i] == '\n' ? 1 : 0;
    pos_ = close + 1;
  }

  std::string Name() {
    const std::size_t start = pos_;
    while (!AtEnd() && IsNameChar(text_[pos_])) ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  void Expect(char c, const char* message) {
    SkipSpace();
    if (Peek() != c) Fail(message);
    ++pos_;
  }

  // One of the keyword's spellings, then "=".
  void Keyword(std::initializer_list<const char*> spellings, const std::string& message) {
    SkipSpace();
    const std::string word = Name();
    for (const char* spelling : spellings) {
      if (word == spelling) {
        Expect('=', ("expected '=' after " + word).c_str());
        return;
      }
    }
    Fail(message);
  }

  void ReadRegions() {
    for (;;) {
      SkipSpace();
      if (AtEnd()) Fail("MEMORY command without its closing '}'");
      if (Peek() == '}') {
        ++pos_;
        return;
      }
      if (!IsNameChar(Peek())) Fail(std::string("unexpected '") + Peek() + "' in MEMORY");
      MemoryRegion region;
      const std::int64_t region_line = line_;
      region.name = Name();
      SkipSpace();
      if (Peek() == '(') {
        const std::size_t close = text_.find(')', pos_);
        if (close == std::string_view::npos || text_.substr(pos_, close - pos_).find('\n') != std::string_view::npos) {
          Fail("attributes of region " + region.name + " without their closing ')'");
        }
        pos_ = close + 1;
      }
      Expect(':', ("expected ':' after region " + region.name).c_str());
      Keyword({"ORIGIN", "org", "o"}, "expected ORIGIN of region " + region.name);
      const std::int64_t origin = Expression();
      Expect(',', ("expected ',' before LENGTH of region " + region.name).c_str());
      Keyword({"LENGTH", "len", "l"}, "expected LENGTH of region " + region.name);
      const std::int64_t length = Expression();
      const std::int64_t after_line = line_;
      // What is wrong with the region as a whole is told at its name.
      line_ = region_line;
      if (origin < 0 || origin > 0xFFFFFFFF) {
        Fail("ORIGIN of region " + region.name + " is not an address from 0 to 0xFFFFFFFF");
      }
      if (length < 0 || length > static_cast<std::int64_t>((std::int64_t{1} << 32) - origin)) {
        Fail("region " + region.name + " does not end by 0xFFFFFFFF");
      }
      if (Find(region.name) != nullptr) Fail("region " + region.name + " defined twice");
      region.origin = static_cast<std::uint32_t>(origin);
      region.length = static_cast<std::uint64_t>(length);
      regions_.push_back(std::move(region));
      line_ = after_line;
      SkipSpace();
      if (Peek() == ',' || Peek() == ';') ++pos_;
    }
  }

  const MemoryRegion* Find(const std::string& name) const {
    for (const MemoryRegion& region : regions_) {
      if (region.name == name) return &region;
    }
    return nullptr;
  }

  // Sums and differences of terms; values are 64-bit, as ld's on a 64-bit host.
  std::int64_t Expression() {
    std::int64_t value = Term();
    for (;;) {
      SkipSpace();
      if (Peek() == '+') {
        ++pos_;
        value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) + static_cast<std::uint64_t>(Term()));
      } else if (Peek() == '-') {
        ++pos_;
        value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) - static_cast<std::uint64_t>(Term()));
      } else {
        return value;
      }
    }
  }

  std::int64_t Term() {
    std::int64_t value = Unary();
    for (;;) {
      SkipSpace();
      const char op = Peek();
      if (op != '*' && op != '/' && op != '%') return value;
      ++pos_;
      const std::int64_t right = Unary();
      if (op == '*') {
        value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) * static_cast<std::uint64_t>(right));
      } else if (right == 0) {
        Fail("division by zero");
      } else {
        value = op == '/' ? value / right : value % right;
      }
    }
  }

  std::int64_t Unary() {
    SkipSpace();
    if (Peek() == '-') {
      ++pos_;
      return static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(Unary()));
    }
    if (Peek() == '+') {
      ++pos_;
      return Unary();
    }
    if (Peek() == '(') {
      ++pos_;
      const std::int64_t value = Expression();
      Expect(')', "expected ')'");
      return value;
    }
    if (std::isdigit(static_cast<unsigned char>(Peek())) != 0) return Number();
    if (IsNameChar(Peek())) {
      const std::string word = Name();
      if (word != "ORIGIN" && word != "LENGTH") Fail("unknown name " + word + " in an expression");
      Expect('(', ("expected '(' after " + word).c_str());
      SkipSpace();
      const std::string name = Name();
      Expect(')', ("expected ')' after " + word + "(" + name).c_str());
      const MemoryRegion* region = Find(name);
      if (region == nullptr) Fail(word + "(" + name + ") names no region defined before");
      return word == "ORIGIN" ? std::int64_t{region->origin} : static_cast<std::int64_t>(region->length);
    }
    if (AtEnd()) Fail("expression cut off at the end");
    Fail(std::string("expected a number, not '") + Peek() + "'");
  }

  // Hex with 0x, octal with a leading 0, decimal otherwise; K and M multiply by 1024 and 1024 * 1024.
  std::int64_t Number() {
    const std::size_t start = pos_;
    while (!AtEnd() && std::isalnum(static_cast<unsigned char>(text_[pos_])) != 0) ++pos_;
    const std::string_view digits = text_.substr(start, pos_ - start);
    NumberFormat format;
    format.hex_prefix = true;
    format.octal_prefix = true;
    format.size_suffix = true;
    format.max = std::uint64_t{1} << 40;
    const NumberRead read = ReadNumber(digits, format);
    if (read.error == NumberError::kOverflow) Fail("number too large: " + std::string(digits));
    if (read.error != NumberError::kNone) Fail("bad number " + std::string(digits));
    return static_cast<std::int64_t>(read.value);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::int64_t line_ = 1;
  std::vector<MemoryRegion> regions_;
};

}  // namespace

std::variant<std::vector<MemoryRegion>, ScriptError> ReadMemoryCommand(std::string_view script) {
  try {
    return ScriptReader(script).Read();
  } catch (const Failure& failure) {
    return failure.error;
  }
}

}  // namespace varnok
