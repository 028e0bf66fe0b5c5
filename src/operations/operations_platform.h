#pragma once

#include "platform/application_control.h"
#include "platform/file_manager.h"
#include "platform/media_player.h"
#include "platform/open_file_holders.h"
#include "platform/power_assertions.h"
#include "platform/process_launcher.h"
#include "platform/running_applications.h"
#include "platform/server_volume_mounter.h"
#include "platform/sleeper.h"
#include "platform/system_events.h"
#include "platform/volume_urls.h"

#include <vector>

// The platform services the privileged operations reach. The operations keep
// no state of their own beyond what their contract names; everything they
// ask of the system goes through these, so tests can put fakes in their place.
struct OperationsPlatform {
    platform::RunningApplications& applications;
    platform::OpenFileHolders& openFileHolders;
    platform::FileManager& fileManager;
    platform::PowerAssertions& powerAssertions;
    platform::SystemEvents& systemEvents;
    platform::ApplicationControl& applicationControl;
    platform::ProcessLauncher& launcher;
    platform::Sleeper& sleeper;
    // In the order they are preferred.
    const std::vector<platform::MediaPlayer>& mediaPlayers;
    platform::VolumeURLs& volumeURLs;
    platform::ServerVolumeMounter& volumeMounter;
};
