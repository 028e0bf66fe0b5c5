#pragma once

#include <glib-object.h>

#include <memory>

namespace platform::linux_gio {

// Gives back what GLib handed us, with the function GLib names for it.
template<auto Release>
struct GLibRelease {
    template<typename T>
    void operator()(T* owned) const { Release(owned); }
};

// Owns one reference to a GObject.
template<typename T>
using GObjectPtr = std::unique_ptr<T, GLibRelease<g_object_unref>>;
// Owns a string GLib allocated.
using GTextPtr = std::unique_ptr<char, GLibRelease<g_free>>;
using GErrorPtr = std::unique_ptr<GError, GLibRelease<g_error_free>>;
using GVariantPtr = std::unique_ptr<GVariant, GLibRelease<g_variant_unref>>;
using GKeyFilePtr = std::unique_ptr<GKeyFile, GLibRelease<g_key_file_unref>>;

} // namespace platform::linux_gio
