// The MEMORY commands of a GNU ld linker script, read as ld 2.40 on a 64-bit host reads them: its lexer (two
// states, longest match), its grammar for what MEMORY needs, and its order of evaluation: every top-level
// assignment in script order first, then the regions in order.
#include "regions/linker_script.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "text/line_text.h"
#include "text/small_file.h"

namespace varnok {
namespace {

// Parentheses, unary operators and ?: nest this deep at most; a deeper expression is refused, never a stack
// overflow.
constexpr int kMaxNesting = 128;
// ld keeps at most ten script files open at once, the script itself included.
constexpr std::size_t kMaxOpenFiles = 10;
// A reading follows at most this many INCLUDEs and reads at most kMaxScriptBytes of script text in all, so that
// files that include one another many times over end it at once; ld itself runs out of files near a thousand.
constexpr std::size_t kMaxIncludes = 1000;
constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 32;

// ld's lexer states: commands and names of files, regions and symbols; expressions.
enum class Lex { kScript, kExpression };

enum class Kind { kEnd, kName, kNumber, kPunct };

struct Token {
  Kind kind = Kind::kEnd;
  std::string_view text;  // a quoted name without its quotes
  bool quoted = false;
  std::uint64_t value = 0;
  std::int64_t line = 0;
  std::size_t end = 0;  // where the text after it starts
  std::int64_t end_line = 0;
};

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

enum class Bin { kOrOr, kAndAnd, kOr, kAnd, kEq, kNe, kLt, kGt, kLe, kGe, kShl, kShr, kAdd, kSub, kMul, kDiv, kMod };

struct BinaryOperator {
  std::string_view text;
  int precedence;
  Bin op;
};

// ld's precedence, from the loosest; every one of them groups from the left.
constexpr std::array<BinaryOperator, 17> kBinaryOperators = {{
    {"||", 1, Bin::kOrOr}, {"&&", 2, Bin::kAndAnd}, {"|", 3, Bin::kOr}, {"&", 4, Bin::kAnd}, {"==", 5, Bin::kEq},
    {"!=", 5, Bin::kNe}, {"<", 6, Bin::kLt}, {">", 6, Bin::kGt}, {"<=", 6, Bin::kLe}, {">=", 6, Bin::kGe},
    {"<<", 7, Bin::kShl}, {">>", 7, Bin::kShr}, {"+", 8, Bin::kAdd}, {"-", 8, Bin::kSub}, {"*", 9, Bin::kMul},
    {"/", 9, Bin::kDiv}, {"%", 9, Bin::kMod}}};

// The operator of an assignment ("=" has none).
std::optional<std::optional<Bin>> AssignmentOperator(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, Bin>, 8> kCompound = {{{"+=", Bin::kAdd},
      {"-=", Bin::kSub}, {"*=", Bin::kMul}, {"/=", Bin::kDiv}, {"<<=", Bin::kShl}, {">>=", Bin::kShr},
      {"&=", Bin::kAnd}, {"|=", Bin::kOr}}};
  if (text == "=") return std::optional<Bin>();
  for (const auto& [spelling, op] : kCompound) {
    if (text == spelling) return std::optional<Bin>(op);
  }
  return std::nullopt;
}

struct Place {
  int frame = 0;  // index into the reader's frame infos
  std::int64_t line = 0;
};

enum class Op : std::uint8_t {
  kNumber, kSymbol, kDefined, kOrigin, kLength, kNegate, kNot, kComplement, kBinary, kTernary, kAlign, kMin, kMax,
  kLog2Ceil, kAssert, kUnknown
};

struct Node {
  Op op = Op::kNumber;
  Bin bin = Bin::kAdd;
  std::uint32_t a = 0, b = 0, c = 0;
  std::uint64_t number = 0;
  std::uint32_t text = 0;    // a region's name, the reason of kUnknown, the message of kAssert: in the reader's texts
  std::uint32_t symbol = 0;  // kSymbol's and kDefined's, an index into the reader's symbols
  Place place;
};

// A value, or the reason it is not known (an index into the reader's reasons).
struct Value {
  std::uint64_t number = 0;
  int unknown = -1;
};

// The unknown value of a symbol that a skipped command assigns; a reference to it gets its own reason.
constexpr int kInSections = -2;

// A failure that ends the reading; thrown only inside this file and caught at its entry point.
struct Failure {
  ScriptError error;
};

class Reader {
 public:
  Reader(const ScriptSettings& settings, const ScriptFiles& files) : settings_(settings), files_(files) {}

  ScriptRead Read(const std::string& path) {
    ScriptRead read;
    try {
      for (const std::string& defsym : settings_.defsyms) {
        Push("--defsym " + defsym, defsym, -1, 0, false);
        ParseDefsym();
        frames_.pop_back();
      }
      ScriptText script = files_.Read(InCurrentFolder(path));
      text_bytes_ = script.text.size();
      if (!script.problem.empty()) throw Failure{ScriptError{{ScriptPlace{path, 0}}, "cannot read: " + script.problem}};
      Push(path, std::move(script.text), -1, 0, true);
      const Place start = Here(1);
      ParseTop();
      if (!memory_seen_) Fail(start, "no MEMORY command");
      frames_.pop_back();
      Evaluate(read);
    } catch (const Failure& failure) {
      read.regions.clear();
      read.warnings.clear();
      read.error = failure.error;
    }
    return read;
  }

 private:
  struct FrameInfo {
    std::string file;
    int parent = -1;
    std::int64_t include_line = 0;
    bool lines = true;  // false for a --defsym, whose places carry no line
  };
  struct Frame {
    int info = 0;
    std::string text;
    std::size_t pos = 0;
    std::int64_t line = 1;
  };
  struct Statement {
    std::uint32_t symbol = 0;
    std::optional<Bin> op;  // none for "="
    bool provide = false;
    std::uint32_t value = 0;
    Place place;
    bool in_sections = false;  // an assignment inside SECTIONS or another skipped command, whose value is unknown
    bool fired = false;        // a PROVIDE that has defined its symbol once, and so assigns it in every later pass
  };
  struct Symbol {
    std::string name;
    Value value;                   // kept from one pass to the next
    bool has_value = false;        // an assignment has run; its value may still be undefined
    std::uint32_t defined_pass = 0;  // the pass that assigned it last: DEFINED is 1 from there on in that pass
    bool assigned = false;         // by a statement, wherever it stands
    bool elsewhere = false;        // assigned inside SECTIONS or another skipped command
    bool referenced = false;       // an evaluation has asked for its value
  };
  struct UnknownValue {
    Place place;
    std::string reason;
    bool undefined = false;  // a symbol without a value, not something only the link knows
  };
  struct RegionDecl {
    std::string name;
    std::uint32_t origin = 0, length = 0;
    Place place;
  };

  // The path by which a file is read: a relative one stands in the settings' current folder when they give one.
  std::string InCurrentFolder(const std::string& path) const {
    if (settings_.current_dir.empty() || path.starts_with('/')) return path;
    return settings_.current_dir + "/" + path;
  }

  // Errors -----------------------------------------------------------------------------------------------------

  ScriptPlace PlaceOf(int frame, std::int64_t line) const {
    const FrameInfo& info = infos_[static_cast<std::size_t>(frame)];
    return ScriptPlace{info.file, info.lines ? line : 0};
  }

  [[noreturn]] void Fail(Place place, std::string message) const {
    ScriptError error{{}, std::move(message)};
    error.places.push_back(PlaceOf(place.frame, place.line));
    for (int frame = place.frame; infos_[static_cast<std::size_t>(frame)].parent >= 0;) {
      const FrameInfo& info = infos_[static_cast<std::size_t>(frame)];
      error.places.push_back(PlaceOf(info.parent, info.include_line));
      frame = info.parent;
    }
    throw Failure{std::move(error)};
  }

  Place Here(std::int64_t line) const { return Place{frames_.back().info, line}; }

  static std::string Quote(std::string_view text) { return "'" + EscapeValue(std::string(text)) + "'"; }

  static std::string Describe(const Token& token) {
    if (token.kind == Kind::kEnd) return "the end of the file";
    if (token.quoted) return "\"" + EscapeValue(std::string(token.text)) + "\"";
    return Quote(token.text);
  }

  [[noreturn]] void Unexpected(const Token& token, const std::string& expected) const {
    Fail(Here(token.line), "expected " + expected + ", not " + Describe(token));
  }

  // Lexer ------------------------------------------------------------------------------------------------------

  void Push(std::string file, std::string text, int parent, std::int64_t include_line, bool lines) {
    // A UTF-8 byte-order mark, which editors on Windows write, is passed over (ld ignores its bytes with warnings).
    const std::size_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    infos_.push_back(FrameInfo{std::move(file), parent, include_line, lines});
    frames_.push_back(Frame{static_cast<int>(infos_.size() - 1), std::move(text), start, 1});
  }

  // Skips blanks, newlines and comments: /* */ and, as in ld 2.40, # to the end of the line.
  void SkipBlank(Frame& f) const {
    const std::string_view s = f.text;
    while (f.pos < s.size()) {
      const char c = s[f.pos];
      if (c == '\n') {
        ++f.line;
        ++f.pos;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++f.pos;
      } else if (c == '/' && f.pos + 1 < s.size() && s[f.pos + 1] == '*') {
        const std::size_t close = s.find("*/", f.pos + 2);
        if (close == std::string_view::npos) Fail(Place{f.info, f.line}, "comment without its closing */");
        const std::string_view comment = s.substr(f.pos, close - f.pos);
        f.line += std::count(comment.begin(), comment.end(), '\n');
        f.pos = close + 2;
      } else if (c == '#') {
        const std::size_t end = s.find('\n', f.pos);
        f.pos = end == std::string_view::npos ? s.size() : end;
      } else {
        return;
      }
    }
  }

  // The next token in the state, not consumed: the longest that a rule matches, the earlier rule on a tie
  // (numbers, then operators, then keywords and names), as flex picks.
  Token Peek(Lex state) {
    Frame& f = frames_.back();
    SkipBlank(f);
    Token token;
    token.line = f.line;
    token.end_line = f.line;
    const std::string_view s = f.text;
    const std::size_t p = f.pos;
    token.end = p;
    if (p >= s.size()) return token;
    const char c = s[p];
    if (c == '"') {
      const std::size_t close = s.find('"', p + 1);
      if (close == std::string_view::npos) Fail(Here(f.line), "string without its closing quote");
      token.kind = Kind::kName;
      token.quoted = true;
      token.text = s.substr(p + 1, close - p - 1);
      token.end = close + 1;
      token.end_line = f.line + std::count(token.text.begin(), token.text.end(), '\n');
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
    if (best == 0) Fail(Here(f.line), "unexpected character " + Quote(s.substr(p, 1)));
    token.text = s.substr(p, best);
    token.end = p + best;
    return token;
  }

  Token Next(Lex state) {
    const Token token = Peek(state);
    Frame& f = frames_.back();
    f.pos = token.end;
    f.line = token.end_line;
    return token;
  }

  static bool IsPunct(const Token& token, std::string_view text) {
    return token.kind == Kind::kPunct && token.text == text;
  }
  static bool IsWord(const Token& token, std::string_view text) {
    return token.kind == Kind::kName && !token.quoted && token.text == text;
  }
  static bool IsKeyword(const Token& token, Lex state) {
    if (token.kind != Kind::kName || token.quoted) return false;
    return state == Lex::kScript ? Contains(kScriptKeywords, token.text) : Contains(kExpressionKeywords, token.text);
  }

  void Expect(Lex state, std::string_view punct, const std::string& what) {
    const Token token = Next(state);
    if (!IsPunct(token, punct)) Unexpected(token, "'" + std::string(punct) + "'" + what);
  }

  // Grammar ----------------------------------------------------------------------------------------------------

  // Statements up to the end of the current file.
  void ParseTop() {
    for (;;) {
      const Token token = Next(Lex::kScript);
      if (token.kind == Kind::kEnd) return;
      if (IsPunct(token, ";")) continue;
      if (IsWord(token, "MEMORY")) {
        ParseMemory();
      } else if (IsWord(token, "INCLUDE")) {
        Include(false);
      } else if (IsWord(token, "PROVIDE") || IsWord(token, "PROVIDE_HIDDEN") || IsWord(token, "HIDDEN")) {
        ParseWrappedAssignment(token);
      } else if (IsWord(token, "REGION_ALIAS")) {
        ParseRegionAlias();
      } else if (IsKeyword(token, Lex::kScript)) {
        SkipCommand(token);
      } else if (token.kind == Kind::kName) {
        ParseAssignment(token);
      } else {
        Unexpected(token, "a command or an assignment");
      }
    }
  }

  // A command other than MEMORY and INCLUDE: its parenthesised or braced parts are skipped whole.
  void SkipCommand(const Token& command) {
    if (IsWord(command, "INSERT")) {
      Next(Lex::kScript);
      Next(Lex::kScript);
      return;
    }
    for (;;) {
      const Token token = Peek(Lex::kScript);
      if (!IsPunct(token, "(") && !IsPunct(token, "{")) return;
      Next(Lex::kScript);
      SkipGroup(token.text[0], token.line);
    }
  }

  // Skips up to the bracket that closes `open`, through strings and comments; notes the symbols assigned there,
  // whose values are not evaluated.
  void SkipGroup(char open, std::int64_t open_line) {
    Frame& f = frames_.back();
    const std::string_view s = f.text;
    std::string stack(1, open);
    std::size_t word_start = std::string_view::npos;
    std::size_t word_end = std::string_view::npos;
    std::size_t provide_open = std::string_view::npos;  // just after the '(' of a PROVIDE or PROVIDE_HIDDEN
    while (!stack.empty()) {
      SkipBlank(f);
      if (f.pos >= s.size()) {
        Fail(Here(open_line), std::string("'") + open + "' without its closing '" + (open == '(' ? ')' : '}') + "'");
      }
      const char c = s[f.pos];
      if (c == '"') {
        Next(Lex::kScript);
      } else if (c == '(' || c == '{') {
        if (c == '(' && word_end != std::string_view::npos && s.find_first_not_of(" \t\n\r", word_end) == f.pos) {
          const std::string_view word = s.substr(word_start, word_end - word_start);
          if (word == "PROVIDE" || word == "PROVIDE_HIDDEN") provide_open = f.pos + 1;
        }
        stack.push_back(c);
        ++f.pos;
      } else if (c == ')' || c == '}') {
        if (c != (stack.back() == '(' ? ')' : '}')) Fail(Here(f.line), "unexpected " + Quote(s.substr(f.pos, 1)));
        stack.pop_back();
        ++f.pos;
      } else if (IsSymbolChar(c) && c != '/') {
        word_start = f.pos;
        while (f.pos < s.size() && IsSymbolChar(s[f.pos]) && s[f.pos] != '/') ++f.pos;
        word_end = f.pos;
      } else if (c == '=') {
        // "=" after a name, or a compound operator after it, assigns the name; "==", "!=", "<=", ">=" compare.
        if (f.pos + 1 < s.size() && s[f.pos + 1] == '=') {
          f.pos += 2;
          continue;
        }
        std::size_t q = f.pos;
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
          // A PROVIDE there defines nothing unless the link refers to its symbol, which it does not here.
          const bool provided = provide_open != std::string_view::npos &&
                                s.find_first_not_of(" \t\n\r", provide_open) == word_start;
          if (!provided) {
            statements_.push_back(Statement{SymbolId(name), std::nullopt, false, 0, Here(f.line), true});
            symbols_[statements_.back().symbol].assigned = true;
          }
          symbols_[SymbolId(name)].elsewhere = true;
        }
        ++f.pos;
      } else if (c < 0x20 || c > 0x7E) {
        Fail(Here(f.line), "unexpected character " + Quote(s.substr(f.pos, 1)));
      } else {
        ++f.pos;
      }
    }
  }

  void ParseAssignment(const Token& name) {
    const Token op = Next(Lex::kScript);
    const auto assignment = op.kind == Kind::kPunct ? AssignmentOperator(op.text) : std::nullopt;
    if (!assignment) Unexpected(op, "an assignment operator after " + Quote(name.text));
    const std::uint32_t value = ParseExpression();
    const Token end = Next(Lex::kExpression);
    if (!IsPunct(end, ";") && !IsPunct(end, ",")) Unexpected(end, "';' after the assignment to " + Quote(name.text));
    statements_.push_back(Statement{SymbolId(name.text), *assignment, false, value, Here(name.line)});
    symbols_[statements_.back().symbol].assigned = true;
  }

  // PROVIDE(NAME = EXPRESSION), PROVIDE_HIDDEN(...) or HIDDEN(...), then ';'.
  void ParseWrappedAssignment(const Token& keyword) {
    Expect(Lex::kScript, "(", " after " + std::string(keyword.text));
    const Token name = Next(Lex::kScript);
    if (name.kind != Kind::kName || IsKeyword(name, Lex::kScript)) Unexpected(name, "a symbol name");
    Expect(Lex::kScript, "=", " after " + Quote(name.text));
    const std::uint32_t value = ParseExpression();
    Expect(Lex::kExpression, ")", " to close " + std::string(keyword.text));
    const Token end = Next(Lex::kScript);
    if (!IsPunct(end, ";") && !IsPunct(end, ",")) Unexpected(end, "';' after " + std::string(keyword.text) + "(...)");
    const bool provide = !IsWord(keyword, "HIDDEN");
    statements_.push_back(Statement{SymbolId(name.text), std::nullopt, provide, value, Here(name.line)});
    symbols_[statements_.back().symbol].assigned = true;
  }

  // REGION_ALIAS(ALIAS, REGION): another name of a region declared before, for ORIGIN() and LENGTH().
  void ParseRegionAlias() {
    Expect(Lex::kScript, "(", " after REGION_ALIAS");
    const Token alias = Next(Lex::kScript);
    if (alias.kind != Kind::kName) Unexpected(alias, "the alias of REGION_ALIAS");
    Expect(Lex::kScript, ",", " after the alias");
    const Token region = Next(Lex::kScript);
    if (region.kind != Kind::kName) Unexpected(region, "the region of REGION_ALIAS");
    Expect(Lex::kScript, ")", " to close REGION_ALIAS(");
    const auto found = region_index_.find(std::string(region.text));
    if (found == region_index_.end()) {
      Fail(Here(region.line), "memory region " + Quote(region.text) + " for alias " + Quote(alias.text) +
                                  " is not declared before");
    }
    if (!region_index_.emplace(std::string(alias.text), found->second).second) {
      Fail(Here(alias.line), "alias " + Quote(alias.text) + " names a region or an alias already");
    }
  }

  // NAME=EXPRESSION of a --defsym, read as ld reads the option.
  void ParseDefsym() {
    const Token name = Next(Lex::kExpression);
    if (name.kind != Kind::kName || IsKeyword(name, Lex::kExpression)) Unexpected(name, "a symbol name");
    Expect(Lex::kExpression, "=", " after " + Quote(name.text));
    const std::uint32_t value = ParseExpression();
    const Token end = Next(Lex::kExpression);
    if (end.kind != Kind::kEnd) Unexpected(end, "the end of the expression");
    statements_.push_back(Statement{SymbolId(name.text), std::nullopt, false, value, Here(name.line)});
    symbols_[statements_.back().symbol].assigned = true;
  }

  void Include(bool in_memory) {
    const Token name = Next(Lex::kScript);
    if (name.kind != Kind::kName) Unexpected(name, "a file name after INCLUDE");
    const std::string file(name.text);
    if (frames_.size() >= kMaxOpenFiles) {
      Fail(Here(name.line), "INCLUDE nested too deeply: more than " + std::to_string(kMaxOpenFiles) + " files open");
    }
    if (++includes_ > kMaxIncludes) {
      Fail(Here(name.line), "more than " + std::to_string(kMaxIncludes) + " INCLUDEs in all");
    }
    // ld looks in the current folder, then in the -L folders in their order; not in the script's own folder.
    std::vector<std::string> candidates = {file};
    if (!file.starts_with('/')) {
      for (const std::string& dir : settings_.search_dirs) candidates.push_back(dir + "/" + file);
    }
    for (const std::string& path : candidates) {
      ScriptText text = files_.Read(InCurrentFolder(path));
      if (text.missing) continue;
      if (!text.problem.empty()) Fail(Here(name.line), EscapeValue(path) + ": cannot read: " + text.problem);
      text_bytes_ += text.text.size();
      if (text_bytes_ > kMaxScriptBytes) {
        Fail(Here(name.line), "more than " + std::to_string(kMaxScriptBytes >> 20) + " MiB of script text in all");
      }
      for (const Frame& open : frames_) {
        if (infos_[static_cast<std::size_t>(open.info)].file == path) {
          Fail(Here(name.line), "INCLUDE " + Quote(path) + " while it is being read");
        }
      }
      Push(path, std::move(text.text), frames_.back().info, name.line, true);
      if (in_memory) {
        ParseRegions(true);
      } else {
        ParseTop();
      }
      frames_.pop_back();
      return;
    }
    Fail(Here(name.line), "INCLUDE file " + Quote(file) + " not found in the current folder or a -L folder");
  }

  void ParseMemory() {
    Expect(Lex::kScript, "{", " after MEMORY");
    memory_seen_ = true;
    ParseRegions(false);
  }

  // Region declarations, one comma allowed between two: up to the '}' of MEMORY, or to the end of the file that
  // an INCLUDE inside MEMORY opened.
  void ParseRegions(bool included) {
    bool after_region = false;
    for (;;) {
      Token token = Next(Lex::kScript);
      const bool comma = after_region && IsPunct(token, ",");
      if (comma) token = Next(Lex::kScript);
      if (!comma && (included ? token.kind == Kind::kEnd : IsPunct(token, "}"))) return;
      if (!comma && token.kind == Kind::kEnd) Fail(Here(token.line), "MEMORY command without its closing '}'");
      if (IsWord(token, "INCLUDE")) {
        Include(true);
      } else if (token.kind == Kind::kName && !IsKeyword(token, Lex::kScript)) {
        ParseRegion(token);
      } else {
        Unexpected(token, comma ? "a region after ','" : included ? "a region" : "a region or '}'");
      }
      after_region = true;
    }
  }

  void ParseRegion(const Token& name_token) {
    RegionDecl region{std::string(name_token.text), 0, 0, Here(name_token.line)};
    const std::string name = Quote(region.name);
    if (const auto other = region_index_.find(region.name); other != region_index_.end()) {
      const Place at = regions_[other->second].place;
      const ScriptPlace first = PlaceOf(at.frame, at.line);
      Fail(region.place, "region " + name + " defined twice, first at " + PlaceText(first.file, first.line));
    }
    Token token = Next(Lex::kScript);
    if (IsPunct(token, "(")) {
      for (bool any = false;;) {
        Token flag = Next(Lex::kScript);
        if (IsPunct(flag, ")") && any) break;
        if (IsPunct(flag, "!")) flag = Next(Lex::kScript);
        if (flag.kind != Kind::kName) Unexpected(flag, "attributes of region " + name);
        for (const char c : flag.text) {
          if (!In("aArRwWxXlLiI", c)) {
            Fail(Here(flag.line),
                 "invalid character " + Quote(std::string_view(&c, 1)) + " in the attributes of region " + name);
          }
        }
        any = true;
      }
      token = Next(Lex::kScript);
    }
    if (!IsPunct(token, ":")) Unexpected(token, "':' after region " + name);
    token = Next(Lex::kScript);
    if (!IsWord(token, "ORIGIN") && !IsWord(token, "org") && !IsWord(token, "o")) {
      Unexpected(token, "ORIGIN of region " + name);
    }
    Expect(Lex::kScript, "=", " after " + std::string(token.text));
    region.origin = ParseExpression();
    // The token after an expression is read in the expression's state: without the comma only LENGTH follows.
    token = Next(Lex::kExpression);
    if (IsPunct(token, ",")) {
      token = Next(Lex::kScript);
      if (!IsWord(token, "LENGTH") && !IsWord(token, "len") && !IsWord(token, "l")) {
        Unexpected(token, "LENGTH of region " + name);
      }
    } else if (!IsWord(token, "LENGTH")) {
      Unexpected(token, "',' or LENGTH of region " + name);
    }
    Expect(Lex::kScript, "=", " after " + std::string(token.text));
    region.length = ParseExpression();
    // ld reads the next region's name as an expression's token first and takes it back only when it is a name.
    token = Peek(Lex::kExpression);
    if (token.kind == Kind::kNumber) Unexpected(token, "a region or '}'");
    region_index_.emplace(region.name, regions_.size());
    regions_.push_back(std::move(region));
  }

  // Expressions ------------------------------------------------------------------------------------------------

  void Enter(std::int64_t line) {
    if (++nesting_ > kMaxNesting) {
      Fail(Here(line), "expression nested more than " + std::to_string(kMaxNesting) + " deep");
    }
  }

  std::uint32_t Add(Node node) {
    nodes_.push_back(std::move(node));
    const auto id = static_cast<std::uint32_t>(nodes_.size() - 1);
    Fold(id);
    return id;
  }

  // ld folds an operation on numbers as it reads it, so that a division by zero is an error even where the value
  // is never used, in a branch of ?: not taken for instance.
  void Fold(std::uint32_t id) {
    const Node& n = nodes_[id];
    const auto is_number = [this](std::uint32_t child) { return nodes_[child].op == Op::kNumber; };
    switch (n.op) {
      case Op::kNumber:
      case Op::kSymbol:
      case Op::kDefined:
      case Op::kOrigin:
      case Op::kLength:
      case Op::kAlign:  // ld aligns only once it lays out
      case Op::kAssert:
      case Op::kUnknown:
        return;
      case Op::kTernary:
        if (!is_number(n.a) || !is_number(nodes_[n.a].number != 0 ? n.b : n.c)) return;
        break;
      default:
        for (const std::uint32_t child : {n.a, n.b}) {
          if (child != 0 && !is_number(child)) return;
        }
    }
    const std::uint64_t value = Eval(id).number;
    Node& folded = nodes_[id];
    folded.op = Op::kNumber;
    folded.number = value;
    folded.a = folded.b = folded.c = 0;
  }

  std::uint32_t ParseExpression() {
    if (nodes_.empty()) nodes_.emplace_back();  // index 0 means "no child"
    const std::uint32_t condition = ParseBinary(1);
    const Token token = Peek(Lex::kExpression);
    if (!IsPunct(token, "?")) return condition;
    Next(Lex::kExpression);
    Enter(token.line);
    const std::uint32_t then = ParseExpression();
    Expect(Lex::kExpression, ":", " of ?:");
    const std::uint32_t otherwise = ParseExpression();
    --nesting_;
    Node node;
    node.op = Op::kTernary;
    node.a = condition;
    node.b = then;
    node.c = otherwise;
    node.place = Here(token.line);
    return Add(std::move(node));
  }

  std::uint32_t ParseBinary(int min_precedence) {
    std::uint32_t left = ParseUnary();
    for (;;) {
      const Token token = Peek(Lex::kExpression);
      const BinaryOperator* found = nullptr;
      if (token.kind == Kind::kPunct) {
        for (const BinaryOperator& op : kBinaryOperators) {
          if (op.text == token.text) found = &op;
        }
      }
      if (found == nullptr || found->precedence < min_precedence) return left;
      Next(Lex::kExpression);
      const std::uint32_t right = ParseBinary(found->precedence + 1);
      Node node;
      node.op = Op::kBinary;
      node.bin = found->op;
      node.a = left;
      node.b = right;
      node.place = Here(token.line);
      left = Add(std::move(node));
    }
  }

  std::uint32_t ParseUnary() {
    const Token token = Peek(Lex::kExpression);
    const bool unary = IsPunct(token, "-") || IsPunct(token, "+") || IsPunct(token, "!") || IsPunct(token, "~");
    if (!unary) return ParsePrimary();
    Next(Lex::kExpression);
    Enter(token.line);
    const std::uint32_t operand = ParseUnary();
    --nesting_;
    if (token.text == "+") return operand;
    Node node;
    node.op = token.text == "-" ? Op::kNegate : token.text == "!" ? Op::kNot : Op::kComplement;
    node.a = operand;
    node.place = Here(token.line);
    return Add(std::move(node));
  }

  std::string NameArgument(const Token& function) {
    Expect(Lex::kExpression, "(", " after " + std::string(function.text));
    const Token name = Next(Lex::kExpression);
    if (name.kind != Kind::kName) Unexpected(name, "a name in " + std::string(function.text) + "()");
    return std::string(name.text);
  }

  // The arguments of a function of expressions: "(" EXPRESSION ("," EXPRESSION)* ")", at most three.
  std::array<std::uint32_t, 3> Arguments(const Token& function, int count) {
    std::array<std::uint32_t, 3> args{};
    Expect(Lex::kExpression, "(", " after " + std::string(function.text));
    Enter(function.line);
    for (int i = 0; i < count; ++i) {
      if (i > 0) Expect(Lex::kExpression, ",", " in " + std::string(function.text) + "()");
      args[static_cast<std::size_t>(i)] = ParseExpression();
    }
    Expect(Lex::kExpression, ")", " to close " + std::string(function.text) + "(");
    --nesting_;
    return args;
  }

  std::uint32_t Unknown(const Token& at, std::string reason) {
    Node node;
    node.op = Op::kUnknown;
    node.text = Text(std::move(reason));
    node.place = Here(at.line);
    return Add(std::move(node));
  }

  std::uint32_t ParsePrimary() {
    const Token token = Next(Lex::kExpression);
    Node node;
    node.place = Here(token.line);
    if (token.kind == Kind::kNumber) {
      node.number = token.value;
      return Add(std::move(node));
    }
    if (IsPunct(token, "(")) {
      Enter(token.line);
      const std::uint32_t inner = ParseExpression();
      Expect(Lex::kExpression, ")", " to close the '(' of line " + std::to_string(token.line));
      --nesting_;
      return inner;
    }
    if (token.kind != Kind::kName) Unexpected(token, "a number, a symbol or '('");
    const std::string_view word = token.quoted ? std::string_view() : token.text;
    if (word == "DEFINED" || word == "ORIGIN" || word == "LENGTH") {
      node.op = word == "DEFINED" ? Op::kDefined : word == "ORIGIN" ? Op::kOrigin : Op::kLength;
      const std::string name = NameArgument(token);
      if (node.op == Op::kDefined) {
        node.symbol = SymbolId(name);
      } else {
        node.text = Text(name);
      }
      Expect(Lex::kExpression, ")", " to close " + std::string(word) + "(");
      return Add(std::move(node));
    }
    if (word == "ALIGN") {
      Expect(Lex::kExpression, "(", " after ALIGN");
      Enter(token.line);
      node.a = ParseExpression();
      const Token next = Next(Lex::kExpression);
      if (IsPunct(next, ",")) {
        node.b = ParseExpression();
        Expect(Lex::kExpression, ")", " to close ALIGN(");
        node.op = Op::kAlign;
      } else if (!IsPunct(next, ")")) {
        Unexpected(next, "',' or ')' in ALIGN()");
      } else {
        node.op = Op::kUnknown;
        node.text = Text("ALIGN(n) aligns the location counter, which has no value outside SECTIONS");
      }
      --nesting_;
      return Add(std::move(node));
    }
    if (word == "MIN" || word == "MAX") {
      const auto args = Arguments(token, 2);
      node.op = word == "MIN" ? Op::kMin : Op::kMax;
      node.a = args[0];
      node.b = args[1];
      return Add(std::move(node));
    }
    if (word == "ABSOLUTE") return Arguments(token, 1)[0];
    if (word == "LOG2CEIL") {
      node.op = Op::kLog2Ceil;
      node.a = Arguments(token, 1)[0];
      return Add(std::move(node));
    }
    if (word == "SEGMENT_START") {
      // Its default, since no -T option moves a segment here.
      NameArgument(token);
      Expect(Lex::kExpression, ",", " in SEGMENT_START()");
      Enter(token.line);
      const std::uint32_t fallback = ParseExpression();
      --nesting_;
      Expect(Lex::kExpression, ")", " to close SEGMENT_START(");
      return fallback;
    }
    if (word == "ASSERT") {
      Expect(Lex::kExpression, "(", " after ASSERT");
      Enter(token.line);
      node.op = Op::kAssert;
      node.a = ParseExpression();
      Expect(Lex::kExpression, ",", " in ASSERT()");
      const Token message = Next(Lex::kExpression);
      if (message.kind != Kind::kName) Unexpected(message, "the message of ASSERT()");
      node.text = Text(std::string(message.text));
      Expect(Lex::kExpression, ")", " to close ASSERT(");
      --nesting_;
      return Add(std::move(node));
    }
    if (word == "CONSTANT") {
      const std::string name = NameArgument(token);
      Expect(Lex::kExpression, ")", " to close CONSTANT(");
      return Unknown(token, "CONSTANT(" + EscapeValue(name) + ") depends on the target");
    }
    if (word == "ADDR" || word == "LOADADDR" || word == "SIZEOF" || word == "ALIGNOF") {
      NameArgument(token);
      Expect(Lex::kExpression, ")", " to close " + std::string(word) + "(");
      return Unknown(token, std::string(word) + "() depends on the output sections, which are not laid out here");
    }
    if (word == "NEXT" || word == "BLOCK" || word == "DATA_SEGMENT_END") {
      Arguments(token, 1);
      return Unknown(token, std::string(word) + "() needs the location counter, which has no value outside SECTIONS");
    }
    if (word == "DATA_SEGMENT_ALIGN" || word == "DATA_SEGMENT_RELRO_END") {
      Arguments(token, 2);
      return Unknown(token, std::string(word) + "() needs the location counter, which has no value outside SECTIONS");
    }
    if (word == "SIZEOF_HEADERS") return Unknown(token, "SIZEOF_HEADERS depends on the output file");
    if (IsKeyword(token, Lex::kExpression)) Unexpected(token, "a number, a symbol or '('");
    if (word == ".") return Unknown(token, "the location counter '.' has no value outside SECTIONS");
    node.op = Op::kSymbol;
    node.symbol = SymbolId(token.text);
    return Add(std::move(node));
  }

  // Evaluation -------------------------------------------------------------------------------------------------

  Value Why(Place place, std::string reason, bool undefined = false) {
    unknowns_.push_back(UnknownValue{place, std::move(reason), undefined});
    return Value{0, static_cast<int>(unknowns_.size() - 1)};
  }

  [[noreturn]] void FailUnknown(const Value& value) const {
    const UnknownValue& why = unknowns_[static_cast<std::size_t>(value.unknown)];
    Fail(why.place, why.reason);
  }

  // A name without a value is an error where a region needs it, and in ld's last pass over the assignments.
  Value Lookup(std::uint32_t id, Place place) {
    Symbol& symbol = symbols_[id];
    symbol.referenced = true;
    if (early_) return Why(place, "");
    const std::string name = Quote(symbol.name);
    const bool in_sections = symbol.has_value && symbol.value.unknown == kInSections;
    if (symbol.has_value && !in_sections && (!Undefined(symbol.value) || !last_pass_)) return symbol.value;
    if (in_sections || symbol.elsewhere) {
      return Why(place, "symbol " + name + " gets its value inside SECTIONS, which is not evaluated");
    }
    if (last_pass_) Fail(place, "symbol " + name + " is not defined");
    return Why(place, "symbol " + name + (symbol.assigned ? " is used before its assignment" : " is not defined"), true);
  }

  std::size_t RegionIndex(const std::string& name, Place place) const {
    const auto found = region_index_.find(name);
    if (found == region_index_.end()) Fail(place, "memory region " + Quote(name) + " is not declared");
    return found->second;
  }

  // ld's arithmetic on its 64-bit addresses: wrapping; / and % signed, every comparison unsigned, shifts by the
  // count modulo 64 as the machine does them.
  std::uint64_t Compute(Bin op, std::uint64_t l, std::uint64_t r, Place place) const {
    switch (op) {
      case Bin::kOrOr: return (l != 0 || r != 0) ? 1 : 0;
      case Bin::kAndAnd: return (l != 0 && r != 0) ? 1 : 0;
      case Bin::kOr: return l | r;
      case Bin::kAnd: return l & r;
      case Bin::kEq: return l == r ? 1 : 0;
      case Bin::kNe: return l != r ? 1 : 0;
      case Bin::kLt: return l < r ? 1 : 0;
      case Bin::kGt: return l > r ? 1 : 0;
      case Bin::kLe: return l <= r ? 1 : 0;
      case Bin::kGe: return l >= r ? 1 : 0;
      case Bin::kShl: return l << (r & 63);
      case Bin::kShr: return l >> (r & 63);
      case Bin::kAdd: return l + r;
      case Bin::kSub: return l - r;
      case Bin::kMul: return l * r;
      case Bin::kDiv:
      case Bin::kMod: {
        if (r == 0) Fail(place, op == Bin::kDiv ? "division by zero" : "remainder by zero");
        // INT64_MIN / -1 overflows the machine's division; its wrapped quotient is the negation.
        if (r == UINT64_MAX) return op == Bin::kDiv ? 0 - l : 0;
        const auto sl = static_cast<std::int64_t>(l);
        const auto sr = static_cast<std::int64_t>(r);
        return static_cast<std::uint64_t>(op == Bin::kDiv ? sl / sr : sl % sr);
      }
    }
    return 0;
  }

  Value Eval(std::uint32_t id) {
    const Node& n = nodes_[id];
    switch (n.op) {
      case Op::kNumber: return Value{n.number};
      case Op::kSymbol: return Lookup(n.symbol, n.place);
      case Op::kDefined:
        return Value{!early_ && symbols_[n.symbol].defined_pass == pass_ ? 1u : 0u};
      case Op::kOrigin: return Value{region_values_[RegionIndex(texts_[n.text], n.place)].first};
      case Op::kLength: return Value{region_values_[RegionIndex(texts_[n.text], n.place)].second};
      case Op::kNegate:
      case Op::kNot:
      case Op::kComplement: {
        Value v = Eval(n.a);
        if (v.unknown >= 0) return v;
        v.number = n.op == Op::kNegate ? 0 - v.number : n.op == Op::kNot ? (v.number == 0 ? 1 : 0) : ~v.number;
        return v;
      }
      case Op::kBinary: {
        // A chain such as a + b + ... + z nests to the left without bound: its left spine is walked, not recursed,
        // so that only parentheses, unary operators, ?: and calls deepen the stack. Both sides are evaluated, as
        // ld does, so that both count as used.
        std::vector<std::uint32_t> spine = {id};
        while (nodes_[nodes_[spine.back()].a].op == Op::kBinary) spine.push_back(nodes_[spine.back()].a);
        Value l = Eval(nodes_[spine.back()].a);
        for (auto at = spine.rbegin(); at != spine.rend(); ++at) {
          const Node& step = nodes_[*at];
          const Value r = Eval(step.b);
          if (l.unknown < 0) l = r.unknown >= 0 ? r : Value{Compute(step.bin, l.number, r.number, step.place)};
        }
        return l;
      }
      case Op::kTernary: {
        const Value condition = Eval(n.a);
        if (condition.unknown >= 0) return condition;
        return Eval(condition.number != 0 ? n.b : n.c);
      }
      case Op::kAlign:
      case Op::kMin:
      case Op::kMax: {
        const Value l = Eval(n.a);
        const Value r = Eval(n.b);
        if (l.unknown >= 0) return l;
        if (r.unknown >= 0) return r;
        if (n.op == Op::kMin) return Value{std::min(l.number, r.number)};
        if (n.op == Op::kMax) return Value{std::max(l.number, r.number)};
        // ld rounds up by division, so that an alignment that is no power of two works too.
        return Value{r.number <= 1 ? l.number : (l.number + r.number - 1) / r.number * r.number};
      }
      case Op::kLog2Ceil: {
        Value v = Eval(n.a);
        if (v.unknown >= 0) return v;
        v.number = v.number <= 1 ? 0 : static_cast<std::uint64_t>(64 - std::countl_zero(v.number - 1));
        return v;
      }
      case Op::kAssert: {
        const Value v = Eval(n.a);
        if (!early_ && v.unknown < 0 && v.number == 0) Fail(n.place, "ASSERT failed: " + EscapeValue(texts_[n.text]));
        return v;
      }
      case Op::kUnknown: return Why(n.place, texts_[n.text]);
    }
    return Value{};
  }

  void Evaluate(ScriptRead& read) {
    // Until its MEMORY command is evaluated, a region has ld's initial origin 0 and length ~0.
    region_values_.assign(regions_.size(), {0, UINT64_MAX});
    // ld evaluates the regions once before any assignment, with no symbol defined (DEFINED is 0 even for a
    // --defsym); a division by zero there ends the link.
    early_ = true;
    for (const RegionDecl& region : regions_) {
      Eval(region.origin);
      Eval(region.length);
    }
    early_ = false;
    Assign();
    for (std::size_t i = 0; i < regions_.size(); ++i) {
      const RegionDecl& declared = regions_[i];
      const Value origin = Eval(declared.origin);
      if (origin.unknown >= 0) FailUnknown(origin);
      region_values_[i].first = origin.number;
      const Value length = Eval(declared.length);
      if (length.unknown >= 0) FailUnknown(length);
      region_values_[i].second = length.number;
      const std::string name = Quote(declared.name);
      if (origin.number >= kAddressSpace) {
        Fail(declared.place, "ORIGIN of region " + name + " is not an address from 0 to 0xFFFFFFFF");
      }
      const ScriptPlace place = PlaceOf(declared.place.frame, declared.place.line);
      MemoryRegion region{declared.name, static_cast<std::uint32_t>(origin.number), length.number, place.file,
                          place.line};
      if (length.number > kAddressSpace - origin.number) {
        region.length = kAddressSpace - origin.number;
        read.warnings.push_back(
            ScriptWarning{place, "region " + name + " runs past 0xFFFFFFFF; only its part below 4 GiB is counted"});
      }
      read.regions.push_back(std::move(region));
    }
    // ld goes over the assignments twice more as it lays the sections out, then a last time, where a symbol still
    // without a value is an error.
    Assign();
    Assign();
    last_pass_ = true;
    Assign();
  }

  // One pass over the assignments in order. An assignment whose value needs a symbol without one leaves its
  // symbol as it was, as in ld, but DEFINED counts the symbol from there on, as ld's does once an assignment ran.
  // A PROVIDE defines its symbol where it stands when nothing gave the symbol a value before, another PROVIDE
  // included, and something evaluated before used its value; from then on it is an assignment like any other.
  void Assign() {
    ++pass_;
    for (Statement& statement : statements_) {
      Symbol& symbol = symbols_[statement.symbol];
      if (statement.in_sections) {
        symbol.value = Value{0, kInSections};
        symbol.has_value = true;
        symbol.defined_pass = pass_;
        continue;
      }
      if (statement.provide && !statement.fired &&
          ((symbol.has_value && !Undefined(symbol.value)) || !symbol.referenced)) {
        continue;
      }
      statement.fired = statement.provide;
      const Value old = statement.op ? Lookup(statement.symbol, statement.place) : Value{};
      Value value = Eval(statement.value);
      if (statement.op && value.unknown < 0) {
        value = old.unknown >= 0 ? old : Value{Compute(*statement.op, old.number, value.number, statement.place)};
      }
      // Eval may have added symbols: the reference above is not used past it.
      Symbol& assigned = symbols_[statement.symbol];
      assigned.defined_pass = pass_;
      if (!Undefined(value) || !assigned.has_value) {
        assigned.value = value;
        assigned.has_value = true;
      }
    }
  }

  // Whether the value is missing because a symbol has none (not because only the link knows it).
  bool Undefined(const Value& value) const {
    return value.unknown >= 0 && unknowns_[static_cast<std::size_t>(value.unknown)].undefined;
  }

  std::uint32_t Text(std::string text) {
    texts_.push_back(std::move(text));
    return static_cast<std::uint32_t>(texts_.size() - 1);
  }

  // The index of the symbol of that name, added when it is new.
  std::uint32_t SymbolId(std::string_view name) {
    const auto [found, added] = symbol_ids_.try_emplace(std::string(name), static_cast<std::uint32_t>(symbols_.size()));
    if (added) {
      symbols_.emplace_back();
      symbols_.back().name = name;
    }
    return found->second;
  }

  const ScriptSettings& settings_;
  const ScriptFiles& files_;
  std::vector<FrameInfo> infos_;
  std::vector<Frame> frames_;
  std::vector<Node> nodes_;
  std::vector<std::string> texts_;  // the nodes' texts
  std::vector<Statement> statements_;
  std::vector<RegionDecl> regions_;
  std::unordered_map<std::string, std::size_t> region_index_;  // by name or alias
  std::vector<std::pair<std::uint64_t, std::uint64_t>> region_values_;  // origin, length
  std::vector<Symbol> symbols_;
  std::unordered_map<std::string, std::uint32_t> symbol_ids_;  // by name
  std::uint32_t pass_ = 0;  // the passes over the assignments so far
  std::vector<UnknownValue> unknowns_;
  int nesting_ = 0;
  std::size_t includes_ = 0;    // INCLUDEs followed so far
  std::size_t text_bytes_ = 0;  // script text read so far
  bool early_ = false;      // in ld's evaluation of the regions before the assignments
  bool last_pass_ = false;  // in ld's last pass over the assignments
  bool memory_seen_ = false;
};

}  // namespace

ScriptText DiskScriptFiles::Read(const std::string& path) const {
  SmallFile file = ReadSmallFile(path, kMaxScriptBytes, SmallFileKinds::kStreams);
  ScriptText read;
  switch (file.status) {
    case SmallFileStatus::kOk:
      read.text = std::move(file.text);
      break;
    case SmallFileStatus::kTooLarge:
      read.problem = "larger than " + std::to_string(kMaxScriptBytes >> 20) + " MiB";
      break;
    case SmallFileStatus::kNotRegular:  // a folder, in the system's own words
    case SmallFileStatus::kMissing:
    case SmallFileStatus::kFailed:
      read.missing = file.status == SmallFileStatus::kMissing;
      read.problem = std::strerror(file.error);
      break;
  }
  return read;
}

ScriptRead ReadLinkerScript(const std::string& path, const ScriptSettings& settings, const ScriptFiles& files) {
  return Reader(settings, files).Read(path);
}

std::string PlaceText(const std::string& file, std::int64_t line) {
  return EscapeValue(file) + (line > 0 ? ":" + std::to_string(line) : "");
}

std::string ScriptErrorText(const ScriptError& error) {
  std::string text;
  for (std::size_t i = 0; i < error.places.size(); ++i) {
    text += (i == 0 ? "" : "; included from ") + PlaceText(error.places[i].file, error.places[i].line);
    if (i == 0) text += ": " + error.message;
  }
  return text;
}

}  // namespace varnok
