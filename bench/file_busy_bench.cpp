// One fileBusy check timed three ways on a crowded process table: the
// helper's command round trip, `fuser -s PATH` and `lsof -t PATH`.
// 300 extra processes of the user each hold 50 open files. The file is asked
// about twice: held by the newest process (the scan finds it last) and held by
// no one (every process is examined in full).
// Run it where no other helper holds port 9483 (scripts/bench.sh runs it in
// namespaces of its own, so the process table is the benchmark's own).
#include "bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace bench;
namespace fs = std::filesystem;

constexpr int kHelperPort = 9483;
constexpr int kCrowd = 300;
constexpr int kFilesEach = 50;
constexpr int kSamples = 31;
constexpr int kLsofSamples = 11;

// A child that opens `paths` and waits to be killed.
pid_t startHolder(const std::vector<std::string>& paths)
{
    pid_t pid = fork();
    if (pid == 0) {
        for (auto const& path : paths)
            open(path.c_str(), O_RDONLY);
        for (;;)
            pause();
    }
    return pid;
}

// Exit status of a program run to its end, output discarded.
int run(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (auto const& part : command)
        argv.push_back(const_cast<char*>(part.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double medianMicroseconds(int samples, const std::function<void()>& once)
{
    std::vector<double> times;
    for (int i = 0; i < samples; ++i) {
        auto started = Clock::now();
        once();
        times.push_back(microseconds(Clock::now() - started));
    }
    return summarise(times).median;
}

class HelperClient {
public:
    explicit HelperClient(const fs::path& home)
    {
        m_pid = fork();
        if (m_pid == 0) {
            setenv("HOME", home.c_str(), 1);
            execl(HELPER_EXECUTABLE, HELPER_EXECUTABLE, static_cast<char*>(nullptr));
            _exit(127);
        }
        auto started = Clock::now();
        while ((m_descriptor = connectTo(kHelperPort)) < 0 && Clock::now() - started < 10s)
            std::this_thread::sleep_for(1ms);
        if (m_descriptor < 0 || !readLine(m_descriptor, m_pending)) {
            std::fprintf(stderr, "the helper did not answer; is port %d free?\n", kHelperPort);
            std::exit(1);
        }
    }
    ~HelperClient()
    {
        (void)!write(m_descriptor, "quit\n", 5);
        close(m_descriptor);
        waitpid(m_pid, nullptr, 0);
    }
    std::string fileBusy(const std::string& path)
    {
        std::string command = "fileBusy \"" + path + "\"\n";
        std::string reply;
        if (write(m_descriptor, command.data(), command.size()) != static_cast<ssize_t>(command.size())
            || !readLine(m_descriptor, m_pending, &reply)) {
            std::fprintf(stderr, "connection lost\n");
            std::exit(1);
        }
        return reply;
    }

private:
    pid_t m_pid { -1 };
    int m_descriptor { -1 };
    std::string m_pending;
};

struct Figures {
    double helper, fuser, lsof;
};

// Each tool is run once first to check that it gives the expected answer and
// to warm the caches alike.
Figures timeAllThree(HelperClient& helper, const std::string& path, bool held)
{
    std::string expectedReply = held ? "1" : "0";
    int expectedStatus = held ? 0 : 1;
    if (helper.fileBusy(path) != expectedReply || run({ "/usr/bin/fuser", "-s", path }) != expectedStatus
        || run({ "/usr/bin/lsof", "-t", path }) != expectedStatus) {
        std::fprintf(stderr, "the three disagree on %s\n", path.c_str());
        std::exit(1);
    }
    Figures figures {};
    figures.helper = medianMicroseconds(kSamples, [&] { helper.fileBusy(path); });
    figures.fuser = medianMicroseconds(kSamples, [&] { run({ "/usr/bin/fuser", "-s", path }); });
    figures.lsof = medianMicroseconds(kLsofSamples, [&] { run({ "/usr/bin/lsof", "-t", path }); });
    return figures;
}

void print(const char* title, const Figures& figures)
{
    std::printf("%s:\n", title);
    std::printf("  helper fileBusy round trip median %9.0f us\n", figures.helper);
    std::printf("  fuser -s                   median %9.0f us\n", figures.fuser);
    std::printf("  lsof -t                    median %9.0f us\n", figures.lsof);
    std::printf("  helper / fuser %.2f (target <= 0.50), helper / lsof %.3f\n", figures.helper / figures.fuser,
        figures.helper / figures.lsof);
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    fs::path scratch = fs::temp_directory_path() / ("ferrowind-bench-" + std::to_string(getpid()));
    fs::create_directories(scratch / "home");
    std::vector<std::string> crowdFiles;
    for (int i = 0; i < kFilesEach; ++i) {
        crowdFiles.push_back((scratch / ("crowd-" + std::to_string(i))).string());
        std::ofstream(crowdFiles.back()) << i;
    }
    std::string target = (scratch / "download.part").string();
    std::ofstream(target) << "partial";

    std::vector<pid_t> crowd;
    for (int i = 0; i < kCrowd; ++i)
        crowd.push_back(startHolder(crowdFiles));
    std::printf("%d extra processes holding %d files each\n", kCrowd, kFilesEach);
    {
        HelperClient helper(scratch / "home");
        print("file held by no one", timeAllThree(helper, target, false));
        pid_t holder = startHolder({ target });
        std::this_thread::sleep_for(100ms);
        print("file held by the newest process", timeAllThree(helper, target, true));
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
    }
    for (pid_t pid : crowd) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    fs::remove_all(scratch);
}
