#include "platform/linux/common/dbus_bus.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace platform::linux_dbus {
namespace {

// Shared by the waiting caller and the connection callback: whichever
// finishes last frees it, so a caller that gave up leaves nothing dangling.
struct PendingConnection {
    std::atomic<int> owners { 2 };
    bool finished { false };
    GDBusConnection* connection { nullptr };

    void drop()
    {
        if (--owners == 0) {
            if (connection)
                g_object_unref(connection);
            delete this;
        }
    }
};

void onConnected(GObject*, GAsyncResult* result, gpointer data)
{
    auto* pending = static_cast<PendingConnection*>(data);
    pending->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
    pending->finished = true;
    pending->drop();
}

gboolean onGiveUp(gpointer data)
{
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

// Connects within the bound. The handshake runs on GLib's worker threads;
// its final greeting to the bus ignores cancellation, so after the bound we
// stop waiting rather than cancel.
ConnectionPointer connectWithin(const char* address, std::chrono::milliseconds limit)
{
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    auto* pending = new PendingConnection;
    g_dbus_connection_new_for_address(address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
            | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, onConnected, pending);
    bool gaveUp = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>(limit.count()));
    g_source_set_callback(timer, onGiveUp, &gaveUp, nullptr);
    g_source_attach(timer, context);
    while (!pending->finished && !gaveUp)
        g_main_context_iteration(context, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);

    ConnectionPointer connection;
    if (pending->finished)
        connection.reset(std::exchange(pending->connection, nullptr));
    pending->drop();
    return connection;
}

CallOutcome outcomeOf(const GError* error)
{
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT))
        return CallOutcome::TimedOut;
    // Nobody there to ask, as opposed to an answer that says no.
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED)
        || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN)
        || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
        return CallOutcome::Unreachable;
    return CallOutcome::Refused;
}

} // namespace

GDBusConnection* BusConnection::connection(std::chrono::milliseconds limit)
{
    if (m_connection && g_dbus_connection_is_closed(m_connection.get()))
        m_connection.reset();
    if (!m_connection) {
        gchar* address = g_dbus_address_get_for_bus_sync(m_type, nullptr, nullptr);
        if (address)
            m_connection = connectWithin(address, limit);
        g_free(address);
    }
    return m_connection.get();
}

void BusConnection::forget()
{
    if (m_connection)
        g_dbus_connection_close(m_connection.get(), nullptr, nullptr, nullptr);
    m_connection.reset();
}

Reply BusConnection::call(const MethodAddress& address, GVariant* parameters, const GVariantType* replyType,
    std::chrono::milliseconds limit)
{
    VariantPointer ownedParameters(g_variant_ref_sink(parameters));
    const auto bound = std::clamp(limit, std::chrono::milliseconds(1), kBound);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    GDBusConnection* bus = connection(bound);
    if (!bus)
        return { CallOutcome::Unreachable, nullptr, nullptr };
    // What connecting left of the bound, never nothing: GLib takes 0 for
    // its own default.
    const auto left = std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()),
        std::chrono::milliseconds(1));

    GUnixFDList* descriptors = nullptr;
    GError* error = nullptr;
    GVariant* body = g_dbus_connection_call_with_unix_fd_list_sync(bus, address.busName, address.objectPath,
        address.interface, address.method, ownedParameters.get(), replyType, G_DBUS_CALL_FLAGS_NO_AUTO_START,
        static_cast<gint>(left.count()), nullptr, &descriptors, nullptr, &error);
    if (!body) {
        auto outcome = outcomeOf(error);
        g_error_free(error);
        // A late answer may still grant something tied to this connection
        // that we would never know of; leaving the bus ends such a grant.
        if (outcome == CallOutcome::TimedOut)
            forget();
        return { outcome, nullptr, nullptr };
    }
    return { CallOutcome::Replied, VariantPointer(body), FDListPointer(descriptors) };
}

} // namespace platform::linux_dbus
