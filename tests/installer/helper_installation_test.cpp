// The install and uninstall flows without a window, over stand-in services.
#include "fakes/fake_platform.h"
#include "installer/helper_installation.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace installer {
namespace {

using platform::LoginItem;
using platform::ProcessID;
using Strings = std::vector<std::string>;
using IDs = std::vector<ProcessID>;

// Items are the URLs they start; every open sees the same list.
struct FakeLoginItems final : platform::LoginItemsList {
    explicit FakeLoginItems(Strings& urls)
        : urls(urls)
    {
    }
    std::vector<LoginItem> snapshot() const override { return { urls.begin(), urls.end() }; }
    std::optional<std::string> resolve(const LoginItem& item) const override { return item.reference; }
    std::optional<LoginItem> insertLast(const std::string& url) override { return LoginItem { urls.emplace_back(url) }; }
    bool remove(const LoginItem& item) override { return std::erase(urls, item.reference) > 0; }
    Strings& urls;
};

struct FakeTermination final : platform::ProcessTermination {
    void forceTerminate(ProcessID process) override { ended.push_back(process); }
    bool waitUntilEnded(ProcessID process, std::chrono::milliseconds) override
    {
        waited.push_back(process);
        return true;
    }
    IDs ended, waited;
};

struct FlowCase {
    const char* name;
    Flow flow;
    bool hasPlaces, registered, loginItemsOpen, copyPlaced, succeeded;
    IDs ended;
    bool started;
    int entriesAfter;
};

// 11 and 12 are helpers (run from two copies); 13 differs only in case.
const std::vector<FlowCase> kFlowCases = {
    { "install over a registered helper", Flow::Install, true, true, true, true, true, { 11, 12 }, true, 1 },
    { "install beside an unregistered helper", Flow::Install, true, false, true, true, true, {}, true, 1 },
    { "install whose copy fails", Flow::Install, true, true, true, false, false, { 11, 12 }, false, 0 },
    { "install without login items", Flow::Install, true, false, false, true, false, {}, false, 0 },
    { "install without a data folder", Flow::Install, false, true, true, true, false, {}, false, 1 },
    { "uninstall of a registered helper", Flow::Uninstall, true, true, true, true, true, { 11, 12 }, false, 0 },
    { "uninstall without an entry", Flow::Uninstall, true, false, true, true, false, {}, false, 0 },
    { "uninstall without a data folder", Flow::Uninstall, false, true, true, true, false, {}, false, 1 },
};

TEST(HelperInstallation, FlowsActOnEntriesHelpersAndFolder)
{
    for (const auto& row : kFlowCases) {
        SCOPED_TRACE(row.name);
        platform::testing::TemporaryDirectory scratch;
        const HelperPlaces places { (scratch.path() / "Helper").string(), (scratch.path() / "Helper/H.app").string() };
        std::filesystem::create_directories(places.installedHelper);
        const auto url = platform::fileURLForPath(places.installedHelper);
        Strings urls { "file:///other.app" };
        if (row.registered)
            urls.push_back(url);
        FakeRunningApplications running;
        running.applications = { { "H", 11, "com.Ferrowind.Ferrowind-Helper" },
            { "H", 12, "com.Ferrowind.Ferrowind-Helper" },
            { "H", 13, "com.ferrowind.ferrowind-helper" } };
        FakeProcessLauncher launcher;
        FakeTermination termination;
        const auto open = [&]() -> std::unique_ptr<platform::LoginItemsList> {
            return row.loginItemsOpen ? std::make_unique<FakeLoginItems>(urls) : nullptr;
        };
        const auto place = [&](const std::string&, const std::string&) { return row.copyPlaced; };
        Strings extensionEvents;
        const platform::DesktopExtensionRegistration extension {
            [&](const std::string& bundle) { return extensionEvents.emplace_back("install " + bundle), true; },
            [&] { return extensionEvents.emplace_back("remove"), true; }
        };
        HelperInstallation installation({ running, launcher, termination, open, place, extension }, "/payload.app");

        const auto given = row.hasPlaces ? std::optional(places) : std::nullopt;
        const auto result = row.flow == Flow::Install ? installation.install(given) : installation.uninstall(given);
        EXPECT_EQ(result, (FlowResult { row.flow, row.succeeded }));
        EXPECT_EQ(termination.ended, row.ended);
        EXPECT_EQ(termination.waited, row.started ? row.ended : IDs {});
        EXPECT_EQ(launcher.opened(), row.started ? Strings { places.installedHelper } : Strings {});
        EXPECT_EQ(std::count(urls.begin(), urls.end(), url), row.entriesAfter);
        EXPECT_EQ(urls.front(), "file:///other.app");
        EXPECT_EQ(std::filesystem::exists(places.installFolder), row.flow == Flow::Install || !row.hasPlaces);
        // The desktop extension comes with the installed helper and goes
        // with every uninstall, registered helper or not.
        const auto expectedEvents = row.flow == Flow::Uninstall ? Strings { "remove" }
            : row.started                                       ? Strings { "install " + places.installedHelper }
                                                                : Strings {};
        EXPECT_EQ(extensionEvents, expectedEvents);
    }
}

} // namespace
} // namespace installer
