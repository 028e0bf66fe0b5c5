#pragma once

namespace platform {

// Gives the calling thread a stack of its own for signal handlers, kept
// until the thread ends, so that the handler sending the waiting log lines
// still runs when the thread has overflowed its stack. Each thread the
// helper starts calls it first. A thread that has one already keeps it.
void giveThreadASignalStack();

} // namespace platform
