#include "updater/version_order.h"

#include <cctype>
#include <optional>

namespace updater {

namespace {

enum class RunKind { Digits, Letters };

struct Run {
    RunKind kind;
    std::string_view text;
};

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

class RunReader {
public:
    explicit RunReader(std::string_view version)
        : m_rest(version)
    {
    }

    std::optional<Run> next()
    {
        while (!m_rest.empty() && !isDigit(m_rest.front()) && !isLetter(m_rest.front()))
            m_rest.remove_prefix(1);
        if (m_rest.empty())
            return std::nullopt;
        const bool digits = isDigit(m_rest.front());
        std::size_t length = 0;
        while (length < m_rest.size() && (digits ? isDigit(m_rest[length]) : isLetter(m_rest[length])))
            ++length;
        Run run { digits ? RunKind::Digits : RunKind::Letters, m_rest.substr(0, length) };
        m_rest.remove_prefix(length);
        return run;
    }

private:
    std::string_view m_rest;
};

std::string_view withoutLeadingZeros(std::string_view digits)
{
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    return digits;
}

// Longer numbers are larger; equal lengths compare digit by digit, so no
// number is ever too long to compare.
int compareNumbers(std::string_view left, std::string_view right)
{
    left = withoutLeadingZeros(left);
    right = withoutLeadingZeros(right);
    if (left.size() != right.size())
        return left.size() < right.size() ? -1 : 1;
    int order = left.compare(right);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int compareRuns(const Run& left, const Run& right)
{
    if (left.kind != right.kind)
        return left.kind == RunKind::Digits ? 1 : -1;
    if (left.kind == RunKind::Digits)
        return compareNumbers(left.text, right.text);
    int order = left.text.compare(right.text);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// How a version that has run out compares with the remaining run of the
// other one.
int compareWithMissing(const Run& remaining)
{
    if (remaining.kind == RunKind::Letters)
        return 1;
    return compareNumbers("0", remaining.text);
}

} // namespace

int compareVersions(std::string_view left, std::string_view right)
{
    RunReader leftRuns(left), rightRuns(right);
    for (;;) {
        auto l = leftRuns.next();
        auto r = rightRuns.next();
        if (!l && !r)
            return 0;
        int order = 0;
        if (l && r)
            order = compareRuns(*l, *r);
        else if (l)
            order = -compareWithMissing(*l);
        else
            order = compareWithMissing(*r);
        if (order != 0)
            return order;
    }
}

} // namespace updater
