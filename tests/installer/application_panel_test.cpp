#include "installer_test_support.h"

#include <QAbstractItemView>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace installer {
namespace {

namespace fs = std::filesystem;
using testing::InstallerUnderTest;
using testing::makeMainApplication;

QUrl urlOf(const fs::path& path)
{
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

// An applications folder with one entry of each kind the panel tells apart.
class ApplicationChoice : public ::testing::Test {
protected:
    ApplicationChoice()
    {
        makeMainApplication(folder, "Ferrowind 3", true);
        makeMainApplication(folder / "Folder", "Ferrowind 3", false);
        makeMainApplication(folder, "Other", false, "com.example.other");
        platform::testing::writeTextFile((folder / "notes.txt").string(), "");
    }

    fs::path mainApplication() const { return folder / "Ferrowind 3.app"; }
    fs::path withoutHelper() const { return folder / "Folder" / "Ferrowind 3.app"; }
    fs::path otherApplication() const { return folder / "Other.app"; }
    fs::path ordinaryFolder() const { return folder / "Folder"; }
    fs::path plainFile() const { return folder / "notes.txt"; }

    // A panel over the folder, shown, once its entries are listed.
    std::unique_ptr<ApplicationPanel> openPanel()
    {
        auto panel = std::make_unique<ApplicationPanel>(installer.window.get(), installer.controller);
        panel->setDirectory(QString::fromStdString(folder.string()));
        panel->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return proxyIndex(*panel, plainFile()).isValid(); }));
        return panel;
    }

    static QModelIndex proxyIndex(const ApplicationPanel& panel, const fs::path& path)
    {
        const auto* files = qobject_cast<QFileSystemModel*>(panel.proxyModel()->sourceModel());
        return panel.proxyModel()->mapFromSource(files->index(QString::fromStdString(path.string())));
    }

    static bool isEnabled(const ApplicationPanel& panel, const fs::path& path)
    {
        return panel.proxyModel()->flags(proxyIndex(panel, path)).testFlag(Qt::ItemIsEnabled);
    }

    testing::FakeRunningApplications running;
    InstallerUnderTest installer { running };
    fs::path folder = installer.applicationsFolder;
};

TEST_F(ApplicationChoice, DelegateEnablesFoldersAndTakesOnlyTheMainApplicationWithHelper)
{
    const auto& delegate = installer.controller;
    EXPECT_TRUE(delegate.panelShouldEnableURL(urlOf(mainApplication())));
    EXPECT_TRUE(delegate.panelValidateURL(urlOf(mainApplication())));
    EXPECT_TRUE(delegate.panelShouldEnableURL(urlOf(ordinaryFolder())));
    EXPECT_FALSE(delegate.panelValidateURL(urlOf(ordinaryFolder())));

    for (const auto& refused : { withoutHelper(), otherApplication(), plainFile(), folder / "missing" }) {
        EXPECT_FALSE(delegate.panelShouldEnableURL(urlOf(refused))) << refused;
        EXPECT_FALSE(delegate.panelValidateURL(urlOf(refused))) << refused;
    }
}

TEST_F(ApplicationChoice, PanelGreysOutWhatCannotBePicked)
{
    const auto panel = openPanel();
    EXPECT_TRUE(isEnabled(*panel, mainApplication()));
    EXPECT_TRUE(isEnabled(*panel, ordinaryFolder()));
    EXPECT_FALSE(isEnabled(*panel, otherApplication()));
    EXPECT_FALSE(isEnabled(*panel, plainFile()));
}

TEST_F(ApplicationChoice, RefusedPicksKeepThePanelOpen)
{
    const auto panel = openPanel();
    const QString start = panel->directory().absolutePath();

    panel->selectFile(QString::fromStdString(otherApplication().string()));
    panel->accept();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->directory().absolutePath(), start);

    // An ordinary folder is opened to look inside, not chosen.
    panel->selectFile(QString::fromStdString(ordinaryFolder().string()));
    panel->accept();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->directory().absolutePath(), QString::fromStdString(ordinaryFolder().string()));

    panel->selectFile(QString::fromStdString(withoutHelper().string()));
    panel->accept();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->url().isEmpty());
}

TEST_F(ApplicationChoice, MainApplicationIsChosenNotOpened)
{
    const auto panel = openPanel();
    panel->selectFile(QString::fromStdString(mainApplication().string()));
    panel->accept();
    EXPECT_EQ(panel->result(), 1);
    EXPECT_EQ(panel->url(), urlOf(mainApplication()));

    const auto again = openPanel();
    QAbstractItemView* view = nullptr;
    for (auto* candidate : again->findChildren<QAbstractItemView*>()) {
        if ((candidate->objectName() == u"listView" || candidate->objectName() == u"treeView") && candidate->isVisible())
            view = candidate;
    }
    ASSERT_NE(view, nullptr);
    const QRect entry = view->visualRect(proxyIndex(*again, mainApplication()));
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, entry.center());
    EXPECT_FALSE(again->isVisible());
    EXPECT_EQ(again->result(), 1);
    EXPECT_EQ(again->url(), urlOf(mainApplication()));
}

TEST_F(ApplicationChoice, BrowseShowsAWindowModalPanelInTheApplicationsFolder)
{
    installer.window->show();
    installer.controller.btnBrowseClicked();
    ApplicationPanel* panel = installer.controller.openPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Select Ferrowind Application"));
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(panel->parentWidget(), installer.window.get());
    EXPECT_EQ(panel->directory().absolutePath(), QString::fromStdString(folder.string()));
    EXPECT_EQ(panel->fileMode(), QFileDialog::ExistingFile);
    panel->reject();

    // A machine without the applications folder starts the user above it.
    fs::remove_all(folder);
    installer.controller.btnBrowseClicked();
    EXPECT_EQ(installer.controller.openPanel()->directory().absolutePath(),
        QString::fromStdString(installer.home.path().string()));
    installer.controller.openPanel()->reject();
}

TEST_F(ApplicationChoice, ChoiceFillsThePathFieldAndRefreshesTheState)
{
    // An installed, running helper: updateUI has the last word on Install.
    testing::makeHelperBundle(installer.dataHome / "Ferrowind Helper");
    running.applications = { { "Ferrowind Helper", 42, "com.Ferrowind.Ferrowind-Helper" } };
    installer.window->show();

    installer.controller.btnBrowseClicked();
    installer.controller.openPanel()->reject();
    EXPECT_EQ(installer.controller.applicationPath->text(), QString());
    EXPECT_EQ(installer.controller.openPanel(), nullptr);

    installer.controller.btnBrowseClicked();
    installer.controller.openPanel()->selectFile(QString::fromStdString(mainApplication().string()));
    installer.controller.openPanel()->accept();
    EXPECT_EQ(installer.controller.applicationPath->text(),
        QString::fromStdString((folder / "Ferrowind 3").string()));
    EXPECT_EQ(installer.controller.getApplicationPathFromUI(), QString::fromStdString(mainApplication().string()));
    EXPECT_FALSE(installer.controller.installButton->isEnabled());
    EXPECT_TRUE(installer.controller.uninstallButton->isEnabled());
}

TEST_F(ApplicationChoice, PathFieldLeavesOutTheExtension)
{
    auto& controller = installer.controller;
    controller.installButton->setEnabled(false);
    controller.setApplicationPathInUI(QUrl::fromLocalFile(QStringLiteral("/Applications/Ferrowind 3.app")));
    EXPECT_EQ(controller.applicationPath->text(), QStringLiteral("/Applications/Ferrowind 3"));
    EXPECT_EQ(controller.getApplicationPathFromUI(), QStringLiteral("/Applications/Ferrowind 3.app"));
    EXPECT_TRUE(controller.installButton->isEnabled());

    controller.setApplicationPathInUI(std::nullopt);
    EXPECT_EQ(controller.applicationPath->text(), QString());
    EXPECT_EQ(controller.getApplicationPathFromUI(), QString());
    EXPECT_FALSE(controller.installButton->isEnabled());
}

} // namespace
} // namespace installer
