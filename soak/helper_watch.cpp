#include "soak/helper_watch.h"

#include "support/eventually.h"
#include "support/text_files.h"

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace soak {

namespace {

// A sanitizer build starts slowly on a loaded machine; a restart that has
// not greeted again after this is a helper that did not come back.
constexpr auto kRestartLimit = 30s;

long fieldOf(const std::string& status, const std::string& name)
{
    const auto at = status.find("\n" + name + ":");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + name.size() + 2);
}

std::string describeEnd(int status)
{
    if (WIFSIGNALED(status))
        return "ended by signal " + std::to_string(WTERMSIG(status));
    return "ended with status " + std::to_string(WEXITSTATUS(status));
}

void keepPeak(Sample& peak, const Sample& now)
{
    peak.descriptors = std::max(peak.descriptors, now.descriptors);
    peak.threads = std::max(peak.threads, now.threads);
    peak.residentKiB = std::max(peak.residentKiB, now.residentKiB);
}

} // namespace

HelperWatch::HelperWatch(const harness::HelperBundleCopy& bundle, Tally& tally)
    : m_bundle(bundle)
    , m_tally(tally)
{
}

void HelperWatch::serving(pid_t pid)
{
    const auto sample = sampleOf(pid).value_or(Sample {});
    const std::lock_guard lock(m_mutex);
    m_instances.push_back({ pid, Clock::now(), sample, sample, sample, Clock::now(), std::nullopt });
}

std::optional<Sample> HelperWatch::sampleOf(pid_t pid) const
{
    const auto folder = std::filesystem::path("/proc") / std::to_string(pid);
    const auto status = "\n" + testing_support::readTextFile(folder / "status");
    std::error_code error;
    int descriptors = 0;
    for (std::filesystem::directory_iterator entry(folder / "fd", error), end; !error && entry != end; entry.increment(error))
        ++descriptors;
    const long threads = fieldOf(status, "Threads");
    if (error || threads < 0)
        return std::nullopt;
    return Sample { descriptors, static_cast<int>(threads), fieldOf(status, "VmRSS") };
}

void HelperWatch::look()
{
    reap();
    const std::lock_guard lock(m_mutex);
    if (m_instances.empty() || m_ended.contains(m_instances.back().pid))
        return;
    Instance& serving = m_instances.back();
    const auto sample = sampleOf(serving.pid);
    if (!sample)
        return;
    serving.last = *sample;
    serving.lastSeen = Clock::now();
    keepPeak(serving.peak, *sample);
    if (!serving.afterOneMinute && Clock::now() - serving.started >= 1min)
        serving.afterOneMinute = sample;
    if (Clock::now() >= m_nextTold) {
        tell("helper " + std::to_string(serving.pid) + ": " + std::to_string(sample->descriptors) + " descriptors, "
            + std::to_string(sample->threads) + " threads, " + std::to_string(sample->residentKiB) + " KiB resident");
        m_nextTold = Clock::now() + 1min;
    }
}

void HelperWatch::reap()
{
    int status = 0;
    for (pid_t pid; (pid = waitpid(-1, &status, WNOHANG)) > 0;)
        noteEnd(pid, status);
}

void HelperWatch::noteEnd(pid_t pid, int status)
{
    const std::lock_guard lock(m_mutex);
    if (!std::ranges::any_of(m_instances, [&](auto const& instance) { return instance.pid == pid; })) {
        m_othersEnded[pid] = status; // a process the helper started, or one of the soak's own
        return;
    }
    m_ended[pid] = status;
    const bool orderly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!m_askedToEnd.contains(pid) || !orderly)
        m_tally.crashed("helper " + std::to_string(pid) + " " + describeEnd(status)
            + (m_askedToEnd.contains(pid) ? " when asked to end" : " unasked"));
}

std::string HelperWatch::endOfOther(pid_t pid) const
{
    const std::lock_guard lock(m_mutex);
    const auto ended = m_othersEnded.find(pid);
    return ended == m_othersEnded.end() ? std::string() : describeEnd(ended->second);
}

bool HelperWatch::awaitEnd(pid_t pid, Clock::duration limit)
{
    return testing_support::eventually(
        [&] {
            reap();
            const std::lock_guard lock(m_mutex);
            return m_ended.contains(pid);
        },
        limit, 10ms);
}

void HelperWatch::endOnCommand(const std::string& command)
{
    pid_t pid;
    {
        const std::lock_guard lock(m_mutex);
        pid = m_instances.back().pid;
        m_askedToEnd.insert(pid);
    }
    auto client = harness::greetedClient(harness::kPort, kRestartLimit, kRestartLimit);
    const auto reply = client ? client->ask(command + "\n", kRestartLimit) : std::nullopt;
    if (reply != "1")
        m_tally.wrong(command + " answered " + reply.value_or("nothing"));
    else
        m_tally.note("other commands answered");
    if (!awaitEnd(pid, kRestartLimit))
        m_tally.crashed("helper " + std::to_string(pid) + " still runs " + std::to_string(kRestartLimit / 1s) + " s after " + command);
}

void HelperWatch::restart()
{
    look();
    const auto started = Clock::now();
    endOnCommand("restart");
    const auto greeted = harness::greetedClient(harness::kPort, kRestartLimit, kRestartLimit);
    const auto helpers = m_bundle.runningHelpers();
    if (!greeted || helpers.size() != 1) {
        m_tally.crashed("no helper greets after restart (" + std::to_string(helpers.size()) + " running)");
        return;
    }
    m_tally.answered("restart, until greeted again", Clock::now() - started);
    serving(helpers.front());
}

void HelperWatch::quit()
{
    look();
    endOnCommand("quit");
}

std::string HelperWatch::descriptorsOfServing() const
{
    const auto folder = std::filesystem::path("/proc") / std::to_string(instances().back().pid) / "fd";
    std::string listed;
    std::error_code error;
    for (auto const& entry : std::filesystem::directory_iterator(folder, error))
        listed += "    " + entry.path().filename().string() + " → " + std::filesystem::read_symlink(entry.path(), error).string() + "\n";
    return listed;
}

std::vector<Instance> HelperWatch::instances() const
{
    const std::lock_guard lock(m_mutex);
    return m_instances;
}

} // namespace soak
