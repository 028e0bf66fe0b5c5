#include "helper/already_launched.h"

bool alreadyLaunched(const HelperPlatform& platform)
{
    auto bundleName = platform.mainBundle.info.string("CFBundleName");
    if (!bundleName)
        return false;
    auto ownProcess = platform.applications.currentProcessIdentifier();
    bool found = false;
    for (auto const& application : platform.applications.list()) {
        if (application.displayName == *bundleName && application.processIdentifier != ownProcess)
            found = true;
    }
    return found;
}
