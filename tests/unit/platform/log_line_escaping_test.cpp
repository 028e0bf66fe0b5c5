#include "platform/linux/log/log_line_escaping.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

using namespace std::string_literals;

TEST(LogLineEscaping, EscapesControlCharactersSoALineStaysOneLine)
{
    EXPECT_EQ(escapeControlCharacters("quit\nhelper[1]: forged\r\n"), "quit\\nhelper[1]: forged\\r\\n");
    EXPECT_EQ(escapeControlCharacters("\x1b[31mred\t\x7f"), "\\x1b[31mred\\x09\\x7f");
    EXPECT_EQ(escapeControlCharacters("nul\0end"s), "nul\\x00end");
}

TEST(LogLineEscaping, KeepsPrintableTextAndUtf8AsItIs)
{
    EXPECT_EQ(escapeControlCharacters(""), "");
    EXPECT_EQ(escapeControlCharacters("100% done ~ \\n é ✓"), "100% done ~ \\n é ✓");
}

} // namespace
} // namespace platform
