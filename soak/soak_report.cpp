#include "soak/soak_report.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace soak {

namespace {

// A helper whose memory grows by more than this between its first minute
// and its end is leaking.
constexpr double kMostGrowth = 0.10;
// Only a helper that served this long says anything about its growth.
constexpr auto kLongEnoughToTell = 3min;

constexpr std::string_view kCommandLine = "Command: ";
constexpr std::string_view kResultLine = "Command result: ";

double percentile(std::vector<double> values, double share)
{
    std::ranges::sort(values);
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

void printTimes(const Tally::Figures& figures)
{
    std::printf("%-34s %9s %10s %10s\n", "answered", "count", "median ms", "p99 ms");
    for (auto const& [kind, times] : figures.milliseconds)
        std::printf("%-34s %9zu %10.2f %10.2f\n", kind.c_str(), times.size(), percentile(times, 0.5), percentile(times, 0.99));
}

long counter(const Tally::Figures& figures, const std::string& name)
{
    const auto found = figures.counters.find(name);
    return found == figures.counters.end() ? 0 : found->second;
}

void printFaults(const char* title, long count, const std::vector<std::string>& examples)
{
    std::printf("%s: %ld\n", title, count);
    for (auto const& example : examples)
        std::printf("    %s\n", example.c_str());
}

void printSample(const char* when, const Sample& sample)
{
    std::printf("  %-10s descriptors %4d, threads %3d, resident %8.1f MiB\n", when, sample.descriptors, sample.threads,
        static_cast<double>(sample.residentKiB) / 1024);
}

// Every helper's growth from its first minute to its end; false when one
// that served long enough grew too much.
bool printResources(const SoakResults& results)
{
    Sample peak = results.atStart;
    for (auto const& instance : results.instances) {
        peak.descriptors = std::max(peak.descriptors, instance.peak.descriptors);
        peak.threads = std::max(peak.threads, instance.peak.threads);
        peak.residentKiB = std::max(peak.residentKiB, instance.peak.residentKiB);
    }
    std::printf("helper processes: %zu\n", results.instances.size());
    printSample("start", results.atStart);
    printSample("peak", peak);
    printSample("end", results.atEnd);
    bool steady = true;
    for (auto const& instance : results.instances) {
        if (!instance.afterOneMinute)
            continue;
        const double atMinute = static_cast<double>(instance.afterOneMinute->residentKiB);
        const double growth = (static_cast<double>(instance.last.residentKiB) - atMinute) / atMinute;
        const auto lived = instance.lastSeen - instance.started;
        std::printf("  helper %d: resident %.1f MiB after its first minute, %.1f MiB at its end (%+.1f%%)\n", instance.pid,
            atMinute / 1024, static_cast<double>(instance.last.residentKiB) / 1024, growth * 100);
        if (lived >= kLongEnoughToTell && growth > kMostGrowth)
            steady = false;
    }
    return steady;
}

struct LogCheck {
    long commandLines { 0 };
    long resultLines { 0 };
    long unpaired { 0 };
    long lost { 0 };
    long misreported { 0 };
    long duplicated { 0 };
    long outOfOrder { 0 };
};

struct LoggedToken {
    std::size_t position;
    int copies;
    std::string result;
};

// The token a friendly command carries as its last parameter.
long tokenIn(std::string_view commandLine)
{
    const auto at = commandLine.rfind("integer ");
    if (at == std::string_view::npos || !commandLine.ends_with(")"))
        return -1;
    return std::atol(std::string(commandLine.substr(at + 8)).c_str());
}

// Each helper's lines in the order it sent them: every command line is
// followed by its result before the next command's.
std::unordered_map<long, LoggedToken> readCommands(const std::vector<JournalDaemon::Line>& lines, LogCheck& check)
{
    std::unordered_map<long, LoggedToken> tokens;
    std::unordered_map<int, long> awaitingResult; // helper → token, or -1 for a command without one
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& [pid, message] = lines[i];
        const std::string_view text(message);
        if (text.starts_with(kCommandLine)) {
            ++check.commandLines;
            if (awaitingResult.contains(pid))
                ++check.unpaired;
            const long token = tokenIn(text);
            awaitingResult[pid] = token;
            if (token >= 0) {
                auto& logged = tokens[token];
                logged.position = i;
                ++logged.copies;
            }
        } else if (text.starts_with(kResultLine)) {
            ++check.resultLines;
            const auto awaited = awaitingResult.find(pid);
            if (awaited == awaitingResult.end()) {
                ++check.unpaired;
                continue;
            }
            if (awaited->second >= 0)
                tokens[awaited->second].result = message.substr(kResultLine.size());
            awaitingResult.erase(awaited);
        }
    }
    check.unpaired += static_cast<long>(awaitingResult.size());
    return tokens;
}

LogCheck checkLog(const SoakResults& results)
{
    LogCheck check;
    const auto tokens = readCommands(results.logLines, check);
    std::unordered_map<int, std::size_t> lastPosition;
    for (auto const& command : results.figures.answered) {
        const auto found = tokens.find(command.token);
        if (found == tokens.end()) {
            ++check.lost;
            continue;
        }
        if (found->second.copies > 1)
            ++check.duplicated;
        if (found->second.result != command.reply)
            ++check.misreported;
        auto [last, first] = lastPosition.try_emplace(command.client, found->second.position);
        if (!first && found->second.position < last->second)
            ++check.outOfOrder;
        last->second = found->second.position;
    }
    return check;
}

bool printLog(const SoakResults& results)
{
    const auto check = checkLog(results);
    const long answered = static_cast<long>(results.figures.answered.size()) + counter(results.figures, "other commands answered");
    std::printf("log lines: %zu received; of those %ld command lines and %ld results, for %ld commands answered (%ld lines "
                "expected)\n",
        results.logLines.size(), check.commandLines, check.resultLines, answered, 2 * answered);
    std::printf("  friendly commands whose lines are missing %ld, whose result differs from the answer %ld, logged "
                "twice %ld, out of order %ld; lines without their pair %ld\n",
        check.lost, check.misreported, check.duplicated, check.outOfOrder, check.unpaired);
    return check.lost == 0 && check.misreported == 0 && check.duplicated == 0 && check.outOfOrder == 0 && check.unpaired == 0
        && check.commandLines >= answered && check.resultLines >= answered;
}

} // namespace

bool report(const SoakResults& results)
{
    auto const& figures = results.figures;
    std::printf("\n== soak summary\n");
    printTimes(figures);
    for (auto const& [event, count] : results.events)
        std::printf("%s: %ld\n", event.c_str(), count);
    if (const long answers = counter(figures, kFuseDaemonEndedAnswers))
        std::printf("%s: %ld\n", kFuseDaemonEndedAnswers, answers);
    printFaults("wrong answers", counter(figures, "wrong answers"), figures.wrong);
    printFaults("waits past the bound", counter(figures, "waits past the bound"), figures.late);
    printFaults("crashes", counter(figures, "crashes"), figures.crashes);
    const bool steady = printResources(results);
    const bool back = results.atEnd.descriptors <= results.atStart.descriptors && results.atEnd.threads <= results.atStart.threads;
    if (!back)
        std::printf("the helper's descriptors at the start:\n%sand at the end:\n%s", results.descriptorsAtStart.c_str(),
            results.descriptorsAtEnd.c_str());
    const bool logWhole = printLog(results);
    if (const long faults = counter(figures, "soak faults"))
        std::printf("the soak itself failed %ld times (see the timeline); its figures are incomplete\n", faults);
    const bool passed = counter(figures, "soak faults") == 0 && counter(figures, "wrong answers") == 0 && counter(figures, "waits past the bound") == 0
        && counter(figures, "crashes") == 0 && steady && back && logWhole;
    std::printf("descriptors and threads back to their start: %s; memory steady: %s; log whole: %s\n", back ? "yes" : "NO",
        steady ? "yes" : "NO", logWhole ? "yes" : "NO");
    std::printf("== soak %s\n", passed ? "PASSED" : "FAILED");
    return passed;
}

} // namespace soak
