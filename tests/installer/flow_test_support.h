#pragma once

// The install and uninstall flows run for real: the helper the installer
// bundle carries, a scratch home with its autostart folder, real helper
// processes. Every case runs in namespaces of its own, since the flows end
// every helper of the user and the helper's ports are fixed.

#include "installer_test_support.h"
#include "integration/helper_harness.h"
#include "platform/login_items.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

// Texts in failure messages, rather than their UTF-16 code units.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace installer::testing {

namespace fs = std::filesystem;

inline const std::string kVersionReply = "\"" FERROWIND_VERSION "\"";

// The reply to `version` from whichever helper port answers first.
inline std::optional<std::string> versionFromAnyHelperPort()
{
    for (int port = 9483; port <= 9488; ++port) {
        auto client = harness::Client::connectTo(port, std::chrono::seconds(0));
        if (!client || !client->readLine())
            continue;
        client->send("version\n");
        return client->readLine();
    }
    return std::nullopt;
}

// Only inside its own PID namespace (set up by isolated.sh) is a test
// process PID 1 and alone with a private mount table.
inline bool isolated() { return getpid() == 1; }

// A mount over a folder for the life of the object.
class ScopedMount {
public:
    ScopedMount(const fs::path& target, bool mounted)
        : m_target(target)
        , m_mounted(mounted)
    {
    }
    ~ScopedMount()
    {
        if (m_mounted)
            umount2(m_target.c_str(), MNT_DETACH);
    }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    bool mounted() const { return m_mounted; }

private:
    fs::path m_target;
    bool m_mounted;
};

class FlowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isolated())
            GTEST_SKIP() << "ends every helper of the user: runs only in namespaces of its own";
        installer.window->show();
    }

    fs::path installFolder() const { return installer.dataHome / "Ferrowind Helper"; }
    fs::path installedHelper() const { return installFolder() / "Ferrowind Helper.app"; }
    fs::path autostartFolder() const { return installer.home.path() / ".config/autostart"; }

    std::ptrdiff_t autostartEntryCount() const
    {
        std::error_code error;
        return std::distance(fs::directory_iterator(autostartFolder(), error), fs::directory_iterator());
    }

    bool installedHelperRegistered() const
    {
        return installer.controller.loginItemRegisteredForURL(platform::fileURLForPath(installedHelper().string()));
    }

    std::vector<platform::ProcessID> helperProcesses() const
    {
        std::vector<platform::ProcessID> found;
        for (const auto& application : running->list()) {
            if (application.bundleIdentifier == kHelperIdentifier)
                found.push_back(application.processIdentifier);
        }
        return found;
    }

    // The one helper that runs the installed copy, once it answers on its
    // port.
    std::optional<platform::ProcessID> answeringInstalledHelper() const
    {
        const fs::path executable = installedHelper() / "Contents/MacOS/Ferrowind Helper";
        std::optional<platform::ProcessID> found;
        platform::testing::eventually([&] {
            const auto helpers = helperProcesses();
            if (helpers.size() != 1 || versionFromAnyHelperPort() != kVersionReply)
                return false;
            std::error_code error;
            if (fs::read_symlink("/proc/" + std::to_string(helpers.front()) + "/exe", error) == executable)
                found = helpers.front();
            return found.has_value();
        });
        return found;
    }

    QMessageBox* alert() const { return installer.controller.resultAlert(); }

    QStringList buttonTexts() const
    {
        QStringList texts;
        for (const auto* button : alert() ? alert()->buttons() : QList<QAbstractButton*> {})
            texts << button->text();
        return texts;
    }

    QAbstractButton* button(const QString& text) const
    {
        if (!alert()) {
            ADD_FAILURE() << "no alert is shown";
            return nullptr;
        }
        for (auto* candidate : alert()->buttons()) {
            if (candidate->text() == text)
                return candidate;
        }
        ADD_FAILURE() << "no button " << text.toStdString();
        return nullptr;
    }

    // Presses a button of the result alert and tells whether the installer
    // ended thereupon (its event loop was asked to quit).
    bool pressEndsInstaller(const QString& text) const
    {
        constexpr int kStayedOpen = 42;
        QAbstractButton* pressed = button(text);
        if (!pressed)
            return false;
        QTimer::singleShot(0, pressed, [pressed] { QTest::mouseClick(pressed, Qt::LeftButton); });
        // Ours to stop: a stray time-out would end the next run of the loop.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QApplication::exit(kStayedOpen); });
        watchdog.start(1000);
        return QApplication::exec() != kStayedOpen;
    }

    void saveScreenshot(const QString& name) const
    {
        ASSERT_NE(alert(), nullptr);
        QTest::qWait(50);
        testing::saveScreenshot(*alert(), name);
    }

    std::unique_ptr<platform::RunningApplications> running = platform::makeRunningApplications();
    InstallerUnderTest installer { *running, INSTALLER_HELPER_PAYLOAD };
};

} // namespace installer::testing
