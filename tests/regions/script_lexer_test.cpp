#include "script_lexer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace varnok::script {
namespace {

// What a token was read as: "N:value" for a number, "P:text" for an operator, "W:text" for a name ("Q:text"
// quoted), each with "@line" after it when it is not on line 1; "error@line: message" where the lexer stops.
std::string Describe(const Token& token) {
  std::string text;
  switch (token.kind) {
    case Kind::kEnd: return "end";
    case Kind::kNumber: text = "N:" + std::to_string(token.value); break;
    case Kind::kPunct: text = "P:" + std::string(token.text); break;
    case Kind::kName: text = (token.quoted ? "Q:" : "W:") + std::string(token.text); break;
  }
  return token.line == 1 ? text : text + "@" + std::to_string(token.line);
}

// The numbers are those ld 2.40 gives the same text in an expression (its map's "Memory Configuration"), its names
// and operators those its grammar then takes.
TEST(ScriptLexer, ReadsTokensAsLdsLexerDoes) {
  const struct {
    std::string text;
    Lex state;
    std::vector<std::string> tokens;  // up to the end, "end" left out
  } cases[] = {
      {"$8000 8000h 0x10K 4k $aK 1m 1M", Lex::kExpression,
       {"N:32768", "N:32768", "N:16384", "N:4096", "N:10240", "N:1048576", "N:1048576"}},
      // Hex digits and a base letter; a leading 0 is octal; digits past the base end the value as strtoull ends it.
      {"17o 101b 19d 0AH ah 010 09 19o 2b", Lex::kExpression,
       {"N:15", "N:5", "N:19", "N:10", "N:10", "N:8", "N:0", "N:1", "N:0"}},
      {"0x1FFFFFFFFFFFFFFFF", Lex::kExpression, {"N:18446744073709551615"}},  // saturated, as strtoull does
      {"0b101", Lex::kExpression, {"N:0", "N:101"}},                          // 0b is no prefix: 0b is binary 0
      {"1G", Lex::kExpression, {"N:1", "W:G"}},                              // no G suffix
      {"8000h ah", Lex::kScript, {"N:8000", "W:h", "W:ah"}},                 // base letters only in expressions
      {"RAM: ORIGIN=0x0,LENGTH=4K}", Lex::kScript, {"W:RAM:", "W:ORIGIN=0x0,LENGTH=4K", "P:}"}},
      {"RAM: x<<=1", Lex::kExpression, {"W:RAM", "P::", "W:x", "P:<<=", "N:1"}},
      {">> >>= != <", Lex::kScript, {"P:>", "P:>", "P:>>=", "P:!", "P:=", "error@1: unexpected character '<'"}},
      {">> >>= != <=", Lex::kExpression, {"P:>>", "P:>>=", "P:!=", "P:<="}},
      {"\xEF\xBB\xBFMEMORY", Lex::kScript, {"W:MEMORY"}},  // a UTF-8 byte-order mark is passed over
      {"# MEMORY {\n/* a\n } */ \"FLASH AREA\"\r\nx", Lex::kScript, {"Q:FLASH AREA@3", "W:x@4"}},
      {"x /* a\n", Lex::kScript, {"W:x", "error@1: comment without its closing */"}},
      {"\n\"a\n", Lex::kExpression, {"error@2: string without its closing quote"}},
  };
  for (const auto& c : cases) {
    ScriptLexer lexer(c.text);
    std::vector<std::string> tokens;
    try {
      for (Token token = lexer.Next(c.state); token.kind != Kind::kEnd && tokens.size() < 20;
           token = lexer.Next(c.state)) {
        tokens.push_back(Describe(token));
      }
    } catch (const LexError& error) {
      tokens.push_back("error@" + std::to_string(error.line) + ": " + error.message);
    }
    EXPECT_EQ(tokens, c.tokens) << c.text;
  }
}

}  // namespace
}  // namespace varnok::script
