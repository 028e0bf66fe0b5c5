#include "platform/linux/log/log_line_escaping.h"

#include <algorithm>

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

const char* firstControlCharacter(const char* from, const char* end)
{
    return std::find_if(from, end, [](char character) { return isControlCharacter(static_cast<unsigned char>(character)); });
}

} // namespace

std::string escapeControlCharacters(std::string_view line)
{
    std::string escaped;
    escaped.reserve(line.size());
    const char* end = line.data() + line.size();
    for (const char* from = line.data();;) {
        const char* control = firstControlCharacter(from, end);
        escaped.append(from, control);
        if (control == end)
            return escaped;
        appendEscaped(escaped, static_cast<unsigned char>(*control));
        from = control + 1;
    }
}

bool hasControlCharacters(std::string_view line)
{
    const char* end = line.data() + line.size();
    return firstControlCharacter(line.data(), end) != end;
}

} // namespace platform
