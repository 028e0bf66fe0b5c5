#pragma once

// Walking a path that a client sent us can wait on the server of a network
// or FUSE file system: the kernel asks it about every component it has not
// seen lately, and a server that went silent (asleep, gone from the
// network, its daemon stopped) never answers. The helper serves every
// client from one thread, so such a walk must never hold it for long.

#include "platform/linux/common/owned_descriptor.h"

#include <sys/stat.h>

#include <chrono>
#include <string>

namespace platform::linux_files {

// How long the listener thread waits for one walk before it gives up on it.
constexpr std::chrono::milliseconds kPathWalkBound { 2000 };

// The root of this process, for openPathReference.
constexpr int kHostRoot = -100; // AT_FDCWD

struct PathReference {
    enum class Status {
        opened,
        // The path names nothing we can reach: `error` says why.
        failed,
        // The file system did not answer within the bound, or a walk on it
        // is already stuck.
        timedOut,
    };
    Status status { Status::failed };
    OwnedDescriptor descriptor; // an O_PATH descriptor when opened
    int error { 0 };
};

// How a path given with a folder to start from may move about.
enum class Confinement {
    // As if that folder were "/": absolute links and ".." stay inside it.
    inRoot,
    // Below that folder only: a link or ".." that would leave it fails.
    beneath,
};

// Opens a bare reference (O_PATH, close-on-exec) to `path`, symbolic links
// followed, waiting at most kPathWalkBound for the file system to answer.
// With `root` (an open folder: a sandboxed client's own root, a folder the
// document portal lends) the path is resolved from there as `confinement`
// says, and never through /proc's links to other processes' files, which a
// sandbox could point anywhere.
PathReference openPathReference(const std::string& path, int root = kHostRoot, Confinement confinement = Confinement::inRoot);

// Whether the file system could not tell what `reference` names: it did not
// answer within the bound, or its server is gone (a FUSE daemon that ended,
// a network file system whose connection broke). Such a path cannot be
// shown to name nothing, nor its file to be free.
bool fileSystemDidNotAnswer(const PathReference& reference);

// The attributes `mask` asks for of an opened path, as the kernel holds them
// already: fstat would ask the file system for fresh ones, and wait on a
// silent server.
bool cachedAttributes(int descriptor, unsigned int mask, struct statx& status);

} // namespace platform::linux_files
