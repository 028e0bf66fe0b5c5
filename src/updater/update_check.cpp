#include "updater/update_check.h"

#include "platform/file_system.h"
#include "updater/adapters/transfer.h"
#include "updater/archive_unpacking.h"
#include "updater/bundle_candidate.h"
#include "updater/bundle_swap.h"
#include "updater/ed25519_signature.h"
#include "updater/enclosure_url.h"
#include "updater/installation_identity.h"
#include "updater/item_choice.h"

#include <chrono>
#include <filesystem>

namespace updater {

namespace {

CheckOutcome failed(std::string why) { return { CheckOutcome::Kind::Failed, std::move(why), nullptr }; }

std::string describe(const AppcastItem& item) { return item.shortVersion + " (" + item.version + ")"; }

// Only this user may enter it: what is unpacked there is about to run.
bool makePrivateFolder(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::create_directory(path, error))
        return false;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace, error);
    return !error;
}

// The vendor chose https so that no one on the way can read or hold back
// what it publishes: neither the feed nor the archives it names are then
// fetched over anything else, redirects included. Sparkle leaves this to
// App Transport Security, which refuses plain http by default.
bool publishedOverHttps(const CheckRequest& request)
{
    return request.settings.feedURL && schemeOf(*request.settings.feedURL) == "https";
}

class NetworkUpdateCheck final : public UpdateCheck {
public:
    NetworkUpdateCheck(TransferLimits limits, std::string machineIdentifier)
        : m_limits(limits)
        , m_machineIdentifier(std::move(machineIdentifier))
    {
    }

    CheckOutcome run(const CheckRequest& request) override
    {
        std::string feed;
        const TransferRequest feedTransfer { *request.settings.feedURL, m_limits.maxFeedBytes, m_limits.feedBounds,
            publishedOverHttps(request) };
        auto fetched = transfer(feedTransfer, [&feed](std::string_view bytes) {
            feed.append(bytes);
            return true;
        });
        if (!fetched)
            return failed("cannot fetch the update feed: " + fetched.failure());
        // Relative enclosures name files beside the feed where it was
        // finally found, as in Sparkle.
        auto appcast = readAppcast(feed, *fetched);
        if (!appcast.items)
            return failed(appcast.failure);
        auto choice = chooseUpdate(*appcast.items, contextOf(request));
        if (!choice.item)
            return { CheckOutcome::Kind::NoUpdate, choice.reason, nullptr };
        if (!request.downloadUpdates)
            return { CheckOutcome::Kind::Found, "update " + describe(*choice.item) + " found, not downloaded", nullptr };
        return prepare(request, *choice.item);
    }

private:
    InstallationContext contextOf(const CheckRequest& request) const
    {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        return { request.settings.bundleVersion, operatingSystemNames(),
            phasedRolloutGroup(m_machineIdentifier, request.settings.bundleIdentifier, request.installedBundlePath),
            std::chrono::duration_cast<std::chrono::seconds>(now).count() };
    }

    CheckOutcome prepare(const CheckRequest& request, const AppcastItem& item)
    {
        // Checked before any byte is fetched: without a key nothing can be
        // installed anyway.
        auto key = request.settings.publicEDKey ? publicKeyFromBase64(*request.settings.publicEDKey) : std::nullopt;
        if (!key)
            return failed("no usable SUPublicEDKey: update " + describe(item) + " cannot be verified");
        auto signature = item.edSignature ? signatureFromBase64(*item.edSignature) : std::nullopt;
        if (!signature)
            return failed("update " + describe(item) + " has no usable signature");
        if (publishedOverHttps(request) && schemeOf(item.url) != "https")
            return failed("update " + describe(item) + " refused: the https feed names " + item.url
                + ", and what is published over https is fetched over https only");
        if (item.length && *item.length > m_limits.maxArchiveBytes)
            return failed("update " + describe(item) + " is larger than " + std::to_string(m_limits.maxArchiveBytes) + " bytes");

        StagingFolder::removeLeftoversBeside(request.installedBundlePath);
        auto staging = StagingFolder::createBeside(request.installedBundlePath);
        if (!staging)
            return failed("cannot make a folder for the update beside " + request.installedBundlePath);
        // Asked before a byte is fetched: such an update could never be swapped in.
        if (!canExchangeFolders(staging->path()))
            return failed("the file system holding " + request.installedBundlePath
                + " cannot exchange two folders in one step: updates are not installed there");
        const std::string archivePath = staging->path() + "/update.archive";
        if (auto downloaded = download(item, archivePath, publishedOverHttps(request)); !downloaded)
            return failed(downloaded.failure());
        if (!fileSignatureIsValid(archivePath, *signature, *key))
            return failed("update " + describe(item) + " does not carry a valid signature");

        const std::string unpacked = staging->path() + "/unpacked";
        if (!makePrivateFolder(unpacked))
            return failed("cannot make a folder to unpack the update");
        auto unpacking = unpackArchive(archivePath, unpacked);
        if (!unpacking)
            return failed("cannot unpack update " + describe(item) + ": " + unpacking.failure());
        auto candidate = findUpdateBundle(unpacked,
            { request.settings.bundleIdentifier, item.version, request.settings.bundleVersion });
        if (!candidate)
            return failed("update " + describe(item) + " refused: " + candidate.failure());
        auto update = std::make_shared<PreparedUpdate>(PreparedUpdate { item, std::move(*staging), *candidate });
        return { CheckOutcome::Kind::Prepared, "update " + describe(item) + " is ready", std::move(update) };
    }

    // Succeeds when the archive arrived whole: exactly the declared
    // length, never more than the cap.
    support::Outcome<void> download(const AppcastItem& item, const std::string& archivePath, bool httpsOnly)
    {
        auto file = platform::createNewFile(archivePath);
        if (!file)
            return support::failure("cannot store the update");
        const std::uint64_t limit = item.length.value_or(m_limits.maxArchiveBytes);
        std::uint64_t received = 0;
        auto outcome = transfer({ item.url, limit, m_limits.archiveBounds, httpsOnly }, [&](std::string_view bytes) {
            received += bytes.size();
            return file->write(bytes);
        });
        const bool closed = file->close();
        if (!outcome)
            return support::failure("cannot download update " + describe(item) + ": " + outcome.failure());
        if (!closed)
            return support::failure("cannot store the update");
        if (item.length && received != *item.length)
            return support::failure("update " + describe(item) + " arrived with " + std::to_string(received) + " of "
                + std::to_string(*item.length) + " bytes");
        return {};
    }

    TransferLimits m_limits;
    std::string m_machineIdentifier;
};

} // namespace

std::unique_ptr<UpdateCheck> makeUpdateCheck(TransferLimits limits, std::string machineIdentifier)
{
    return std::make_unique<NetworkUpdateCheck>(limits, std::move(machineIdentifier));
}

} // namespace updater
