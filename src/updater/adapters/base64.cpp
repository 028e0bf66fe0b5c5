#include "updater/adapters/base64.h"

#include <sodium.h>

namespace updater {

std::optional<std::vector<unsigned char>> bytesFromBase64(std::string_view text, std::size_t maxBytes)
{
    std::vector<unsigned char> bytes(maxBytes);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), " \t\r\n", &length, &end,
            sodium_base64_VARIANT_ORIGINAL)
            != 0
        || end != text.data() + text.size()) {
        sodium_memzero(bytes.data(), bytes.size());
        return std::nullopt;
    }
    bytes.resize(length);
    return bytes;
}

std::string base64Of(std::span<const unsigned char> bytes)
{
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1); // the terminating zero
    return text;
}

} // namespace updater
