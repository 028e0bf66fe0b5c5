#pragma once

#include <string_view>

// What the bytes a client has sent so far on a connection make.
enum class Framing {
    // No line yet: more bytes may complete it.
    incomplete,
    // A command line to run.
    complete,
    // Ended by a line break, yet not a command line: it holds a zero byte
    // before its end or is not valid UTF-8. No byte still to come can mend
    // it, so waiting for one would only hold the connection.
    malformed,
};

struct FramedLine {
    Framing framing { Framing::incomplete };
    // The command line when complete.
    std::string_view line;
};

// Everything that arrived before the text ends in a line feed or carriage
// return is one command line: it is never split at an inner line break. The
// text stops at the first zero byte, and it must be valid UTF-8 to count as
// complete.
FramedLine frameCommandLine(std::string_view received);
