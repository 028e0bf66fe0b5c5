#include "text/leading_decimal_value.h"

#include <limits>

std::int32_t leadingDecimalValue(std::string_view text)
{
    bool negative = false;
    std::size_t position = 0;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        negative = text[position] == '-';
        ++position;
    }
    // Accumulate as a negative number: its range holds INT32_MIN exactly.
    constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
    std::int64_t value = 0;
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position) {
        value = value * 10 - (text[position] - '0');
        if (value < kLowest)
            value = kLowest;
    }
    if (negative)
        return static_cast<std::int32_t>(value);
    return static_cast<std::int32_t>(value == kLowest ? std::numeric_limits<std::int32_t>::max() : -value);
}
