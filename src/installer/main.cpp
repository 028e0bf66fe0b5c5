#include "installer/app_delegate.h"
#include "installer/helper_placement.h"
#include "installer/installer_window.h"
#include "platform/application_support.h"
#include "platform/bundle.h"
#include "platform/linux_platform.h"
#include "platform/process_termination.h"
#include "platform/workspace.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const platform::Bundle bundle = platform::loadMainBundle();
    application.setApplicationName(
        QString::fromStdString(bundle.info.string("CFBundleName").value_or("Ferrowind Helper Installer")));

    const auto runningApplications = platform::makeRunningApplications();
    const auto workspace = platform::makeWorkspace(*runningApplications);
    const auto launcher = platform::makeProcessLauncher();
    const auto termination = platform::makeProcessTermination();
    installer::AppDelegate controller(
        {*runningApplications, *workspace, *launcher, *termination, platform::userApplicationSupportDirectories},
        installer::helperPayloadPath(bundle.path));
    const auto window = installer::loadInstallerWindow(
        controller, QString::fromStdString(bundle.path + "/Contents/Resources/FerrowindLogo.svg"));
    window->show();
    QTimer::singleShot(0, &controller, &installer::AppDelegate::applicationDidFinishLaunching);
    return application.exec();
}
