#pragma once

#include <gio/gio.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace harness {

using Environment = std::vector<std::pair<std::string, std::string>>;

struct VariantRelease {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using Variant = std::unique_ptr<GVariant, VariantRelease>;

// A child process ended (SIGTERM, then reaped) when this goes.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& arguments, const Environment& environment);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

private:
    pid_t m_pid { -1 };
};

// A message bus of our own with nothing activatable on it, and a connection
// of the test's to it.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    std::string address() const { return "unix:path=" + (m_directory / "bus").string(); }

    // Calls a method and returns its reply; throws when the call fails.
    Variant call(const std::string& name, const std::string& path, const std::string& interface,
        const std::string& method, GVariant* parameters = nullptr) const;
    bool waitForOwner(const std::string& name, std::chrono::milliseconds limit) const;

private:
    std::filesystem::path m_directory;
    std::unique_ptr<ChildProcess> m_daemon;
    GDBusConnection* m_connection { nullptr };
};

// A python3-dbusmock process on `bus`, ready once it owns `name`. `arguments`
// go to "python3 -m dbusmock" after the bus choice.
class DBusMock {
public:
    enum class Bus { System, Session };
    DBusMock(const PrivateBus& bus, Bus kind, const std::string& name, const std::vector<std::string>& arguments);

private:
    std::unique_ptr<ChildProcess> m_process;
};

constexpr const char* kMockInterface = "org.freedesktop.DBus.Mock";

// The names of the methods a mock object has logged, in call order.
std::vector<std::string> calledMethods(const PrivateBus& bus, const std::string& name, const std::string& path);

} // namespace harness
