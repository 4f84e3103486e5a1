// A linker script as read, and its evaluation as ld 2.40 evaluates it: every top-level assignment in script order
// first, then the regions in order, then the assignments again as ld's later passes do.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "regions/linker_script.h"

namespace varnok::script {

enum class Bin { kOrOr, kAndAnd, kOr, kAnd, kEq, kNe, kLt, kGt, kLe, kGe, kShl, kShr, kAdd, kSub, kMul, kDiv, kMod };

struct BinaryOperator {
  std::string_view text;
  int precedence;
  Bin op;
};

// ld's precedence, from the loosest; every one of them groups from the left.
inline constexpr std::array<BinaryOperator, 17> kBinaryOperators = {{
    {"||", 1, Bin::kOrOr}, {"&&", 2, Bin::kAndAnd}, {"|", 3, Bin::kOr}, {"&", 4, Bin::kAnd}, {"==", 5, Bin::kEq},
    {"!=", 5, Bin::kNe}, {"<", 6, Bin::kLt}, {">", 6, Bin::kGt}, {"<=", 6, Bin::kLe}, {">=", 6, Bin::kGe},
    {"<<", 7, Bin::kShl}, {">>", 7, Bin::kShr}, {"+", 8, Bin::kAdd}, {"-", 8, Bin::kSub}, {"*", 9, Bin::kMul},
    {"/", 9, Bin::kDiv}, {"%", 9, Bin::kMod}}};

// The operator of an assignment ("=" has none); nothing when the text is no assignment.
std::optional<std::optional<Bin>> AssignmentOperator(std::string_view text);

struct Place {
  int frame = 0;  // index into the program's files
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
  std::uint32_t text = 0;    // a region's name, the reason of kUnknown, the message of kAssert: in the program's texts
  std::uint32_t symbol = 0;  // kSymbol's and kDefined's, an index into the program's symbols
  Place place;
};

// A failure that ends the reading; thrown inside the reader and caught at its entry point.
struct Failure {
  ScriptError error;
};

// A file or a --defsym that the reading went through, for the places of messages.
struct FrameInfo {
  std::string file;
  int parent = -1;  // the one whose INCLUDE opened it
  std::int64_t include_line = 0;
  bool lines = true;  // false for a --defsym, whose places carry no line
};

// An assignment, in script order.
struct Statement {
  std::uint32_t symbol = 0;
  std::optional<Bin> op;  // none for "="
  bool provide = false;
  std::uint32_t value = 0;  // its expression's node
  Place place;
  bool in_sections = false;  // inside SECTIONS or another skipped command: its value is unknown
  bool fired = false;        // a PROVIDE that has defined its symbol once, and so assigns it in every later pass
};

struct RegionDecl {
  std::string name;
  std::uint32_t origin = 0, length = 0;  // their expressions' nodes
  Place place;
};

// The expressions, assignments and regions of a script and the files they came from, built as the script is read.
class ScriptProgram {
 public:
  ScriptProgram();

  // Adds a file or a --defsym; gives its index for places.
  int AddFile(FrameInfo file);
  const FrameInfo& File(int index) const { return files_[static_cast<std::size_t>(index)]; }
  ScriptPlace PlaceOf(Place place) const;
  // Ends the reading with the message at the place, then each INCLUDE that led there.
  [[noreturn]] void Fail(Place place, std::string message) const;

  // Adds an expression node and gives its index (never 0, which means "no child"). An operation on numbers is
  // folded at once, as ld folds it as it reads, so that a division by zero fails even where it is never used.
  std::uint32_t Add(Node node);
  // Keeps a text for a node.
  std::uint32_t Text(std::string text);
  // The index of the symbol of that name, added when it is new.
  std::uint32_t SymbolId(std::string_view name);
  void AddAssignment(Statement statement);
  // A symbol that a skipped command assigns, or PROVIDEs: from there on it has a value that is not known (a
  // PROVIDE only once something has referred to the symbol while nothing gave it a value).
  void AddAssignmentElsewhere(std::string_view name, Place place, bool provided);

  // Where the region (or alias) of that name is declared, if it is.
  std::optional<Place> RegionPlace(const std::string& name) const;
  void AddRegion(RegionDecl region);
  // Gives a declared region another name; false when the name is taken.
  bool AddAlias(const std::string& alias, const std::string& region);

  // Evaluates the assignments and the regions into read, as ld does; throws Failure.
  void Evaluate(ScriptRead& read);

 private:
  // A value, or the reason it is not known (an index into the reasons).
  struct Value {
    std::uint64_t number = 0;
    int unknown = -1;
  };
  struct Symbol {
    std::string name;
    Value value;                     // kept from one pass to the next
    bool has_value = false;          // an assignment has run; its value may still be undefined
    std::uint32_t defined_pass = 0;  // the pass that assigned it last: DEFINED is 1 from there on in that pass
    bool assigned = false;           // by a statement, wherever it stands
    bool elsewhere = false;          // assigned inside SECTIONS or another skipped command
    bool referenced = false;         // an evaluation has asked for its value
  };
  struct UnknownValue {
    Place place;
    std::string reason;
    bool undefined = false;  // a symbol without a value, not something only the link knows
  };

  void Fold(std::uint32_t id);
  Value Why(Place place, std::string reason, bool undefined = false);
  [[noreturn]] void FailUnknown(const Value& value) const;
  Value Lookup(std::uint32_t id, Place place);
  std::size_t RegionIndex(const std::string& name, Place place) const;
  std::uint64_t Compute(Bin op, std::uint64_t l, std::uint64_t r, Place place) const;
  Value Eval(std::uint32_t id);
  void Assign();
  bool Undefined(const Value& value) const;

  std::vector<FrameInfo> files_;
  std::vector<Node> nodes_;
  std::vector<std::string> texts_;  // the nodes' texts
  std::vector<Statement> statements_;
  std::vector<RegionDecl> regions_;
  std::unordered_map<std::string, std::size_t> region_index_;  // by name or alias
  std::vector<std::pair<std::uint64_t, std::uint64_t>> region_values_;  // origin, length
  std::vector<Symbol> symbols_;
  std::unordered_map<std::string, std::uint32_t> symbol_ids_;  // by name
  std::vector<UnknownValue> unknowns_;
  std::uint32_t pass_ = 0;  // the passes over the assignments so far
  bool early_ = false;      // in ld's evaluation of the regions before the assignments
  bool last_pass_ = false;  // in ld's last pass over the assignments
};

}  // namespace varnok::script
