#pragma once

#include "platform/main_run_loop.h"
#include "platform/process_launcher.h"
#include "platform/system_log.h"
#include "updater/update_check.h"

#include <memory>
#include <string>

namespace updater {

// What finished unpacking an update; the driver does not look at it.
struct Unarchiver {
    std::string unpackedFolder;
};

struct InstallServices {
    platform::SystemLog& log;
    platform::ProcessLauncher& launcher;
    platform::MainRunLoop& mainRunLoop;
};

// Drives one found update the rest of the way without asking anyone.
class AutomaticUpdateDriver {
public:
    AutomaticUpdateDriver(InstallServices services, std::string installedBundlePath, std::shared_ptr<PreparedUpdate> update);

    // The update is unpacked: install it now and relaunch, showing nothing.
    // True when the new bundle is in place.
    bool unarchiverDidFinish(const Unarchiver& unarchiver);

    // Swaps the new bundle in, removes the old one and, with `relaunch`,
    // starts the new helper once this one has ended and asks this one to
    // end. There is no user interface to display. False when the installed
    // bundle was left as it was.
    bool installWithToolAndRelaunch(bool relaunch, bool displayingUserInterface);

private:
    InstallServices m_services;
    std::string m_installedBundlePath;
    std::shared_ptr<PreparedUpdate> m_update;
};

} // namespace updater
