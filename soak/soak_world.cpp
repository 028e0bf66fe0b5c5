#include "soak/soak_world.h"

#include <cstdio>

namespace soak {

namespace {

// The report shows the first of each sort of fault; the count tells the rest.
constexpr std::size_t kExamplesKept = 20;

void keepExample(std::vector<std::string>& examples, const std::string& text)
{
    if (examples.size() < kExamplesKept)
        examples.push_back(text);
}

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

const Clock::time_point g_began = Clock::now();

} // namespace

double secondsIn() { return std::chrono::duration<double>(Clock::now() - g_began).count(); }

void tell(const std::string& what) { std::printf("%8.1f s  %s\n", secondsIn(), what.c_str()); }

void Tally::answered(const std::string& kind, Clock::duration took)
{
    const std::lock_guard lock(m_mutex);
    m_figures.milliseconds[kind].push_back(milliseconds(took));
}

void Tally::wrong(const std::string& what)
{
    const std::lock_guard lock(m_mutex);
    ++m_figures.counters["wrong answers"];
    keepExample(m_figures.wrong, what + ", at " + std::to_string(secondsIn()) + " s");
}

void Tally::late(const std::string& kind, Clock::duration took)
{
    const std::lock_guard lock(m_mutex);
    ++m_figures.counters["waits past the bound"];
    keepExample(m_figures.late, kind + ": " + std::to_string(milliseconds(took)) + " ms, ending at " + std::to_string(secondsIn()) + " s");
}

void Tally::crashed(const std::string& what)
{
    const std::lock_guard lock(m_mutex);
    ++m_figures.counters["crashes"];
    keepExample(m_figures.crashes, what);
}

void Tally::note(const std::string& counter, long added)
{
    const std::lock_guard lock(m_mutex);
    m_figures.counters[counter] += added;
}

void Tally::logged(AnsweredCommand command)
{
    const std::lock_guard lock(m_mutex);
    m_figures.answered.push_back(std::move(command));
}

Tally::Figures Tally::figures() const
{
    const std::lock_guard lock(m_mutex);
    return m_figures;
}

} // namespace soak
