#pragma once

#include <optional>
#include <string_view>

// Decides, from the bytes a client has sent so far on a connection, whether
// they form a command line yet. Everything that arrived before the text ends
// in a line feed or carriage return is one command line: it is never split at
// an inner line break. The text stops at the first zero byte, and it must be
// valid UTF-8 to count as complete.
std::optional<std::string_view> completeCommandLine(std::string_view received);
