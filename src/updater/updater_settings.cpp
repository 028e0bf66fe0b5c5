#include "updater/updater_settings.h"

#include <algorithm>
#include <charconv>

namespace updater {

namespace {

// Property lists written by hand often hold numbers as strings.
std::optional<std::int64_t> integerOrNumericText(const platform::InfoDictionary& info, std::string_view key)
{
    if (auto number = info.integer(key))
        return number;
    auto text = info.string(key);
    if (!text)
        return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size())
        return std::nullopt;
    return value;
}

std::optional<std::string> nonEmptyText(const platform::InfoDictionary& info, std::string_view key)
{
    auto text = info.string(key);
    if (text && text->find_first_not_of(" \t\r\n") == std::string::npos)
        return std::nullopt;
    return text;
}

} // namespace

UpdaterSettings readUpdaterSettings(const platform::InfoDictionary& info)
{
    UpdaterSettings settings;
    settings.feedURL = nonEmptyText(info, "SUFeedURL");
    settings.publicEDKey = nonEmptyText(info, "SUPublicEDKey");
    if (auto seconds = integerOrNumericText(info, "SUScheduledCheckInterval"))
        settings.checkInterval = std::clamp(std::chrono::seconds(*seconds), UpdaterSettings::kShortestCheckInterval,
            UpdaterSettings::kLongestCheckInterval);
    settings.bundleIdentifier = info.string("CFBundleIdentifier").value_or("");
    settings.bundleVersion = info.string("CFBundleVersion").value_or("");
    return settings;
}

} // namespace updater
