#pragma once

#include <cstdint>

namespace platform {

// Apple-event style codes: four characters, the first in the most
// significant byte.
constexpr std::uint32_t fourCharCode(const char (&code)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24
        | static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16
        | static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8
        | static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

} // namespace platform
