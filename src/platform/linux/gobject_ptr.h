#pragma once

#include <glib-object.h>

#include <memory>

namespace platform::linux_gio {

template<typename T>
struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};

// Owns one reference to a GObject.
template<typename T>
using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;

} // namespace platform::linux_gio
