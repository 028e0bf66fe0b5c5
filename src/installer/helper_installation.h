#pragma once

#include "platform/desktop_extension.h"
#include "platform/login_items.h"
#include "platform/process_launcher.h"
#include "platform/process_termination.h"
#include "platform/running_applications.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace installer {

// Where the helper goes: its install folder and the bundle inside it.
struct HelperPlaces {
    std::string installFolder;
    std::string installedHelper;
};

enum class Flow {
    Install,
    Uninstall
};

// What a flow ended with: it picks the result alert, and only a success
// lets that alert end the installer.
struct FlowResult {
    Flow flow;
    bool succeeded = false;

    friend bool operator==(const FlowResult&, const FlowResult&) = default;
};

// The buttons of a result alert: the default one and the alternate one.
enum class ResultChoice {
    Default,
    Alternate
};

// "Exit installer" is the default button of the success alerts only; the
// default button of a failure alert, "Close", leaves the installer open.
bool choiceEndsInstaller(bool succeeded, ResultChoice choice);

// The install and uninstall flows, without a window: the caller shows the
// result.
class HelperInstallation {
public:
    // The user's login items, opened afresh for each use (other programs
    // change them meanwhile); nullptr when they cannot be obtained.
    using LoginItemsOpener = std::function<std::unique_ptr<platform::LoginItemsList>()>;
    // Puts a complete copy of the payload at the destination, replacing what
    // is there; false when the destination could not be made a whole copy.
    using CopyPlacer = std::function<bool(const std::string& payload, const std::string& destination)>;

    // The services must outlive the installation.
    struct Services {
        const platform::RunningApplications& runningApplications;
        platform::ProcessLauncher& launcher;
        platform::ProcessTermination& termination;
        LoginItemsOpener openLoginItems;
        CopyPlacer placeFreshCopy;
        // Registered with the login item, from the installed helper, and
        // taken away with it; left out, there is none.
        platform::DesktopExtensionRegistration desktopExtension {};
    };

    // `helperPayloadPath` is the helper bundle that an install puts in place.
    HelperInstallation(Services services, std::string helperPayloadPath);

    // Each flow takes the places of the moment, nothing when the user has no
    // Application Support directory; then it changes nothing and fails.

    // Takes the installed helper out of the login items and, if it was
    // there, ends every running helper, whichever copy it runs from. True
    // when it was there.
    bool stopHelperProcess(const std::optional<HelperPlaces>& places);
    FlowResult install(const std::optional<HelperPlaces>& places);
    FlowResult uninstall(const std::optional<HelperPlaces>& places);

private:
    struct StoppedHelpers {
        bool wasRegistered = false;
        std::vector<platform::ProcessID> ended;
    };

    StoppedHelpers stopHelpers(const std::optional<HelperPlaces>& places);
    bool installHelper(const HelperPlaces& places, const std::vector<platform::ProcessID>& endedHelpers);

    Services m_services;
    std::string m_helperPayloadPath;
};

} // namespace installer
