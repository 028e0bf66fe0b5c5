#pragma once

#include <string_view>

namespace updater {

// Orders two bundle versions (CFBundleVersion, sparkle:version); negative,
// zero or positive like strcmp. Rules:
//  - A version is read as runs of digits and runs of letters; every other
//    character ('.', '-', '_', blanks) only separates runs.
//  - Runs are compared pairwise from the left. Two digit runs compare as
//    numbers of any length (leading zeros ignored, "10" > "9"); two letter
//    runs compare byte by byte ("b" > "a", case counts).
//  - A digit run is newer than a letter run in the same place: "1.0.1" is
//    newer than "1.0.b1".
//  - When one version runs out, missing digit runs count as 0 ("1.0" equals
//    "1.0.0"), and a letter run left over marks a pre-release, older than
//    the plain version ("1.0b2" is older than "1.0").
int compareVersions(std::string_view left, std::string_view right);

inline bool isNewerVersion(std::string_view candidate, std::string_view running)
{
    return compareVersions(candidate, running) > 0;
}

} // namespace updater
