#include "helper/command_result.h"

std::string renderReply(const CommandResult& result)
{
    if (auto const* text = std::get_if<std::string>(&result))
        return "\"" + *text + "\"";
    if (auto const* number = std::get_if<std::int32_t>(&result))
        return std::to_string(*number);
    return "<nil>";
}
