#include "installer/app_delegate.h"
#include "installer/helper_placement.h"
#include "installer/installer_window.h"
#include "platform/application_support.h"
#include "platform/bundle.h"
#include "platform/linux_platform.h"
#include "platform/login_items.h"
#include "platform/process_termination.h"
#include "platform/workspace.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace {

// The name of the installer's desktop entry; docks and task switchers match
// windows to it by WM_CLASS and, on Wayland, by the application id.
constexpr const char* kDesktopFileName = INSTALLER_DESKTOP_ID;

void identifyToTheDesktop(QApplication& application, const platform::Bundle& bundle)
{
    application.setApplicationName(QString::fromLatin1(kDesktopFileName));
    application.setApplicationDisplayName(
        QString::fromStdString(bundle.info.string("CFBundleName").value_or("Ferrowind Helper Installer")));
    application.setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    application.setWindowIcon(QIcon(QString::fromStdString(bundle.path + "/Contents/Resources/FerrowindLogo.svg")));
}

// Translations are looked for in the bundle's Resources/translations, Qt's
// own (for the texts of its dialogs) where Qt keeps them; none is required.
void loadTranslations(QApplication& application, const platform::Bundle& bundle)
{
    auto* own = new QTranslator(&application);
    if (own->load(QLocale(), QStringLiteral("ferrowind-installer"), QStringLiteral("_"),
            QString::fromStdString(bundle.path + "/Contents/Resources/translations")))
        QApplication::installTranslator(own);
    auto* qt = new QTranslator(&application);
    if (qt->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qt);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const platform::Bundle bundle = platform::loadMainBundle();
    identifyToTheDesktop(application, bundle);
    loadTranslations(application, bundle);

    const auto runningApplications = platform::makeRunningApplications();
    const auto workspace = platform::makeWorkspace(*runningApplications);
    const auto launcher = platform::makeProcessLauncher();
    const auto termination = platform::makeProcessTermination();
    installer::AppDelegate controller(
        { *runningApplications, *workspace, *launcher, *termination, platform::openLoginItems,
            platform::userApplicationSupportDirectories, platform::gnomeShellExtensionRegistration() },
        installer::helperPayloadPath(bundle.path));
    const auto window = installer::loadInstallerWindow(
        controller, QString::fromStdString(bundle.path + "/Contents/Resources/FerrowindLogo.svg"));
    window->show();
    QTimer::singleShot(0, &controller, &installer::AppDelegate::applicationDidFinishLaunching);
    return application.exec();
}
