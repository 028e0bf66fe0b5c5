#include "updater/version_order.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace updater {

namespace {

enum class PartKind { Number,
    Letters,
    Period,
    OtherSeparator };

struct Part {
    PartKind kind;
    std::string_view text;
};

PartKind kindOf(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (c == '.')
        return PartKind::Period;
    if (std::isdigit(byte))
        return PartKind::Number;
    if (std::isspace(byte) || std::ispunct(byte))
        return PartKind::OtherSeparator;
    // Bytes of non-ASCII characters count as letters, like Sparkle's
    // letters outside the punctuation and blank sets.
    return PartKind::Letters;
}

bool isSeparator(PartKind kind) { return kind == PartKind::Period || kind == PartKind::OtherSeparator; }

std::vector<Part> partsOf(std::string_view version)
{
    version = version.substr(0, version.find('-'));
    std::vector<Part> parts;
    std::size_t start = 0;
    while (start < version.size()) {
        const PartKind kind = kindOf(version[start]);
        std::size_t end = start + 1;
        while (!isSeparator(kind) && end < version.size() && kindOf(version[end]) == kind)
            ++end;
        parts.push_back({ kind, version.substr(start, end - start) });
        start = end;
    }
    return parts;
}

std::size_t leadingNumbersAndPeriods(const std::vector<Part>& parts)
{
    std::size_t count = 0;
    while (count < parts.size() && (parts[count].kind == PartKind::Number || parts[count].kind == PartKind::Period))
        ++count;
    return count;
}

void padLeadingRun(std::vector<Part>& shorter, const std::vector<Part>& longer)
{
    const std::size_t from = leadingNumbersAndPeriods(shorter);
    const std::size_t to = leadingNumbersAndPeriods(longer);
    for (std::size_t index = from; index < to; ++index) {
        const bool period = longer[index].kind == PartKind::Period;
        shorter.insert(shorter.begin() + static_cast<std::ptrdiff_t>(index),
            period ? Part { PartKind::Period, "." } : Part { PartKind::Number, "0" });
    }
}

int sign(int value) { return (value > 0) - (value < 0); }

std::string_view withoutLeadingZeros(std::string_view digits)
{
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    return digits;
}

// Any length: a longer number is larger, so no number is too long to
// compare (where Sparkle's 64-bit reading would make them all equal).
int compareNumbers(std::string_view left, std::string_view right)
{
    left = withoutLeadingZeros(left);
    right = withoutLeadingZeros(right);
    if (left.size() != right.size())
        return left.size() < right.size() ? -1 : 1;
    return sign(left.compare(right));
}

// Letters lose to everything; a number beats a separator.
int rankOf(PartKind kind)
{
    switch (kind) {
    case PartKind::Letters:
        return 0;
    case PartKind::Period:
    case PartKind::OtherSeparator:
        return 1;
    case PartKind::Number:
        break;
    }
    return 2;
}

int compareParts(const Part& left, const Part& right)
{
    if (int byRank = rankOf(left.kind) - rankOf(right.kind); byRank != 0)
        return sign(byRank);
    if (left.kind == PartKind::Number)
        return compareNumbers(left.text, right.text);
    if (left.kind == PartKind::Letters)
        return sign(left.text.compare(right.text));
    return 0;
}

} // namespace

int compareVersions(std::string_view left, std::string_view right)
{
    auto leftParts = partsOf(left);
    auto rightParts = partsOf(right);
    padLeadingRun(leftParts, rightParts);
    padLeadingRun(rightParts, leftParts);
    const std::size_t common = std::min(leftParts.size(), rightParts.size());
    for (std::size_t index = 0; index < common; ++index) {
        if (int order = compareParts(leftParts[index], rightParts[index]); order != 0)
            return order;
    }
    if (leftParts.size() == rightParts.size())
        return 0;
    const bool leftIsLonger = leftParts.size() > rightParts.size();
    const Part& next = leftIsLonger ? leftParts[common] : rightParts[common];
    const bool longerIsNewer = next.kind != PartKind::Letters;
    return (leftIsLonger == longerIsNewer) ? 1 : -1;
}

} // namespace updater
