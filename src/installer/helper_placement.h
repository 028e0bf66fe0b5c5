#pragma once

#include <string>

namespace installer {

// The helper bundle an installer bundle carries in its resources.
std::string helperPayloadPath(const std::string& installerBundlePath);

// Puts a complete copy of `payload` at `destination`, replacing whatever is
// there. The copy is made in a temporary folder beside `destination` and
// moved into place only once it is whole, so a copy that fails (a full disk,
// a folder we may not write to, a payload that is missing) leaves
// `destination` as it was and answers false.
bool placeFreshCopy(const std::string& payload, const std::string& destination);

} // namespace installer
