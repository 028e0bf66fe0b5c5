#pragma once

// The file Flatpak writes into every sandbox it makes, /.flatpak-info: a
// key file whose [Application] group names the application.

#include <optional>
#include <string>

namespace platform::sandbox {

// The application id of a .flatpak-info's text ("[Application] name="),
// when it is one in Flatpak's own form.
std::optional<std::string> applicationIdIn(const std::string& flatpakInfo);

} // namespace platform::sandbox
