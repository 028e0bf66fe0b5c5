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

// A certificate authority of the test's own and a certificate it signed for
// 127.0.0.1, made with openssl.
class TestCertificates {
public:
    explicit TestCertificates(const std::filesystem::path& folder);
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;
    std::filesystem::path certificate() const { return m_folder / "server.pem"; }
    std::filesystem::path key() const { return m_folder / "server.key"; }
    // Makes the authority the only one this mount namespace trusts (the
    // system's bundle, which libcurl reads); false where it cannot mount.
    bool trustInThisMountNamespace();

private:
    static constexpr const char* kSystemAuthorities = "/etc/ssl/certs/ca-certificates.crt";
    std::filesystem::path m_folder;
    bool m_trusted { false };
};

// A vendor's web server over a folder of the test's, on loopback
// (tests/support/feed_server.py: redirects and dripping bodies as files
// beside the ones served say); over TLS when given certificates.
class FeedServer {
public:
    explicit FeedServer(std::filesystem::path folder, const TestCertificates* tls = nullptr);

    std::string url(const std::string& file) const;
    // True once a GET of `file` has been answered (its headers sent).
    bool waitForRequest(const std::string& file, Clock::duration limit) const;

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_log;
    int m_port { 0 };
    std::string m_scheme;
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
