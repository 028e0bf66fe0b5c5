#pragma once

#include <string_view>

// Whether `text` is well-formed UTF-8 throughout. A zero byte makes it
// invalid: callers that end text at one cut it there first.
bool isValidUtf8(std::string_view text);
