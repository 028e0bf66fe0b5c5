#include "platform/linux/sandbox/document_portal.h"

#include <string_view>

namespace platform::sandbox {

namespace {

// The first element of `path` ("a" of "a/b/c"), and the rest after it.
std::pair<std::string_view, std::string_view> firstElement(std::string_view path)
{
    const auto slash = path.find('/');
    if (slash == std::string_view::npos)
        return { path, {} };
    return { path.substr(0, slash), path.substr(slash + 1) };
}

std::string_view lastElement(std::string_view path) { return path.substr(path.rfind('/') + 1); }

} // namespace

std::optional<PortalDocument> portalDocumentAt(const std::string& pathInPortal)
{
    std::string_view rest = pathInPortal;
    if (!rest.starts_with('/'))
        return std::nullopt;
    rest.remove_prefix(1);
    if (rest.starts_with("by-app/")) {
        rest.remove_prefix(std::string_view("by-app/").size());
        rest = firstElement(rest).second;
    }
    const auto [id, inDocument] = firstElement(rest);
    if (id.empty() || inDocument.empty() || id == "." || id == "..")
        return std::nullopt;
    return PortalDocument { std::string(id), std::string(inDocument) };
}

std::optional<LentFile> hostFileOf(linux_dbus::BusConnection& sessionBus, const PortalDocument& document)
{
    static constexpr linux_dbus::MethodAddress kInfo { "org.freedesktop.portal.Documents", "/org/freedesktop/portal/documents",
        "org.freedesktop.portal.Documents", "Info" };
    auto reply = sessionBus.call(kInfo, g_variant_new("(s)", document.id.c_str()), G_VARIANT_TYPE("(aya{sas})"));
    if (reply.outcome != linux_dbus::CallOutcome::Replied)
        return std::nullopt;
    linux_gio::GVariantPtr path(g_variant_get_child_value(reply.body.get(), 0));
    const std::string hostPath = g_variant_get_bytestring(path.get());
    if (hostPath.empty())
        return std::nullopt;
    // The document's folder holds the lent file under its own name; a folder
    // lent whole holds what lies below it too.
    const auto [name, below] = firstElement(document.pathInDocument);
    if (name != lastElement(hostPath))
        return std::nullopt;
    return LentFile { hostPath, std::string(below) };
}

} // namespace platform::sandbox
