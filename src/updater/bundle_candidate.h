#pragma once

#include <optional>
#include <string>

namespace updater {

struct CandidateExpectations {
    std::string bundleIdentifier; // the running helper's
    std::string itemVersion;      // the appcast item's sparkle:version
    std::string runningVersion;   // the running helper's CFBundleVersion
};

struct CandidateOutcome {
    std::optional<std::string> bundlePath;
    std::string failure;
};

// The one bundle ("*.app" folder) at the top of an unpacked update, when it
// is the helper we expect: same identifier, the version the feed promised,
// not older than what runs, and an executable it can be started with.
CandidateOutcome findUpdateBundle(const std::string& unpackedFolder, const CandidateExpectations& expected);

} // namespace updater
