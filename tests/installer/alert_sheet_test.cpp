#include "installer/alert_sheet.h"

#include "installer_test_support.h"

#include <QLabel>
#include <QMessageBox>

#include <gtest/gtest.h>

namespace installer {
namespace {

using testing::InstallerUnderTest;

class AlertSheet : public ::testing::Test {
protected:
    QMessageBox* begin(const ResultAlert& alert)
    {
        installer.window->show();
        return beginAlertSheet(alert, installer.window.get(), installer.controller.logoImageView->pixmap(),
                               installer.window.get(), [](QMessageBox*, qint64) {});
    }

    testing::FakeRunningApplications running;
    InstallerUnderTest installer {running};
};

TEST_F(AlertSheet, FailuresCarryAWarningSuccessesTheLogo)
{
    for (const bool succeeded : {true, false}) {
        for (const ResultAlert& alert : {installAlert(succeeded), uninstallAlert(succeeded)}) {
            SCOPED_TRACE(alert.messageText.toStdString());
            QMessageBox* box = begin(alert);
            EXPECT_EQ(box->icon() == QMessageBox::Warning, !succeeded);
            // In points, whatever the scale of the screen.
            if (succeeded) {
                EXPECT_EQ(box->iconPixmap().deviceIndependentSize(), QSizeF(64, 64));
            }
            const auto* icon = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_icon_label"));
            ASSERT_NE(icon, nullptr);
            EXPECT_FALSE(icon->accessibleName().isEmpty());
            box->done(0);
        }
    }
}

TEST_F(AlertSheet, ScreenshotsOfEachAlert)
{
    const std::pair<const char*, ResultAlert> alerts[] = {
        {"alert-install-succeeded", installAlert(true)},
        {"alert-install-failed", installAlert(false)},
        {"alert-uninstall-succeeded", uninstallAlert(true)},
        {"alert-uninstall-failed", uninstallAlert(false)},
    };
    for (const auto& [name, alert] : alerts) {
        QMessageBox* box = begin(alert);
        QTest::qWait(50);
        testing::saveScreenshot(*box, QString::fromLatin1(name));
        box->done(0);
    }
}

} // namespace
} // namespace installer
