#include "installer/installer_window.h"

#include "installer/app_delegate.h"

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
#include <QToolButton>
#include <QVBoxLayout>

namespace installer {

namespace {

constexpr int kWindowWidth = 500;
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
    logo->setPixmap(renderLogo(logoPath, devicePixelRatio));
    return logo;
}

QWidget* makeIntroduction()
{
    auto* title = new QLabel(QStringLiteral("Ferrowind Helper"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);

    auto* text = new QLabel(QStringLiteral(
        "Ferrowind Helper runs in the background and does for Ferrowind 3 what its sandbox does not allow. "
        "Install it to start it now and each time you log in."));
    text->setWordWrap(true);

    auto* introduction = new QWidget;
    auto* layout = new QVBoxLayout(introduction);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addStretch();
    return introduction;
}

QFrame* makeSeparator()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QToolButton* makeDisclosureButton()
{
    auto* disclose = new QToolButton;
    disclose->setObjectName(QStringLiteral("advancedDiscloseButton"));
    disclose->setText(QStringLiteral("Advanced"));
    disclose->setCheckable(true);
    disclose->setChecked(false);
    disclose->setAutoRaise(true);
    disclose->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclose->setArrowType(Qt::RightArrow);
    // The arrow tells the state; a pressed-in frame around it would make
    // the control look like a toggle switch.
    disclose->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    QObject::connect(disclose, &QToolButton::toggled, disclose,
                     [disclose](bool on) { disclose->setArrowType(on ? Qt::DownArrow : Qt::RightArrow); });
    return disclose;
}

QWidget* makeAdvancedSection(AppDelegate& controller)
{
    auto* label = new QLabel(QStringLiteral("Ferrowind 3 application (it carries its own copy of the helper):"));
    label->setObjectName(QStringLiteral("selectFolderLabel"));

    auto* path = new QLineEdit;
    path->setObjectName(QStringLiteral("applicationPath"));
    path->setReadOnly(true);
    path->setPlaceholderText(QStringLiteral("No application chosen"));

    auto* browse = new QPushButton(QStringLiteral("Browse…"));
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setAutoDefault(false);

    auto* section = new QWidget;
    section->setObjectName(QStringLiteral("advancedSection"));
    section->setFixedHeight(kAdvancedSectionHeight);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(kMargin, 0, kMargin, 14);
    layout->setSpacing(6);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    row->addWidget(path, 1);
    row->addWidget(browse);
    layout->addLayout(row);

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
    top->addWidget(makeIntroduction(), 1);

    auto* install = new QPushButton(QStringLiteral("Install"));
    install->setObjectName(QStringLiteral("installButton"));
    install->setDefault(true);
    auto* uninstall = new QPushButton(QStringLiteral("Uninstall"));
    uninstall->setObjectName(QStringLiteral("uninstallButton"));
    auto* actions = new QHBoxLayout;
    actions->addStretch();
    actions->addWidget(uninstall);
    actions->addWidget(install);

    auto* disclose = makeDisclosureButton();
    auto* exit = new QPushButton(QStringLiteral("Exit"));
    exit->setObjectName(QStringLiteral("exitButton"));
    exit->setAutoDefault(false);
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
    QObject::connect(disclose, &QToolButton::clicked, &controller,
                     [&controller, disclose] { controller.advancedDiscloseButtonClicked(disclose); });
    return content;
}

} // namespace

std::unique_ptr<QWidget> loadInstallerWindow(AppDelegate& controller, const QString& logoPath)
{
    auto window = std::make_unique<QWidget>();
    window->setObjectName(QStringLiteral("installerWindow"));
    window->setWindowTitle(QStringLiteral("Ferrowind Helper Installer"));
    const qreal devicePixelRatio = qGuiApp->primaryScreen() ? qGuiApp->primaryScreen()->devicePixelRatio() : 1.0;

    // The content keeps its laid-out height and is pinned to the window's
    // top: a window made shorter simply cuts off the advanced section at the
    // bottom instead of squeezing the controls.
    QWidget* content = makeContent(controller, logoPath, devicePixelRatio);
    content->setParent(window.get());
    const QSize laidOut(kWindowWidth, content->heightForWidth(kWindowWidth) > 0
                                          ? content->heightForWidth(kWindowWidth)
                                          : content->sizeHint().height());
    content->setFixedSize(laidOut);
    content->move(0, 0);
    window->setFixedWidth(kWindowWidth);

    QRect frame(QPoint(0, 0), laidOut);
    if (const QScreen* screen = qGuiApp->primaryScreen())
        frame.moveCenter(screen->availableGeometry().center());
    window->setGeometry(frame);

    controller.window = window.get();
    controller.awakeFromNib();
    return window;
}

} // namespace installer
