#include "installer_test_support.h"

#include <QAbstractButton>
#include <QDir>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace installer {
namespace {

using testing::InstallerUnderTest;

double opacityOf(QWidget* widget)
{
    const auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

QRect shiftedFrame(const QRect& frame, int top, int height)
{
    return QRect(frame.x(), frame.y() + top, frame.width(), frame.height() + height);
}

class AdvancedSection : public ::testing::Test {
protected:
    void expectAdvancedOpacity(double opacity)
    {
        EXPECT_DOUBLE_EQ(opacityOf(installer.controller.browseButton), opacity);
        EXPECT_DOUBLE_EQ(opacityOf(installer.controller.applicationPath), opacity);
        EXPECT_DOUBLE_EQ(opacityOf(installer.controller.selectFolderLabel), opacity);
    }

    void clickDisclosure()
    {
        QTest::mouseClick(installer.child("advancedDiscloseButton"), Qt::LeftButton);
    }

    testing::FakeRunningApplications running;
    InstallerUnderTest installer {running};
};

// The window is laid out with the section shown; at start it is cut off
// whole, and only it.
TEST_F(AdvancedSection, StartsHiddenWithAFaintLogo)
{
    installer.window->show();
    const QRect start = installer.window->geometry();
    const QWidget* section = installer.child("advancedSection");
    const QWidget* exit = installer.child("exitButton");

    EXPECT_EQ(start.height(), section->parentWidget()->height() - 70);
    EXPECT_GE(section->mapTo(installer.window.get(), QPoint(0, 0)).y(), start.height());
    EXPECT_LT(exit->mapTo(installer.window.get(), QPoint(0, exit->height())).y(), start.height());
    EXPECT_DOUBLE_EQ(opacityOf(installer.controller.logoImageView), 0.2);
    expectAdvancedOpacity(0.0);
    EXPECT_FALSE(qobject_cast<QAbstractButton*>(installer.child("advancedDiscloseButton"))->isChecked());
}

TEST_F(AdvancedSection, ShowAndHideMoveTheFrameByFixedAmounts)
{
    const QRect start = installer.window->geometry();

    installer.controller.showAdvanced();
    EXPECT_EQ(installer.controller.targetFrame(), shiftedFrame(start, -10, 70));
    installer.settle();
    EXPECT_EQ(installer.window->geometry(), shiftedFrame(start, -10, 70));
    expectAdvancedOpacity(1.0);

    installer.controller.hideAdvanced(true);
    expectAdvancedOpacity(0.0);
    installer.settle();
    EXPECT_EQ(installer.window->geometry(), start);

    // Neither operation remembers whether the section is shown.
    installer.controller.hideAdvanced(false);
    installer.controller.hideAdvanced(false);
    EXPECT_EQ(installer.window->geometry(), shiftedFrame(start, 20, -140));
}

TEST_F(AdvancedSection, DisclosureButtonShowsAndHides)
{
    installer.window->show();
    const QRect start = installer.window->geometry();

    clickDisclosure();
    installer.settle();
    EXPECT_EQ(installer.window->geometry(), shiftedFrame(start, -10, 70));
    expectAdvancedOpacity(1.0);

    clickDisclosure();
    installer.settle();
    EXPECT_EQ(installer.window->geometry(), start);
    expectAdvancedOpacity(0.0);
}

// A second click while the window still moves must not start from a frame
// half-way there.
TEST_F(AdvancedSection, ClicksDuringAnAnimationStillAddUp)
{
    installer.window->show();
    const QRect start = installer.window->geometry();

    clickDisclosure();
    clickDisclosure();
    installer.settle();
    EXPECT_EQ(installer.window->geometry(), start);
    expectAdvancedOpacity(0.0);

    clickDisclosure();
    QTest::qWait(50);
    installer.controller.hideAdvanced(false);
    installer.controller.showAdvanced();
    installer.settle();
    EXPECT_EQ(installer.window->geometry(), shiftedFrame(start, -10, 70));
    expectAdvancedOpacity(1.0);
}

// Not a check: pictures of both states for a person to look at.
TEST_F(AdvancedSection, ScreenshotsOfBothStates)
{
    const QString folder = QStringLiteral(INSTALLER_SCREENSHOTS_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    installer.controller.updateUI();
    installer.window->show();
    installer.settle();
    EXPECT_TRUE(installer.window->grab().save(folder + "/advanced-hidden.png"));

    installer.controller.applicationPath->setText(QStringLiteral("/Applications/Ferrowind 3"));
    clickDisclosure();
    installer.settle();
    EXPECT_TRUE(installer.window->grab().save(folder + "/advanced-shown.png"));
}

} // namespace
} // namespace installer
