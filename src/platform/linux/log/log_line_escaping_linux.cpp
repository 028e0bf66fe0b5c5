#include "platform/linux/log/log_line_escaping.h"

namespace platform {

namespace {

bool isControlCharacter(unsigned char character)
{
    return character < 0x20 || character == 0x7f;
}

void appendEscaped(std::string& escaped, unsigned char character)
{
    static constexpr char kHexDigits[] = "0123456789abcdef";
    switch (character) {
    case '\n':
        escaped += "\\n";
        return;
    case '\r':
        escaped += "\\r";
        return;
    default:
        escaped += "\\x";
        escaped += kHexDigits[character >> 4];
        escaped += kHexDigits[character & 0xf];
    }
}

} // namespace

std::string escapeControlCharacters(std::string_view line)
{
    std::string escaped;
    escaped.reserve(line.size());
    for (const char character : line) {
        const auto byte = static_cast<unsigned char>(character);
        if (isControlCharacter(byte))
            appendEscaped(escaped, byte);
        else
            escaped += character;
    }
    return escaped;
}

} // namespace platform
