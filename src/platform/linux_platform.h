#pragma once

#include "platform/application_control.h"
#include "platform/client_paths.h"
#include "platform/client_process.h"
#include "platform/connection_sockets.h"
#include "platform/desktop_extension.h"
#include "platform/file_manager.h"
#include "platform/main_run_loop.h"
#include "platform/open_file_holders.h"
#include "platform/power_assertions.h"
#include "platform/process_launcher.h"
#include "platform/running_applications.h"
#include "platform/server_volume_mounter.h"
#include "platform/sleeper.h"
#include "platform/system_events.h"
#include "platform/system_log.h"
#include "platform/user_account.h"
#include "platform/volume_urls.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

std::unique_ptr<UserAccount> makeUserAccount();
// ident: the program name the log lines carry. Spoken in journald's own
// protocol where journald runs; elsewhere to /dev/log in syslog's, whose tag
// cannot hold a blank, so there blanks become dashes.
std::unique_ptr<SystemLog> makeSystemLog(const std::string& ident);
std::unique_ptr<RunningApplications> makeRunningApplications();
std::unique_ptr<ProcessLauncher> makeProcessLauncher();
std::unique_ptr<MainRunLoop> makeMainRunLoop();
std::unique_ptr<Sleeper> makeSleeper();
std::unique_ptr<OpenFileHolders> makeOpenFileHolders();
std::unique_ptr<FileManager> makeFileManager();
// How windows of a process are brought forward.
using WindowActivation = std::function<void(ProcessID)>;
// Raises the windows of a process through the session's compositor (KWin
// by a script, GNOME Shell through the helper's extension, sway and i3 over
// their IPC), else through the X window manager (EWMH). Says in `log`, once
// per cause, why a desktop's own way failed. Called on one thread only.
WindowActivation makeWindowActivation(SystemLog& log);
std::unique_ptr<ApplicationControl> makeApplicationControl(WindowActivation activateWindows);
// To be called first thing in main, before any thread starts: the listening
// socket the helper we replace handed to this process, announced as systemd's
// socket activation does (LISTEN_PID naming this process, LISTEN_FDS=1:
// descriptor 3) and a TCP socket listening on 127.0.0.1; -1 otherwise. The
// announcement is removed either way and every descriptor it names for us
// that is not taken closed, so that neither stays for the programs we start;
// the one taken is made close-on-exec.
int takeHandedOverListeningSocket();
// handedOverListeningSocket: what takeHandedOverListeningSocket gave, which
// the service checks before it listens on it; -1 for none.
std::unique_ptr<ConnectionSockets> makeConnectionSockets(int handedOverListeningSocket = -1);
// GNOME Shell's extension that raises windows for the helper, put in place
// in the user's data folder and enabled in the Shell's settings.
DesktopExtensionRegistration gnomeShellExtensionRegistration();
std::unique_ptr<ClientProcesses> makeClientProcesses();
std::unique_ptr<ClientPaths> makeClientPaths();

// Idle-sleep assertions and system events share what is held, so our own
// assertion can be kept out of the way of a sleep request. applicationName:
// who the desktop lists as keeping it awake.
struct PowerServices {
    std::unique_ptr<PowerAssertions> assertions;
    std::unique_ptr<SystemEvents> systemEvents;
};
PowerServices makePowerServices(const std::string& applicationName);
std::unique_ptr<VolumeURLs> makeVolumeURLs();
std::unique_ptr<ServerVolumeMounter> makeServerVolumeMounter();

} // namespace platform
