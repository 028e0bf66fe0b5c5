#include "installer/installer_window.h"

#include "installer/app_delegate.h"
#include "installer/disclosure_button.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include <algorithm>

namespace installer {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("installer::InstallerWindow", text);
}

// The narrowest the window gets; with larger fonts it grows until the
// advanced label fits on one line, up to the widest it gets.
constexpr int kWindowWidth = 500;
constexpr int kMaximumWindowWidth = 800;
constexpr int kLogoSize = 112;
constexpr int kMargin = 20;
// Exactly what hiding the advanced section takes off the window, so that
// hiding cuts it away whole and nothing else.
constexpr int kAdvancedSectionHeight = 70;

QPixmap renderLogo(const QString& path, qreal devicePixelRatio)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(QSize(kLogoSize, kLogoSize) * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QLabel* makeLogo(const QString& logoPath, qreal devicePixelRatio)
{
    auto* logo = new QLabel;
    logo->setObjectName(QStringLiteral("logoImageView"));
    logo->setFixedSize(kLogoSize, kLogoSize);
    logo->setAccessibleName(tr("Ferrowind Helper logo"));
    logo->setPixmap(renderLogo(logoPath, devicePixelRatio));
    return logo;
}

QWidget* makeIntroduction(AppDelegate& controller)
{
    auto* title = new QLabel(tr("Ferrowind Helper"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);

    // Filled in by updateUI, which alone knows the state.
    auto* status = new QLabel;
    status->setObjectName(QStringLiteral("helperStatusLabel"));
    status->setForegroundRole(QPalette::PlaceholderText);
    status->setMinimumHeight(status->fontMetrics().height());

    auto* text = new QLabel(tr("Ferrowind Helper runs in the background and does for Ferrowind 3 what its sandbox "
                               "does not allow. Install it to start it now and each time you log in."));
    text->setWordWrap(true);

    auto* introduction = new QWidget;
    auto* layout = new QVBoxLayout(introduction);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(title);
    layout->addWidget(status);
    layout->addWidget(text);
    layout->addStretch();
    controller.statusLabel = status;
    return introduction;
}

QFrame* makeSeparator()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QWidget* makeAdvancedSection(AppDelegate& controller)
{
    auto* label = new QLabel(tr("&Ferrowind 3 application (it carries its own copy of the helper):"));
    label->setObjectName(QStringLiteral("selectFolderLabel"));
    // Wider than the window can grow, at very large fonts, it takes a
    // second line rather than losing its end.
    label->setWordWrap(true);

    auto* path = new QLineEdit;
    path->setObjectName(QStringLiteral("applicationPath"));
    path->setReadOnly(true);
    path->setPlaceholderText(tr("No application chosen"));
    path->setAccessibleName(tr("Ferrowind 3 application"));
    label->setBuddy(path);

    auto* browse = new QPushButton(tr("&Browse…"));
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setAutoDefault(true);

    auto* section = new QWidget;
    section->setObjectName(QStringLiteral("advancedSection"));
    section->setFixedHeight(kAdvancedSectionHeight);
    auto* layout = new QVBoxLayout(section);
    // What is left of the 70 points below the controls is the margin, so
    // that larger fonts still fit.
    layout->setContentsMargins(kMargin, 0, kMargin, 0);
    layout->setSpacing(4);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    row->addWidget(path, 1);
    row->addWidget(browse);
    layout->addLayout(row);
    layout->addStretch();

    controller.browseButton = browse;
    controller.applicationPath = path;
    controller.selectFolderLabel = label;
    QObject::connect(browse, &QPushButton::clicked, &controller, &AppDelegate::btnBrowseClicked);
    return section;
}

QWidget* makeContent(AppDelegate& controller, const QString& logoPath, qreal devicePixelRatio)
{
    auto* logo = makeLogo(logoPath, devicePixelRatio);
    auto* top = new QHBoxLayout;
    top->setSpacing(18);
    top->addWidget(logo, 0, Qt::AlignTop);
    top->addWidget(makeIntroduction(controller), 1);

    auto* install = new QPushButton(tr("&Install"));
    install->setObjectName(QStringLiteral("installButton"));
    install->setDefault(true);
    auto* uninstall = new QPushButton(tr("&Uninstall"));
    uninstall->setObjectName(QStringLiteral("uninstallButton"));
    uninstall->setAutoDefault(true);
    auto* actions = new QHBoxLayout;
    actions->addStretch();
    actions->addWidget(uninstall);
    actions->addWidget(install);

    auto* disclose = new DisclosureButton(tr("&Advanced"));
    disclose->setObjectName(QStringLiteral("advancedDiscloseButton"));
    disclose->setAccessibleName(tr("Advanced"));
    auto* exit = new QPushButton(tr("E&xit"));
    exit->setObjectName(QStringLiteral("exitButton"));
    exit->setAutoDefault(true);
    auto* footer = new QHBoxLayout;
    footer->addWidget(disclose);
    footer->addStretch();
    footer->addWidget(exit);

    auto* upper = new QVBoxLayout;
    upper->setContentsMargins(kMargin, kMargin, kMargin, 0);
    upper->setSpacing(14);
    upper->addLayout(top);
    upper->addLayout(actions);
    upper->addWidget(makeSeparator());
    upper->addLayout(footer);

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addLayout(upper);
    layout->addWidget(makeAdvancedSection(controller));

    controller.logoImageView = logo;
    controller.installButton = install;
    controller.uninstallButton = uninstall;
    QObject::connect(exit, &QPushButton::clicked, &controller, &AppDelegate::exitButtonClicked);
    QObject::connect(install, &QPushButton::clicked, &controller, &AppDelegate::installButtonClicked);
    QObject::connect(uninstall, &QPushButton::clicked, &controller, &AppDelegate::uninstallButtonClicked);
    QObject::connect(disclose, &DisclosureButton::clicked, &controller,
        [&controller, disclose] { controller.advancedDiscloseButtonClicked(disclose); });
    return content;
}

int windowWidth(const QLabel& advancedLabel)
{
    const int oneLine = advancedLabel.fontMetrics().horizontalAdvance(advancedLabel.text().remove(u'&'));
    return std::clamp(oneLine + 2 * kMargin + advancedLabel.margin() * 2 + 4, kWindowWidth, kMaximumWindowWidth);
}

} // namespace

std::unique_ptr<QWidget> loadInstallerWindow(AppDelegate& controller, const QString& logoPath)
{
    auto window = std::make_unique<QWidget>();
    window->setObjectName(QStringLiteral("installerWindow"));
    window->setWindowTitle(tr("Ferrowind Helper Installer"));
    // Its size is fixed in each state of the advanced section; maximizing
    // would only add empty space.
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    const qreal devicePixelRatio = qGuiApp->primaryScreen() ? qGuiApp->primaryScreen()->devicePixelRatio() : 1.0;

    // The content keeps its laid-out height and is pinned to the window's
    // top: the window, 70 points shorter, cuts off the advanced section at
    // the bottom instead of squeezing the controls.
    QWidget* content = makeContent(controller, logoPath, devicePixelRatio);
    content->setParent(window.get());
    const int width = windowWidth(*controller.selectFolderLabel);
    const QSize laidOut(width, content->heightForWidth(width) > 0 ? content->heightForWidth(width) : content->sizeHint().height());
    content->setFixedSize(laidOut);
    content->move(0, 0);
    window->setFixedSize(laidOut);

    QRect frame(QPoint(0, 0), laidOut);
    if (const QScreen* screen = qGuiApp->primaryScreen())
        frame.moveCenter(screen->availableGeometry().center());
    window->setGeometry(frame);

    controller.window = window.get();
    controller.awakeFromNib();
    return window;
}

} // namespace installer
