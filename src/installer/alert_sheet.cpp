#include "installer/alert_sheet.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace installer {

namespace {

constexpr int kIconSize = 64;
// Narrower, QMessageBox wraps a sentence of informative text into a column
// a few words wide.
constexpr int kInformativeTextWidth = 340;

// The message text leads, in bold, and the explanation below it reads as a
// paragraph, as alerts on the desktops users know do it.
void styleTexts(QMessageBox* box)
{
    if (auto* message = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont bold = message->font();
        bold.setBold(true);
        message->setFont(bold);
    }
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setMinimumWidth(kInformativeTextWidth);
}

// At the icon's size in points, drawn with every pixel the screen has.
QPixmap iconAtAlertSize(const QPixmap& icon)
{
    const qreal ratio = icon.devicePixelRatio();
    QPixmap scaled = icon.scaled(QSize(kIconSize, kIconSize) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    return scaled;
}

void setIcon(QMessageBox* box, const ResultAlert& alert, const QPixmap& applicationIcon)
{
    if (alert.isFailure)
        box->setIcon(QMessageBox::Warning);
    else if (!applicationIcon.isNull())
        box->setIconPixmap(iconAtAlertSize(applicationIcon));
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"))) {
        label->setAccessibleName(alert.isFailure
                ? QCoreApplication::translate("installer::AlertSheet", "Warning")
                : QCoreApplication::translate("installer::AlertSheet", "Ferrowind Helper"));
    }
}

} // namespace

QMessageBox* beginAlertSheet(const ResultAlert& alert, QWidget* window, const QPixmap& icon, QObject* receiver,
    AlertDidEnd didEnd)
{
    auto* box = new QMessageBox(window);
    box->setWindowModality(Qt::WindowModal);
    box->setText(alert.messageText);
    box->setInformativeText(alert.informativeText);
    box->setTextFormat(Qt::PlainText);
    styleTexts(box);
    setIcon(box, alert, icon);

    QPushButton* defaultButton = box->addButton(alert.defaultButton, QMessageBox::AcceptRole);
    QPushButton* alternateButton
        = alert.alternateButton ? box->addButton(*alert.alternateButton, QMessageBox::RejectRole) : nullptr;
    box->setDefaultButton(defaultButton);
    box->setEscapeButton(alternateButton ? alternateButton : defaultButton);

    // With buttons of our own, QDialog's result is an opaque value; which
    // button was pressed is what decides the return code.
    QObject::connect(box, &QDialog::finished, receiver, [box, defaultButton, didEnd = std::move(didEnd)] {
        const qint64 returnCode
            = box->clickedButton() == defaultButton ? kAlertDefaultReturn : kAlertAlternateReturn;
        box->deleteLater();
        didEnd(box, returnCode);
    });
    box->open();
    return box;
}

} // namespace installer
