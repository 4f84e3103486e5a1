// The MEMORY commands of a GNU ld linker script, read as ld 2.40 on a 64-bit host reads them: its grammar for what
// MEMORY needs over its lexer (script_lexer), evaluated as ld evaluates it (script_program).
#include "regions/linker_script.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "script_lexer.h"
#include "script_program.h"
#include "text/line_text.h"

namespace varnok {
namespace {

using script::Bin;
using script::Failure;
using script::FrameInfo;
using script::GroupAssignment;
using script::IsKeyword;
using script::IsPunct;
using script::IsWord;
using script::Kind;
using script::Lex;
using script::LexError;
using script::Node;
using script::Op;
using script::Place;
using script::RegionDecl;
using script::ScriptLexer;
using script::Statement;
using script::Token;

// Parentheses, unary operators and ?: nest this deep at most; a deeper expression is refused, never a stack
// overflow.
constexpr int kMaxNesting = 128;
// ld keeps at most ten script files open at once, the script itself included.
constexpr std::size_t kMaxOpenFiles = 10;
// A reading follows at most this many INCLUDEs and reads at most kMaxScriptBytes of script text in all, so that
// files that include one another many times over end it at once; ld itself runs out of files near a thousand.
constexpr std::size_t kMaxIncludes = 1000;

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
      program_.Evaluate(read);
    } catch (const Failure& failure) {
      read.regions.clear();
      read.warnings.clear();
      read.error = failure.error;
    }
    return read;
  }

 private:
  struct Frame {
    int info = 0;  // index into the program's files
    ScriptLexer lexer;
  };

  // The path by which a file is read: a relative one stands in the settings' current folder when they give one.
  std::string InCurrentFolder(const std::string& path) const {
    if (settings_.current_dir.empty() || path.starts_with('/')) return path;
    return settings_.current_dir + "/" + path;
  }

  // Errors -----------------------------------------------------------------------------------------------------

  [[noreturn]] void Fail(Place place, std::string message) const { program_.Fail(place, std::move(message)); }

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
    const int info = program_.AddFile(FrameInfo{std::move(file), parent, include_line, lines});
    frames_.push_back(Frame{info, ScriptLexer(std::move(text))});
  }

  Token Peek(Lex state) {
    try {
      return frames_.back().lexer.Peek(state);
    } catch (const LexError& error) {
      Fail(Here(error.line), error.message);
    }
  }

  Token Next(Lex state) {
    try {
      return frames_.back().lexer.Next(state);
    } catch (const LexError& error) {
      Fail(Here(error.line), error.message);
    }
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

  // Skips up to the bracket that closes `open`; the symbols assigned there get values that are not evaluated.
  void SkipGroup(char open, std::int64_t open_line) {
    std::vector<GroupAssignment> assigned;
    try {
      assigned = frames_.back().lexer.SkipGroup(open, open_line);
    } catch (const LexError& error) {
      Fail(Here(error.line), error.message);
    }
    for (const GroupAssignment& assignment : assigned) {
      program_.AddAssignmentElsewhere(assignment.name, Here(assignment.line), assignment.provided);
    }
  }

  void ParseAssignment(const Token& name) {
    const Token op = Next(Lex::kScript);
    const auto assignment = op.kind == Kind::kPunct ? script::AssignmentOperator(op.text) : std::nullopt;
    if (!assignment) Unexpected(op, "an assignment operator after " + Quote(name.text));
    const std::uint32_t value = ParseExpression();
    const Token end = Next(Lex::kExpression);
    if (!IsPunct(end, ";") && !IsPunct(end, ",")) Unexpected(end, "';' after the assignment to " + Quote(name.text));
    program_.AddAssignment(Statement{program_.SymbolId(name.text), *assignment, false, value, Here(name.line)});
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
    program_.AddAssignment(Statement{program_.SymbolId(name.text), std::nullopt, provide, value, Here(name.line)});
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
    if (!program_.RegionPlace(std::string(region.text))) {
      Fail(Here(region.line), "memory region " + Quote(region.text) + " for alias " + Quote(alias.text) +
                                  " is not declared before");
    }
    if (!program_.AddAlias(std::string(alias.text), std::string(region.text))) {
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
    program_.AddAssignment(Statement{program_.SymbolId(name.text), std::nullopt, false, value, Here(name.line)});
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
        if (program_.File(open.info).file == path) {
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
    if (const std::optional<Place> at = program_.RegionPlace(region.name)) {
      const ScriptPlace first = program_.PlaceOf(*at);
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
          if (c == '\0' || std::strchr("aArRwWxXlLiI", c) == nullptr) {
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
    program_.AddRegion(std::move(region));
  }

  // Expressions ------------------------------------------------------------------------------------------------

  void Enter(std::int64_t line) {
    if (++nesting_ > kMaxNesting) {
      Fail(Here(line), "expression nested more than " + std::to_string(kMaxNesting) + " deep");
    }
  }

  std::uint32_t ParseExpression() {
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
    return program_.Add(std::move(node));
  }

  std::uint32_t ParseBinary(int min_precedence) {
    std::uint32_t left = ParseUnary();
    for (;;) {
      const Token token = Peek(Lex::kExpression);
      const script::BinaryOperator* found = nullptr;
      if (token.kind == Kind::kPunct) {
        for (const script::BinaryOperator& op : script::kBinaryOperators) {
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
      left = program_.Add(std::move(node));
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
    return program_.Add(std::move(node));
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
    node.text = program_.Text(std::move(reason));
    node.place = Here(at.line);
    return program_.Add(std::move(node));
  }

  std::uint32_t ParsePrimary() {
    const Token token = Next(Lex::kExpression);
    Node node;
    node.place = Here(token.line);
    if (token.kind == Kind::kNumber) {
      node.number = token.value;
      return program_.Add(std::move(node));
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
        node.symbol = program_.SymbolId(name);
      } else {
        node.text = program_.Text(name);
      }
      Expect(Lex::kExpression, ")", " to close " + std::string(word) + "(");
      return program_.Add(std::move(node));
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
        node.text = program_.Text("ALIGN(n) aligns the location counter, which has no value outside SECTIONS");
      }
      --nesting_;
      return program_.Add(std::move(node));
    }
    if (word == "MIN" || word == "MAX") {
      const auto args = Arguments(token, 2);
      node.op = word == "MIN" ? Op::kMin : Op::kMax;
      node.a = args[0];
      node.b = args[1];
      return program_.Add(std::move(node));
    }
    if (word == "ABSOLUTE") return Arguments(token, 1)[0];
    if (word == "LOG2CEIL") {
      node.op = Op::kLog2Ceil;
      node.a = Arguments(token, 1)[0];
      return program_.Add(std::move(node));
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
      node.text = program_.Text(std::string(message.text));
      Expect(Lex::kExpression, ")", " to close ASSERT(");
      --nesting_;
      return program_.Add(std::move(node));
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
    node.symbol = program_.SymbolId(token.text);
    return program_.Add(std::move(node));
  }

  const ScriptSettings& settings_;
  const ScriptFiles& files_;
  script::ScriptProgram program_;
  std::vector<Frame> frames_;  // the files being read, innermost last
  int nesting_ = 0;
  std::size_t includes_ = 0;    // INCLUDEs followed so far
  std::size_t text_bytes_ = 0;  // script text read so far
  bool memory_seen_ = false;
};

}  // namespace

ScriptRead ReadLinkerScript(const std::string& path, const ScriptSettings& settings, const ScriptFiles& files) {
  return Reader(settings, files).Read(path);
}

}  // namespace varnok
