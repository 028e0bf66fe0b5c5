#include "platform/linux/windows/i3_ipc.h"

#include "platform/linux/common/gobject_ptr.h"
#include "platform/linux/common/owned_descriptor.h"

#include <json-glib/json-glib.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace platform::i3 {

namespace {

using linux_files::OwnedDescriptor;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kMagic = "i3-ipc";
constexpr std::uint32_t kRunCommand = 0;
constexpr std::size_t kHeaderSize = kMagic.size() + 2 * sizeof(std::uint32_t);
// A command's reply is one small object per command; anything longer is
// not a reply of ours.
constexpr std::uint32_t kLongestReply = 1 << 16;

// Waits until `descriptor` is ready for `events`, no later than `deadline`.
bool readyBy(int descriptor, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd entry { descriptor, events, 0 };
        const int ready = poll(&entry, 1, static_cast<int>(left));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

OwnedDescriptor connectBy(const std::string& socketPath, Clock::time_point deadline)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return OwnedDescriptor();
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    OwnedDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.isValid())
        return socket;
    if (connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return socket;
    int error = 0;
    socklen_t length = sizeof error;
    if (errno != EINPROGRESS && errno != EAGAIN)
        return OwnedDescriptor();
    if (!readyBy(socket.get(), POLLOUT, deadline) || getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        return OwnedDescriptor();
    return socket;
}

bool sendAllBy(int socket, std::string_view bytes, Clock::time_point deadline)
{
    while (!bytes.empty()) {
        const auto sent = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if ((sent < 0 && errno != EAGAIN && errno != EINTR) || !readyBy(socket, POLLOUT, deadline))
            return false;
    }
    return true;
}

bool receiveAllBy(int socket, char* into, std::size_t length, Clock::time_point deadline)
{
    while (length > 0) {
        const auto received = recv(socket, into, length, 0);
        if (received > 0) {
            into += received;
            length -= static_cast<std::size_t>(received);
            continue;
        }
        if (received == 0 || (errno != EAGAIN && errno != EINTR) || !readyBy(socket, POLLIN, deadline))
            return false;
    }
    return true;
}

std::string message(std::uint32_t type, std::string_view payload)
{
    std::string bytes(kMagic);
    const auto length = static_cast<std::uint32_t>(payload.size());
    bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
    bytes.append(reinterpret_cast<const char*>(&type), sizeof type);
    bytes.append(payload);
    return bytes;
}

// The reply's payload to one message, or nothing.
std::optional<std::string> exchange(const std::string& socketPath, std::uint32_t type, std::string_view payload,
    std::chrono::milliseconds bound)
{
    const auto deadline = Clock::now() + bound;
    auto socket = connectBy(socketPath, deadline);
    if (!socket.isValid() || !sendAllBy(socket.get(), message(type, payload), deadline))
        return std::nullopt;
    std::array<char, kHeaderSize> header {};
    if (!receiveAllBy(socket.get(), header.data(), header.size(), deadline) || std::string_view(header.data(), kMagic.size()) != kMagic)
        return std::nullopt;
    std::uint32_t length = 0;
    std::uint32_t replyType = 0;
    std::memcpy(&length, header.data() + kMagic.size(), sizeof length);
    std::memcpy(&replyType, header.data() + kMagic.size() + sizeof length, sizeof replyType);
    if (replyType != type || length > kLongestReply)
        return std::nullopt;
    std::string reply(length, '\0');
    if (!receiveAllBy(socket.get(), reply.data(), reply.size(), deadline))
        return std::nullopt;
    return reply;
}

// A command's reply holds an object per command run: {"success": true} or
// the error ("No matching node." when no window matched).
bool anyCommandSucceeded(const std::string& reply)
{
    linux_gio::GObjectPtr<JsonParser> parser(json_parser_new());
    if (!json_parser_load_from_data(parser.get(), reply.data(), static_cast<gssize>(reply.size()), nullptr))
        return false;
    JsonNode* root = json_parser_get_root(parser.get());
    if (!root || !JSON_NODE_HOLDS_ARRAY(root))
        return false;
    JsonArray* results = json_node_get_array(root);
    for (guint i = 0; i < json_array_get_length(results); ++i) {
        JsonNode* result = json_array_get_element(results, i);
        if (JSON_NODE_HOLDS_OBJECT(result) && json_object_get_boolean_member_with_default(json_node_get_object(result), "success", FALSE))
            return true;
    }
    return false;
}

} // namespace

std::optional<std::string> sessionSocket()
{
    for (const char* variable : { "SWAYSOCK", "I3SOCK" }) {
        const char* path = std::getenv(variable);
        if (path && *path == '/')
            return path;
    }
    return std::nullopt;
}

bool focusWindowsOf(const std::string& socketPath, ProcessID process, std::chrono::milliseconds bound)
{
    const auto reply = exchange(socketPath, kRunCommand, "[pid=" + std::to_string(process) + "] focus", bound);
    return reply && anyCommandSucceeded(*reply);
}

} // namespace platform::i3
