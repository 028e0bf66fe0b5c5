#pragma once

#include "operations/operations_platform.h"
#include "platform/bundle.h"
#include "platform/client_paths.h"
#include "platform/client_process.h"
#include "platform/connection_sockets.h"
#include "platform/main_run_loop.h"
#include "platform/process_launcher.h"
#include "platform/running_applications.h"
#include "platform/sleeper.h"
#include "platform/system_log.h"
#include "platform/user_account.h"
#include "updater/updater.h"

#include <chrono>
#include <functional>

// The platform services the helper's command service relies on. Tests build
// one from fakes.
struct HelperPlatform {
    platform::Bundle mainBundle;
    platform::SystemLog& log;
    platform::UserAccount& user;
    platform::RunningApplications& applications;
    platform::ProcessLauncher& launcher;
    platform::MainRunLoop& mainRunLoop;
    platform::Sleeper& sleeper;
    OperationsPlatform operations;
    platform::ConnectionSockets& sockets;
    platform::ClientProcesses& clients;
    platform::ClientPaths& clientPaths;
    // Asked for at the moment of use, on the main thread: main puts the real
    // updater in place only once it knows no other helper runs.
    std::function<updater::Updater&()> sharedUpdater { &updater::Updater::sharedUpdater };
    // What the connection loop times clients' lines by; tests set the time.
    std::function<std::chrono::steady_clock::time_point()> clock { &std::chrono::steady_clock::now };
};
