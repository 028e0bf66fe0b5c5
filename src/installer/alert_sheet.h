#pragma once

#include "installer/result_alerts.h"

#include <QPixmap>
#include <QtGlobal>

#include <functional>

class QMessageBox;
class QObject;
class QWidget;

namespace installer {

inline constexpr qint64 kAlertDefaultReturn = 1;
inline constexpr qint64 kAlertAlternateReturn = 0;

using AlertDidEnd = std::function<void(QMessageBox* alert, qint64 returnCode)>;

// Shows the alert as a window-modal sheet on `window` and returns at once.
// When a button ends it, `didEnd` runs with the return code of that button,
// unless `receiver` is gone by then; the alert then deletes itself. Escape
// presses the alternate button, or the default one when there is none.
// `icon` (the application's) marks success alerts; failures carry the
// desktop's warning sign instead.
QMessageBox* beginAlertSheet(const ResultAlert& alert, QWidget* window, const QPixmap& icon, QObject* receiver,
    AlertDidEnd didEnd);

} // namespace installer
