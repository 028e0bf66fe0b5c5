#pragma once

// A child process of the test, ended and reaped at the end of its scope
// unless the test reaped it already, so no case leaves a process behind.

#include "support/eventually.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace testing_support {

using Environment = std::vector<std::pair<std::string, std::string>>;

struct ChildOptions {
    // Variables set for the child on top of the test's own.
    Environment environment {};
    // Descriptors of the child that write to a file instead, appending: a
    // log, or /dev/null for programs that chatter.
    std::vector<std::pair<int, std::string>> outputs {};
    // What ends the child: SIGTERM for servers that should tidy up first.
    int endSignal { SIGKILL };
};

class ChildProcess {
public:
    // `program` is a path, or a name looked up on PATH.
    ChildProcess(std::string program, std::vector<std::string> arguments, const ChildOptions& options = {})
        : m_endSignal(options.endSignal)
    {
        arguments.insert(arguments.begin(), program);
        auto environment = environmentWith(options.environment);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (const auto& [descriptor, file] : options.outputs)
            posix_spawn_file_actions_addopen(&actions, descriptor, file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int failed = posix_spawnp(&m_pid, program.c_str(), &actions, nullptr, pointers(arguments).data(),
            pointers(environment).data());
        posix_spawn_file_actions_destroy(&actions);
        if (failed)
            throw std::runtime_error("cannot start " + program);
    }
    // Takes on a child the test forked itself.
    explicit ChildProcess(pid_t forked, int endSignal = SIGKILL)
        : m_pid(forked)
        , m_endSignal(endSignal)
    {
    }
    ~ChildProcess()
    {
        if (m_pid > 0 && !m_reaped && kill(m_pid, m_endSignal) == 0)
            waitpid(m_pid, nullptr, 0);
    }
    ChildProcess(ChildProcess&& other) noexcept
        : m_pid(std::exchange(other.m_pid, -1))
        , m_endSignal(other.m_endSignal)
        , m_reaped(other.m_reaped)
    {
    }
    // The child this one held ends with `other`.
    ChildProcess& operator=(ChildProcess&& other) noexcept
    {
        std::swap(m_pid, other.m_pid);
        std::swap(m_endSignal, other.m_endSignal);
        std::swap(m_reaped, other.m_reaped);
        return *this;
    }

    // A child that cannot start is nothing, for tests that then skip.
    static std::optional<ChildProcess> tryStart(std::string program, std::vector<std::string> arguments,
        const ChildOptions& options = {})
    {
        try {
            return std::optional<ChildProcess>(std::in_place, std::move(program), std::move(arguments), options);
        } catch (const std::runtime_error&) {
            return std::nullopt;
        }
    }

    pid_t pid() const { return m_pid; }

    // The status waitpid reports, if the child exits within `bound`.
    std::optional<int> reapWithin(std::chrono::steady_clock::duration bound)
    {
        int status = 0;
        if (!eventually([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, bound))
            return std::nullopt;
        m_reaped = true;
        return status;
    }

    // Ends the child but leaves it unreaped: a zombie.
    void killLeavingZombie() const
    {
        kill(m_pid, SIGKILL);
        siginfo_t info {};
        waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT);
    }

private:
    static std::vector<std::string> environmentWith(const Environment& variables)
    {
        std::vector<std::string> entries;
        for (const auto& [name, value] : variables)
            entries.push_back(name + "=" + value);
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const auto name = text.substr(0, text.find('='));
            if (std::ranges::none_of(variables, [&](const auto& variable) { return variable.first == name; }))
                entries.push_back(text);
        }
        return entries;
    }

    static std::vector<char*> pointers(std::vector<std::string>& texts)
    {
        std::vector<char*> list;
        for (auto& text : texts)
            list.push_back(text.data());
        list.push_back(nullptr);
        return list;
    }

    pid_t m_pid { -1 };
    int m_endSignal { SIGKILL };
    bool m_reaped { false };
};

} // namespace testing_support
