#pragma once

// Readers of /proc entries by process id, shared by the Linux services. A
// reading says why it gave nothing: processes come and go while we look at
// them, and a process that has gone is not one we may not read. Where every
// later read must name the same process, hold it by its ProcessDirectory.

#include "platform/linux/kernel_tables/kernel_reading.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::procfs {

// A process id written out in decimal, as /proc names its entries.
std::optional<pid_t> processIDFromText(std::string_view text);

// The processes /proc lists at this moment.
std::vector<pid_t> listedProcessIDs();

// A process as /proc lists it, with the inode number of its entry. The
// kernel never gives one number to two entries, so a process that reuses
// an ended one's id has another number, as it has another start time, and
// the number comes with the listing rather than from a file to read for
// each process. (The same process may get a new number too, when the kernel
// drops its entry from its cache.)
struct ListedProcess {
    pid_t pid;
    ino_t entryInode;
};
std::vector<ListedProcess> listedProcesses();

// The executable of a process; `process` is a pid or "self". A program
// replaced on disk while running shows as "path (deleted)": the path it
// was started from is what we want.
Reading<std::string> executablePath(const std::string& process);

// The real user id, the first field of the "Uid:" line of /proc/PID/status.
Reading<uid_t> realUserID(pid_t process);

// The one-letter state of /proc/PID/stat ('R', 'S', 'Z', ...).
Reading<char> processState(pid_t process);

} // namespace platform::procfs
