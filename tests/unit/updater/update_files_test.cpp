// The updater's file work: signatures, unpacking hostile archives, choosing
// the unpacked bundle, and swapping it in.
#include "support/temporary_directory.h"
#include "support/text_files.h"
#include "updater/archive_unpacking.h"
#include "updater/bundle_candidate.h"
#include "updater/bundle_swap.h"
#include "updater/ed25519_signature.h"
#include "updater/staging_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using namespace updater;

void writeFile(const fs::path& path, const std::string& text, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, perms);
}

using testing_support::readTextFile;

std::string infoPlist(const std::string& identifier, const std::string& version, const std::string& executable = "Ferrowind Helper")
{
    return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
           "<key>CFBundleIdentifier</key><string>"
        + identifier + "</string>"
                       "<key>CFBundleVersion</key><string>"
        + version + "</string>"
                    "<key>CFBundleExecutable</key><string>"
        + executable + "</string>"
                       "</dict></plist>";
}

class UpdateFilesTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(root / "work"); }

    // A helper bundle "Ferrowind Helper.app" inside `folder`.
    fs::path makeBundle(const fs::path& folder, const std::string& identifier = "com.Ferrowind.Ferrowind-Helper",
        const std::string& version = "2.0")
    {
        auto bundle = folder / "Ferrowind Helper.app";
        writeFile(bundle / "Contents/Info.plist", infoPlist(identifier, version));
        writeFile(bundle / "Contents/MacOS/Ferrowind Helper", "#!/bin/sh\n", fs::perms::owner_all);
        return bundle;
    }

    // Packs `folder` with extra entries through the test script.
    fs::path pack(const fs::path& folder, const std::string& format, const std::vector<std::string>& extras = {})
    {
        auto archive = root / ("update." + format);
        std::string command = std::string("'") + UPDATE_ARCHIVE_SCRIPT + "' '" + archive.string() + "' " + format + " '" + folder.string() + "'";
        for (auto const& extra : extras)
            command += " '" + extra + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return archive;
    }

    testing_support::TemporaryDirectory m_scratch { "ferrowind-updater-test" };
    fs::path root { m_scratch.path() };
};

TEST_F(UpdateFilesTest, SignaturesHoldForTheSignedBytesAndTheMatchingKeyOnly)
{
    auto archive = root / "archive";
    writeFile(archive, std::string(100'000, 'x'));
    auto pair = generateKeyPair();
    auto signature = signFile(archive.string(), pair.seed);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(fileSignatureIsValid(archive.string(), *signature, pair.publicKey));
    EXPECT_EQ(publicKeyOf(pair.seed), pair.publicKey);

    auto other = generateKeyPair();
    EXPECT_FALSE(fileSignatureIsValid(archive.string(), *signature, other.publicKey)) << "wrong key";
    writeFile(archive, std::string(99'999, 'x') + "y");
    EXPECT_FALSE(fileSignatureIsValid(archive.string(), *signature, pair.publicKey)) << "changed byte";
    EXPECT_FALSE(fileSignatureIsValid((root / "missing").string(), *signature, pair.publicKey));
}

TEST_F(UpdateFilesTest, Base64MustDecodeToExactlyTheRightLength)
{
    auto pair = generateKeyPair();
    auto text = toBase64(pair.publicKey);
    EXPECT_EQ(publicKeyFromBase64(text), pair.publicKey);
    EXPECT_EQ(publicKeyFromBase64(" " + text.substr(0, 20) + "\n" + text.substr(20) + "\n"), pair.publicKey);
    EXPECT_FALSE(publicKeyFromBase64(text.substr(0, text.size() - 4)));
    EXPECT_FALSE(publicKeyFromBase64(text + "AAAA"));
    EXPECT_FALSE(publicKeyFromBase64("not base64 at all!"));
    EXPECT_FALSE(signatureFromBase64(text)) << "a key is not a signature";
    EXPECT_FALSE(signatureFromBase64(""));
}

TEST_F(UpdateFilesTest, EachArchiveFormatUnpacksWithModesKept)
{
    makeBundle(root / "source");
    for (std::string format : { "tar.gz", "tar.xz", "zip" }) {
        auto into = root / ("unpacked-" + format);
        fs::create_directory(into);
        auto outcome = unpackArchive(pack(root / "source", format).string(), into.string());
        ASSERT_TRUE(outcome.succeeded()) << format << ": " << outcome.failure();
        auto executable = into / "Ferrowind Helper.app/Contents/MacOS/Ferrowind Helper";
        EXPECT_EQ(readTextFile(executable), "#!/bin/sh\n") << format;
        EXPECT_NE(fs::status(executable).permissions() & fs::perms::owner_exec, fs::perms::none) << format;
    }
}

TEST_F(UpdateFilesTest, HostileEntriesRefuseTheWholeArchiveAndWriteNothingOutside)
{
    makeBundle(root / "source");
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases {
        { "tar.gz", { "file:../escaped" } },
        { "tar.gz", { "file:" + (root / "escaped").string() } },
        { "tar.gz", { "file:Ferrowind Helper.app/../../escaped" } },
        { "tar.gz", { "symlink:link:../escaped" } },
        { "tar.gz", { "symlink:Ferrowind Helper.app/link:../../escaped" } },
        { "tar.gz", { "symlink:link:/etc" } },
        { "tar.gz", { "hardlink:link:../escaped" } },
        { "tar.gz", { "symlink:through:Ferrowind Helper.app", "file:through/escaped" } },
        { "tar.xz", { "file:../escaped" } },
        { "zip", { "file:../escaped" } },
        { "zip", { "file:" + (root / "escaped").string() } },
    };
    for (auto const& [format, extras] : cases) {
        auto into = root / "work" / "into";
        fs::remove_all(into);
        fs::create_directory(into);
        auto outcome = unpackArchive(pack(root / "source", format, extras).string(), into.string());
        EXPECT_FALSE(outcome.succeeded()) << format << " " << extras.back();
        EXPECT_FALSE(fs::exists(fs::symlink_status(root / "escaped"))) << extras.back();
        EXPECT_FALSE(fs::exists(fs::symlink_status(root / "work/escaped"))) << extras.back();
    }
}

TEST_F(UpdateFilesTest, LinksInsideTheArchiveAreKept)
{
    makeBundle(root / "source");
    auto into = root / "into";
    fs::create_directory(into);
    auto archive = pack(root / "source", "tar.gz", { "symlink:Ferrowind Helper.app/Contents/current:MacOS/../MacOS" });
    auto outcome = unpackArchive(archive.string(), into.string());
    EXPECT_TRUE(outcome.succeeded()) << outcome.failure();
}

TEST_F(UpdateFilesTest, UnpackingStopsAtItsSizeLimit)
{
    writeFile(root / "source/big", std::string(1 << 20, 'z'));
    auto into = root / "into";
    fs::create_directory(into);
    auto outcome = unpackArchive(pack(root / "source", "tar.gz").string(), into.string(), { 64 * 1024, 100 });
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_FALSE(unpackArchive((root / "missing.tar.gz").string(), into.string()).succeeded());
    writeFile(root / "garbage", "this is not an archive");
    EXPECT_FALSE(unpackArchive((root / "garbage").string(), into.string()).succeeded());
}

TEST_F(UpdateFilesTest, TheUnpackedBundleMustBeTheExpectedHelper)
{
    const CandidateExpectations expected { "com.Ferrowind.Ferrowind-Helper", "2.0", "1.0" };
    auto good = root / "good";
    makeBundle(good);
    EXPECT_TRUE(findUpdateBundle(good.string(), expected).succeeded());

    auto check = [&](const fs::path& folder, const std::string& why) {
        auto outcome = findUpdateBundle(folder.string(), expected);
        EXPECT_FALSE(outcome.succeeded()) << why;
        EXPECT_FALSE(outcome.failure().empty()) << why;
    };
    makeBundle(root / "other", "com.example.Other");
    check(root / "other", "another identifier");
    makeBundle(root / "unannounced", "com.Ferrowind.Ferrowind-Helper", "2.1");
    check(root / "unannounced", "a version other than the feed's");
    check(root / "empty-folder", "no bundle");
    makeBundle(root / "two");
    writeFile(root / "two/Second.app/Contents/Info.plist", infoPlist("com.Ferrowind.Ferrowind-Helper", "2.0"));
    check(root / "two", "two bundles");
    makeBundle(root / "no-executable");
    fs::remove(root / "no-executable/Ferrowind Helper.app/Contents/MacOS/Ferrowind Helper");
    check(root / "no-executable", "nothing to start");
    makeBundle(root / "escaping");
    writeFile(root / "escaping/Ferrowind Helper.app/Contents/Info.plist",
        infoPlist("com.Ferrowind.Ferrowind-Helper", "2.0", "../../../../bin/sh"));
    check(root / "escaping", "an executable outside the bundle");

    const CandidateExpectations older { "com.Ferrowind.Ferrowind-Helper", "2.0", "3.0" };
    EXPECT_FALSE(findUpdateBundle(good.string(), older).succeeded()) << "older than the running one";
}

TEST_F(UpdateFilesTest, SwapPutsTheNewBundleInPlaceAndTheOldOneAside)
{
    auto installed = makeBundle(root / "installed", "com.Ferrowind.Ferrowind-Helper", "1.0");
    auto staging = StagingFolder::createBeside(installed.string());
    ASSERT_TRUE(staging);
    EXPECT_EQ(fs::path(staging->path()).parent_path(), installed.parent_path());
    auto replacement = makeBundle(staging->path(), "com.Ferrowind.Ferrowind-Helper", "2.0");

    auto swap = exchangeBundles(replacement.string(), installed.string());
    ASSERT_TRUE(swap.succeeded()) << swap.failure();
    EXPECT_NE(readTextFile(installed / "Contents/Info.plist").find("<string>2.0</string>"), std::string::npos);
    EXPECT_NE(readTextFile(replacement / "Contents/Info.plist").find("<string>1.0</string>"), std::string::npos);

    auto stagingPath = staging->path();
    staging.reset();
    EXPECT_FALSE(fs::exists(stagingPath));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "installed"), fs::directory_iterator()), 1);
}

// FUSE, sshfs and many NFS setups answer EINVAL: moving the old bundle
// away and the new one in instead would leave nothing to start in between.
TEST_F(UpdateFilesTest, WithoutAnExchangeInOneStepNothingIsMoved)
{
    auto installed = makeBundle(root / "installed", "com.Ferrowind.Ferrowind-Helper", "1.0");
    auto staging = StagingFolder::createBeside(installed.string());
    ASSERT_TRUE(staging);
    auto replacement = makeBundle(staging->path(), "com.Ferrowind.Ferrowind-Helper", "2.0");
    const ExchangeStep unsupported = [](const std::string&, const std::string&) { return EINVAL; };

    EXPECT_TRUE(canExchangeFolders(staging->path())) << "the test's own file system exchanges";
    EXPECT_FALSE(canExchangeFolders(staging->path(), unsupported));
    auto swap = exchangeBundles(replacement.string(), installed.string(), unsupported);
    EXPECT_FALSE(swap.succeeded());
    EXPECT_NE(swap.failure().find("one step"), std::string::npos) << swap.failure();
    EXPECT_NE(readTextFile(installed / "Contents/Info.plist").find("<string>1.0</string>"), std::string::npos);
    EXPECT_NE(readTextFile(replacement / "Contents/Info.plist").find("<string>2.0</string>"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(staging->path()), fs::directory_iterator()), 1) << "probe folders left";
}

TEST_F(UpdateFilesTest, LeftoverStagingFoldersAreRemovedAndNothingElse)
{
    auto installed = makeBundle(root / "installed");
    auto leftover = StagingFolder::createBeside(installed.string());
    ASSERT_TRUE(leftover);
    writeFile(fs::path(leftover->path()) / "update.archive", "partial");
    makeBundle(fs::path(leftover->path()) / "unpacked");
    fs::create_directory_symlink(root / "installed", fs::path(leftover->path()) / "link");
    writeFile(root / "installed/unrelated.txt", "keep me");
    const fs::path leftoverPath = leftover->path();
    StagingFolder::removeLeftoversBeside(installed.string());
    EXPECT_FALSE(fs::exists(leftoverPath));
    EXPECT_TRUE(fs::exists(root / "installed/unrelated.txt"));
    EXPECT_TRUE(fs::exists(installed / "Contents/Info.plist"));
}

} // namespace
