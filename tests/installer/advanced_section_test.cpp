#include "installer_test_support.h"

#include <QAbstractButton>
#include <QAccessible>
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

    // Every widget that Tab gives the focus to, once round the window.
    QList<QWidget*> tabChain()
    {
        QWidget* start = installer.child("advancedDiscloseButton");
        start->setFocus(Qt::OtherFocusReason);
        QList<QWidget*> reached { start };
        for (int presses = 0; presses < 20; ++presses) {
            QTest::keyClick(installer.window->focusWidget(), Qt::Key_Tab);
            if (installer.window->focusWidget() == start)
                break;
            reached << installer.window->focusWidget();
        }
        return reached;
    }

    void expectReachable(bool reachable)
    {
        const QList<QWidget*> reachedByTab = tabChain();
        const QWidget* section = installer.child("advancedSection");
        for (QWidget* control : { static_cast<QWidget*>(installer.controller.browseButton),
                 static_cast<QWidget*>(installer.controller.applicationPath),
                 static_cast<QWidget*>(installer.controller.selectFolderLabel) }) {
            SCOPED_TRACE(control->objectName().toStdString());
            EXPECT_EQ(control->isVisible(), reachable);
            EXPECT_EQ(QAccessible::queryAccessibleInterface(control)->state().invisible, !reachable);
            // Where the control sits in the section, whether or not the
            // window's frame shows that part.
            const QPoint centre = control->geometry().center();
            EXPECT_EQ(section->childAt(centre) == control, reachable);
            if (control->focusPolicy() & Qt::TabFocus) {
                EXPECT_EQ(reachedByTab.contains(control), reachable);
            }
        }
    }

    void expectFixedSize(const QSize& size)
    {
        EXPECT_EQ(installer.window->size(), size);
        EXPECT_EQ(installer.window->minimumSize(), size);
        EXPECT_EQ(installer.window->maximumSize(), size);
        installer.window->resize(size + QSize(40, 100));
        EXPECT_EQ(installer.window->size(), size);
    }

    testing::FakeRunningApplications running;
    InstallerUnderTest installer { running };
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

// Transparent is not enough: Tab, the mouse and assistive tools must not
// find what the user cannot see. And no state can be resized or maximized
// into showing half of it.
TEST_F(AdvancedSection, EachStateHasAFixedSizeAndHiddenControlsAreOutOfReach)
{
    installer.window->show();
    const QSize hidden = installer.window->size();
    EXPECT_FALSE(installer.window->windowFlags() & Qt::WindowMaximizeButtonHint);
    expectFixedSize(hidden);
    expectReachable(false);

    clickDisclosure();
    installer.settle();
    expectFixedSize(hidden + QSize(0, 70));
    expectReachable(true);

    clickDisclosure();
    installer.settle();
    expectFixedSize(hidden);
    expectReachable(false);
}

// The label may take a second line, but neither it nor the path row may be
// cut off, and all of it stays within the 70 points hiding takes away.
TEST(AdvancedLabel, FitsTheSectionAtCommonFontSizes)
{
    for (const qreal points : { 11.0, 12.0, 15.0 }) {
        SCOPED_TRACE(points);
        testing::ScopedFontSize fontSize(points);
        testing::FakeRunningApplications running;
        InstallerUnderTest installer { running };
        installer.window->show();
        installer.controller.showAdvanced();
        installer.settle();

        const QLabel* label = installer.controller.selectFolderLabel;
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        const QWidget* section = installer.child("advancedSection");
        EXPECT_EQ(section->height(), 70);
        for (const QWidget* control : { static_cast<QWidget*>(installer.controller.browseButton),
                 static_cast<QWidget*>(installer.controller.applicationPath) }) {
            EXPECT_GE(control->height(), control->sizeHint().height());
            EXPECT_GT(control->geometry().top(), label->geometry().bottom());
            EXPECT_LE(control->geometry().bottom(), section->height());
        }
    }
}

TEST_F(AdvancedSection, ScreenshotsOfBothStates)
{
    installer.controller.updateUI();
    installer.window->show();
    installer.settle();
    testing::saveScreenshot(*installer.window, QStringLiteral("advanced-hidden"));

    installer.controller.applicationPath->setText(QStringLiteral("/Applications/Ferrowind 3"));
    clickDisclosure();
    installer.settle();
    testing::saveScreenshot(*installer.window, QStringLiteral("advanced-shown"));
}

} // namespace
} // namespace installer
