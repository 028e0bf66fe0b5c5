#pragma once

#include <optional>
#include <string>

namespace updater {

// Whether `text` reads as a whole URL, whatever its scheme.
bool isReadableURL(const std::string& text);

// `reference` read as a URL and written out in normal form; relative to
// `base` (a readable URL) unless that is empty. Nothing when it cannot be
// read. Schemes that cannot be fetched still read, so that a caller can
// refuse them by name rather than lose them silently.
std::optional<std::string> readURL(const std::string& reference, const std::string& base = {});

} // namespace updater
