// The updater end to end: a helper bundle whose Info.plist points at a feed
// on a loopback server of the test, with a key pair made by the vendor tool.
#include "integration/update_fixture.h"
#include "support/bindfs_mount.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace harness;

constexpr const char* kIdentifier = "com.Ferrowind.Ferrowind-Helper";

// A helper just started may take a while to listen on a loaded machine,
// under the sanitizers above all.
std::optional<std::string> askVersion(Clock::duration connectLimit = 5s)
{
    auto client = greetedClient(kPort, connectLimit, 2s);
    if (!client)
        return std::nullopt;
    client->send("version\n");
    return client->readLine(2s);
}

// The helper's answer to `version` once it is `awaited`; the last answer
// when it still is not after a minute.
std::optional<std::string> versionOnceItIs(const std::string& awaited)
{
    std::optional<std::string> version;
    testing_support::eventually([&] { return (version = askVersion()) == awaited; }, 60s, 200ms);
    return version;
}

class SelfUpdateTest : public ::testing::Test {
protected:
    SelfUpdateTest()
        : work(withFeedFolder(m_workFolder.path()))
        , server(work / "feed")
        , key(work / "private.key")
    {
        setInfoString(bundle.infoPlistPath(), "SUFeedURL", server.url("appcast.xml"));
        setInfoString(bundle.infoPlistPath(), "SUPublicEDKey", key.publicKey());
    }

    static fs::path withFeedFolder(const fs::path& work)
    {
        fs::create_directory(work / "feed");
        return work;
    }

    // A copy of the helper bundle as a later release, in a folder of its own.
    fs::path releaseFolder(const std::string& version, const std::string& identifier = kIdentifier)
    {
        auto folder = work / ("release-" + version + "-" + std::to_string(++m_releases));
        fs::create_directory(folder);
        auto release = folder / bundle.bundlePath().filename();
        fs::copy(bundle.bundlePath(), release, fs::copy_options::recursive);
        auto plist = release / "Contents/Info.plist";
        setInfoString(plist, "CFBundleVersion", version);
        setInfoString(plist, "CFBundleShortVersionString", version);
        setInfoString(plist, "CFBundleIdentifier", identifier);
        return folder;
    }

    // Packs and signs a release into the served folder; the item announces
    // `announced` (the release's own version unless said otherwise).
    FeedItem publish(const fs::path& folder, const std::string& announced, const std::vector<std::string>& extras = {},
        const std::string& format = "tar.gz")
    {
        const std::string name = "update-" + std::to_string(++m_releases) + "." + format;
        packArchive(work / "feed" / name, format, folder, extras);
        auto signature = key.sign(work / "feed" / name);
        return { announced, server.url(name), signature.length, signature.signature };
    }

    void announce(const std::vector<FeedItem>& items) { writeAppcast(work / "feed/appcast.xml", items); }

    std::set<std::string> entriesBesideTheBundle() const
    {
        std::set<std::string> names;
        for (auto const& entry : fs::directory_iterator(bundle.bundlePath().parent_path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    // What HelperBundleCopy holds before any update.
    std::set<std::string> untouchedEntries() const
    {
        return { bundle.bundlePath().filename().string(), bundle.home().filename().string() };
    }

    HelperBundleCopy bundle;
    testing_support::TemporaryDirectory m_workFolder { "ferrowind-update-test" };
    fs::path work;
    FeedServer server;
    SigningKey key;

private:
    int m_releases { 0 };
};

TEST_F(SelfUpdateTest, ANewerSignedUpdateIsInstalledAndTheHelperRelaunched)
{
    auto older = publish(releaseFolder("1.5.0"), "1.5.0", {}, "zip");
    auto newest = publish(releaseFolder("2.0.0"), "2.0.0");
    announce({ older, newest });
    HelperProcess helper(bundle);

    ASSERT_EQ(versionOnceItIs("\"2.0.0\""), "\"2.0.0\"") << "the helper does not serve the update";
    EXPECT_EQ(helper.waitForExit(10s), 0) << "the old helper did not end";
    auto running = bundle.runningHelpers();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_NE(running.front(), helper.pid());
    EXPECT_EQ(bundle.shortVersion(), "2.0.0");
    EXPECT_EQ(entriesBesideTheBundle(), untouchedEntries()) << "the old bundle or a staging folder was left behind";
}

TEST_F(SelfUpdateTest, AWindowsItemBesideALinuxOneInstallsTheLinuxOne)
{
    std::ofstream(work / "feed/setup.exe") << "MZ";
    auto linuxItem = publish(releaseFolder("2.0.0"), "2.0.0");
    linuxItem.os = "linux";
    FeedItem windows { "3.0.0", server.url("setup.exe"), "2", linuxItem.signature, "windows" };
    announce({ windows, linuxItem });
    HelperProcess helper(bundle);

    ASSERT_EQ(versionOnceItIs("\"2.0.0\""), "\"2.0.0\"");
    EXPECT_FALSE(server.waitForRequest("setup.exe", 0s)) << "the Windows item was fetched";
}

TEST_F(SelfUpdateTest, LeftoversOfEarlierUpdatesGoAtStartWhateverTheFeedSays)
{
    // A kill before the swap leaves archive and unpacked copy; one after
    // it, the old bundle.
    const fs::path beside = bundle.bundlePath().parent_path();
    for (auto name : { ".Ferrowind Helper.app.update-k1ll3d", ".Ferrowind Helper.app.update-sw4pp3d" }) {
        fs::create_directory(beside / name);
        std::ofstream(beside / name / "update.archive") << "partial";
        fs::copy(bundle.bundlePath(), beside / name / "unpacked", fs::copy_options::recursive);
    }
    setInfoString(bundle.infoPlistPath(), "SUFeedURL", "http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/appcast.xml");
    HelperProcess helper(bundle);
    ASSERT_EQ(askVersion(), "\"" FERROWIND_VERSION "\"");
    EXPECT_EQ(entriesBesideTheBundle(), untouchedEntries());
}

TEST_F(SelfUpdateTest, CheckUpdateAnswersAtOnceWhileACheckHangs)
{
    const int silentPort = freeLoopbackPort();
    PortBlocker silentServer(silentPort); // takes connections, never answers
    setInfoString(bundle.infoPlistPath(), "SUFeedURL", "http://127.0.0.1:" + std::to_string(silentPort) + "/appcast.xml");
    HelperProcess helper(bundle);
    auto client = greetedClient();
    ASSERT_TRUE(client);
    for (int i = 0; i < 3; ++i) {
        const auto sent = Clock::now();
        client->send("checkUpdate\n");
        EXPECT_EQ(client->readLine(5s), "1");
        EXPECT_LT(Clock::now() - sent, 1s);
    }
    client->send("version\n");
    EXPECT_EQ(client->readLine(), "\"" FERROWIND_VERSION "\"");
}

// Every way an update can be wrong: nothing is replaced and the helper goes
// on serving its old version.
class UpdateRefusalTest;

struct Refusal {
    const char* name;
    // Sets up the feed; answers the served file whose request marks the
    // check as under way, or "" when nothing is served.
    std::function<std::string(UpdateRefusalTest&)> setUp;
    // Whether the vendor publishes over https (the feed folder served over
    // TLS too, by an authority only this test trusts).
    bool overTls { false };
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class UpdateRefusalTest : public SelfUpdateTest, public ::testing::WithParamInterface<Refusal> {
public:
    using SelfUpdateTest::announce;
    using SelfUpdateTest::key;
    using SelfUpdateTest::publish;
    using SelfUpdateTest::releaseFolder;
    using SelfUpdateTest::server;
    using SelfUpdateTest::work;

    void useFeedURL(const std::string& url) { setInfoString(bundle.infoPlistPath(), "SUFeedURL", url); }

    // bindfs over the bundle's own folder: FUSE, which cannot exchange two
    // folders in one step. Unmounted before the bundle copy goes.
    void mountBindfsOverTheBundle()
    {
        const auto folder = bundle.bundlePath().parent_path();
        m_bindfs.emplace(folder, folder);
        if (const auto& refusal = m_bindfs->refusal())
            GTEST_SKIP() << *refusal;
        ASSERT_TRUE(m_bindfs->mounted()) << "bindfs neither mounted nor ended";
    }

    std::string archiveOf(const FeedItem& item) const { return item.url.substr(item.url.rfind('/') + 1); }

    void serveOverTls()
    {
        // Trusting our authority means mounting over the system's bundle.
        if (getpid() != 1)
            GTEST_SKIP() << "needs mount and PID namespaces of its own";
        m_certificates.emplace(work / "tls");
        ASSERT_TRUE(m_certificates->trustInThisMountNamespace()) << "cannot trust the test's authority";
        m_tlsServer.emplace(work / "feed", &*m_certificates);
    }
    const FeedServer& tlsServer() const { return *m_tlsServer; }
    // The server whose requests show how far the check went.
    const FeedServer& askedServer() const { return m_tlsServer ? *m_tlsServer : server; }

private:
    std::optional<testing_support::BindfsMount> m_bindfs;
    std::optional<TestCertificates> m_certificates;
    std::optional<FeedServer> m_tlsServer;
};

const Refusal kRefusals[] = {
    { "BadSignature", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0");
         item.signature = t.publish(t.releaseFolder("2.0.1"), "2.0.1").signature;
         t.announce({ item });
         return t.archiveOf(item);
     } },
    { "MissingSignature", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0");
         item.signature.reset();
         t.announce({ item });
         return std::string("appcast.xml");
     } },
    { "WrongKey", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0");
         SigningKey stranger(t.work / "stranger.key");
         item.signature = stranger.sign(t.work / "feed" / t.archiveOf(item)).signature;
         t.announce({ item });
         return t.archiveOf(item);
     } },
    { "WrongIdentifier", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0", "com.example.Impostor"), "2.0.0");
         t.announce({ item });
         return t.archiveOf(item);
     } },
    { "EqualVersion", [](UpdateRefusalTest& t) {
         t.announce({ t.publish(t.releaseFolder(FERROWIND_VERSION), FERROWIND_VERSION) });
         return std::string("appcast.xml");
     } },
    { "OlderVersion", [](UpdateRefusalTest& t) {
         t.announce({ t.publish(t.releaseFolder("0.9.0"), "0.9.0") });
         return std::string("appcast.xml");
     } },
    { "BundleOlderThanAnnounced", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("0.9.0"), "2.0.0");
         t.announce({ item });
         return t.archiveOf(item);
     } },
    { "ParentPathInArchive", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0", { "file:../escaped" });
         t.announce({ item });
         return t.archiveOf(item);
     } },
    { "AbsolutePathInArchive", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0", { "file:" + (t.work / "escaped").string() });
         t.announce({ item });
         return t.archiveOf(item);
     } },
    { "LongerThanDeclared", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0");
         item.length = std::to_string(std::stoull(*item.length) - 1);
         t.announce({ item });
         return t.archiveOf(item);
     } },
    { "MalformedFeed", [](UpdateRefusalTest& t) {
         std::ofstream(t.work / "feed/appcast.xml") << "<html><body>Moved</body>";
         return std::string("appcast.xml");
     } },
    { "FileEnclosureInAWebFeed", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0");
         item.url = "file://" + (t.work / "feed" / t.archiveOf(item)).string();
         t.announce({ item });
         return std::string("appcast.xml");
     } },
    { "OnlyForOtherSystems", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0");
         item.os = "macos";
         t.announce({ item });
         return std::string("appcast.xml");
     } },
    { "FileSystemWithoutExchange", [](UpdateRefusalTest& t) {
         t.mountBindfsOverTheBundle();
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0");
         t.announce({ item });
         return std::string("appcast.xml");
     } },
    { "HttpsFeedRedirectedToHttp", [](UpdateRefusalTest& t) {
         t.announce({ t.publish(t.releaseFolder("2.0.0"), "2.0.0") });
         std::ofstream(t.work / "feed/secure.xml.redirect") << t.server.url("appcast.xml");
         t.useFeedURL(t.tlsServer().url("secure.xml"));
         return std::string("secure.xml");
     },
        true },
    { "HttpsEnclosureRedirectedToHttp", [](UpdateRefusalTest& t) {
         auto item = t.publish(t.releaseFolder("2.0.0"), "2.0.0");
         std::ofstream(t.work / "feed" / (t.archiveOf(item) + ".redirect")) << item.url;
         item.url = t.tlsServer().url(t.archiveOf(item));
         t.announce({ item });
         t.useFeedURL(t.tlsServer().url("appcast.xml"));
         return t.archiveOf(item);
     },
        true },
    { "UnreachableFeed", [](UpdateRefusalTest& t) {
         t.useFeedURL("http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/appcast.xml");
         return std::string();
     } },
};

TEST_P(UpdateRefusalTest, NothingIsReplacedAndTheOldVersionKeepsServing)
{
    if (GetParam().overTls)
        serveOverTls();
    if (IsSkipped() || HasFatalFailure())
        return;
    const std::string awaited = GetParam().setUp(*this);
    if (IsSkipped() || HasFatalFailure())
        return;
    const std::string infoBefore = readTextFile(bundle.infoPlistPath());
    HelperProcess helper(bundle);
    ASSERT_EQ(askVersion(10s), "\"" FERROWIND_VERSION "\"");

    if (awaited.empty())
        std::this_thread::sleep_for(2s);
    else
        ASSERT_TRUE(askedServer().waitForRequest(awaited, 30s)) << "the helper never asked for " << awaited;
    testing_support::eventually([&] { return entriesBesideTheBundle() == untouchedEntries(); }, 30s, 50ms);
    std::this_thread::sleep_for(500ms);

    EXPECT_EQ(askVersion(), "\"" FERROWIND_VERSION "\"");
    EXPECT_EQ(bundle.runningHelpers(), std::vector<pid_t> { helper.pid() });
    EXPECT_EQ(readTextFile(bundle.infoPlistPath()), infoBefore);
    EXPECT_EQ(entriesBesideTheBundle(), untouchedEntries());
    EXPECT_FALSE(fs::exists(work / "escaped"));
    EXPECT_FALSE(fs::exists(bundle.bundlePath().parent_path().parent_path() / "escaped"));
}

INSTANTIATE_TEST_SUITE_P(Updates, UpdateRefusalTest, ::testing::ValuesIn(kRefusals),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

} // namespace
