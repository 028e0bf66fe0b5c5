#include "installer/app_delegate.h"

#include "installer/alert_sheet.h"
#include "installer/helper_placement.h"
#include "installer/login_items/login_item_registration.h"
#include "platform/login_items.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QWidget>

#include <filesystem>
#include <system_error>

namespace installer {

namespace {

constexpr double kLogoOpacity = 0.2;
// Hiding the advanced section raises the window's bottom edge by 60 points
// and lowers its top edge by 10; showing undoes both. In Qt's coordinates,
// where y grows downwards, that moves the top by 10 and changes the height
// by 70.
constexpr int kAdvancedBottomEdgeShift = 60;
constexpr int kAdvancedHeightChange = 70;
constexpr int kAdvancedTopEdgeShift = kAdvancedHeightChange - kAdvancedBottomEdgeShift;
constexpr int kFrameAnimationMilliseconds = 200;
constexpr int kFadeInMilliseconds = 250;

constexpr int kPanelResultOK = 1;

QGraphicsOpacityEffect* opacityEffect(QWidget* widget)
{
    if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect()))
        return effect;
    auto* effect = new QGraphicsOpacityEffect(widget);
    widget->setGraphicsEffect(effect);
    return effect;
}

void setOpacityAtOnce(QWidget* widget, double opacity)
{
    auto* effect = opacityEffect(widget);
    // A fade still running would otherwise carry on past this value.
    for (auto* fade : effect->findChildren<QPropertyAnimation*>())
        fade->stop();
    effect->setOpacity(opacity);
}

void fadeTo(QWidget* widget, double opacity)
{
    auto* effect = opacityEffect(widget);
    for (auto* fade : effect->findChildren<QPropertyAnimation*>())
        fade->stop();
    auto* fade = new QPropertyAnimation(effect, "opacity", effect);
    fade->setDuration(kFadeInMilliseconds);
    fade->setEndValue(opacity);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

// The open panel starts in the applications folder; where a machine has
// none (most Linux machines), in the user's home, where applications a user
// unpacks usually are, rather than at the root.
QString panelStartFolder(const QString& applicationsFolder)
{
    return QFileInfo(applicationsFolder).isDir() ? applicationsFolder : QDir::homePath();
}

bool existsAtPath(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::string localPath(const QUrl& url)
{
    return url.toLocalFile().toStdString();
}

} // namespace

AppDelegate::AppDelegate(InstallerServices services, std::string helperPayloadPath, std::string applicationsFolder,
    QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_locator(m_services.workspace, std::move(applicationsFolder), m_services.applicationSupportDirectories)
    , m_installation({ m_services.runningApplications, m_services.launcher, m_services.termination,
                         m_services.openLoginItems, placeFreshCopy, m_services.desktopExtension },
          std::move(helperPayloadPath))
{
}

AppDelegate::~AppDelegate()
{
    // The panel's completion would otherwise run against a controller that
    // is gone.
    if (m_panel)
        m_panel->disconnect(this);
}

void AppDelegate::awakeFromNib()
{
    setOpacityAtOnce(logoImageView, kLogoOpacity);
    hideAdvanced(false);
}

void AppDelegate::applicationDidFinishLaunching()
{
    updateUI();
}

void AppDelegate::hideAdvanced(bool animate)
{
    finishFrameAnimation();
    const QRect frame = window->geometry();
    const QRect hidden(frame.x(), frame.y() + kAdvancedTopEdgeShift, frame.width(),
        frame.height() - kAdvancedHeightChange);
    setAdvancedControlsOpacity(0.0, false);
    setAdvancedControlsReachable(false);
    setWindowFrame(hidden, animate);
}

void AppDelegate::showAdvanced()
{
    finishFrameAnimation();
    const QRect frame = window->geometry();
    const QRect shown(frame.x(), frame.y() - kAdvancedTopEdgeShift, frame.width(),
        frame.height() + kAdvancedHeightChange);
    setAdvancedControlsReachable(true);
    setAdvancedControlsOpacity(1.0, true);
    setWindowFrame(shown, true);
}

void AppDelegate::advancedDiscloseButtonClicked(QAbstractButton* sender)
{
    if (!sender->isChecked())
        hideAdvanced(true);
    else
        showAdvanced();
}

void AppDelegate::updateUI()
{
    bool running = false;
    const auto installed = m_locator.installedHelperPath();
    if (installed && existsAtPath(*installed)) {
        for (const auto& application : m_services.runningApplications.list()) {
            if (application.bundleIdentifier == kHelperBundleIdentifier)
                running = true;
        }
    }
    installButton->setEnabled(!running);
    uninstallButton->setEnabled(running);
    if (statusLabel)
        statusLabel->setText(running ? tr("Installed and running") : tr("Not running"));
}

void AppDelegate::exitButtonClicked()
{
    terminate();
}

void AppDelegate::terminate()
{
    QApplication::quit();
}

std::optional<QString> AppDelegate::helperApplicationLocation() const
{
    const auto location = m_locator.helperApplicationLocation();
    return location ? std::optional(QString::fromStdString(*location)) : std::nullopt;
}

std::optional<QString> AppDelegate::autoDetectBundleURL() const
{
    const auto bundle = m_locator.autoDetectBundleURL();
    return bundle ? std::optional(QString::fromStdString(*bundle)) : std::nullopt;
}

std::optional<QUrl> AppDelegate::getHelperAppBundle(const QString& mainApplicationPath) const
{
    const auto helper = m_locator.getHelperAppBundle(mainApplicationPath.toStdString());
    return helper ? std::optional(QUrl::fromLocalFile(QString::fromStdString(*helper))) : std::nullopt;
}

void AppDelegate::btnBrowseClicked()
{
    auto* panel = new ApplicationPanel(window, *this);
    panel->setDirectory(panelStartFolder(QString::fromStdString(m_locator.applicationsFolder())));
    panel->setWindowTitle(tr("Select Ferrowind Application"));
    connect(panel, &QDialog::finished, this, &AppDelegate::openPanelDidEnd);
    m_panel = panel;
    panel->open();
}

void AppDelegate::openPanelDidEnd(int resultCode)
{
    ApplicationPanel* panel = m_panel;
    m_panel = nullptr;
    if (!panel)
        return;
    if (resultCode == kPanelResultOK) {
        setApplicationPathInUI(panel->url());
        updateUI();
    }
    panel->deleteLater();
}

bool AppDelegate::panelShouldEnableURL(const QUrl& url) const
{
    return m_locator.shouldEnableURL(localPath(url));
}

bool AppDelegate::panelValidateURL(const QUrl& url) const
{
    return m_locator.validateURL(localPath(url));
}

void AppDelegate::setApplicationPathInUI(const std::optional<QUrl>& url)
{
    // The field leaves out the ".app" every accepted choice ends in.
    const QString path = url ? url->toLocalFile() : QString();
    applicationPath->setText(path.size() >= 4 ? path.chopped(4) : QString());
    installButton->setEnabled(!applicationPath->text().isEmpty());
}

QString AppDelegate::getApplicationPathFromUI() const
{
    const QString text = applicationPath->text();
    return text.isEmpty() ? QString() : text + QStringLiteral(".app");
}

QRect AppDelegate::targetFrame() const
{
    if (m_frameAnimation && m_frameAnimation->state() == QAbstractAnimation::Running)
        return m_frameAnimation->endValue().toRect();
    return window->geometry();
}

void AppDelegate::setAdvancedControlsOpacity(double opacity, bool animate)
{
    for (QWidget* control : { static_cast<QWidget*>(browseButton), static_cast<QWidget*>(applicationPath),
             static_cast<QWidget*>(selectFolderLabel) }) {
        if (animate)
            fadeTo(control, opacity);
        else
            setOpacityAtOnce(control, opacity);
    }
}

// Hidden, the controls are transparent as before, and also out of reach of
// the keyboard, the mouse and assistive tools.
void AppDelegate::setAdvancedControlsReachable(bool reachable)
{
    for (QWidget* control : { static_cast<QWidget*>(browseButton), static_cast<QWidget*>(applicationPath),
             static_cast<QWidget*>(selectFolderLabel) })
        control->setVisible(reachable);
}

void AppDelegate::setWindowFrame(const QRect& frame, bool animate)
{
    if (!animate) {
        setFrameAtOnce(frame);
        return;
    }
    // The size is fixed in each state; on the way from one to the other it
    // must pass through every height between them.
    window->setMinimumSize(frame.size().boundedTo(window->size()));
    window->setMaximumSize(frame.size().expandedTo(window->size()));
    auto* animation = new QPropertyAnimation(window, "geometry", this);
    animation->setDuration(kFrameAnimationMilliseconds);
    animation->setStartValue(window->geometry());
    animation->setEndValue(frame);
    connect(animation, &QPropertyAnimation::finished, this, [this, frame] { setFrameAtOnce(frame); });
    m_frameAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void AppDelegate::setFrameAtOnce(const QRect& frame)
{
    window->setFixedSize(frame.size());
    window->setGeometry(frame);
}

// Each change of the frame starts from where the last one ends, so that a
// click during an animation still adds or removes exactly one section.
void AppDelegate::finishFrameAnimation()
{
    if (!m_frameAnimation || m_frameAnimation->state() != QAbstractAnimation::Running)
        return;
    const QRect end = m_frameAnimation->endValue().toRect();
    m_frameAnimation->stop();
    setFrameAtOnce(end);
}

bool AppDelegate::loginItemRegisteredForURL(const std::string& fileURL) const
{
    return ::loginItemRegisteredForURL(m_services.openLoginItems().get(), fileURL);
}

bool AppDelegate::enableLoginItemWithURL(const std::string& fileURL)
{
    return ::enableLoginItemWithURL(m_services.openLoginItems().get(), fileURL);
}

bool AppDelegate::disableLoginItemWithURL(const std::string& fileURL)
{
    return ::disableLoginItemWithURL(m_services.openLoginItems().get(), fileURL);
}

std::optional<HelperPlaces> AppDelegate::helperPlaces() const
{
    const auto folder = m_locator.helperApplicationLocation();
    const auto installed = m_locator.installedHelperPath();
    if (!folder || !installed)
        return std::nullopt;
    return HelperPlaces { *folder, *installed };
}

bool AppDelegate::stopHelperProcess()
{
    return m_installation.stopHelperProcess(helperPlaces());
}

void AppDelegate::installButtonClicked()
{
    showResult(m_installation.install(helperPlaces()));
}

void AppDelegate::uninstallButtonClicked()
{
    showResult(m_installation.uninstall(helperPlaces()));
}

// The display is refreshed at once, while the sheet is still up.
void AppDelegate::showResult(const FlowResult& result)
{
    if (result.flow == Flow::Install)
        beginResultSheet(installAlert(result.succeeded), &AppDelegate::alertDidEnd, result.succeeded);
    else
        beginResultSheet(uninstallAlert(result.succeeded), &AppDelegate::uninstallAlertDidEnd, result.succeeded);
    updateUI();
}

void AppDelegate::beginResultSheet(const ResultAlert& alert, AlertDidEndMethod didEnd, bool outcome)
{
    // Alerts carry the application's icon, as the logo shows it.
    const QPixmap icon = logoImageView ? logoImageView->pixmap() : QPixmap();
    m_resultAlert = beginAlertSheet(alert, window, icon, this, [this, didEnd, outcome](QMessageBox* box, qint64 code) {
        m_resultAlert = nullptr;
        (this->*didEnd)(box, code, outcome);
    });
}

void AppDelegate::alertDidEnd(QMessageBox*, qint64 returnCode, bool outcome)
{
    endResultSheet(outcome, returnCode);
}

void AppDelegate::uninstallAlertDidEnd(QMessageBox*, qint64 returnCode, bool outcome)
{
    endResultSheet(outcome, returnCode);
}

void AppDelegate::endResultSheet(bool outcome, qint64 returnCode)
{
    const auto choice = returnCode == kAlertDefaultReturn ? ResultChoice::Default : ResultChoice::Alternate;
    if (choiceEndsInstaller(outcome, choice))
        terminate();
}

} // namespace installer
