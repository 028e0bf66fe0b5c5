#pragma once

#include <string_view>

namespace updater {

// Orders two bundle versions (CFBundleVersion, sparkle:version) the way
// Sparkle's standard comparator does, so that feeds written for Sparkle
// mean the same here; negative, zero or positive like strcmp.
//  - Reading stops at the first '-': what follows (a commit hash, say) is
//    not part of the version ("1.5.5-335d3e2" equals "1.5.5-a655360").
//  - A version is a row of parts: runs of digits, runs of other letters,
//    and single separators ('.', blanks, punctuation); all separators are
//    alike.
//  - Only the leading run of numbers and periods is padded: the shorter
//    one gets ".0" parts until both have as many ("1.0" equals "1.0.0",
//    "3.3 (5847)" is read as "3.3.0 (5847)" beside "3.3.1b1 (5902)").
//  - Parts compare pairwise from the left: numbers as numbers of any
//    length, letters byte by byte; a number beats a separator, and either
//    beats letters ("1.0.1" is newer than "1.0.b1").
//  - When one row runs out, the longer one is newer unless its next part
//    is letters, which mark a pre-release ("1.0b2" is older than "1.0").
int compareVersions(std::string_view left, std::string_view right);

inline bool isNewerVersion(std::string_view candidate, std::string_view running)
{
    return compareVersions(candidate, running) > 0;
}

} // namespace updater
