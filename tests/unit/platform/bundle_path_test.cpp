#include "platform/bundle.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(EnclosingBundlePath, FindsTheBundleOfAnExecutableInContentsMacOS)
{
    EXPECT_EQ(enclosingBundlePath("/a/X.app/Contents/MacOS/exe"), "/a/X.app");
    EXPECT_EQ(enclosingBundlePath("/Outer.app/Contents/Resources/In ner.app/Contents/MacOS/in ner"),
        "/Outer.app/Contents/Resources/In ner.app");
    EXPECT_EQ(enclosingBundlePath("X.app/Contents/MacOS/exe"), "X.app");
}

TEST(EnclosingBundlePath, AnswersNothingWhenTheLayoutDiffers)
{
    for (const char* path : { "/usr/bin/sleep", "/a/X.app/Contents/Resources/exe", "/a/X.app/Other/MacOS/exe",
             "/a/X.bundle/Contents/MacOS/exe", "/a/X.app/Contents/MacOS/sub/exe",
             "/a/X.app/Contents/MacOS", "/a/X.app/Contents/MacOS/", "/a/X.app/contents/macos/exe",
             "Contents/MacOS/exe", "" })
        EXPECT_EQ(enclosingBundlePath(path), std::nullopt) << path;
}

} // namespace
} // namespace platform
