#pragma once

// A virtual X display for the length of a test, on the first free display
// number: Xvfb reports the number it took once it is ready to serve.

#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace testing_support {

class VirtualDisplay {
public:
    VirtualDisplay()
    {
        int ready[2];
        if (pipe(ready) != 0)
            throw std::runtime_error("pipe failed");
        // Xvfb is given the write end only.
        fcntl(ready[0], F_SETFD, FD_CLOEXEC);
        m_process = ChildProcess::tryStart("/usr/bin/Xvfb",
            { "-displayfd", std::to_string(ready[1]), "-nolisten", "tcp", "-screen", "0", "640x480x24" },
            { .outputs = { { STDERR_FILENO, "/dev/null" } }, .endSignal = SIGTERM });
        close(ready[1]);
        if (m_process)
            m_name = readDisplayNumber(ready[0]);
        close(ready[0]);
    }

    // ":N", or nothing when Xvfb could not start.
    const std::optional<std::string>& name() const { return m_name; }

private:
    static std::optional<std::string> readDisplayNumber(int descriptor)
    {
        std::string number;
        pollfd readable { descriptor, POLLIN, 0 };
        char byte = 0;
        while (poll(&readable, 1, 10000) == 1 && read(descriptor, &byte, 1) == 1 && byte != '\n')
            number += byte;
        if (number.empty())
            return std::nullopt;
        return ":" + number;
    }

    std::optional<ChildProcess> m_process;
    std::optional<std::string> m_name;
};

} // namespace testing_support
