#pragma once

#include "fakes/recorded.h"
#include "platform/application_control.h"

#include <cstdint>
#include <utility>
#include <vector>

// Records every request in order; the events "quit", "oapp" and "rapp" are
// the ones it can build, as on the desktop.
class FakeApplicationControl final : public platform::ApplicationControl {
public:
    enum class Request { Terminate,
        Activate,
        CoreEvent };
    struct Record {
        Request request;
        platform::ProcessID process;
        std::uint32_t eventID { 0 };
        bool operator==(const Record&) const = default;
    };

    void terminate(platform::ProcessID process) override { record({ Request::Terminate, process }); }
    void activateWithAllWindows(platform::ProcessID process) override { record({ Request::Activate, process }); }
    CoreEvent sendCoreEvent(std::uint32_t eventID, platform::ProcessID process) override
    {
        const bool buildable = eventID == 0x71756974 || eventID == 0x6f617070 || eventID == 0x72617070;
        if (!buildable)
            return CoreEvent::CannotBeBuilt;
        record({ Request::CoreEvent, process, eventID });
        return CoreEvent::Sent;
    }

    std::vector<Record> records() const { return m_records.all(); }

private:
    void record(Record entry) { m_records.add(entry); }

    Recorded<Record> m_records;
};
