#include "support/desktop_home.h"

#include <QApplication>
#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char* argv[])
{
    // The tests need no display; run by hand they should not grab one.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Qt keeps files of its own (a runtime folder, the file dialog's
    // settings) where the environment says: in a home that goes when the
    // tests end, after the application.
    const testing_support::DesktopHome home;
    home.enter();
    QApplication application(argc, argv);
    // Qt fixes where user settings go the first time it needs the place,
    // which would be in the scratch home of whichever test first closes a
    // file dialog: a folder that test removes and later dialogs bring back.
    const auto settings = QString::fromStdString((home.home() / ".config").string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
