#pragma once

#include "updater/adapters/transfer.h"
#include "updater/appcast.h"
#include "updater/staging_folder.h"
#include "updater/updater_settings.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace updater {

struct CheckRequest {
    UpdaterSettings settings;
    std::string installedBundlePath;
    bool downloadUpdates { true };
};

// An update downloaded, verified and unpacked into its staging folder,
// ready to take the installed bundle's place.
struct PreparedUpdate {
    AppcastItem item;
    StagingFolder staging;
    std::string bundlePath;
};

struct CheckOutcome {
    enum class Kind { NoUpdate,
        Found,
        Prepared,
        Failed };
    Kind kind { Kind::Failed };
    // For the log: what was found or why it failed.
    std::string message;
    std::shared_ptr<PreparedUpdate> update;
};

// One check from feed to unpacked bundle. Blocks on the network and the
// disk: it runs off the main thread.
class UpdateCheck {
public:
    virtual ~UpdateCheck() = default;
    virtual CheckOutcome run(const CheckRequest& request) = 0;
};

// A 4 MiB feed arrives within 5 minutes at 14 KB/s, slower than any line
// still in use; real feeds are a few kilobytes. Longer would only let a
// slow server hold the updater, which runs one check at a time.
inline constexpr std::chrono::minutes kFeedTransferBound { 5 };
// 256 MiB within an hour needs 73 KB/s; a helper's archive is a few MiB.
inline constexpr std::chrono::hours kArchiveTransferBound { 1 };

struct TransferLimits {
    std::uint64_t maxFeedBytes { 4u << 20 };
    std::uint64_t maxArchiveBytes { 256u << 20 };
    TransferBounds feedBounds { kFeedTransferBound, kTrickleBytesPerSecond, kTrickleWindow };
    TransferBounds archiveBounds { kArchiveTransferBound, kTrickleBytesPerSecond, kTrickleWindow };
};

// The machine identifier (platform/machine_identity.h) places this
// installation in its phased-rollout group.
std::unique_ptr<UpdateCheck> makeUpdateCheck(TransferLimits limits = {}, std::string machineIdentifier = {});

} // namespace updater
