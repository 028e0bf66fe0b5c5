#include "installer_test_support.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace installer {
namespace {

using testing::InstallerUnderTest;

class WindowControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        installer.window->show();
        installer.controller.showAdvanced();
        installer.settle();
    }

    QAbstractButton* disclosure() const
    {
        return qobject_cast<QAbstractButton*>(installer.child("advancedDiscloseButton"));
    }

    testing::FakeRunningApplications running;
    InstallerUnderTest installer { running };
};

TEST_F(WindowControls, EveryControlIsNamedForAssistiveTools)
{
    for (const char* name : { "logoImageView", "installButton", "uninstallButton", "advancedDiscloseButton",
             "exitButton", "applicationPath", "browseButton" }) {
        SCOPED_TRACE(name);
        const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(installer.child(name));
        ASSERT_NE(accessible, nullptr);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty());
    }

    // The disclosure is a button that expands something, and says whether
    // it has.
    disclosure()->setChecked(false);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(disclosure());
    EXPECT_EQ(accessible->role(), QAccessible::Button);
    EXPECT_TRUE(accessible->state().expandable);
    EXPECT_FALSE(accessible->state().expanded);
    EXPECT_FALSE(accessible->state().checkable);

    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    installer.settle();
    EXPECT_TRUE(accessible->state().expanded);
    EXPECT_TRUE(installer.controller.browseButton->isVisible());
}

TEST_F(WindowControls, ReturnPressesTheFocusedButton)
{
    installer.controller.browseButton->setFocus();
    QTest::keyClick(installer.controller.browseButton, Qt::Key_Return);
    ASSERT_NE(installer.controller.openPanel(), nullptr);
    installer.controller.openPanel()->reject();

    const bool expanded = disclosure()->isChecked();
    disclosure()->setFocus();
    QTest::keyClick(disclosure(), Qt::Key_Return);
    EXPECT_NE(disclosure()->isChecked(), expanded);
}

} // namespace
} // namespace installer
