// The updater's transfers against a vendor's server as it may behave: over
// TLS, redirecting, dripping. What the failure says is what the log says.
#include "integration/update_fixture.h"
#include "updater/adapters/transfer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace harness;
using namespace std::chrono_literals;

class UpdateTransfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (getpid() != 1)
            GTEST_SKIP() << "trusting the test's authority needs mount and PID namespaces of its own";
        ASSERT_TRUE(m_certificates.trustInThisMountNamespace()) << "cannot trust the test's authority";
        m_tls.emplace(servedFolder(m_folder), &m_certificates);
    }

    // What the transfer of `url` gives: the URL it ended at, or why not.
    std::string outcomeOf(const std::string& url, bool httpsOnly, const updater::TransferBounds& bounds = kBounds)
    {
        auto outcome = updater::transfer({ url, 1u << 20, bounds, httpsOnly }, [](std::string_view) { return true; });
        return outcome ? "fetched from " + *outcome : outcome.failure();
    }
    void serve(const std::string& name, const std::string& content) { std::ofstream(m_folder / "served" / name) << content; }

    static constexpr updater::TransferBounds kBounds { 20s, updater::kTrickleBytesPerSecond, updater::kTrickleWindow };
    testing_support::TemporaryDirectory m_work { "ferrowind-transfer-test" };
    fs::path m_folder { m_work.path() };
    TestCertificates m_certificates { m_folder / "tls" };
    FeedServer m_http { servedFolder(m_folder) };
    std::optional<FeedServer> m_tls;

private:
    static fs::path servedFolder(const fs::path& work)
    {
        fs::create_directory(work / "served");
        return work / "served";
    }
};

TEST_F(UpdateTransfer, RedirectsAreFollowedOnlyWhereTheyMayLeadAndFailuresNameTheHop)
{
    serve("appcast.xml", "<rss/>");
    serve("secure.xml.redirect", m_http.url("appcast.xml"));
    serve("upgraded.xml.redirect", m_tls->url("appcast.xml"));
    serve("moved.xml.redirect", m_http.url("missing.xml"));
    struct Row {
        std::string url;
        bool httpsOnly;
        std::string outcome;
    };
    for (auto const& row : {
             Row { m_tls->url("appcast.xml"), true, "fetched from " + m_tls->url("appcast.xml") },
             Row { m_http.url("upgraded.xml"), false, "fetched from " + m_tls->url("appcast.xml") },
             Row { m_tls->url("secure.xml"), true,
                 "refused the redirect from " + m_tls->url("secure.xml") + " to " + m_http.url("appcast.xml")
                     + ": what is published over https is fetched over https only" },
             Row { m_tls->url("secure.xml"), false, "fetched from " + m_http.url("appcast.xml") },
             Row { m_http.url("moved.xml"), false, "failed at " + m_http.url("missing.xml") + ": HTTP status 404" },
         }) {
        EXPECT_EQ(outcomeOf(row.url, row.httpsOnly), row.outcome) << row.url;
    }
}

// A server that keeps the connection open with a byte now and then holds
// the updater, which runs one check at a time, as surely as a dead one.
TEST_F(UpdateTransfer, ATrickleIsCutOffWithinItsWindow)
{
    serve("appcast.xml.drip", std::string(60, 'x'));
    const auto started = Clock::now();
    const auto outcome = outcomeOf(m_http.url("appcast.xml"), false, { 20s, updater::kTrickleBytesPerSecond, 2s });
    EXPECT_TRUE(outcome.starts_with("failed at " + m_http.url("appcast.xml"))) << outcome;
    EXPECT_LT(Clock::now() - started, 10s);
}

} // namespace
