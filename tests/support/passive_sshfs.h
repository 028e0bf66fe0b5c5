#pragma once

// A real sshfs mount without sshd: in passive mode sshfs speaks SFTP on its
// standard input and output, here with a local sftp-server through a FIFO.

#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

extern char** environ;

namespace testing_support {

inline constexpr const char* kSftpServer = "/usr/lib/openssh/sftp-server";

// A shell starts it in `folder`, as a user would, so a relative mount point
// is resolved from there.
class PassiveSshfs {
public:
    PassiveSshfs(const std::filesystem::path& folder, const std::string& arguments, std::filesystem::path mountPoint)
        : m_mountPoint(std::move(mountPoint))
    {
        auto fifo = "'" + (folder / m_mountPoint.filename()).string() + ".sftp'";
        std::string script = "cd '" + folder.string() + "' && export PWD && mkfifo " + fifo + " && " + kSftpServer + " <"
            + fifo + " | exec sshfs -o passive " + arguments + " >" + fifo;
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        const char* argv[] = { "sh", "-c", script.c_str(), nullptr };
        if (posix_spawn(&m_group, "/bin/sh", nullptr, &attributes, const_cast<char**>(argv), environ) != 0)
            m_group = -1;
        posix_spawnattr_destroy(&attributes);
    }
    ~PassiveSshfs()
    {
        umount2(m_mountPoint.c_str(), MNT_DETACH);
        if (m_group > 0 && kill(-m_group, SIGKILL) == 0)
            waitpid(m_group, nullptr, 0);
    }

    bool mounted() const
    {
        struct stat point = {}, parent = {};
        for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10); std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
            if (stat(m_mountPoint.c_str(), &point) == 0 && stat(m_mountPoint.parent_path().c_str(), &parent) == 0
                && point.st_dev != parent.st_dev)
                return true;
        }
        return false;
    }

private:
    std::filesystem::path m_mountPoint;
    pid_t m_group { -1 };
};

} // namespace testing_support
