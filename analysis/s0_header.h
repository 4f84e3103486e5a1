#pragma once

#include <cstdint>
#include <string>

namespace varnok {

// What one S0 record shows: the module name, the version.revision when the record carries one, and
// the description. Every text is already cut at its first byte 0, as the fields keep it.
struct S0Header {
  std::string module;
  bool has_version = false;
  std::string version;
  std::string description;
};

// Interprets the payload of an S0 line that passed its checks: up to 20 bytes of module name, a
// two-character version and revision (a leading "0" dropped), and the rest as description.
S0Header InterpretS0(const char* line, std::int32_t byte_count);

// The part of text before its first byte 0.
std::string LabelText(std::string text);

}  // namespace varnok
