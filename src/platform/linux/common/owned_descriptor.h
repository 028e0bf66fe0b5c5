#pragma once

#include <unistd.h>

#include <utility>

namespace platform::linux_files {

// A file descriptor closed when it goes out of scope.
class OwnedDescriptor {
public:
    explicit OwnedDescriptor(int descriptor = -1)
        : m_descriptor(descriptor)
    {
    }
    ~OwnedDescriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    OwnedDescriptor(OwnedDescriptor&& other) noexcept
        : m_descriptor(std::exchange(other.m_descriptor, -1))
    {
    }
    OwnedDescriptor& operator=(OwnedDescriptor&& other) noexcept
    {
        std::swap(m_descriptor, other.m_descriptor);
        return *this;
    }

    int get() const { return m_descriptor; }
    bool isValid() const { return m_descriptor >= 0; }
    // Closes it now, for a writer that must know the data reached the file:
    // close is where some file systems report a failed write.
    bool closeReportingErrors() { return ::close(std::exchange(m_descriptor, -1)) == 0; }
    // Hands the descriptor to a caller that will close it.
    int release() { return std::exchange(m_descriptor, -1); }

private:
    int m_descriptor;
};

} // namespace platform::linux_files
