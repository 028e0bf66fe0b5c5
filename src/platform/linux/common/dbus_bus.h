#pragma once

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include "platform/linux/common/gobject_ptr.h"

#include <chrono>
#include <memory>

namespace platform::linux_dbus {

// Every connection attempt and every call ends within this bound, so a hung
// service answers as a failure instead of holding the caller.
constexpr std::chrono::milliseconds kBound { 3000 };

using ConnectionPointer = linux_gio::GObjectPtr<GDBusConnection>;
using FDListPointer = linux_gio::GObjectPtr<GUnixFDList>;
using VariantPointer = linux_gio::GVariantPtr;

enum class CallOutcome { Replied,
    Unreachable,
    TimedOut,
    Refused };

struct Reply {
    CallOutcome outcome { CallOutcome::Unreachable };
    VariantPointer body;
    FDListPointer descriptors;
};

struct MethodAddress {
    const char* busName;
    const char* objectPath;
    const char* interface;
    const char* method;
};

// A private connection to the system or the session bus. It stays open
// between calls, because some services tie what they grant to the caller's
// connection, and is opened again once the bus has closed it. Not shared
// with anyone else, so a bus that goes away never ends the process.
class BusConnection {
public:
    explicit BusConnection(GBusType type)
        : m_type(type)
    {
    }

    // Calls `address` with `parameters` (a floating or owned tuple, consumed)
    // and expects a reply of `replyType`, within `limit` (connecting
    // included), at most kBound.
    Reply call(const MethodAddress& address, GVariant* parameters, const GVariantType* replyType,
        std::chrono::milliseconds limit = kBound);

private:
    GDBusConnection* connection(std::chrono::milliseconds limit);
    void forget();

    GBusType m_type;
    ConnectionPointer m_connection;
};

} // namespace platform::linux_dbus
