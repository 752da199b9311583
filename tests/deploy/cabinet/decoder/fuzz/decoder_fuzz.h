#pragma once
#include <cstdint>

namespace orvo::cab::fuzz {
// Between the cabinets of a set in one fuzz input.
constexpr uint8_t kSeparator[8] = {'#', 'N', 'E', 'X', 'T', 'C', 'A', 'B'};
}  // namespace orvo::cab::fuzz
