#include "helper/command_line.h"
#include "helper/command_result.h"
#include "text/text_whitespace.h"

#include <gtest/gtest.h>
#include <limits>
#include <string_view>

namespace {

using Elements = std::vector<Parameter>;
constexpr std::int32_t kLowest = std::numeric_limits<std::int32_t>::min();

struct LineCase {
    const char* line;
    const char* word;
    Elements parameters;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << '"' << c.line << '"'; }

class CommandLineParsing : public testing::TestWithParam<LineCase> { };

TEST_P(CommandLineParsing, SplitsWordAndParameters)
{
    auto const& expected = GetParam();
    auto parsed = parseCommandLine(expected.line);
    EXPECT_EQ(parsed.word, expected.word);
    EXPECT_EQ(parsed.parameters, ParameterList(expected.parameters));
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, CommandLineParsing,
    testing::Values(
        LineCase { "version\n", "version", {} },
        LineCase { "version\r\n", "version", {} },
        LineCase { "version\n\r\n\r", "version", {} },
        LineCase { "fileBusy \"/Volumes/Data/Downloads/part 1.rar\"\n", "fileBusy", { std::string("/Volumes/Data/Downloads/part 1.rar") } },
        LineCase { "SendAppleEventToSystemProcess 1936483696\n", "SendAppleEventToSystemProcess", { 1936483696 } },
        LineCase { "SendAppleEvent  1903520116 , \"Preview\" \n", "SendAppleEvent", { 1903520116, std::string("Preview") } },
        LineCase { "makeFrontProcessNamed \" My App \"\n", "makeFrontProcessNamed", { std::string(" My App ") } },
        LineCase { "quit\n", "quit", {} },
        LineCase { "checkUpdate \n", "checkUpdate", { 0 } },
        LineCase { "frobnicate 1,,2\n", "frobnicate", { 1, 0, 2 } },
        LineCase { " version\n", "", { 0 } }));

INSTANTIATE_TEST_SUITE_P(EdgeCases, CommandLineParsing,
    testing::Values(
        // Lines that arrived together stay one line: only the end is stripped.
        LineCase { "version\nquit\n", "version\nquit", {} },
        LineCase { "version\t\n", "version\t", {} },
        LineCase { "Version\n", "Version", {} },
        LineCase { "\r\n\n", "", {} },
        // A quoted text runs on over commas to the piece that closes it.
        LineCase { "x \"a,b\"\n", "x", { std::string("a,b") } },
        LineCase { "x \"Report, final.pdf\" ,5\n", "x", { std::string("Report, final.pdf"), 5 } },
        LineCase { "x 1,\"s=a,t=b,u\"\"\t,\"c\"\n", "x", { 1, std::string("s=a,t=b,u\""), std::string("c") } },
        LineCase { "x \"a,\"\n", "x", { std::string("a,") } },
        LineCase { "x \"a,b,c\n", "x", { 0, 0, 0 } },
        LineCase { "x \"a,\"b\",\"c\"\n", "x", { std::string("a,\"b"), std::string("c") } },
        LineCase { "x \"a\"b\"\n", "x", { std::string("a\"b") } },
        LineCase { "x \"\"\n", "x", { std::string() } },
        LineCase { "x \"abc\n", "x", { 0 } },
        LineCase { "x 99999999999\n", "x", { 2147483647 } },
        LineCase { "x -99999999999\n", "x", { kLowest } },
        LineCase { "x  +7 \n", "x", { 7 } },
        LineCase { "x 0x1F,3.9,12abc,abc,-,+\n", "x", { 0, 3, 12, 0, 0, 0 } },
        LineCase { "x 2147483647,-2147483648,2147483648\n", "x", { 2147483647, kLowest, 2147483647 } },
        // A lone quote is not a text; it counts as an integer like any other
        // unquoted piece instead of failing the whole line.
        LineCase { "x \"\n", "x", { 0 } },
        LineCase { "x  \" , \"a\"\n", "x", { 0, std::string("a") } },
        // Tabs and Unicode space separators (no-break, ideographic) are
        // trimmed; a line break inside a piece is not.
        LineCase { "x \t\"a\"\xC2\xA0,\xE3\x80\x80"
                   "5\n",
            "x", { std::string("a"), 5 } },
        LineCase { "x \r5\n", "x", { 0 } },
        LineCase { "x \xC3\xA9t\xC3\xA9\n", "x", { 0 } },
        LineCase { "x \"\xC3\xA9t\xC3\xA9\"\n", "x", { std::string("\xC3\xA9t\xC3\xA9") } }));

// Only the listener's lines are known to be UTF-8. Trimming anything else
// keeps what is no character, and never reads past the text: each case ends
// in the middle of a blank that the bytes after it would complete.
TEST(WhitespaceTrimming, BytesThatAreNoCharacterAreKeptAndNothingBeyondIsRead)
{
    struct Case {
        std::string_view bytes;
        std::size_t textLength;
        std::string_view trimmed;
    };
    const Case cases[] = {
        { " \xC2\xA0", 2, "\xC2" }, // a no-break space cut off at the end
        { "\xC2\xA0x", 1, "\xC2" }, // the same as the whole text
        { "\t\xE3\x80\x80", 3, "\xE3\x80" }, // an ideographic space cut short
        { "\xC2\xA0x\xE3\x80\x80", 6, "x" }, // whole blanks, for contrast
    };
    for (auto const& [bytes, textLength, trimmed] : cases)
        EXPECT_EQ(trimWhitespace(bytes.substr(0, textLength)), trimmed) << testing::PrintToString(std::string(bytes));
}

TEST(ParameterListAccess, MissingPositionsGiveNothing)
{
    ParameterList list({ std::string("5"), 7 });
    EXPECT_EQ(list.element(1), Parameter(7));
    EXPECT_FALSE(list.element(2).has_value());
    EXPECT_FALSE(list.integerValue(2).has_value());
    EXPECT_FALSE(ParameterList().element(0).has_value());
}

TEST(ParameterListAccess, IntegerValueOfTextIsItsLeadingNumber)
{
    ParameterList list({ std::string("1903520116"), std::string(" 42abc"), std::string("abc"), -3 });
    EXPECT_EQ(list.integerValue(0), 1903520116);
    EXPECT_EQ(list.integerValue(1), 42);
    EXPECT_EQ(list.integerValue(2), 0);
    EXPECT_EQ(list.integerValue(3), -3);
}

TEST(ParameterListAccess, DescriptionShowsEachKind)
{
    EXPECT_EQ(ParameterList({ std::string("a b"), 5 }).description(), "(text \"a b\", integer 5)");
    EXPECT_EQ(ParameterList().description(), "()");
}

TEST(ReplyRendering, NothingTextAndNumber)
{
    EXPECT_EQ(renderReply(std::monostate {}), "<nil>");
    EXPECT_EQ(renderReply(std::string("3.0.1")), "\"3.0.1\"");
    // Nothing is escaped.
    EXPECT_EQ(renderReply(std::string("a\"b\nc")), "\"a\"b\nc\"");
    EXPECT_EQ(renderReply(std::string()), "\"\"");
    EXPECT_EQ(renderReply(truthValue(true)), "1");
    EXPECT_EQ(renderReply(truthValue(false)), "0");
    EXPECT_EQ(renderReply(std::int32_t { -2147483647 - 1 }), "-2147483648");
}

} // namespace
