#pragma once

#include "installer/application_panel.h"
#include "installer/helper_installation.h"
#include "installer/main_application_locator.h"
#include "installer/result_alerts.h"
#include "platform/process_launcher.h"
#include "platform/process_termination.h"
#include "platform/running_applications.h"
#include "platform/workspace.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QUrl>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAbstractButton;
class QLabel;
class QLineEdit;

class QPropertyAnimation;
class QPushButton;
class QWidget;

namespace installer {

// The platform services the controller works with; all must outlive it.
struct InstallerServices {
    const platform::RunningApplications& runningApplications;
    const platform::Workspace& workspace;
    platform::ProcessLauncher& launcher;
    platform::ProcessTermination& termination;
    HelperInstallation::LoginItemsOpener openLoginItems;
    // The user's Application Support directories, most preferred first.
    std::function<std::vector<std::string>()> applicationSupportDirectories;
    platform::DesktopExtensionRegistration desktopExtension {};
};

// The installer's one controller: application delegate, controller of the
// installer window and delegate of its open panel. It holds the controls
// without owning them; the window owns them.
class AppDelegate : public QObject, public ApplicationPanelDelegate {
    Q_OBJECT
public:
    // `helperPayloadPath` is the helper bundle that Install puts in place.
    AppDelegate(InstallerServices services, std::string helperPayloadPath,
        std::string applicationsFolder = std::string(kDefaultApplicationsFolder), QObject* parent = nullptr);
    ~AppDelegate() override;

    // Outlets, set when the window is built.
    QWidget* window = nullptr;
    QPushButton* installButton = nullptr;
    QPushButton* uninstallButton = nullptr;
    QPushButton* browseButton = nullptr;
    QLineEdit* applicationPath = nullptr;
    QLabel* logoImageView = nullptr;
    QLabel* selectFolderLabel = nullptr;
    // One line under the title that tells what updateUI found.
    QLabel* statusLabel = nullptr;

    // Once the window is built, before it is shown.
    void awakeFromNib();
    void applicationDidFinishLaunching();

    void hideAdvanced(bool animate);
    void showAdvanced();
    void updateUI();

    std::optional<QString> helperApplicationLocation() const;
    std::optional<QString> autoDetectBundleURL() const;
    std::optional<QUrl> getHelperAppBundle(const QString& mainApplicationPath) const;
    void setApplicationPathInUI(const std::optional<QUrl>& url);
    QString getApplicationPathFromUI() const;

    // The user's login items, as the services open them afresh for each
    // call; the URL is a file URL as platform::fileURLForPath makes it.
    bool loginItemRegisteredForURL(const std::string& fileURL) const;
    bool enableLoginItemWithURL(const std::string& fileURL);
    bool disableLoginItemWithURL(const std::string& fileURL);

    // Takes the installed helper out of the login items and, if it was
    // there, ends every running helper, whichever copy it runs from. True
    // when it was there.
    bool stopHelperProcess();
    void alertDidEnd(QMessageBox* alert, qint64 returnCode, bool outcome);
    void uninstallAlertDidEnd(QMessageBox* alert, qint64 returnCode, bool outcome);

    bool panelShouldEnableURL(const QUrl& url) const override;
    bool panelValidateURL(const QUrl& url) const override;

    // The open panel while it is shown.
    ApplicationPanel* openPanel() const { return m_panel; }
    // The result alert while it is shown.
    QMessageBox* resultAlert() const { return m_resultAlert; }
    // The window frame once a running resize has ended.
    QRect targetFrame() const;

public slots:
    void advancedDiscloseButtonClicked(QAbstractButton* sender);
    void btnBrowseClicked();
    void exitButtonClicked();
    void installButtonClicked();
    void uninstallButtonClicked();

private slots:
    void openPanelDidEnd(int resultCode);

private:
    using AlertDidEndMethod = void (AppDelegate::*)(QMessageBox*, qint64, bool);

    std::optional<HelperPlaces> helperPlaces() const;
    void showResult(const FlowResult& result);
    void beginResultSheet(const ResultAlert& alert, AlertDidEndMethod didEnd, bool outcome);
    void endResultSheet(bool outcome, qint64 returnCode);
    void terminate();

    void setAdvancedControlsOpacity(double opacity, bool animate);
    void setAdvancedControlsReachable(bool reachable);
    void setWindowFrame(const QRect& frame, bool animate);
    void setFrameAtOnce(const QRect& frame);
    void finishFrameAnimation();

    InstallerServices m_services;
    MainApplicationLocator m_locator;
    HelperInstallation m_installation;
    QPointer<QPropertyAnimation> m_frameAnimation;
    QPointer<ApplicationPanel> m_panel;
    QPointer<QMessageBox> m_resultAlert;
};

} // namespace installer
