// Any command line gives a command word, a parameter list and a one-line
// reply; there is no syntax error, so nothing may throw or crash.
#include "helper/command_line.h"
#include "helper/command_result.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view line(reinterpret_cast<const char*>(data), size);
    auto command = parseCommandLine(line);
    (void)command.parameters.description();
    // A text reply is the text in double quotes, nothing escaped.
    if (renderReply(CommandResult { command.word }).size() != command.word.size() + 2)
        std::abort();
    for (std::size_t i = 0; i < command.parameters.size(); ++i) {
        auto element = command.parameters.element(i);
        if (!element || !command.parameters.integerValue(i))
            std::abort();
        (void)renderReply(std::visit([](auto const& value) { return CommandResult { value }; }, *element));
    }
    if (command.parameters.element(command.parameters.size()))
        std::abort();
    return 0;
}
