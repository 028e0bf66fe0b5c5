#pragma once

#include "support/outcome.h"

#include <functional>
#include <string>

namespace updater {

// Exchanges two paths in one step; 0 or an errno value. The real one is
// the platform's (platform/file_system.h); tests put failures in its place.
using ExchangeStep = std::function<int(const std::string& first, const std::string& second)>;
int exchangeInOneStep(const std::string& first, const std::string& second);

// Puts the bundle at `replacement` in place of the one at `installed`, both
// on one file system, in one step: the installed path names a whole bundle
// at every moment, and the old one ends up at `replacement`. A file system
// that cannot exchange two folders in one step (FUSE, sshfs, many NFS
// setups) gets no update: moving the old bundle away and the new one in
// would leave nothing to start should the helper die in between.
support::Outcome<void> exchangeBundles(const std::string& replacement, const std::string& installed,
    const ExchangeStep& exchange = exchangeInOneStep);

// Whether `folder`'s file system can make that swap, tried on two empty
// folders made inside it for the purpose.
bool canExchangeFolders(const std::string& folder, const ExchangeStep& exchange = exchangeInOneStep);

} // namespace updater
