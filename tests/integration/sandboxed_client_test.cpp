// Clients in real Flatpak sandboxes: every application with network access
// reaches the port, and only the main application, or one the bundle lists,
// is served.
#include "integration/helper_harness.h"
#include "support/flatpak_apps.h"
#include "support/text_files.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <plist/plist.h>

namespace {

using namespace harness;
using testing_support::FlatpakApps;

// Reads the welcome line and the answer to `version`, or nothing when the
// helper closes first, into the application's data folder.
constexpr const char* kAskVersion = "printf 'version\\n' | nc -w 3 127.0.0.1 9483 > \"$XDG_DATA_HOME/reply\"";

void listServedApplications(const std::filesystem::path& infoPlist, const std::vector<std::string>& ids)
{
    const auto xml = platform::testing::readTextFile(infoPlist);
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &root);
    plist_t list = plist_new_array();
    for (const auto& id : ids)
        plist_array_append_item(list, plist_new_string(id.c_str()));
    plist_dict_set_item(root, "FWServedSandboxedApplications", list);
    platform::testing::writePlist(infoPlist.string(), root);
    plist_free(root);
}

class SandboxedClients : public testing::Test, protected HelperSession {
protected:
    void SetUp() override
    {
        if (!m_apps.ready())
            GTEST_SKIP() << "flatpak cannot make an offline runtime here";
    }

    FlatpakApps m_apps;
};

TEST_F(SandboxedClients, OnlyTheMainApplicationAndTheListedOnesAreServed)
{
    listServedApplications(m_bundle.infoPlistPath(), { "org.ferrowind.Beta" });
    start();
    struct Row {
        const char* id;
        bool served;
    };
    for (auto row : { Row { "com.Calderine.Ferrowind3", true }, Row { "org.ferrowind.Beta", true }, Row { "org.example.Game", false } }) {
        SCOPED_TRACE(row.id);
        ASSERT_TRUE(m_apps.install(row.id, kAskVersion));
        ASSERT_TRUE(m_apps.run(row.id));
        const auto reply = platform::testing::readTextFile(m_apps.dataFolder(row.id) / "reply");
        if (row.served)
            EXPECT_TRUE(reply.starts_with("Ferrowind Helper/") && reply.ends_with("\n" + version() + "\n")) << reply;
        else
            EXPECT_EQ(reply, "");
    }
    expectStillServing();
}

} // namespace
