// One fileBusy check timed three ways on a crowded process table: the
// helper's command round trip, `fuser -s PATH` and `lsof -t PATH`, beside
// the helper's `version` round trip on the same connection.
// 300 extra processes of the user each hold 50 open files. The file is asked
// about four times: held by no one, held only by a file browser, held by a
// file browser and the newest process, and held by the newest process alone.
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
constexpr int kVersionSamples = 2001;

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

// A process whose application name is the file name of `program` (a copy of
// sleep), holding `path` as its standard input.
pid_t startNamedHolder(const fs::path& program, const std::string& path)
{
    fs::copy_file("/bin/sleep", program, fs::copy_options::overwrite_existing);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, path.c_str(), O_RDONLY, 0);
    std::string name = program.string();
    char seconds[] = "3600";
    char* argv[] = { name.data(), seconds, nullptr };
    pid_t pid = -1;
    posix_spawn(&pid, name.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stop(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
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
    std::string fileBusy(const std::string& path) { return ask("fileBusy \"" + path + "\"\n"); }
    std::string ask(const std::string& command)
    {
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
    double helper, fuser, lsof, version;
};

// Each tool is run once first to check that it gives the expected answer and
// to warm the caches alike. A file browser holds a file for fuser and lsof,
// but not for the helper.
Figures timeAllThree(HelperClient& helper, const std::string& path, bool held, bool busy)
{
    std::string expectedReply = busy ? "1" : "0";
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
    figures.version = medianMicroseconds(kVersionSamples, [&] { helper.ask("version\n"); });
    return figures;
}

void print(const char* title, const Figures& figures)
{
    std::printf("%s:\n", title);
    std::printf("  helper fileBusy round trip median %9.0f us\n", figures.helper);
    std::printf("  fuser -s                   median %9.0f us\n", figures.fuser);
    std::printf("  lsof -t                    median %9.0f us\n", figures.lsof);
    std::printf("  helper version round trip  median %9.1f us\n", figures.version);
    std::printf("  helper / fuser %.3f, helper / lsof %.4f, helper / version %.2f\n", figures.helper / figures.fuser,
        figures.helper / figures.lsof, figures.helper / figures.version);
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
        print("file held by no one (targets: helper / fuser <= 0.01, helper / version <= 2)",
            timeAllThree(helper, target, false, false));
        pid_t finder = startNamedHolder(scratch / "Finder", target);
        std::this_thread::sleep_for(100ms);
        print("file held only by \"Finder\" (target: helper / fuser <= 0.5)", timeAllThree(helper, target, true, false));
        pid_t holder = startHolder({ target });
        std::this_thread::sleep_for(100ms);
        print("file held by \"Finder\" and the newest process", timeAllThree(helper, target, true, true));
        stop(holder);
        stop(finder);
        holder = startHolder({ target });
        std::this_thread::sleep_for(100ms);
        print("file held by the newest process (target: helper / fuser <= 0.05)", timeAllThree(helper, target, true, true));
        stop(holder);
    }
    for (pid_t pid : crowd) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    fs::remove_all(scratch);
}
