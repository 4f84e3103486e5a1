#include "script_lexer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "text/line_text.h"

namespace varnok::script {
namespace {

constexpr std::array<std::string_view, 21> kScriptPuncts = {"<<=", ">>=", "+=", "-=", "*=", "/=", "&=",
                                                            "|=",  ">",   ",",  "~",  "!",  "+",  "-",
                                                            "=",   "}",   "{",  ")",  "(",  ":",  ";"};
constexpr std::array<std::string_view, 36> kExpressionPuncts = {
    "<<=", ">>=", "||", "==", "!=", ">=", "<=", "<<", ">>", "+=", "-=", "*=", "/=", "&=", "|=", "&&", ">", ",",
    "&",   "|",   "~",  "!",  "?",  "*",  "+",  "-",  "/",  "%",  "<",  "=",  "}",  "{",  ")",  "(",  ":",  ";"};

// Words the lexer gives as keywords, not as names, in each state.
constexpr std::array<std::string_view, 65> kScriptKeywords = {
    "MEMORY", "REGION_ALIAS", "LD_FEATURE", "ORIGIN", "VERSION", "BLOCK", "BIND", "LENGTH", "ALIGN",
    "DATA_SEGMENT_ALIGN", "DATA_SEGMENT_RELRO_END", "DATA_SEGMENT_END", "ADDR", "LOADADDR", "ALIGNOF", "ABSOLUTE",
    "MAX", "MIN", "LOG2CEIL", "ASSERT", "ENTRY", "EXTERN", "NEXT", "SIZEOF_HEADERS", "SEGMENT_START", "SIZEOF",
    "TARGET", "SEARCH_DIR", "OUTPUT", "INPUT", "GROUP", "DEFINED", "FORCE_COMMON_ALLOCATION",
    "FORCE_GROUP_ALLOCATION", "INHIBIT_COMMON_ALLOCATION", "SECTIONS", "INSERT", "AFTER", "BEFORE", "STARTUP",
    "OUTPUT_FORMAT", "OUTPUT_ARCH", "HLL", "SYSLIB", "FLOAT", "NOFLOAT", "NOCROSSREFS", "NOCROSSREFS_TO",
    "OVERLAY", "ONLY_IF_RO", "ONLY_IF_RW", "SPECIAL", "o", "org", "l", "len", "INCLUDE", "PHDRS", "AT",
    "ALIGN_WITH_INPUT", "SUBALIGN", "HIDDEN", "PROVIDE", "PROVIDE_HIDDEN", "CONSTANT"};
constexpr std::array<std::string_view, 41> kExpressionKeywords = {
    "ORIGIN", "BLOCK", "BIND", "LENGTH", "ALIGN", "DATA_SEGMENT_ALIGN", "DATA_SEGMENT_RELRO_END",
    "DATA_SEGMENT_END", "ADDR", "LOADADDR", "ALIGNOF", "ABSOLUTE", "MAX", "MIN", "LOG2CEIL", "ASSERT", "NEXT",
    "SIZEOF_HEADERS", "SEGMENT_START", "SIZEOF", "DEFINED", "NOCROSSREFS", "NOCROSSREFS_TO", "OVERLAY", "NOLOAD",
    "READONLY", "DSECT", "COPY", "INFO", "TYPE", "ONLY_IF_RO", "ONLY_IF_RW", "SPECIAL", "INCLUDE", "AT",
    "ALIGN_WITH_INPUT", "SUBALIGN", "HIDDEN", "PROVIDE", "PROVIDE_HIDDEN", "CONSTANT"};

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& words, std::string_view word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

bool In(const char* set, char c) { return c != '\0' && std::strchr(set, c) != nullptr; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
// The first and further characters of a name in each state.
bool IsFileChar1(char c) { return IsAlpha(c) || In("_/.\\$~", c); }
bool IsFileChar(char c) { return IsAlpha(c) || IsDigit(c) || In("_/.\\$~-+:[],=", c); }
bool IsSymbolChar1(char c) { return IsAlpha(c) || In("_.\\$", c); }
bool IsSymbolChar(char c) { return IsAlpha(c) || IsDigit(c) || In("_/.\\$~", c); }

std::size_t Run(std::string_view s, std::size_t at, bool (*is)(char)) {
  std::size_t end = at;
  while (end < s.size() && is(s[end])) ++end;
  return end - at;
}

int DigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// The digits of the base from the start, as strtoull reads them: it stops at the first other character and gives
// the largest value when they overflow.
std::uint64_t ScanDigits(std::string_view digits, unsigned base) {
  std::uint64_t value = 0;
  bool saturated = false;
  for (const char c : digits) {
    const int digit = DigitValue(c);
    if (digit >= static_cast<int>(base)) break;
    if (value > (UINT64_MAX - static_cast<unsigned>(digit)) / base) saturated = true;
    value = value * base + static_cast<unsigned>(digit);
  }
  return saturated ? UINT64_MAX : value;
}

std::string Quote(std::string_view text) { return "'" + EscapeValue(std::string(text)) + "'"; }

}  // namespace

bool IsPunct(const Token& token, std::string_view text) { return token.kind == Kind::kPunct && token.text == text; }

bool IsWord(const Token& token, std::string_view text) {
  return token.kind == Kind::kName && !token.quoted && token.text == text;
}

bool IsKeyword(const Token& token, Lex state) {
  if (token.kind != Kind::kName || token.quoted) return false;
  return state == Lex::kScript ? Contains(kScriptKeywords, token.text) : Contains(kExpressionKeywords, token.text);
}

ScriptLexer::ScriptLexer(std::string text)
    // ld ignores the bytes of a byte-order mark, which editors on Windows write, with warnings.
    : text_(std::move(text)), pos_(text_.starts_with("\xEF\xBB\xBF") ? 3 : 0) {}

// Skips blanks, newlines and comments: /* */ and, as in ld 2.40, # to the end of the line.
void ScriptLexer::SkipBlank() {
  const std::string_view s = text_;
  while (pos_ < s.size()) {
    const char c = s[pos_];
    if (c == '\n') {
      ++line_;
      ++pos_;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      ++pos_;
    } else if (c == '/' && pos_ + 1 < s.size() && s[pos_ + 1] == '*') {
      const std::size_t close = s.find("*/", pos_ + 2);
      if (close == std::string_view::npos) throw LexError{line_, "comment without its closing */"};
      const std::string_view comment = s.substr(pos_, close - pos_);
      line_ += std::count(comment.begin(), comment.end(), '\n');
      pos_ = close + 2;
    } else if (c == '#') {
      const std::size_t end = s.find('\n', pos_);
      pos_ = end == std::string_view::npos ? s.size() : end;
    } else {
      return;
    }
  }
}

Token ScriptLexer::Peek(Lex state) {
  SkipBlank();
  // The grammar looks at most tokens twice, once to choose and once to take.
  if (peeked_ && peeked_->first == state && peeked_start_ == pos_) return peeked_->second;
  peeked_start_ = pos_;
  peeked_ = std::pair<Lex, Token>(state, Scan(state));
  return peeked_->second;
}

Token ScriptLexer::Scan(Lex state) {
  Token token;
  token.line = line_;
  token.end_line = line_;
  const std::string_view s = text_;
  const std::size_t p = pos_;
  token.end = p;
  if (p >= s.size()) return token;
  const char c = s[p];
  if (c == '"') {
    const std::size_t close = s.find('"', p + 1);
    if (close == std::string_view::npos) throw LexError{line_, "string without its closing quote"};
    token.kind = Kind::kName;
    token.quoted = true;
    token.text = s.substr(p + 1, close - p - 1);
    token.end = close + 1;
    token.end_line = line_ + std::count(token.text.begin(), token.text.end(), '\n');
    return token;
  }
  std::size_t best = 0;
  const auto consider = [&](std::size_t length, Kind kind, std::uint64_t value) {
    if (length > best) {
      best = length;
      token.kind = kind;
      token.value = value;
    }
  };
  if (state == Lex::kExpression) {
    if (c == '$') {
      const std::size_t h = Run(s, p + 1, IsHex);
      if (h > 0) consider(1 + h, Kind::kNumber, ScanDigits(s.substr(p + 1, h), 16));
    }
    // Hex digits and a base letter: 8000h, 17o, 101b, 19d.
    const std::size_t h = Run(s, p, IsHex);
    std::size_t length = 0;
    if (h > 0 && p + h < s.size() && In("HhXxOo", s[p + h])) {
      length = h + 1;
    } else {
      for (std::size_t j = h; j >= 2 && length == 0; --j) {
        if (In("BbDd", s[p + j - 1])) length = j;
      }
    }
    if (length > 0) {
      const char letter = s[p + length - 1];
      const unsigned base = In("HhXx", letter) ? 16 : In("Oo", letter) ? 8 : In("Bb", letter) ? 2 : 10;
      consider(length, Kind::kNumber, ScanDigits(s.substr(p, length - 1), base));
    }
  }
  {
    // $hex, 0xhex, octal with a leading 0, decimal; each with an optional K or M.
    std::size_t length = 0;
    std::uint64_t value = 0;
    if (c == '$' && Run(s, p + 1, IsHex) > 0) {
      length = 1 + Run(s, p + 1, IsHex);
      value = ScanDigits(s.substr(p + 1, length - 1), 16);
    } else if (c == '0' && p + 1 < s.size() && In("xX", s[p + 1]) && Run(s, p + 2, IsHex) > 0) {
      length = 2 + Run(s, p + 2, IsHex);
      value = ScanDigits(s.substr(p + 2, length - 2), 16);
    } else if (IsDigit(c)) {
      length = Run(s, p, IsDigit);
      value = ScanDigits(s.substr(p, length), c == '0' ? 8 : 10);
    }
    if (length > 0) {
      if (p + length < s.size() && In("KkMm", s[p + length])) {
        value *= In("Kk", s[p + length]) ? 1024 : 1024 * 1024;
        ++length;
      }
      consider(length, Kind::kNumber, value);
    }
  }
  const auto consider_punct = [&](std::string_view op) {
    if (op[0] == c && s.substr(p, op.size()) == op) consider(op.size(), Kind::kPunct, 0);
  };
  if (state == Lex::kScript) {
    for (const std::string_view op : kScriptPuncts) consider_punct(op);
  } else {
    for (const std::string_view op : kExpressionPuncts) consider_punct(op);
  }
  if (state == Lex::kScript ? IsFileChar1(c) : IsSymbolChar1(c)) {
    consider(1 + Run(s, p + 1, state == Lex::kScript ? IsFileChar : IsSymbolChar), Kind::kName, 0);
  }
  if (best == 0) throw LexError{line_, "unexpected character " + Quote(s.substr(p, 1))};
  token.text = s.substr(p, best);
  token.end = p + best;
  return token;
}

Token ScriptLexer::Next(Lex state) {
  const Token token = Peek(state);
  pos_ = token.end;
  line_ = token.end_line;
  return token;
}

std::vector<GroupAssignment> ScriptLexer::SkipGroup(char open, std::int64_t open_line) {
  std::vector<GroupAssignment> assigned;
  const std::string_view s = text_;
  std::string stack(1, open);
  std::size_t word_start = std::string_view::npos;
  std::size_t word_end = std::string_view::npos;
  std::size_t provide_open = std::string_view::npos;  // just after the '(' of a PROVIDE or PROVIDE_HIDDEN
  while (!stack.empty()) {
    SkipBlank();
    if (pos_ >= s.size()) {
      throw LexError{open_line, std::string("'") + open + "' without its closing '" + (open == '(' ? ')' : '}') + "'"};
    }
    const char c = s[pos_];
    if (c == '"') {
      Next(Lex::kScript);
    } else if (c == '(' || c == '{') {
      if (c == '(' && word_end != std::string_view::npos && s.find_first_not_of(" \t\n\r", word_end) == pos_) {
        const std::string_view word = s.substr(word_start, word_end - word_start);
        if (word == "PROVIDE" || word == "PROVIDE_HIDDEN") provide_open = pos_ + 1;
      }
      stack.push_back(c);
      ++pos_;
    } else if (c == ')' || c == '}') {
      if (c != (stack.back() == '(' ? ')' : '}')) throw LexError{line_, "unexpected " + Quote(s.substr(pos_, 1))};
      stack.pop_back();
      ++pos_;
    } else if (IsSymbolChar(c) && c != '/') {
      word_start = pos_;
      while (pos_ < s.size() && IsSymbolChar(s[pos_]) && s[pos_] != '/') ++pos_;
      word_end = pos_;
    } else if (c == '=') {
      // "=" after a name, or a compound operator after it, assigns the name; "==", "!=", "<=", ">=" compare.
      if (pos_ + 1 < s.size() && s[pos_ + 1] == '=') {
        pos_ += 2;
        continue;
      }
      std::size_t q = pos_;
      bool assignment = true;
      if (q >= 2 && (s.substr(q - 2, 2) == "<<" || s.substr(q - 2, 2) == ">>")) {
        q -= 2;
      } else if (q >= 1 && In("+-*/&|", s[q - 1])) {
        --q;
      } else if (q >= 1 && In("!<>=", s[q - 1])) {
        assignment = false;
      }
      while (q > 0 && (s[q - 1] == ' ' || s[q - 1] == '\t')) --q;
      if (assignment && q == word_end) {
        std::string name(s.substr(word_start, word_end - word_start));
        const bool provided = provide_open != std::string_view::npos &&
                              s.find_first_not_of(" \t\n\r", provide_open) == word_start;
        assigned.push_back(GroupAssignment{std::move(name), line_, provided});
      }
      ++pos_;
    } else if (c < 0x20 || c > 0x7E) {
      throw LexError{line_, "unexpected character " + Quote(s.substr(pos_, 1))};
    } else {
      ++pos_;
    }
  }
  return assigned;
}

}  // namespace varnok::script
