#pragma once

#include "integration/helper_harness.h"
#include "support/loopback.h"
#include "support/text_files.h"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace harness {

using testing_support::freeLoopbackPort;

// Debian's python3 http.server over a folder of the test's, on loopback.
class FeedServer {
public:
    explicit FeedServer(std::filesystem::path folder);

    std::string url(const std::string& file) const;
    // True once a GET of `file` has been answered (its headers sent).
    bool waitForRequest(const std::string& file, Clock::duration limit) const;

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_log;
    int m_port { 0 };
    testing_support::ChildProcess m_process;
};

struct SignedArchive {
    std::string signature;
    std::string length;
};

// The vendor's signing tool, as a vendor runs it.
class SigningKey {
public:
    explicit SigningKey(const std::filesystem::path& privateKeyFile);
    const std::string& publicKey() const { return m_publicKey; }
    SignedArchive sign(const std::filesystem::path& archive) const;

private:
    std::filesystem::path m_privateKeyFile;
    std::string m_publicKey;
};

// Sets a string key of an XML Info.plist, adding it when missing.
void setInfoString(const std::filesystem::path& infoPlist, const std::string& key, const std::string& value);

// Runs tests/support/update_archive.py.
void packArchive(const std::filesystem::path& out, const std::string& format, const std::filesystem::path& folder,
    const std::vector<std::string>& extras = {});

struct FeedItem {
    std::string version;
    std::string url;
    std::optional<std::string> length;
    std::optional<std::string> signature;
    std::optional<std::string> os {}; // sparkle:os
};
void writeAppcast(const std::filesystem::path& file, const std::vector<FeedItem>& items);

using testing_support::readTextFile;

} // namespace harness
