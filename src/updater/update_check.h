#pragma once

#include "updater/appcast.h"
#include "updater/staging_folder.h"
#include "updater/updater_settings.h"

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

struct TransferLimits {
    std::uint64_t maxFeedBytes { 4u << 20 };
    std::uint64_t maxArchiveBytes { 256u << 20 };
};

// The machine identifier (platform/machine_identity.h) places this
// installation in its phased-rollout group.
std::unique_ptr<UpdateCheck> makeUpdateCheck(TransferLimits limits = {}, std::string machineIdentifier = {});

} // namespace updater
