#pragma once

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {

// Xwayland wants the X socket folder owned by root or by its user; in a user
// namespace root's folder belongs to nobody. In a mount namespace of the
// test's own (it is process 1 of its PID namespace), a folder of ours takes
// its place.
inline void ownXSocketFolder()
{
    struct stat folder = {};
    if (getpid() == 1 && stat("/tmp/.X11-unix", &folder) == 0 && folder.st_uid != 0 && folder.st_uid != getuid())
        mount("tmpfs", "/tmp/.X11-unix", "tmpfs", 0, "mode=1777");
}

} // namespace testing_support
