#pragma once

#include <memory>

namespace support {

// Gives back what a C library handed us, with the function it names for it.
template<auto Release>
struct ReleaseWith {
    template<typename T>
    void operator()(T* owned) const
    {
        Release(owned);
    }
};

// Owns what `Release` frees: OwnedBy<GError, g_error_free>, OwnedBy<char, std::free>.
template<typename T, auto Release>
using OwnedBy = std::unique_ptr<T, ReleaseWith<Release>>;

} // namespace support
