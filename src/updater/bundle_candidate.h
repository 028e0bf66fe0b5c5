#pragma once

#include "support/outcome.h"

#include <string>

namespace updater {

struct CandidateExpectations {
    std::string bundleIdentifier; // the running helper's
    std::string itemVersion; // the appcast item's sparkle:version
    std::string runningVersion; // the running helper's CFBundleVersion
};

// The one bundle ("*.app" folder) at the top of an unpacked update, when it
// is the helper we expect: same identifier, the version the feed promised,
// not older than what runs, and an executable it can be started with. Its
// path, or why it is refused.
support::Outcome<std::string> findUpdateBundle(const std::string& unpackedFolder, const CandidateExpectations& expected);

} // namespace updater
