#include "installer/helper_placement.h"

#include <QString>
#include <QTemporaryDir>

#include <filesystem>
#include <system_error>

namespace installer {

namespace {

namespace fs = std::filesystem;

// Same folder, hence same file system: each rename is a single step, and
// a failure of the second puts the previous item back.
bool swapIntoPlace(const fs::path& fresh, const fs::path& destination, const fs::path& aside)
{
    std::error_code error;
    const bool hadPrevious = fs::exists(fs::symlink_status(destination, error));
    if (hadPrevious && (fs::rename(destination, aside, error), error))
        return false;
    fs::rename(fresh, destination, error);
    if (!error)
        return true;
    if (hadPrevious)
        fs::rename(aside, destination, error);
    return false;
}

} // namespace

std::string helperPayloadPath(const std::string& installerBundlePath)
{
    return installerBundlePath + "/Contents/Resources/HelperApplication/Ferrowind Helper.app";
}

bool placeFreshCopy(const std::string& payload, const std::string& destination)
{
    const fs::path target(destination);
    // Hidden, so that nobody mistakes a half-made copy for the helper; it
    // goes, with the previous copy moved into it, when this returns.
    const fs::path pattern = target.parent_path() / ("." + target.filename().string() + "-XXXXXX");
    QTemporaryDir staging(QString::fromStdString(pattern.string()));
    if (!staging.isValid())
        return false;
    const fs::path folder = staging.path().toStdString();
    const fs::path fresh = folder / target.filename();

    std::error_code error;
    fs::copy(payload, fresh, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error)
        return false;
    return swapIntoPlace(fresh, target, folder / "previous");
}

} // namespace installer
