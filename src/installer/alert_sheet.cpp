#include "installer/alert_sheet.h"

#include <QMessageBox>
#include <QPushButton>

namespace installer {

namespace {

constexpr int kIconSize = 64;

} // namespace

QMessageBox* beginAlertSheet(const ResultAlert& alert, QWidget* window, const QPixmap& icon, QObject* receiver,
                             AlertDidEnd didEnd)
{
    auto* box = new QMessageBox(window);
    box->setWindowModality(Qt::WindowModal);
    box->setText(alert.messageText);
    box->setInformativeText(alert.informativeText);
    if (!icon.isNull())
        box->setIconPixmap(icon.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));

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
