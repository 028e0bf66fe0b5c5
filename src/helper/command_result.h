#pragma once

#include <cstdint>
#include <string>
#include <variant>

// What a command gives back: nothing, a text, or a number (a truth value or
// the integer 1).
using CommandResult = std::variant<std::monostate, std::string, std::int32_t>;

inline CommandResult truthValue(bool value) { return std::int32_t { value ? 1 : 0 }; }

// The reply line without its line feed: "<nil>", the text in double quotes
// (nothing escaped), or the number in decimal.
std::string renderReply(const CommandResult& result);
