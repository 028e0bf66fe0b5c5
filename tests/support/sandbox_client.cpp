// A client of the helper that runs inside a sandbox with nothing but itself
// (statically linked) and tries the ways an application might hide from the
// helper who holds its connection:
//
//   sandbox_client HOW PORT REPLY_FILE
//
// HOW: plain (connects and asks), in-flight (sends the socket to itself in
// a message and closes its own copy while the helper looks), own-table (a
// thread with a descriptor table of its own connects), leader-exits (the
// main thread has exited when another connects). Writes what came back,
// the welcome line and the answer to `version`, to REPLY_FILE; nothing when
// the helper closed the connection first.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

int port = 0;
const char* replyFile = nullptr;
volatile int finished = 0;

void pause(long milliseconds)
{
    timespec time { milliseconds / 1000, (milliseconds % 1000) * 1000000 };
    nanosleep(&time, nullptr);
}

int connected()
{
    const int connection = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    return connection;
}

void writeAll(int descriptor, const char* bytes, std::size_t length)
{
    while (length > 0) {
        const auto count = write(descriptor, bytes, length);
        if (count <= 0)
            return;
        bytes += count;
        length -= static_cast<std::size_t>(count);
    }
}

// Reads until two lines have come, the helper closes, or 3 s pass.
void askVersion(int connection)
{
    char reply[512];
    std::size_t held = 0;
    int lines = 0;
    bool asked = false;
    while (lines < 2 && held < sizeof reply) {
        pollfd ready { connection, POLLIN, 0 };
        if (poll(&ready, 1, 3000) <= 0)
            break;
        const auto count = read(connection, reply + held, sizeof reply - held);
        if (count <= 0)
            break;
        for (auto i = held; i < held + static_cast<std::size_t>(count); ++i)
            lines += reply[i] == '\n';
        held += static_cast<std::size_t>(count);
        if (lines >= 1 && !asked) {
            asked = true;
            writeAll(connection, "version\n", 8);
        }
    }
    const int file = open(replyFile, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    writeAll(file, reply, held);
    close(file);
}

// A one-byte message with room for one descriptor beside it.
struct DescriptorMessage {
    char byte { 0 };
    iovec data { &byte, 1 };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
    msghdr message {};

    DescriptorMessage()
    {
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    DescriptorMessage(const DescriptorMessage&) = delete;
};

void passToItself(int channel, int descriptor)
{
    DescriptorMessage sent;
    cmsghdr* header = CMSG_FIRSTHDR(&sent.message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &descriptor, sizeof(int));
    sendmsg(channel, &sent.message, 0);
}

int takeBack(int channel)
{
    DescriptorMessage received;
    if (recvmsg(channel, &received.message, 0) != 1 || !CMSG_FIRSTHDR(&received.message))
        return -1;
    int descriptor = -1;
    std::memcpy(&descriptor, CMSG_DATA(CMSG_FIRSTHDR(&received.message)), sizeof(int));
    return descriptor;
}

void inFlight()
{
    int channel[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, channel);
    const int connection = connected();
    passToItself(channel[0], connection);
    close(connection);
    // The helper looks while nobody holds it.
    pause(300);
    askVersion(takeBack(channel[1]));
}

int askFromThread(void*)
{
    askVersion(connected());
    finished = 1;
    return 0;
}

// A thread of this process, sharing its memory but not its descriptors.
void fromThreadWithOwnTable()
{
    constexpr std::size_t kStack = 256 * 1024;
    auto* stack = static_cast<char*>(std::malloc(kStack));
    clone(askFromThread, stack + kStack, CLONE_VM | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM, nullptr);
    while (!finished)
        pause(10);
}

void* askOnceLeaderHasExited(void*)
{
    pause(200);
    askVersion(connected());
    syscall(SYS_exit_group, 0);
    return nullptr;
}

void afterLeaderExits()
{
    pthread_t thread;
    pthread_create(&thread, nullptr, askOnceLeaderHasExited, nullptr);
    syscall(SYS_exit, 0); // this thread only
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    port = std::atoi(argv[2]);
    replyFile = argv[3];
    const char* how = argv[1];
    if (!std::strcmp(how, "plain"))
        askVersion(connected());
    else if (!std::strcmp(how, "in-flight"))
        inFlight();
    else if (!std::strcmp(how, "own-table"))
        fromThreadWithOwnTable();
    else if (!std::strcmp(how, "leader-exits"))
        afterLeaderExits();
    else
        return 2;
    return 0;
}
