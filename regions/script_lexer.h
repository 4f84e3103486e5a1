// ld's lexer for linker scripts: two states (commands and file names; expressions), its keywords, its forms of
// numbers and its comments, over the text of one script file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnok::script {

// ld's lexer states: commands and names of files, regions and symbols; expressions.
enum class Lex { kScript, kExpression };

enum class Kind { kEnd, kName, kNumber, kPunct };

struct Token {
  Kind kind = Kind::kEnd;
  std::string_view text;  // a quoted name without its quotes; valid while its lexer lives
  bool quoted = false;
  std::uint64_t value = 0;
  std::int64_t line = 0;
  std::size_t end = 0;  // where the text after it starts
  std::int64_t end_line = 0;
};

// Why the text cannot be read on, at a line of it.
struct LexError {
  std::int64_t line = 0;
  std::string message;
};

// A symbol assigned inside a skipped command.
struct GroupAssignment {
  std::string name;
  std::int64_t line = 0;
  bool provided = false;  // by PROVIDE or PROVIDE_HIDDEN
};

bool IsPunct(const Token& token, std::string_view text);
// An unquoted name of that spelling.
bool IsWord(const Token& token, std::string_view text);
// An unquoted name that the state gives as a keyword.
bool IsKeyword(const Token& token, Lex state);

// The tokens of one script file's text; its methods throw LexError.
class ScriptLexer {
 public:
  // A UTF-8 byte-order mark at the start is passed over.
  explicit ScriptLexer(std::string text);

  // The next token in the state, not consumed: the longest that a rule matches, the earlier rule on a tie
  // (numbers, then operators, then keywords and names), as flex picks. Kind::kEnd at the end of the text.
  Token Peek(Lex state);
  Token Next(Lex state);
  // Skips up to the bracket that closes `open` (just read, at open_line), through strings, comments and nested
  // brackets, and gives the symbols assigned on the way.
  std::vector<GroupAssignment> SkipGroup(char open, std::int64_t open_line);

 private:
  void SkipBlank();
  Token Scan(Lex state);

  std::string text_;
  std::size_t pos_ = 0;
  std::int64_t line_ = 1;
  std::optional<std::pair<Lex, Token>> peeked_;  // the last token Peek gave, in its state
  std::size_t peeked_start_ = 0;                 // where it starts
};

}  // namespace varnok::script
