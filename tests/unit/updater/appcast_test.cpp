#include "updater/appcast.h"
#include "updater/updater_settings.h"

#include <gtest/gtest.h>

namespace {

using namespace updater;

constexpr const char* kFeed = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel>
  <title>Helper</title>
  <item>
    <title>1.10</title>
    <sparkle:version> 1.10 </sparkle:version>
    <sparkle:shortVersionString>1.10 final</sparkle:shortVersionString>
    <enclosure url="https://example.test/h-1.10.tar.gz" length="1234" sparkle:edSignature="c2ln" type="application/octet-stream"/>
  </item>
  <item>
    <enclosure url="https://example.test/h-1.9.zip" length="99" sparkle:version="1.9"/>
  </item>
  <item><title>no enclosure</title><sparkle:version>7.0</sparkle:version></item>
  <item><sparkle:version>8.0</sparkle:version><enclosure length="5"/></item>
  <item><sparkle:version>1.2</sparkle:version><enclosure url="u" length="twelve"/></item>
</channel>
</rss>)";

TEST(Appcast, ReadsItemsInEitherFormAndKeepsThoseWithoutAUsableEnclosureAsNotInstallable)
{
    auto items = parseAppcast(kFeed);
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 5u);
    auto const& first = (*items)[0];
    EXPECT_EQ(first.version, "1.10");
    EXPECT_EQ(first.shortVersion, "1.10 final");
    EXPECT_EQ(first.url, "https://example.test/h-1.10.tar.gz");
    EXPECT_EQ(first.length, 1234u);
    EXPECT_EQ(first.edSignature, "c2ln");
    EXPECT_FALSE(first.informationalFor);
    EXPECT_EQ((*items)[1].version, "1.9") << "sparkle:version as an enclosure attribute";
    EXPECT_FALSE((*items)[1].edSignature);
    EXPECT_EQ((*items)[2].informationalFor, std::vector<std::string> {}) << "no enclosure: informational";
    EXPECT_EQ((*items)[3].url, "") << "an enclosure without a URL";
    EXPECT_EQ((*items)[4].url, "") << "a relative URL with no feed URL to resolve it against";
    EXPECT_FALSE((*items)[4].length) << "a length that is no number is no length";
}

TEST(Appcast, SomethingElseThanAnAppcastIsRefused)
{
    EXPECT_FALSE(parseAppcast(""));
    EXPECT_FALSE(parseAppcast("<rss><channel><item>"));
    EXPECT_FALSE(parseAppcast("<html><body>Not found</body></html>"));
    EXPECT_FALSE(parseAppcast(std::string("\0\xff garbage", 10)));
    auto empty = parseAppcast("<rss><channel/></rss>");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

struct EnclosureCase {
    const char* what;
    const char* feedURL;
    const char* rss;
    const char* version; // of the one item
    const char* url; // resolved
};

TEST(Appcast, ReadsSparklesNamesAndURLsAsSparkleDoes)
{
    const EnclosureCase cases[] = {
        { "another prefix bound to Sparkle's namespace", "https://example.test/feed/appcast.xml",
            R"(<rss xmlns:s="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item><s:version>2.0</s:version>)"
            R"(<enclosure url="https://example.test/a.zip" s:edSignature="c2ln"/></item></channel></rss>)",
            "2.0", "https://example.test/a.zip" },
        { "relative URL, with blanks", "https://example.test/feed/appcast.xml",
            R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item><sparkle:version>2.0</sparkle:version>)"
            R"(<enclosure url="../files/Ferrowind Helper 2.0.tar.gz"/></item></channel></rss>)",
            "2.0", "https://example.test/files/Ferrowind%20Helper%202.0.tar.gz" },
        { "the enclosure's version before the item's", "file:///srv/appcast.xml",
            R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item><sparkle:version>2.0</sparkle:version>)"
            R"(<enclosure url="a.zip" sparkle:version="2.1"/></item></channel></rss>)",
            "2.1", "file:///srv/a.zip" },
    };
    for (auto const& [what, feedURL, rss, version, url] : cases) {
        auto parsed = readAppcast(rss, feedURL);
        ASSERT_TRUE(parsed.items && parsed.items->size() == 1) << what << ": " << parsed.failure;
        EXPECT_EQ(parsed.items->front().version, version) << what;
        EXPECT_EQ(parsed.items->front().url, url) << what;
    }
}

TEST(Appcast, AWebFeedPointingAtLocalFilesIsRefusedWhole)
{
    const std::string rss = R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)"
                            R"(<item><sparkle:version>2.0</sparkle:version><enclosure url="https://example.test/a.zip"/></item>)"
                            R"(<item><sparkle:version>1.5</sparkle:version><enclosure url="file:///etc/passwd"/></item></channel></rss>)";
    auto fromTheWeb = readAppcast(rss, "https://example.test/appcast.xml");
    EXPECT_FALSE(fromTheWeb.items);
    EXPECT_NE(fromTheWeb.failure.find("file:///etc/passwd"), std::string::npos) << fromTheWeb.failure;
    EXPECT_TRUE(readAppcast(rss, "file:///srv/appcast.xml").items) << "a local feed may name local files";
}

TEST(UpdaterSettings, ReadsTheInfoPlistKeysWithTheirDefaultAndFloor)
{
    auto none = readUpdaterSettings(platform::InfoDictionary());
    EXPECT_FALSE(none.feedURL);
    EXPECT_FALSE(none.publicEDKey);
    EXPECT_EQ(none.checkInterval, std::chrono::seconds(86400));

    auto some = readUpdaterSettings(platform::InfoDictionary({
        { "SUFeedURL", std::string("http://127.0.0.1/appcast.xml") },
        { "SUPublicEDKey", std::string("  ") },
        { "SUScheduledCheckInterval", std::int64_t { 60 } },
        { "CFBundleVersion", std::string("3.1") },
    }));
    EXPECT_EQ(some.feedURL, "http://127.0.0.1/appcast.xml");
    EXPECT_FALSE(some.publicEDKey) << "a blank key is no key";
    EXPECT_EQ(some.checkInterval, std::chrono::seconds(3600));
    EXPECT_EQ(some.bundleVersion, "3.1");

    auto text = readUpdaterSettings(platform::InfoDictionary({ { "SUScheduledCheckInterval", std::string("7200") } }));
    EXPECT_EQ(text.checkInterval, std::chrono::seconds(7200));
    auto huge = readUpdaterSettings(platform::InfoDictionary({ { "SUScheduledCheckInterval", std::int64_t { (1LL << 32) + 5 } } }));
    EXPECT_EQ(huge.checkInterval, std::chrono::seconds(366 * 86400)) << "must not wrap to a few seconds in a timer";
}

} // namespace
