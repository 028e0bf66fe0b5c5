#include "helper/command_row.h"

#include <gtest/gtest.h>

namespace {

struct Recorder {
    std::vector<std::string> calls;
};

CommandResult takesEventAndName(Recorder& recorder, std::int32_t event, Parameter name)
{
    auto const* text = std::get_if<std::string>(&name);
    recorder.calls.push_back(std::to_string(event) + ":" + (text ? *text : "<integer>"));
    return truthValue(true);
}

CommandResult takesNothing(Recorder& recorder)
{
    recorder.calls.push_back("called");
    return std::int32_t { 1 };
}

TEST(CommandRowParameters, ShortListIsNotPerformedAndGivesNothing)
{
    Recorder recorder;
    auto perform = withParameters(&takesEventAndName);
    EXPECT_EQ(perform(recorder, ParameterList({ 1903520116 })), CommandResult {});
    EXPECT_EQ(perform(recorder, ParameterList()), CommandResult {});
    EXPECT_TRUE(recorder.calls.empty());
}

TEST(CommandRowParameters, ReadsPositionsInOrderAndIgnoresExtras)
{
    Recorder recorder;
    auto perform = withParameters(&takesEventAndName);
    EXPECT_EQ(perform(recorder, ParameterList({ std::string("1903520116"), std::string("Preview"), 9 })), truthValue(true));
    EXPECT_EQ(perform(recorder, ParameterList({ 1903520116, 5 })), truthValue(true));
    EXPECT_EQ(recorder.calls, (std::vector<std::string> { "1903520116:Preview", "1903520116:<integer>" }));
}

TEST(CommandRowParameters, RowWithoutParametersAlwaysRuns)
{
    Recorder recorder;
    auto perform = withParameters(&takesNothing);
    EXPECT_EQ(perform(recorder, ParameterList({ 1, 2 })), CommandResult { std::int32_t { 1 } });
    EXPECT_EQ(perform(recorder, ParameterList()), CommandResult { std::int32_t { 1 } });
    EXPECT_EQ(recorder.calls.size(), 2u);
}

} // namespace
