#pragma once

// Files the document portal lends to sandboxed applications: a FUSE file
// system ("fuse.portal") at $XDG_RUNTIME_DIR/doc, where a document shows as
// ID/NAME (and by-app/APP/ID/NAME for each application it was granted to);
// inside a Flatpak sandbox the application's own part is at /run/flatpak/doc.

#include "platform/linux/common/dbus_bus.h"

#include <optional>
#include <string>

namespace platform::sandbox {

constexpr const char* kDocumentPortalType = "fuse.portal";

struct PortalDocument {
    std::string id;
    // The document's own name, and below it, for a folder lent whole, the
    // path inside that folder.
    std::string pathInDocument;
};

// The document a path names, from the path below the portal's file system
// root ("/ID/NAME…" or "/by-app/APP/ID/NAME…").
std::optional<PortalDocument> portalDocumentAt(const std::string& pathInPortal);

// Where the portal keeps a document on the host: the file or folder it lent,
// and the path below that folder that the document path goes on to.
struct LentFile {
    std::string hostPath;
    std::string below;
};

// The host file behind `document`, as the portal says (Info, a bounded call
// on the session bus). Nothing when the portal does not know it.
std::optional<LentFile> hostFileOf(linux_dbus::BusConnection& sessionBus, const PortalDocument& document);

} // namespace platform::sandbox
