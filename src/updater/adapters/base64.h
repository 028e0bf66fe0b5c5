#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

// Standard base64 with padding; blanks and line breaks are ignored.
// Nothing when the whole text is not base64 or decodes to more than
// `maxBytes`.
std::optional<std::vector<unsigned char>> bytesFromBase64(std::string_view text, std::size_t maxBytes);

std::string base64Of(std::span<const unsigned char> bytes);

} // namespace updater
