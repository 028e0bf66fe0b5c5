// The helper under load and under broken clients, bounded so that it runs
// with every test. scripts/load-bench.sh runs the same cases at a larger
// scale through the variables FERROWIND_LOAD_CONNECTIONS,
// FERROWIND_LOAD_CLIENTS and FERROWIND_LOAD_COMMANDS.
#include "integration/helper_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace harness;

unsigned setting(const char* name, unsigned fallback)
{
    const char* text = std::getenv(name);
    return text ? static_cast<unsigned>(std::stoul(text)) : fallback;
}

// Sanitizers keep freed memory in quarantine, so resident size says nothing
// about leaks there; their own leak check covers those builds.
constexpr bool kResidentSizeIsMeaningful =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    false;
#else
    true;
#endif

long residentKilobytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string field;
    while (status >> field) {
        if (field == "VmRSS:") {
            long kilobytes = 0;
            status >> kilobytes;
            return kilobytes;
        }
    }
    return -1;
}

long openDescriptors(pid_t pid)
{
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid) + "/fd", error);
    return error ? -1 : std::distance(entries, std::filesystem::directory_iterator());
}

class Load : public testing::Test, protected HelperSession {
protected:
    void SetUp() override
    {
        const unsigned descriptors = std::max(4096u, setting("FERROWIND_LOAD_CONNECTIONS", 1000) + 256);
        raiseDescriptorLimit(descriptors);
        start(descriptors);
        m_descriptorsAtStart = openDescriptors(m_helper->pid());
    }

    // Every connection the clients ended, or the helper should have ended,
    // is closed: the helper holds as many descriptors as it started with.
    void expectConnectionsClosed()
    {
        testing_support::eventually([&] { return openDescriptors(m_helper->pid()) == m_descriptorsAtStart; }, 10s, 10ms);
        EXPECT_EQ(openDescriptors(m_helper->pid()), m_descriptorsAtStart);
    }

    static std::optional<Client> greeted() { return greetedClient(kPort, 10s, 10s); }

    // Each client sends its share one command at a time and checks every
    // reply; the count of right replies over all clients. The clients
    // connect one after another, each greeted before the next connects.
    unsigned commandsFromClients(unsigned clientCount, unsigned commands)
    {
        std::vector<Client> clients;
        for (unsigned c = 0; c < clientCount; ++c) {
            auto client = greeted();
            if (!client)
                return 0;
            clients.push_back(std::move(*client));
        }
        std::atomic<unsigned> answered { 0 };
        std::vector<std::thread> threads;
        for (auto& client : clients) {
            threads.emplace_back([&, share = commands / clientCount] {
                for (unsigned i = 0; i < share; ++i) {
                    client.send(i % 2 ? "version\n" : "frobnicate 1,,2\n");
                    if (client.readLine(30s) != (i % 2 ? version() : "<nil>"))
                        return;
                    ++answered;
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        return answered;
    }

    long m_descriptorsAtStart { -1 };
};

TEST_F(Load, ThousandConcurrentConnectionsAreEachGreetedAndAnswered)
{
    const unsigned count = setting("FERROWIND_LOAD_CONNECTIONS", 1000);
    std::vector<Client> clients;
    for (unsigned i = 0; i < count; ++i) {
        auto client = greeted();
        ASSERT_TRUE(client) << "connection " << i << " was not greeted";
        clients.push_back(std::move(*client));
    }
    for (auto& client : clients)
        client.send("version\n");
    unsigned answered = 0;
    for (auto& client : clients)
        answered += client.readLine(30s) == version();
    EXPECT_EQ(answered, count);
    clients.clear();
    expectConnectionsClosed();
    expectStillServing();
}

TEST_F(Load, ManyClientsGetEveryCommandAnsweredAndMemoryReturns)
{
    const unsigned clientCount = setting("FERROWIND_LOAD_CLIENTS", 50);
    const unsigned commands = setting("FERROWIND_LOAD_COMMANDS", 100000) / clientCount * clientCount;

    // A first round brings the allocator to its working size, so that what
    // the second leaves behind is growth.
    ASSERT_EQ(commandsFromClients(clientCount, clientCount * 20), clientCount * 20);
    auto before = residentKilobytes(m_helper->pid());

    auto start = Clock::now();
    EXPECT_EQ(commandsFromClients(clientCount, commands), commands);
    auto seconds = std::chrono::duration<double>(Clock::now() - start).count();

    expectStillServing();
    auto after = residentKilobytes(m_helper->pid());
    std::cout << "load: " << commands << " commands from " << clientCount << " clients in " << seconds << " s ("
              << static_cast<long>(commands / seconds) << " per second); helper resident " << before << " kB before, "
              << after << " kB after\n";
    if (kResidentSizeIsMeaningful) {
        EXPECT_LT(after - before, 1024) << "resident size grew from " << before << " kB to " << after << " kB";
    }
}

// A command line left unfinished, then a reset; the helper must drop only
// that connection.
void resetMidLine(unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        auto client = Client::connectTo(kPort);
        if (!client)
            continue;
        client->readLine();
        client->send("fileBusy \"/tmp/par");
        client->reset();
    }
}

TEST_F(Load, ResetsClientsThatNeverReadAndASlowClientLeaveOthersServed)
{
    std::vector<Client> nonReaders;
    for (int i = 0; i < 10; ++i) {
        auto client = greeted();
        ASSERT_TRUE(client);
        nonReaders.push_back(std::move(*client));
    }
    std::thread nonReading([&] {
        for (int round = 0; round < 200; ++round) {
            for (auto& client : nonReaders)
                client.send("version\n");
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread resets([] { resetMidLine(50); });
    std::optional<std::string> slowReply;
    std::thread slow([&] {
        auto client = greeted();
        if (!client)
            return;
        for (char byte : std::string("version\n")) {
            client->send(std::string(1, byte));
            std::this_thread::sleep_for(100ms);
        }
        slowReply = client->readLine(10s);
    });

    EXPECT_EQ(commandsFromClients(5, 2000), 2000u);
    nonReading.join();
    resets.join();
    slow.join();
    EXPECT_EQ(slowReply, version());
    nonReaders.clear();
    expectConnectionsClosed();
    expectStillServing();
}

} // namespace
