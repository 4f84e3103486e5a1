#include "script_program.h"

#include <algorithm>
#include <bit>

#include "text/line_text.h"

namespace varnok::script {
namespace {

constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 32;

// The unknown value of a symbol that a skipped command assigns; a reference to it gets its own reason.
constexpr int kInSections = -2;

std::string Quote(std::string_view text) { return "'" + EscapeValue(std::string(text)) + "'"; }

}  // namespace

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

// Index 0 of the nodes stands for "no child".
ScriptProgram::ScriptProgram() : nodes_(1) {}

int ScriptProgram::AddFile(FrameInfo file) {
  files_.push_back(std::move(file));
  return static_cast<int>(files_.size() - 1);
}

ScriptPlace ScriptProgram::PlaceOf(Place place) const {
  const FrameInfo& info = File(place.frame);
  return ScriptPlace{info.file, info.lines ? place.line : 0};
}

void ScriptProgram::Fail(Place place, std::string message) const {
  ScriptError error{{}, std::move(message)};
  error.places.push_back(PlaceOf(place));
  for (int frame = place.frame; File(frame).parent >= 0; frame = File(frame).parent) {
    error.places.push_back(PlaceOf(Place{File(frame).parent, File(frame).include_line}));
  }
  throw Failure{std::move(error)};
}

std::uint32_t ScriptProgram::Add(Node node) {
  nodes_.push_back(std::move(node));
  const auto id = static_cast<std::uint32_t>(nodes_.size() - 1);
  Fold(id);
  return id;
}

std::uint32_t ScriptProgram::Text(std::string text) {
  texts_.push_back(std::move(text));
  return static_cast<std::uint32_t>(texts_.size() - 1);
}

std::uint32_t ScriptProgram::SymbolId(std::string_view name) {
  const auto [found, added] = symbol_ids_.try_emplace(std::string(name), static_cast<std::uint32_t>(symbols_.size()));
  if (added) {
    symbols_.emplace_back();
    symbols_.back().name = name;
  }
  return found->second;
}

void ScriptProgram::AddAssignment(Statement statement) {
  symbols_[statement.symbol].assigned = true;
  statements_.push_back(std::move(statement));
}

void ScriptProgram::AddAssignmentElsewhere(std::string_view name, Place place, bool provided) {
  const std::uint32_t id = SymbolId(name);
  // A symbol that only a PROVIDE there assigns stays without a value until the PROVIDE takes effect.
  if (!provided) symbols_[id].elsewhere = true;
  Statement statement;
  statement.symbol = id;
  statement.provide = provided;
  statement.place = place;
  statement.in_sections = true;
  AddAssignment(std::move(statement));
}

std::optional<Place> ScriptProgram::RegionPlace(const std::string& name) const {
  const auto found = region_index_.find(name);
  if (found == region_index_.end()) return std::nullopt;
  return regions_[found->second].place;
}

void ScriptProgram::AddRegion(RegionDecl region) {
  region_index_.emplace(region.name, regions_.size());
  regions_.push_back(std::move(region));
}

bool ScriptProgram::AddAlias(const std::string& alias, const std::string& region) {
  return region_index_.emplace(alias, region_index_.at(region)).second;
}

// ld folds an operation on numbers as it reads it, so that a division by zero is an error even where the value
// is never used, in a branch of ?: not taken for instance.
void ScriptProgram::Fold(std::uint32_t id) {
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

ScriptProgram::Value ScriptProgram::Why(Place place, std::string reason, bool undefined) {
  unknowns_.push_back(UnknownValue{place, std::move(reason), undefined});
  return Value{0, static_cast<int>(unknowns_.size() - 1)};
}

void ScriptProgram::FailUnknown(const Value& value) const {
  const UnknownValue& why = unknowns_[static_cast<std::size_t>(value.unknown)];
  Fail(why.place, why.reason);
}

// A name without a value is an error where a region needs it, and in ld's last pass over the assignments.
ScriptProgram::Value ScriptProgram::Lookup(std::uint32_t id, Place place) {
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

std::size_t ScriptProgram::RegionIndex(const std::string& name, Place place) const {
  const auto found = region_index_.find(name);
  if (found == region_index_.end()) Fail(place, "memory region " + Quote(name) + " is not declared");
  return found->second;
}

// ld's arithmetic on its 64-bit addresses: wrapping; / and % signed, every comparison unsigned, shifts by the
// count modulo 64 as the machine does them.
std::uint64_t ScriptProgram::Compute(Bin op, std::uint64_t l, std::uint64_t r, Place place) const {
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

ScriptProgram::Value ScriptProgram::Eval(std::uint32_t id) {
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

void ScriptProgram::Evaluate(ScriptRead& read) {
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
    const ScriptPlace place = PlaceOf(declared.place);
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
// symbol as it was, as in ld; but where nothing has named the symbol before, ld defines it as 0 (DEFINED is 1).
// A PROVIDE defines its symbol where it stands when nothing gave the symbol a value before, another PROVIDE
// included, and something evaluated before used its value; from then on it is an assignment like any other.
void ScriptProgram::Assign() {
  ++pass_;
  for (Statement& statement : statements_) {
    Symbol& symbol = symbols_[statement.symbol];
    if (statement.provide && !statement.fired &&
        ((symbol.has_value && !Undefined(symbol.value)) || !symbol.referenced)) {
      continue;
    }
    statement.fired = statement.provide;
    if (statement.in_sections) {
      symbol.value = Value{0, kInSections};
      symbol.has_value = true;
      symbol.defined_pass = pass_;
      continue;
    }
    const Value old = statement.op ? Lookup(statement.symbol, statement.place) : Value{};
    Value value = Eval(statement.value);
    if (statement.op && value.unknown < 0) {
      value = old.unknown >= 0 ? old : Value{Compute(*statement.op, old.number, value.number, statement.place)};
    }
    // Eval may have added symbols: the reference above is not used past it.
    Symbol& assigned = symbols_[statement.symbol];
    if (Undefined(value)) {
      if (assigned.referenced || assigned.has_value) {
        if (!assigned.has_value) assigned.value = value;
        assigned.has_value = true;
        continue;
      }
      // ld defines a symbol that nothing has named yet as 0 all the same, so that later expressions see it.
      value = Value{};
    }
    assigned.value = value;
    assigned.has_value = true;
    assigned.defined_pass = pass_;
  }
}

// Whether the value is missing because a symbol has none (not because only the link knows it).
bool ScriptProgram::Undefined(const Value& value) const {
  return value.unknown >= 0 && unknowns_[static_cast<std::size_t>(value.unknown)].undefined;
}

}  // namespace varnok::script
