// Who holds the peer socket of a connection, seen as the helper sees it: a
// process of an ordinary user without privileges (root becomes nobody), so
// that a process that made itself unreadable is unreadable to it too.
#include "platform/linux/connection/peer_owner_lookup.h"
#include "platform/linux_platform.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

using Outcome = platform::ClientLookup::Outcome;

enum class Hiding { none,
    undumpable,
    inFlight,
    // Handed to a process that carries descriptors for others by design.
    busDaemon };

// A program of the bus daemon's name, which holds what it inherits.
std::string busDaemonStandIn;

void connectAndWait(std::uint16_t port, Hiding hiding)
{
    if (hiding == Hiding::undumpable)
        prctl(PR_SET_DUMPABLE, 0);
    int channel[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, channel);
    const int connection = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (hiding == Hiding::inFlight) {
        // In a message to itself, held by no process's table.
        char byte = 0;
        iovec data { &byte, 1 };
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
        msghdr message { nullptr, 0, &data, 1, control, sizeof control, 0 };
        auto* header = CMSG_FIRSTHDR(&message);
        *header = { CMSG_LEN(sizeof(int)), SOL_SOCKET, SCM_RIGHTS };
        std::memcpy(CMSG_DATA(header), &connection, sizeof(int));
        sendmsg(channel[0], &message, 0);
        close(connection);
    }
    if (hiding == Hiding::busDaemon) {
        if (fork() == 0)
            execl(busDaemonStandIn.c_str(), "dbus-daemon", "60", nullptr);
        close(connection);
    }
    pause();
}

// In a child, as the helper would: the outcome of looking up the client of
// one accepted connection.
int lookUpClient(Hiding hiding)
{
    if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0))
        return 100;
    // A change of user leaves a process unreadable; a user's own are not.
    prctl(PR_SET_DUMPABLE, 1);
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0
        || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 101;
    const pid_t client = fork();
    if (client == 0) {
        connectAndWait(ntohs(address.sin_port), hiding);
        _exit(0);
    }
    const int accepted = accept(listener, nullptr, nullptr);
    usleep(100'000); // the client is done hiding
    platform::PeerOwnerLookup owners(listener);
    const auto found = platform::makeClientProcesses()->ofPeerSocket(owners.find(accepted), std::chrono::steady_clock::now() + std::chrono::seconds(2));
    kill(client, SIGKILL);
    return static_cast<int>(found.outcome) + (found.outcome == Outcome::found && found.client.process != client ? 50 : 0);
}

TEST(ClientProcesses, OnlyAHolderSeenAndReadableIsEvidence)
{
    if (getuid() == 0 && !platform::testing::mayBecomeUser(65534))
        GTEST_SKIP() << "root that cannot become nobody reads every process";
    struct Row {
        Hiding hiding;
        Outcome outcome;
    };
    platform::testing::TemporaryDirectory programs;
    std::filesystem::permissions(programs.path(), std::filesystem::perms::all);
    busDaemonStandIn = programs / "dbus-daemon";
    std::filesystem::copy_file("/bin/sleep", busDaemonStandIn);
    for (auto row : { Row { Hiding::none, Outcome::found }, Row { Hiding::undumpable, Outcome::unreadable }, Row { Hiding::inFlight, Outcome::noHolder },
             Row { Hiding::busDaemon, Outcome::noHolder } }) {
        const pid_t child = fork();
        if (child == 0)
            _exit(lookUpClient(row.hiding));
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(row.outcome)) << "hiding " << static_cast<int>(row.hiding);
    }
}

} // namespace
