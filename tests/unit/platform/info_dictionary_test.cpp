#include "platform/bundle.h"
#include "unit/platform/platform_test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace platform {
namespace {

plist_t mixedDictionary()
{
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "CFBundleIdentifier", plist_new_string("com.example.mixed"));
    plist_dict_set_item(root, "Count", plist_new_uint(42));
    plist_dict_set_item(root, "Ratio", plist_new_real(0.5));
    plist_dict_set_item(root, "Enabled", plist_new_bool(1));
    plist_t array = plist_new_array();
    plist_array_append_item(array, plist_new_string("inside"));
    plist_dict_set_item(root, "List", array);
    plist_t mixed = plist_new_array();
    plist_array_append_item(mixed, plist_new_string("text"));
    plist_array_append_item(mixed, plist_new_uint(7));
    plist_dict_set_item(root, "MixedList", mixed);
    plist_t nested = plist_new_dict();
    plist_dict_set_item(nested, "Inner", plist_new_string("inside"));
    plist_dict_set_item(root, "Nested", nested);
    return root;
}

TEST(ReadInfoDictionary, KeepsScalarsAndListsOfTextsOfXmlAndBinaryPlists)
{
    testing::TemporaryDirectory folder;
    for (const bool binary : { false, true }) {
        SCOPED_TRACE(binary ? "binary" : "XML");
        testing::writePlist(folder / "Info.plist", mixedDictionary(), binary);

        const auto info = readInfoDictionary(folder / "Info.plist");

        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->string("CFBundleIdentifier"), "com.example.mixed");
        EXPECT_EQ(info->integer("Count"), 42);
        EXPECT_TRUE(info->contains("Ratio") && info->contains("Enabled"));
        EXPECT_EQ(info->strings("List"), (std::vector<std::string> { "inside" }));
        EXPECT_FALSE(info->contains("MixedList") || info->contains("Nested") || info->contains("Inner"));
        // The wrong type answers nothing rather than a conversion.
        EXPECT_EQ(info->integer("CFBundleIdentifier"), std::nullopt);
        EXPECT_EQ(info->string("Count"), std::nullopt);
        EXPECT_EQ(info->strings("CFBundleIdentifier"), std::nullopt);
        EXPECT_EQ(info->string("List"), std::nullopt);
    }
}

TEST(ReadInfoDictionary, ReadsNegativeIntegers)
{
    testing::TemporaryDirectory folder;
    testing::writeTextFile(folder / "Info.plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                                  "<plist version=\"1.0\"><dict>"
                                                  "<key>Offset</key><integer>-5</integer>"
                                                  "</dict></plist>\n");

    EXPECT_EQ(readInfoDictionary(folder / "Info.plist")->integer("Offset"), -5);
}

TEST(ReadInfoDictionary, AnswersNothingForWhatIsNotADictionaryPlist)
{
    testing::TemporaryDirectory folder;
    plist_t array = plist_new_array();
    plist_array_append_item(array, plist_new_string("CFBundleIdentifier"));
    testing::writePlist(folder / "array", array, true);
    testing::writeTextFile(folder / "garbage", "this is \x01\x02 not a property list");
    testing::writeTextFile(folder / "empty", "");
    testing::writeTextFile(folder / "truncated", "bplist00\xd1\x01\x02");
    std::filesystem::create_directory(folder / "folder");

    for (const char* name : { "array", "garbage", "empty", "truncated", "folder", "missing" })
        EXPECT_EQ(readInfoDictionary(folder / name), std::nullopt) << name;
}

// libplist aborts the whole process when it hands out a text with a zero
// byte inside; reading such a file must not.
TEST(ReadInfoDictionary, SurvivesZeroBytesInKeysAndRefusesThemInTexts)
{
    testing::TemporaryDirectory folder;
    const std::string zero(1, '\0');
    auto writeXml = [&](const std::string& key, const std::string& value) {
        std::ofstream(folder / "Info.plist", std::ios::binary | std::ios::trunc)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>" << key
            << "</key><string>" << value << "</string></dict></plist>\n";
    };

    writeXml("CFBundleName", "ab" + zero + "cd");
    EXPECT_FALSE(readInfoDictionary(folder / "Info.plist").has_value());

    writeXml("Bad" + zero + "Key", "fine");
    const auto info = readInfoDictionary(folder / "Info.plist");
    EXPECT_FALSE(info && info->string("Bad" + zero + "Key"));
}

} // namespace
} // namespace platform
