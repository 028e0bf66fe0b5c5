// Holds a file the way other programs do, for the file-busy tests:
//   file_holder open|write|path|map|watch PATH READY_FILE
// open keeps a descriptor for reading, write one for writing, path an O_PATH
// reference only, map keeps only a memory mapping, watch keeps only an
// inotify watch. READY_FILE is created once the hold is in place; then the
// program waits to be killed.

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

bool hold(const char* mode, const char* path)
{
    if (std::strcmp(mode, "watch") == 0)
        return inotify_add_watch(inotify_init1(0), path, IN_ALL_EVENTS) >= 0;
    if (std::strcmp(mode, "write") == 0)
        return open(path, O_WRONLY) >= 0;
    if (std::strcmp(mode, "path") == 0)
        return open(path, O_PATH) >= 0;
    int descriptor = open(path, O_RDONLY);
    if (descriptor < 0)
        return false;
    if (std::strcmp(mode, "open") == 0)
        return true;
    void* mapping = mmap(nullptr, 1, PROT_READ, MAP_SHARED, descriptor, 0);
    close(descriptor);
    return mapping != MAP_FAILED;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || !hold(argv[1], argv[2])) {
        std::perror("file_holder");
        return 1;
    }
    close(open(argv[3], O_CREAT | O_WRONLY, 0600));
    for (;;)
        pause();
}
