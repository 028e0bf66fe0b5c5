#include "installer/result_alerts.h"

#include <QCoreApplication>

namespace installer {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("installer::ResultAlerts", text);
}

QString contactSupport(const QString& whatFailed)
{
    return whatFailed.arg(QString::fromLatin1(kSupportAddress));
}

} // namespace

ResultAlert installAlert(bool succeeded)
{
    if (succeeded)
        return { tr("Installation succeeded"), tr("Exit installer"), tr("Close"),
            tr("Ferrowind Helper Application is installed correctly, now your Ferrowind is fully functional!") };
    return { tr("Installation failed"), tr("Close"), std::nullopt,
        contactSupport(tr("Installation of the helper application failed, please contact us at %1 for "
                          "additional support!")),
        true };
}

ResultAlert uninstallAlert(bool succeeded)
{
    if (succeeded)
        return { tr("Uninstallation succeeded"), tr("Exit installer"), tr("Close"),
            tr("Ferrowind Helper Application is uninstalled.") };
    return { tr("Uninstallation failed"), tr("Close"), std::nullopt,
        contactSupport(tr("Uninstallation of the Helper Application failed, please contact us at %1 for "
                          "additional support!")),
        true };
}

} // namespace installer
