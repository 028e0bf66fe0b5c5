#pragma once

#include "installer/application_panel.h"
#include "installer/main_application_locator.h"
#include "platform/running_applications.h"
#include "platform/workspace.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QUrl>

#include <optional>
#include <string>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPropertyAnimation;
class QPushButton;
class QWidget;

namespace installer {

// The installer's one controller: application delegate, controller of the
// installer window and delegate of its open panel. It holds the controls
// without owning them; the window owns them.
class AppDelegate : public QObject, public ApplicationPanelDelegate {
    Q_OBJECT
public:
    // Both services must outlive the controller.
    AppDelegate(const platform::RunningApplications& runningApplications, const platform::Workspace& workspace,
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

    // The user's login items, opened afresh for each call; the URL is a
    // file URL as platform::fileURLForPath makes it.
    bool loginItemRegisteredForURL(const std::string& fileURL) const;
    bool enableLoginItemWithURL(const std::string& fileURL);
    bool disableLoginItemWithURL(const std::string& fileURL);

    bool panelShouldEnableURL(const QUrl& url) const override;
    bool panelValidateURL(const QUrl& url) const override;

    // The open panel while it is shown.
    ApplicationPanel* openPanel() const { return m_panel; }
    // The window frame once a running resize has ended.
    QRect targetFrame() const;

public slots:
    void advancedDiscloseButtonClicked(QAbstractButton* sender);
    void btnBrowseClicked();
    void exitButtonClicked();

private slots:
    void openPanelDidEnd(int resultCode);

private:
    void setAdvancedControlsOpacity(double opacity, bool animate);
    void setWindowFrame(const QRect& frame, bool animate);
    void finishFrameAnimation();

    const platform::RunningApplications& m_runningApplications;
    MainApplicationLocator m_locator;
    QPointer<QPropertyAnimation> m_frameAnimation;
    QPointer<ApplicationPanel> m_panel;
};

} // namespace installer
