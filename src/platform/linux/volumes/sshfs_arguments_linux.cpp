#include "platform/linux/volumes/sshfs_arguments.h"

#include <strings.h>

#include <charconv>
#include <string_view>

namespace platform::linux_files {
namespace {

std::optional<int> portFrom(std::string_view text)
{
    int port = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

// FUSE splits -o lists at commas that no backslash escapes, and a backslash
// stands for the character after it.
std::vector<std::string> optionsOf(std::string_view list)
{
    std::vector<std::string> options(1);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == '\\' && i + 1 < list.size())
            options.back().push_back(list[++i]);
        else if (list[i] == ',')
            options.emplace_back();
        else
            options.back().push_back(list[i]);
    }
    return options;
}

// sshfs hands "port=" to ssh as its Port option, matched without regard to
// case, and ssh keeps the first value it is given: so does this.
class Reading {
public:
    void takeOption(std::string_view flag, std::string_view value)
    {
        if (flag == "-o")
            takeOptionList(value);
        else if (flag == "-p")
            takePort(value);
    }

    // As sshfs: the first plain argument with a colon is the source, the
    // next plain one the mount point.
    void takePlainArgument(const std::string& argument)
    {
        if (m_result.source.empty() && argument.find(':') != std::string::npos)
            m_result.source = argument;
        else if (m_result.mountPoint.empty())
            m_result.mountPoint = argument;
    }

    std::optional<SshfsArguments> result() const
    {
        if (m_result.source.empty() || m_result.mountPoint.empty())
            return std::nullopt;
        return m_result;
    }

private:
    void takePort(std::string_view text)
    {
        if (!m_portSeen)
            m_result.port = portFrom(text);
        m_portSeen = true;
    }

    void takeOptionList(std::string_view list)
    {
        constexpr std::string_view kKey = "port=";
        for (auto const& option : optionsOf(list)) {
            if (option.size() > kKey.size() && strncasecmp(option.c_str(), kKey.data(), kKey.size()) == 0)
                takePort(std::string_view(option).substr(kKey.size()));
        }
    }

    SshfsArguments m_result;
    bool m_portSeen { false };
};

// Of sshfs's options only -o, -p and -F take a value, joined ("-p2222") or
// as the next argument.
bool takesValue(std::string_view flag) { return flag == "-o" || flag == "-p" || flag == "-F"; }

} // namespace

std::optional<SshfsArguments> sshfsArgumentsFrom(const std::vector<std::string>& arguments)
{
    Reading reading;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (optionsEnded || !argument.starts_with('-')) {
            reading.takePlainArgument(arguments[i]);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (takesValue(argument.substr(0, 2))) {
            std::string_view value = argument.substr(2);
            if (value.empty() && i + 1 < arguments.size())
                value = arguments[++i];
            reading.takeOption(argument.substr(0, 2), value);
        }
    }
    return reading.result();
}

} // namespace platform::linux_files
