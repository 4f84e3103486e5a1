#pragma once

#include <cstdint>
#include <string>

#include "analysis/run_result.h"

namespace varnok {

// Interprets the payload of an S0 line that passed its checks: up to 20 bytes of module name, a
// two-character version and revision (a leading "0" dropped), and the rest as description.
RunHeader InterpretS0(const char* line, std::int32_t byte_count);

// The part of text before its first byte 0.
std::string LabelText(std::string text);

}  // namespace varnok
