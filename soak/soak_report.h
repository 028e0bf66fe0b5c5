#pragma once

#include "soak/helper_watch.h"
#include "soak/journal_daemon.h"
#include "soak/soak_world.h"

#include <map>
#include <string>
#include <vector>

namespace soak {

struct SoakResults {
    Tally::Figures figures;
    std::vector<Instance> instances;
    // The first helper once warmed up, and the last once the load has ended.
    Sample atStart;
    Sample atEnd;
    std::string descriptorsAtStart;
    std::string descriptorsAtEnd;
    std::vector<JournalDaemon::Line> logLines;
    // What the world went through, for the reader.
    std::map<std::string, long> events;
};

// Prints the summary; true when the helper passed.
bool report(const SoakResults& results);

} // namespace soak
