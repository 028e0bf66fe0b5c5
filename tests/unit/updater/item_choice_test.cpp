// Which item a Sparkle feed makes the helper install: each rule of Sparkle's
// appcast driver once, on feeds as vendors write them.
#include "updater/installation_identity.h"
#include "updater/item_choice.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace updater;

// 2023-11-14 22:13:20 UTC, the pubDate below, and a day later.
constexpr std::int64_t kReleased = 1'700'000'000;
constexpr std::int64_t kADayLater = kReleased + 86'400;

std::string feed(const std::string& items)
{
    return R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)" + items + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& enclosureAttributes = {}, const std::string& elements = {})
{
    return "<item><sparkle:version>" + version + "</sparkle:version>" + elements + R"(<enclosure url="https://example.test/)"
        + version + R"(.tar.gz" )" + enclosureAttributes + "/></item>";
}

struct Case {
    const char* rule;
    std::string items;
    const char* running;
    unsigned group;
    const char* chosen; // "" for none
};

const std::string kThisArchitecture = operatingSystemNames().at(1);
const std::string kPhased = "<pubDate>Tue, 14 Nov 2023 22:13:20 +0000</pubDate><sparkle:phasedRolloutInterval>43200</sparkle:phasedRolloutInterval>";

TEST(ItemChoice, FollowsSparklesAppcastDriverForASilentInstall)
{
    const Case cases[] = {
        { "newest newer item", item("1.9") + item("1.10") + item("1.2"), "1.0", 0, "1.10" },
        { "the running version is no update", item("1.10"), "1.10", 0, "" },
        { "other systems are skipped", item("3.0", R"(sparkle:os="windows")") + item("2.0", R"(sparkle:os="macos")") + item("1.5"),
            "1.0", 0, "1.5" },
        { "linux, and linux with this architecture", item("2.0", R"(sparkle:os="linux")") + item("2.5", "sparkle:os=\"" + kThisArchitecture + "\""),
            "1.0", 0, "2.5" },
        { "linux with another architecture", item("2.5", R"(sparkle:os="linux-s390")") + item("2.0", R"(sparkle:os="Linux")"),
            "1.0", 0, "2.0" },
        { "only the default channel", item("3.0", "", "<sparkle:channel>beta</sparkle:channel>") + item("2.0"), "1.0", 0, "2.0" },
        { "a channel name Sparkle ignores", item("3.0", "", "<sparkle:channel>be ta</sparkle:channel>"), "1.0", 0, "3.0" },
        { "informational for everyone", item("3.0", "", "<sparkle:informationalUpdate/>") + item("2.0"), "1.0", 0, "" },
        { "informational below a version", item("3.0", "", "<sparkle:informationalUpdate><sparkle:belowVersion>1.5</sparkle:belowVersion></sparkle:informationalUpdate>"),
            "1.0", 0, "" },
        { "informational for others only", item("3.0", "", "<sparkle:informationalUpdate><sparkle:version>2.0</sparkle:version></sparkle:informationalUpdate>"),
            "1.0", 0, "3.0" },
        { "no enclosure", "<item><sparkle:version>3.0</sparkle:version></item>" + item("2.0"), "1.0", 0, "" },
        { "a delta is not a full archive", item("3.0", R"(sparkle:deltaFrom="1.0")") + item("2.0"), "1.0", 0, "2.0" },
        { "deltas beside the full archive", item("3.0", "", R"(<sparkle:deltas><enclosure url="d" sparkle:deltaFrom="1.0"/></sparkle:deltas>)"),
            "1.0", 0, "3.0" },
        { "a major upgrade is passed over", item("3.0", "", "<sparkle:minimumAutoupdateVersion>2.0</sparkle:minimumAutoupdateVersion>") + item("2.0"),
            "1.0", 0, "2.0" },
        { "a major upgrade alone", item("3.0", "", "<sparkle:minimumAutoupdateVersion>2.0</sparkle:minimumAutoupdateVersion>"), "1.0", 0, "" },
        { "reached the minimum", item("3.0", "", "<sparkle:minimumAutoupdateVersion>2.0</sparkle:minimumAutoupdateVersion>"), "2.0", 0, "3.0" },
        { "phased: the first group at once", item("3.0", "", kPhased) + item("2.0"), "1.0", 0, "3.0" },
        { "phased: group 2 after a day", item("3.0", "", kPhased) + item("2.0"), "1.0", 2, "3.0" },
        { "phased: group 3 not yet", item("3.0", "", kPhased) + item("2.0"), "1.0", 3, "2.0" },
        { "phased: critical reaches all", item("3.0", "", kPhased + "<sparkle:criticalUpdate/>"), "1.0", 6, "3.0" },
        { "phased: critical only below its version", item("3.0", "", kPhased + R"(<sparkle:criticalUpdate sparkle:version="0.5"/>)"),
            "1.0", 6, "" },
        { "macOS limits say nothing here", item("3.0", "", "<sparkle:minimumSystemVersion>99.0</sparkle:minimumSystemVersion>"), "1.0", 0, "3.0" },
    };
    for (auto const& [rule, items, running, group, chosen] : cases) {
        auto parsed = readAppcast(feed(items), "https://example.test/appcast.xml");
        ASSERT_TRUE(parsed.items) << rule << ": " << parsed.failure;
        auto choice = chooseUpdate(*parsed.items, { running, operatingSystemNames(), group, kADayLater });
        EXPECT_EQ(choice.item ? choice.item->version : "", chosen) << rule << " (" << choice.reason << ")";
        EXPECT_TRUE(choice.item || !choice.reason.empty()) << rule << ": no reason given";
    }
}

TEST(ItemChoice, PhasedRolloutGroupIsStableAndSpreadsInstallations)
{
    EXPECT_EQ(phasedRolloutGroup("m1", "id", "/a"), phasedRolloutGroup("m1", "id", "/a"));
    std::set<unsigned> groups;
    for (int machine = 0; machine < 200; ++machine)
        groups.insert(phasedRolloutGroup("machine-" + std::to_string(machine), "id", "/a"));
    EXPECT_EQ(groups.size(), kPhasedRolloutGroups);
    EXPECT_LT(*groups.rbegin(), kPhasedRolloutGroups);
}

} // namespace
