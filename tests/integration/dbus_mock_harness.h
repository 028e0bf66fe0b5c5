#pragma once

#include "support/child_process.h"
#include "support/temporary_directory.h"

#include <gio/gio.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace harness {

using testing_support::ChildProcess;
using testing_support::Environment;

struct VariantRelease {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using Variant = std::unique_ptr<GVariant, VariantRelease>;

struct ConnectionRelease {
    void operator()(GDBusConnection* connection) const;
};

// A message bus of our own with nothing activatable on it, and a connection
// of the test's to it.
class PrivateBus {
public:
    PrivateBus();

    std::string address() const { return "unix:path=" + (m_directory / "bus"); }

    // Calls a method and returns its reply; throws when the call fails.
    Variant call(const std::string& name, const std::string& path, const std::string& interface,
        const std::string& method, GVariant* parameters = nullptr) const;
    bool waitForOwner(const std::string& name, std::chrono::milliseconds limit) const;

private:
    testing_support::TemporaryDirectory m_directory { "ferrowind-bus" };
    ChildProcess m_daemon;
    std::unique_ptr<GDBusConnection, ConnectionRelease> m_connection;
};

// A python3-dbusmock process on `bus`, ready once it owns `name`. `arguments`
// go to "python3 -m dbusmock" after the bus choice.
class DBusMock {
public:
    enum class Bus { System,
        Session };
    DBusMock(const PrivateBus& bus, Bus kind, const std::string& name, const std::vector<std::string>& arguments);

private:
    ChildProcess m_process;
};

constexpr const char* kMockInterface = "org.freedesktop.DBus.Mock";

// The names of the methods a mock object has logged, in call order.
std::vector<std::string> calledMethods(const PrivateBus& bus, const std::string& name, const std::string& path);

// The inhibitors logind's mock holds, each as "what|who|why|mode".
std::vector<std::string> logindInhibitors(const PrivateBus& systemBus);

} // namespace harness
