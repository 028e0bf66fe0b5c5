#include "helper/network_listener.h"

#include <chrono>
#include <exception>
#include <memory>

namespace {

constexpr std::chrono::milliseconds kPauseBeforeRecoveryRelaunch { 10'000 };

} // namespace

void NetworkListener::start()
{
    bool relaunch = false;
    int exitStatus = 0;
    try {
        auto serving = std::make_unique<NetworkListener>(m_platform);
        if (serving->startListening())
            relaunch = serving->startProcessing();
        else
            exitStatus = kCannotServeStatus;
    } catch (const std::exception&) {
        // Anything unexpected while serving: start over in a fresh process.
        // The sockets stay open until this one ends, so clients wait rather
        // than find the port gone.
        relaunch = true;
        m_platform.log.sendWaitingLines();
        m_platform.sleeper.sleepFor(kPauseBeforeRecoveryRelaunch);
    }
    if (relaunch)
        m_platform.launcher.openBundleAfterExit(m_platform.mainBundle.path);
    m_platform.mainRunLoop.requestTermination(exitStatus);
}
