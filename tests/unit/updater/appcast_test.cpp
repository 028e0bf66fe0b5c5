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

TEST(Appcast, ReadsItemsInEitherFormAndSkipsThoseWithoutVersionOrURL)
{
    auto items = parseAppcast(kFeed);
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 3u);
    auto const& first = (*items)[0];
    EXPECT_EQ(first.version, "1.10");
    EXPECT_EQ(first.shortVersion, "1.10 final");
    EXPECT_EQ(first.url, "https://example.test/h-1.10.tar.gz");
    EXPECT_EQ(first.length, 1234u);
    EXPECT_EQ(first.edSignature, "c2ln");
    EXPECT_EQ((*items)[1].version, "1.9") << "sparkle:version as an enclosure attribute";
    EXPECT_FALSE((*items)[1].edSignature);
    EXPECT_FALSE((*items)[2].length) << "a length that is no number is no length";
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

TEST(Appcast, PicksTheNewestItemStrictlyNewerThanTheRunningVersion)
{
    auto items = *parseAppcast(kFeed);
    EXPECT_EQ(newestItemNewerThan(items, "1.0")->version, "1.10");
    EXPECT_EQ(newestItemNewerThan(items, "1.9.5")->version, "1.10");
    EXPECT_FALSE(newestItemNewerThan(items, "1.10")) << "the same version is no update";
    EXPECT_FALSE(newestItemNewerThan(items, "2.0"));
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
