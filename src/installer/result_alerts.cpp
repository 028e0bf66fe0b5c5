#include "installer/result_alerts.h"

namespace installer {

namespace {

const QString kExitInstaller = QStringLiteral("Exit installer");
const QString kClose = QStringLiteral("Close");

QString contactSupport(const QString& whatFailed)
{
    return whatFailed + QStringLiteral(" failed, please contact us at ") + QString::fromLatin1(kSupportAddress)
        + QStringLiteral(" for additional support!");
}

} // namespace

ResultAlert installAlert(bool succeeded)
{
    if (succeeded)
        return {QStringLiteral("Installation succeeded"), kExitInstaller, kClose,
                QStringLiteral("Ferrowind Helper Application is installed correctly, now your Ferrowind is fully "
                               "functional!")};
    return {QStringLiteral("Installation failed"), kClose, std::nullopt,
            contactSupport(QStringLiteral("Installation of the helper application"))};
}

ResultAlert uninstallAlert(bool succeeded)
{
    if (succeeded)
        return {QStringLiteral("Uninstallation succeeded"), kExitInstaller, kClose,
                QStringLiteral("Ferrowind Helper Application is uninstalled.")};
    return {QStringLiteral("Uninstallation failed"), kClose, std::nullopt,
            contactSupport(QStringLiteral("Uninstallation of the Helper Application"))};
}

} // namespace installer
