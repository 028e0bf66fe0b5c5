#pragma once

#include <cstdint>
#include <string_view>

// The decimal value at the start of a text: an optional sign, then digits up
// to the first non-digit. No digits give 0; values beyond 32 bits saturate.
// Command parameters and version components are both read this way.
std::int32_t leadingDecimalValue(std::string_view text);
