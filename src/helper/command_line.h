#pragma once

#include "helper/parameter_list.h"

#include <string>
#include <string_view>

struct ParsedCommand {
    std::string word;
    ParameterList parameters;

    bool operator==(const ParsedCommand&) const = default;
};

// Splits one command line (UTF-8, trailing line breaks included) into its
// command word and parameter list. Every input gives a result: there is no
// syntax error.
ParsedCommand parseCommandLine(std::string_view line);

// One comma-separated piece of the parameter text as a list element.
Parameter parseParameterPiece(std::string_view piece);
