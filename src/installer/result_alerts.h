#pragma once

#include <QString>

#include <optional>

namespace installer {

// Where users are sent when installing or uninstalling fails.
inline constexpr const char* kSupportAddress = "support@ferrowind.example";

// What an install or uninstall result alert says and offers. The default
// button ends the alert with return code 1, the alternate one with 0. A
// failure carries a warning sign, so that it does not read as a success at
// a glance.
struct ResultAlert {
    QString messageText;
    QString defaultButton;
    std::optional<QString> alternateButton;
    QString informativeText;
    bool isFailure = false;
};

ResultAlert installAlert(bool succeeded);
ResultAlert uninstallAlert(bool succeeded);

} // namespace installer
