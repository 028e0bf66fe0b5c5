#pragma once

#include <QString>
#include <QWidget>

#include <memory>

namespace installer {

class AppDelegate;

// Builds the installer window with its controls, fills in the controller's
// outlets, wires the controls to its actions and lets it finish the set-up
// (awakeFromNib). The window is laid out with the advanced section shown;
// the controller hides it. `logoPath` names an SVG file; without one the
// logo stays empty.
std::unique_ptr<QWidget> loadInstallerWindow(AppDelegate& controller, const QString& logoPath);

} // namespace installer
