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
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

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

void report(const std::string& text)
{
    const int file = open(replyFile, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    writeAll(file, text.data(), text.size());
    close(file);
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
    report(std::string(reply, held));
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

void sendWithDescriptor(int channel, const std::string& bytes, int descriptor)
{
    DescriptorMessage sent;
    sent.data = { const_cast<char*>(bytes.data()), bytes.size() };
    cmsghdr* header = CMSG_FIRSTHDR(&sent.message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &descriptor, sizeof(int));
    sendmsg(channel, &sent.message, 0);
}

void passToItself(int channel, int descriptor) { sendWithDescriptor(channel, std::string(1, '\0'), descriptor); }

int takeBack(int channel)
{
    DescriptorMessage received;
    if (recvmsg(channel, &received.message, 0) != 1 || !CMSG_FIRSTHDR(&received.message))
        return -1;
    int descriptor = -1;
    std::memcpy(&descriptor, CMSG_DATA(CMSG_FIRSTHDR(&received.message)), sizeof(int));
    return descriptor;
}

// Just enough of the D-Bus wire protocol (little-endian) to call a method
// with a descriptor and to claim a name.
class BusMessage {
public:
    BusMessage(unsigned serial, const char* destination, const char* path, const char* interface, const char* member, const char* signature,
        unsigned descriptors)
    {
        m_bytes = std::string("l\1\0\1", 4);
        number(0); // the body's length, set once known
        number(serial);
        number(0); // the header fields' length
        const auto fieldsStart = m_bytes.size();
        field(1, "o", path);
        field(2, "s", interface);
        field(3, "s", member);
        field(6, "s", destination);
        if (*signature)
            field(8, "g", signature);
        if (descriptors) {
            field(9, "u", nullptr);
            number(descriptors);
        }
        setNumber(12, static_cast<unsigned>(m_bytes.size() - fieldsStart));
        align(8);
        m_bodyStart = m_bytes.size();
    }
    void number(unsigned value)
    {
        align(4);
        m_bytes.append(reinterpret_cast<const char*>(&value), 4);
    }
    void text(const char* value)
    {
        number(static_cast<unsigned>(std::strlen(value)));
        m_bytes.append(value, std::strlen(value) + 1);
    }
    const std::string& bytes()
    {
        setNumber(4, static_cast<unsigned>(m_bytes.size() - m_bodyStart));
        return m_bytes;
    }

private:
    void align(std::size_t to) { m_bytes.resize((m_bytes.size() + to - 1) / to * to, '\0'); }
    void setNumber(std::size_t at, unsigned value) { std::memcpy(m_bytes.data() + at, &value, 4); }
    void field(char code, const char* type, const char* value)
    {
        align(8);
        m_bytes += code;
        m_bytes += '\1';
        m_bytes += type;
        m_bytes += '\0';
        if (*type == 'g') {
            m_bytes += static_cast<char>(std::strlen(value));
            m_bytes.append(value, std::strlen(value) + 1);
        } else if (value) {
            text(value);
        }
    }
    std::string m_bytes;
    std::size_t m_bodyStart { 0 };
};

bool readLineFrom(int connection, const char* expected)
{
    char line[256];
    std::size_t held = 0;
    while (held < sizeof line - 1 && read(connection, line + held, 1) == 1 && line[held] != '\n')
        ++held;
    return std::strncmp(line, expected, std::strlen(expected)) == 0;
}

// A connection to the session bus, authenticated, descriptors agreed on,
// and said hello to.
int busConnection()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || std::strncmp(address, "unix:path=", 10) != 0)
        return -1;
    sockaddr_un where {};
    where.sun_family = AF_UNIX;
    std::strncpy(where.sun_path, address + 10, sizeof where.sun_path - 1);
    const int bus = socket(AF_UNIX, SOCK_STREAM, 0);
    if (connect(bus, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0)
        return -1;
    std::string hexUid;
    for (char digit : std::to_string(getuid())) {
        const char* hex = "0123456789abcdef";
        hexUid += hex[digit >> 4];
        hexUid += hex[digit & 15];
    }
    const auto auth = std::string(1, '\0') + "AUTH EXTERNAL " + hexUid + "\r\n";
    writeAll(bus, auth.data(), auth.size());
    if (!readLineFrom(bus, "OK"))
        return -1;
    writeAll(bus, "NEGOTIATE_UNIX_FD\r\n", 19);
    if (!readLineFrom(bus, "AGREE_UNIX_FD"))
        return -1;
    writeAll(bus, "BEGIN\r\n", 7);
    BusMessage hello(1, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello", "", 0);
    writeAll(bus, hello.bytes().data(), hello.bytes().size());
    // Its answer, before anything else is sent.
    pollfd answered { bus, POLLIN, 0 };
    char bytes[4096];
    if (poll(&answered, 1, 10000) <= 0 || read(bus, bytes, sizeof bytes) <= 0)
        return -1;
    return bus;
}

// The first descriptor that comes in a message on the bus within 10 s.
int descriptorFrom(int bus)
{
    for (int tries = 0; tries < 100; ++tries) {
        pollfd ready { bus, POLLIN, 0 };
        if (poll(&ready, 1, 10000) <= 0)
            return -1;
        char bytes[4096];
        DescriptorMessage received;
        received.data = { bytes, sizeof bytes };
        if (recvmsg(bus, &received.message, 0) <= 0)
            return -1;
        if (const cmsghdr* header = CMSG_FIRSTHDR(&received.message); header && header->cmsg_type == SCM_RIGHTS) {
            int descriptor = -1;
            std::memcpy(&descriptor, CMSG_DATA(header), sizeof(int));
            return descriptor;
        }
    }
    return -1;
}

// The bus holds a call to a name it is still starting, descriptors and
// all, until the name is claimed: by then the helper has looked.
void relayThroughBus(bool keepCopy)
{
    const char* id = std::getenv("FLATPAK_ID");
    const int bus = busConnection();
    if (!id || bus < 0)
        return report("no bus\n");
    if (keepCopy)
        prctl(PR_SET_DUMPABLE, 0);
    const int connection = connected();
    BusMessage call(2, id, "/", id, "Take", "h", 1);
    call.number(0);
    sendWithDescriptor(bus, call.bytes(), connection);
    if (!keepCopy)
        close(connection);
    const std::string relayed = std::string(replyFile) + ".relayed";
    close(open(relayed.c_str(), O_WRONLY | O_CREAT, 0600));
    pause(1500);
    const int claimant = busConnection();
    BusMessage claim(2, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName", "su", 0);
    claim.text(id);
    claim.number(4); // DBUS_NAME_FLAG_DO_NOT_QUEUE
    writeAll(claimant, claim.bytes().data(), claim.bytes().size());
    const int taken = descriptorFrom(claimant);
    if (taken < 0)
        return report("not taken back\n");
    askVersion(taken);
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

sockaddr_un unixAddress(const std::string& path)
{
    sockaddr_un where {};
    where.sun_family = AF_UNIX;
    std::strncpy(where.sun_path, path.c_str(), sizeof where.sun_path - 1);
    return where;
}

void relayOut()
{
    const auto where = unixAddress(std::string(replyFile) + ".sock");
    const int channel = socket(AF_UNIX, SOCK_STREAM, 0);
    if (connect(channel, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0)
        passToItself(channel, connected());
}

void relayIn()
{
    const auto where = unixAddress(std::string(replyFile) + ".sock");
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    if (bind(listener, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 || listen(listener, 1) != 0)
        return report("cannot listen\n");
    const int connection = takeBack(accept(listener, nullptr, nullptr));
    const std::string go = std::string(replyFile) + ".go";
    for (int waited = 0; waited < 400 && access(go.c_str(), F_OK) != 0; ++waited)
        pause(50);
    askVersion(connection);
}

// Makes every look into this sandbox as costly as it can be, again and again.
void flood(int processes, int seconds)
{
    rlimit descriptors {};
    getrlimit(RLIMIT_NOFILE, &descriptors);
    descriptors.rlim_cur = descriptors.rlim_max;
    setrlimit(RLIMIT_NOFILE, &descriptors);
    for (int process = 0; process < processes; ++process) {
        if (fork() == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (int held = 0; held < 2000 && open("/dev/null", O_RDONLY) >= 0; ++held) {
            }
            for (;;)
                pause(1000);
        }
    }
    timespec start {}, now {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    do {
        int connections[32];
        for (int& connection : connections)
            connection = connected();
        for (int connection : connections) {
            pollfd closed { connection, POLLIN, 0 };
            poll(&closed, 1, 200);
            close(connection);
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
    } while (now.tv_sec - start.tv_sec < seconds);
    report("flooded\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 6)
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
    else if (!std::strcmp(how, "bus-relay"))
        relayThroughBus(false);
    else if (!std::strcmp(how, "bus-relay-undumpable"))
        relayThroughBus(true);
    else if (!std::strcmp(how, "relay-out"))
        relayOut();
    else if (!std::strcmp(how, "relay-in"))
        relayIn();
    else if (!std::strcmp(how, "flood"))
        flood(argc == 6 ? std::atoi(argv[4]) : 50, argc == 6 ? std::atoi(argv[5]) : 8);
    else
        return 2;
    return 0;
}
