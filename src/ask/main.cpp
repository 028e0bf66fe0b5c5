// ferrowind-ask: sends one command to the Ferrowind Helper of the calling
// user and prints its answer.
//
// The helper takes the first free port of its range, so another user can
// listen where it usually is, or on every port. A client that spoke to such
// a listener would tell it which files it works on and believe whatever it
// answers. Hence what every client must do, and what this one does: take a
// port only when the kernel says the listener there belongs to the calling
// user, and check the connection again before sending anything.
#include "helper/helper_ports.h"
#include "platform/linux/common/owned_descriptor.h"
#include "platform/linux/common/retrying_io.h"
#include "platform/linux/connection/peer_owner_lookup.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using platform::PeerOwnerLookup;
using platform::PeerSocketLookup;
using platform::linux_files::OwnedDescriptor;
using Clock = std::chrono::steady_clock;

constexpr int kAnswered = 0;
constexpr int kNoHelper = 1;
constexpr int kUsage = 2;
// The command went to the helper, which gave no answer: not to be sent to
// another port as well.
constexpr int kNoAnswer = 3;

// The helper's slowest commands wait a few seconds for a file server or a
// window, and a relaunched helper first waits for the one it replaces, while
// our connection waits in the queue.
constexpr auto kAnswerLimit = std::chrono::seconds(30);

std::string userText(platform::UserId user)
{
    std::string text = "user " + std::to_string(user);
    if (const passwd* entry = getpwuid(user))
        text += " (" + std::string(entry->pw_name) + ")";
    return text;
}

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// One line of the helper's, without its line end; nothing when the
// connection ends or the time is up.
class LineReader {
public:
    explicit LineReader(int descriptor)
        : m_descriptor(descriptor)
    {
    }

    std::optional<std::string> next(Clock::time_point deadline)
    {
        for (;;) {
            auto end = m_pending.find('\n');
            if (end != std::string::npos) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                if (line.ends_with('\r'))
                    line.pop_back();
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd entry { m_descriptor, POLLIN, 0 };
            if (left <= 0 || platform::linux_files::retryingInterrupts([&] { return poll(&entry, 1, static_cast<int>(left)); }) <= 0)
                return std::nullopt;
            char buffer[4096];
            auto count = platform::linux_files::readRetryingInterrupts(m_descriptor, buffer, sizeof buffer);
            if (count <= 0)
                return std::nullopt;
            m_pending.append(buffer, static_cast<std::size_t>(count));
        }
    }

private:
    int m_descriptor;
    std::string m_pending;
};

class Asking {
public:
    Asking(std::string command, PeerOwnerLookup& owners)
        : m_command(std::move(command))
        , m_owners(owners)
    {
    }

    // Tries the ports in the helper's order; the first listener of ours that
    // answers wins.
    int run()
    {
        for (int port = helper_ports::kFirst; port <= helper_ports::kLast; ++port) {
            if (auto status = askAt(static_cast<std::uint16_t>(port)))
                return *status;
        }
        std::fprintf(stderr, "ferrowind-ask: no Ferrowind Helper of %s answers on 127.0.0.1 ports %d..%d\n",
            userText(m_self).c_str(), helper_ports::kFirst, helper_ports::kLast);
        return kNoHelper;
    }

private:
    // Whether `owner` is the calling user, saying why not when it is not.
    bool belongsToUs(const PeerSocketLookup& owner, std::uint16_t port, const char* what)
    {
        if (owner.outcome == PeerSocketLookup::Outcome::found && owner.owner == m_self)
            return true;
        if (owner.outcome == PeerSocketLookup::Outcome::found)
            std::fprintf(stderr, "ferrowind-ask: port %u: the %s belongs to %s, not to you; not asked\n", port, what,
                userText(owner.owner).c_str());
        else if (owner.outcome != PeerSocketLookup::Outcome::notFound)
            std::fprintf(stderr, "ferrowind-ask: port %u: cannot tell who owns the %s; not asked\n", port, what);
        return false;
    }

    // The exit status once the command has gone to a helper of ours; nothing
    // when the port holds none, and the next is to be tried.
    std::optional<int> askAt(std::uint16_t port)
    {
        auto listener = m_owners.findListener(port);
        if (listener.outcome == PeerSocketLookup::Outcome::notFound)
            return std::nullopt; // nobody listens there
        if (!belongsToUs(listener, port, "listener"))
            return std::nullopt;
        OwnedDescriptor connection(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        auto helper = loopback(port);
        if (!connection.isValid() || connect(connection.get(), reinterpret_cast<sockaddr*>(&helper), sizeof helper) != 0)
            return std::nullopt;
        const auto deadline = Clock::now() + kAnswerLimit;
        LineReader lines(connection.get());
        // The helper greets only after it has accepted us, so its end of the
        // connection is there to look up once the greeting is in. Looked up
        // again because the listener could have changed hands since.
        if (!lines.next(deadline)) {
            std::fprintf(stderr, "ferrowind-ask: port %u: the helper did not greet\n", port);
            return std::nullopt;
        }
        sockaddr_in ours {};
        socklen_t length = sizeof ours;
        getsockname(connection.get(), reinterpret_cast<sockaddr*>(&ours), &length);
        if (!belongsToUs(m_owners.find(helper, ours), port, "other end of the connection"))
            return std::nullopt;
        auto answer = platform::linux_files::writeAll(connection.get(), m_command + "\n") ? lines.next(deadline) : std::nullopt;
        if (!answer) {
            std::fprintf(stderr, "ferrowind-ask: port %u: the helper gave no answer\n", port);
            return kNoAnswer;
        }
        std::printf("%s\n", answer->c_str());
        return kAnswered;
    }

    const std::string m_command;
    PeerOwnerLookup& m_owners;
    const platform::UserId m_self { platform::processUserId() };
};

// As the man page's synopsis has it.
constexpr const char* kUsageText = "usage: ferrowind-ask COMMAND [PARAMETERS]   (one line, e.g. ferrowind-ask version)\n"
                                   "       ferrowind-ask -h | --help\n";

} // namespace

int main(int argc, char** argv)
{
    // No command of the helper's starts with a dash.
    if (argc > 1 && (std::string_view(argv[1]) == "-h" || std::string_view(argv[1]) == "--help")) {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    // The arguments joined by blanks make the command line, so that a shell
    // user quotes only the texts: ferrowind-ask fileBusy '"/home/u/a b.pdf"'
    std::string command;
    for (int i = 1; i < argc; ++i)
        command += (i > 1 ? " " : "") + std::string(argv[i]);
    if (command.empty() || command.find_first_of("\r\n") != std::string::npos) {
        std::fputs(kUsageText, stderr);
        return kUsage;
    }
    auto owners = PeerOwnerLookup::withProbeSocket();
    if (owners->source() == PeerOwnerLookup::Source::none) {
        std::fprintf(stderr, "ferrowind-ask: this system does not tell who owns a listening port; not asking anyone\n");
        return kNoHelper;
    }
    return Asking(std::move(command), *owners).run();
}
