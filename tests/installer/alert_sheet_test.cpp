#include "installer/alert_sheet.h"

#include "installer_test_support.h"

#include <QLabel>
#include <QMessageBox>

#include <gtest/gtest.h>

namespace installer {
namespace {

// Each result alert, as the flows put it up, with a picture of it.
TEST(AlertSheet, FailuresCarryAWarningSuccessesTheLogoAtItsSizeInPoints)
{
    testing::FakeRunningApplications running;
    testing::InstallerUnderTest installer { running };
    installer.window->show();
    for (const bool succeeded : { true, false }) {
        for (const auto& [flow, alert] : { std::pair { "install", installAlert(succeeded) },
                 std::pair { "uninstall", uninstallAlert(succeeded) } }) {
            SCOPED_TRACE(alert.messageText.toStdString());
            QMessageBox* box = beginAlertSheet(alert, installer.window.get(),
                installer.controller.logoImageView->pixmap(), installer.window.get(),
                [](QMessageBox*, qint64) { /* nothing waits for the answer */ });
            EXPECT_EQ(box->icon() == QMessageBox::Warning, !succeeded);
            if (succeeded) {
                EXPECT_EQ(box->iconPixmap().deviceIndependentSize(), QSizeF(64, 64));
            }
            const auto* icon = box->findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"));
            ASSERT_NE(icon, nullptr);
            EXPECT_FALSE(icon->accessibleName().isEmpty());
            QTest::qWait(50);
            const QString outcome = succeeded ? QStringLiteral("succeeded") : QStringLiteral("failed");
            testing::saveScreenshot(*box, QStringLiteral("alert-%1-%2").arg(QString::fromLatin1(flow), outcome));
            box->done(0);
        }
    }
}

} // namespace
} // namespace installer
