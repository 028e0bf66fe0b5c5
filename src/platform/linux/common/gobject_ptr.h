#pragma once

#include "support/owned_by.h"

#include <glib-object.h>

namespace platform::linux_gio {

// Owns one reference to a GObject.
template<typename T>
using GObjectPtr = support::OwnedBy<T, g_object_unref>;
// Owns a string GLib allocated.
using GTextPtr = support::OwnedBy<char, g_free>;
using GErrorPtr = support::OwnedBy<GError, g_error_free>;
using GVariantPtr = support::OwnedBy<GVariant, g_variant_unref>;
using GKeyFilePtr = support::OwnedBy<GKeyFile, g_key_file_unref>;

} // namespace platform::linux_gio
