#pragma once

// A virtual X display for the length of a test, on the first free display
// number: Xvfb reports the number it took once it is ready to serve.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <poll.h>

#include <optional>
#include <stdexcept>
#include <string>

extern char** environ;

namespace testing_support {

class VirtualDisplay {
public:
    VirtualDisplay()
    {
        int ready[2];
        if (pipe(ready) != 0)
            throw std::runtime_error("pipe failed");
        const std::string descriptor = std::to_string(ready[1]);
        const char* argv[] = { "Xvfb", "-displayfd", descriptor.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24", nullptr };
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, ready[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int failed = posix_spawn(&m_pid, "/usr/bin/Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(ready[1]);
        if (failed == 0)
            m_name = readDisplayNumber(ready[0]);
        close(ready[0]);
    }
    ~VirtualDisplay()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

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

    pid_t m_pid { -1 };
    std::optional<std::string> m_name;
};

} // namespace testing_support
