#include "installer/login_items/login_item_registration.h"
#include "support/scoped_environment.h"
#include "unit/platform/platform_test_support.h"

#include <glib.h>

#include <gtest/gtest.h>

#include <set>

namespace {

namespace fs = std::filesystem;
using platform::testing::makeBundle;
using testing_support::ScopedEnvironment;

// The real autostart list in a scratch config home, with real bundles.
class LoginItemsOnAutostart : public ::testing::Test {
protected:
    std::string autostart() const { return configHome + "/autostart"; }
    std::set<std::string> entryNames() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(autostart()))
            names.insert(entry.path().filename().string());
        return names;
    }
    void writeEntry(const std::string& name, const std::string& text) const
    {
        platform::testing::writeTextFile(autostart() + "/" + name, "[Desktop Entry]\n" + text);
    }
    bool registered(const std::string& url) { return loginItemRegisteredForURL(platform::openLoginItems().get(), url); }
    bool enable(const std::string& url) { return enableLoginItemWithURL(platform::openLoginItems().get(), url); }
    bool disable(const std::string& url) { return disableLoginItemWithURL(platform::openLoginItems().get(), url); }

    platform::testing::TemporaryDirectory folder;
    std::string configHome = folder / "config";
    ScopedEnvironment xdgConfigHome { "XDG_CONFIG_HOME", configHome.c_str() };
    std::string helper = makeBundle(folder.path(), "Ferrowind Helper", { { "CFBundleExecutable", "Ferrowind Helper" } });
    std::string helperURL = platform::fileURLForPath(helper);
};

TEST_F(LoginItemsOnAutostart, EmptyListOrOtherProgramsEntriesMatchNothing)
{
    EXPECT_FALSE(registered(helperURL));
    EXPECT_FALSE(disable(helperURL));
    EXPECT_TRUE(fs::is_directory(autostart())) << "the folder is made on first use";

    writeEntry("other.desktop", "Type=Application\nName=O\nExec=o\n");
    platform::testing::writeTextFile(autostart() + "/broken.desktop", "not a key file");
    EXPECT_FALSE(registered(helperURL));
    EXPECT_FALSE(disable(helperURL));
    EXPECT_EQ(entryNames(), (std::set<std::string> { "broken.desktop", "other.desktop" }));
}

TEST_F(LoginItemsOnAutostart, AddingTwiceGivesTwoEntriesAndRemovalTakesBoth)
{
    const auto other = makeBundle(folder.path(), "Other", {});
    ASSERT_TRUE(enable(helperURL));
    ASSERT_TRUE(enable(helperURL));
    ASSERT_TRUE(enable(platform::fileURLForPath(other)));
    EXPECT_EQ(entryNames().size(), 3u);
    EXPECT_EQ(helperURL, "file://" + folder.path().string() + "/Ferrowind%20Helper.app");

    EXPECT_TRUE(registered(helperURL));
    EXPECT_TRUE(disable(helperURL));
    EXPECT_FALSE(registered(helperURL));
    EXPECT_EQ(entryNames(), std::set<std::string> { "other-1.desktop" });
}

TEST_F(LoginItemsOnAutostart, EntryOfADeletedBundleIsNeitherReportedNorRemoved)
{
    ASSERT_TRUE(enable(helperURL));
    fs::remove_all(helper);

    EXPECT_FALSE(registered(helperURL));
    EXPECT_FALSE(disable(helperURL));
    EXPECT_EQ(entryNames().size(), 1u);
}

TEST_F(LoginItemsOnAutostart, OnlyTheExactUrlTextMatches)
{
    const auto link = folder / "Link.app";
    fs::create_directory_symlink(helper, link);
    ASSERT_TRUE(enable(helperURL));
    ASSERT_TRUE(enable(platform::fileURLForPath(link)));

    for (const auto& url : { platform::fileURLForPath(folder / "ferrowind helper.app"), helperURL + "/",
             "file://" + folder.path().string() + "/Ferrowind Helper.app" }) {
        EXPECT_FALSE(registered(url)) << url;
        EXPECT_FALSE(disable(url)) << url;
    }
    EXPECT_TRUE(disable(platform::fileURLForPath(link)));
    EXPECT_TRUE(registered(helperURL)) << "removing the link's entry left the bundle's own";

    // Written by another tool: the same bundle, spelt differently.
    const auto spelt = "file://localhost" + helperURL.substr(7);
    writeEntry("by-hand.desktop", "X-Ferrowind-Bundle-URL=" + spelt);
    EXPECT_TRUE(disable(spelt));
    EXPECT_EQ(entryNames(), std::set<std::string> { "ferrowind-helper-1.desktop" });
}

TEST_F(LoginItemsOnAutostart, EntryIsAValidDesktopEntryStartingTheBundleExecutable)
{
    const auto plain = makeBundle(folder.path(), "Odd $`\"\\% 100%", {});
    const std::string oddEscaped = "Odd \\$\\`\\\"\\\\%% 100%%";
    const auto helperExecutable = helper + "/Contents/MacOS/Ferrowind Helper";
    for (const auto& [bundle, executable, quoted] :
        { std::tuple { helper, helperExecutable, helperExecutable },
            { plain, plain + "/Contents/MacOS/Odd $`\"\\% 100%",
                folder / (oddEscaped + ".app/Contents/MacOS/" + oddEscaped) } }) {
        SCOPED_TRACE(bundle);
        auto list = platform::openLoginItems();
        const auto item = list->insertLast(platform::fileURLForPath(bundle));
        ASSERT_TRUE(item);

        g_autoptr(GKeyFile) entry = g_key_file_new();
        ASSERT_TRUE(g_key_file_load_from_file(entry, item->reference.c_str(), G_KEY_FILE_NONE, nullptr));
        const char* group = G_KEY_FILE_DESKTOP_GROUP;
        g_autofree char* type = g_key_file_get_string(entry, group, "Type", nullptr);
        EXPECT_STREQ(type, "Application");
        EXPECT_TRUE(g_key_file_get_boolean(entry, group, "X-GNOME-Autostart-enabled", nullptr));
        EXPECT_TRUE(g_key_file_get_boolean(entry, group, "NoDisplay", nullptr));

        g_autofree char* exec = g_key_file_get_string(entry, group, "Exec", nullptr);
        ASSERT_TRUE(exec);
        EXPECT_EQ(exec, "\"" + quoted + "\"");
        std::string unfielded = exec;
        for (auto at = unfielded.find("%%"); at != std::string::npos; at = unfielded.find("%%", at + 1))
            unfielded.erase(at, 1);
        g_auto(GStrv) argv = nullptr;
        ASSERT_TRUE(g_shell_parse_argv(unfielded.c_str(), nullptr, &argv, nullptr)) << exec;
        EXPECT_EQ(std::vector<std::string>(argv, argv + g_strv_length(argv)), std::vector<std::string> { executable });
    }

    g_autofree char* validator = g_find_program_in_path("desktop-file-validate");
    if (!validator)
        GTEST_SKIP() << "desktop-file-validate is not installed";
    for (const auto& name : entryNames()) {
        const char* argv[] = { validator, name.c_str(), nullptr };
        g_autofree char* output = nullptr;
        g_autofree char* errors = nullptr;
        int status = -1;
        ASSERT_TRUE(g_spawn_sync(autostart().c_str(), const_cast<char**>(argv), nullptr, G_SPAWN_DEFAULT, nullptr,
            nullptr, &output, &errors, &status, nullptr));
        EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr) && !*output && !*errors) << output << errors;
    }
}

TEST_F(LoginItemsOnAutostart, FolderComesFromTheBaseDirectoryRules)
{
    const auto deeper = folder / "missing/config";
    {
        ScopedEnvironment nested("XDG_CONFIG_HOME", deeper.c_str());
        EXPECT_TRUE(enable(helperURL));
    }
    EXPECT_EQ(fs::directory_iterator(deeper + "/autostart")->path().filename(), "ferrowind-helper-1.desktop");

    ScopedEnvironment home("HOME", (folder / "home").c_str());
    for (const auto& ignored : std::vector<std::optional<std::string>> { std::nullopt, "", "relative/config" }) {
        ScopedEnvironment nested("XDG_CONFIG_HOME", ignored);
        EXPECT_TRUE(enable(helperURL));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "home/.config/autostart"), {}), 3);
}

TEST_F(LoginItemsOnAutostart, ListThatCannotBeObtainedChangesNothing)
{
    platform::testing::writeTextFile(configHome, "a file, not a folder");

    EXPECT_EQ(platform::openLoginItems(), nullptr);
    EXPECT_FALSE(enable(helperURL));
    EXPECT_FALSE(registered(helperURL));
    EXPECT_FALSE(disable(helperURL));
    EXPECT_EQ(platform::testing::readTextFile(configHome), "a file, not a folder");
}

// Cases the real list cannot be made to produce.
class FakeLoginItems final : public platform::LoginItemsList {
public:
    std::vector<platform::LoginItem> snapshot() const override
    {
        ++snapshots;
        std::vector<platform::LoginItem> items;
        for (const auto& [reference, location] : locations)
            items.push_back({ reference });
        return items;
    }
    std::optional<std::string> resolve(const platform::LoginItem& item) const override
    {
        for (const auto& [reference, location] : locations)
            if (reference == item.reference)
                return location;
        return std::nullopt;
    }
    std::optional<platform::LoginItem> insertLast(const std::string& url) override
    {
        inserted.push_back(url);
        if (insertionFails)
            return std::nullopt;
        return platform::LoginItem { url };
    }
    bool remove(const platform::LoginItem& item) override
    {
        removed.push_back(item.reference);
        return false;
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> locations;
    bool insertionFails { false };
    mutable int snapshots { 0 };
    std::vector<std::string> inserted, removed;
};

TEST(LoginItemRegistration, NoListMeansFalseForEveryOperation)
{
    EXPECT_FALSE(loginItemRegisteredForURL(nullptr, "file:///a.app"));
    EXPECT_FALSE(enableLoginItemWithURL(nullptr, "file:///a.app"));
    EXPECT_FALSE(disableLoginItemWithURL(nullptr, "file:///a.app"));
}

TEST(LoginItemRegistration, RemovalCountsEveryMatchEvenWhenRemovingFails)
{
    FakeLoginItems list;
    list.locations = { { "a", "file:///a.app" }, { "gone", std::nullopt }, { "b", "file:///b.app" }, { "a2", "file:///a.app" } };

    EXPECT_TRUE(disableLoginItemWithURL(&list, "file:///a.app"));
    EXPECT_EQ(list.removed, (std::vector<std::string> { "a", "a2" }));
}

TEST(LoginItemRegistration, AddingInsertsWithoutLookingAndReportsTheInsertion)
{
    FakeLoginItems list;
    list.locations = { { "a", "file:///a.app" } };
    EXPECT_TRUE(enableLoginItemWithURL(&list, "file:///a.app"));
    list.insertionFails = true;
    EXPECT_FALSE(enableLoginItemWithURL(&list, "file:///a.app"));
    EXPECT_EQ(list.inserted.size(), 2u);
    EXPECT_EQ(list.snapshots, 0);
}

} // namespace
