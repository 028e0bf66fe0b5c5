#pragma once

// Scratch homes, bundles and a window under test for the installer tests.

#include "fakes/fake_platform.h"
#include "installer/app_delegate.h"
#include "installer/installer_window.h"
#include "platform/linux_platform.h"
#include "platform/login_items.h"
#include "platform/process_termination.h"
#include "support/scoped_environment.h"
#include "unit/platform/platform_test_support.h"

#include <QAbstractAnimation>
#include <QApplication>
#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace installer::testing {

using platform::testing::ChildProcess;
using platform::testing::makeBundle;
using platform::testing::TemporaryDirectory;

using testing_support::ScopedEnvironment;

// Sets the application's font size for the life of the object; windows
// built meanwhile are laid out for it.
class ScopedFontSize {
public:
    explicit ScopedFontSize(qreal points)
        : m_old(QApplication::font())
    {
        QFont font = m_old;
        font.setPointSizeF(points);
        QApplication::setFont(font);
    }
    ~ScopedFontSize() { QApplication::setFont(m_old); }
    ScopedFontSize(const ScopedFontSize&) = delete;
    ScopedFontSize& operator=(const ScopedFontSize&) = delete;

private:
    QFont m_old;
};

// Not a check: a picture for a person to look at, in
// build/<preset>/tests/installer-screenshots, marked with the scale it was
// taken at when that is not 1 (run with QT_SCALE_FACTOR=2 for the 2x set).
inline void saveScreenshot(QWidget& widget, const QString& name)
{
    const QString folder = QStringLiteral(INSTALLER_SCREENSHOTS_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    const qreal ratio = widget.devicePixelRatioF();
    const QString scale = ratio == 1.0 ? QString() : QStringLiteral("@%1x").arg(ratio);
    EXPECT_TRUE(widget.grab().save(folder + "/" + name + scale + ".png"));
}

using ::FakeRunningApplications;

inline const std::string kHelperIdentifier = "com.Ferrowind.Ferrowind-Helper";
inline const std::string kHelperPathInside = "Contents/Library/LoginItems/Ferrowind Helper.app";

// A bundle with the helper's identifier and a copy of sleep as executable.
inline std::string makeHelperBundle(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    const auto bundle = makeBundle(folder, "Ferrowind Helper",
        { { "CFBundleIdentifier", kHelperIdentifier }, { "CFBundleExecutable", "sleeper" } });
    std::filesystem::copy_file("/bin/sleep", bundle + "/Contents/MacOS/sleeper");
    return bundle;
}

// A main application bundle, with or without the helper inside.
inline std::string makeMainApplication(const std::filesystem::path& folder, const std::string& name,
    bool withHelper, const std::string& identifier = "com.Calderine.Ferrowind3")
{
    std::filesystem::create_directories(folder);
    const auto bundle = makeBundle(folder, name, { { "CFBundleIdentifier", identifier } });
    if (withHelper)
        makeHelperBundle(std::filesystem::path(bundle) / "Contents/Library/LoginItems");
    return bundle;
}

// The installer window with its controller, built as the program builds it,
// over a scratch home (where the login items live too) and a scratch
// applications folder. `helperPayload` is what Install puts in place.
class InstallerUnderTest {
public:
    explicit InstallerUnderTest(const platform::RunningApplications& running, std::string helperPayload = {},
        MainApplicationLocator::DirectoryList applicationSupportDirectories = {})
        : dataHome(home.path() / ".local/share")
        , applicationsFolder(home.path() / "Applications")
        , workspace(platform::makeWorkspace(running, { applicationsFolder.string() }))
        , controller({ running, *workspace, *launcher, *termination, platform::openLoginItems,
                         std::move(applicationSupportDirectories) },
              std::move(helperPayload), applicationsFolder.string())
        , window(loadInstallerWindow(controller, QStringLiteral(INSTALLER_LOGO)))
    {
        std::filesystem::create_directories(applicationsFolder);
    }

    QWidget* child(const char* name) const { return window->findChild<QWidget*>(QString::fromLatin1(name)); }

    // Lets running animations end; a loaded machine may take longer than
    // their nominal length.
    void settle() const
    {
        const auto running = [](const QList<QAbstractAnimation*>& animations) {
            return std::any_of(animations.begin(), animations.end(),
                [](auto* animation) { return animation->state() == QAbstractAnimation::Running; });
        };
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return !running(controller.findChildren<QAbstractAnimation*>())
                && !running(window->findChildren<QAbstractAnimation*>());
        })) << "animations still running";
    }

    TemporaryDirectory home;
    ScopedEnvironment homeVariable { "HOME", home.path().string() };
    std::filesystem::path dataHome;
    ScopedEnvironment dataHomeVariable { "XDG_DATA_HOME", dataHome.string() };
    ScopedEnvironment configHomeVariable { "XDG_CONFIG_HOME", std::nullopt };
    std::filesystem::path applicationsFolder;
    std::unique_ptr<platform::Workspace> workspace;
    std::unique_ptr<platform::ProcessLauncher> launcher = platform::makeProcessLauncher();
    std::unique_ptr<platform::ProcessTermination> termination = platform::makeProcessTermination();
    AppDelegate controller;
    std::unique_ptr<QWidget> window;
};

} // namespace installer::testing
