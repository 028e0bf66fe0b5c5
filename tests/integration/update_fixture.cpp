#include "integration/update_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace harness {

namespace {

std::string commandOutput(const std::string& command)
{
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    if (pclose(pipe) != 0)
        throw std::runtime_error("failed: " + command);
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string attributeValue(const std::string& text, const std::string& name)
{
    auto start = text.find(name + "=\"");
    if (start == std::string::npos)
        throw std::runtime_error("no " + name + " in " + text);
    start += name.size() + 2;
    return text.substr(start, text.find('"', start) - start);
}

} // namespace

TestCertificates::TestCertificates(const fs::path& folder)
    : m_folder(folder)
{
    fs::create_directories(m_folder);
    const auto in = [&](const char* name) { return quoted((m_folder / name).string()); };
    const std::string quiet = " 2>/dev/null";
    commandOutput("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Test-CA -keyout " + in("ca.key") + " -out "
        + in("ca.pem") + quiet);
    commandOutput("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + in("server.key") + " -out " + in("server.csr")
        + quiet);
    std::ofstream(m_folder / "names.ext") << "subjectAltName=IP:127.0.0.1\n";
    commandOutput("openssl x509 -req -days 2 -in " + in("server.csr") + " -CA " + in("ca.pem") + " -CAkey " + in("ca.key")
        + " -CAcreateserial -extfile " + in("names.ext") + " -out " + in("server.pem") + quiet);
}

bool TestCertificates::trustInThisMountNamespace()
{
    m_trusted = mount((m_folder / "ca.pem").c_str(), kSystemAuthorities, nullptr, MS_BIND, nullptr) == 0;
    if (!m_trusted)
        std::perror("mounting the test's authority");
    return m_trusted;
}

// The next test of this process trusts the system's authorities again.
TestCertificates::~TestCertificates()
{
    if (m_trusted)
        umount2(kSystemAuthorities, MNT_DETACH);
}

namespace {

std::vector<std::string> serverArguments(int port, const fs::path& folder, const TestCertificates* tls)
{
    std::vector<std::string> arguments { "-u", FEED_SERVER_SCRIPT, std::to_string(port), "--directory", folder.string() };
    if (tls)
        arguments.insert(arguments.end(), { "--certificate", tls->certificate().string(), "--key", tls->key().string() });
    return arguments;
}

} // namespace

FeedServer::FeedServer(fs::path folder, const TestCertificates* tls)
    : m_folder(std::move(folder))
    , m_log(m_folder.parent_path() / (tls ? "tls-server.log" : "server.log"))
    , m_port(freeLoopbackPort())
    , m_scheme(tls ? "https" : "http")
    , m_process("/usr/bin/python3", serverArguments(m_port, m_folder, tls),
          { .outputs = { { STDOUT_FILENO, m_log.string() }, { STDERR_FILENO, m_log.string() } } })
{
    if (!Client::connectTo(m_port, 10s))
        throw std::runtime_error("the feed server did not start");
}

std::string FeedServer::url(const std::string& file) const { return m_scheme + "://127.0.0.1:" + std::to_string(m_port) + "/" + file; }

bool FeedServer::waitForRequest(const std::string& file, Clock::duration limit) const
{
    const std::string request = "\"GET /" + file + " ";
    return testing_support::eventually([&] { return readTextFile(m_log).find(request) != std::string::npos; }, limit, 20ms);
}

SigningKey::SigningKey(const fs::path& privateKeyFile)
    : m_privateKeyFile(privateKeyFile)
    , m_publicKey(commandOutput(quoted(UPDATE_SIGNER_PROGRAM) + " generate-keys " + quoted(privateKeyFile.string())))
{
}

SignedArchive SigningKey::sign(const fs::path& archive) const
{
    auto line = commandOutput(quoted(UPDATE_SIGNER_PROGRAM) + " sign " + quoted(m_privateKeyFile.string()) + " " + quoted(archive.string()));
    return { attributeValue(line, "sparkle:edSignature"), attributeValue(line, "length") };
}

void setInfoString(const fs::path& infoPlist, const std::string& key, const std::string& value)
{
    auto text = readTextFile(infoPlist);
    const std::string keyElement = "<key>" + key + "</key>";
    if (auto at = text.find(keyElement); at != std::string::npos) {
        auto valueStart = text.find("<string>", at) + std::string("<string>").size();
        text.replace(valueStart, text.find("</string>", valueStart) - valueStart, value);
    } else {
        text.insert(text.rfind("</dict>"), "\t" + keyElement + "\n\t<string>" + value + "</string>\n");
    }
    std::ofstream(infoPlist, std::ios::trunc) << text;
}

void packArchive(const fs::path& out, const std::string& format, const fs::path& folder, const std::vector<std::string>& extras)
{
    std::string command = quoted(UPDATE_ARCHIVE_SCRIPT) + " " + quoted(out.string()) + " " + format + " " + quoted(folder.string());
    for (auto const& extra : extras)
        command += " " + quoted(extra);
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

void writeAppcast(const fs::path& file, const std::vector<FeedItem>& items)
{
    std::ofstream out(file, std::ios::trunc);
    out << R"(<?xml version="1.0" encoding="utf-8"?>)"
           "\n"
        << R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)"
           "\n";
    for (auto const& item : items) {
        out << "<item><title>" << item.version << "</title><sparkle:version>" << item.version << "</sparkle:version>"
            << "<sparkle:shortVersionString>" << item.version << "</sparkle:shortVersionString><enclosure url=\"" << item.url << "\"";
        if (item.length)
            out << " length=\"" << *item.length << "\"";
        if (item.signature)
            out << " sparkle:edSignature=\"" << *item.signature << "\"";
        if (item.os)
            out << " sparkle:os=\"" << *item.os << "\"";
        out << " type=\"application/octet-stream\"/></item>\n";
    }
    out << "</channel></rss>\n";
}

} // namespace harness
