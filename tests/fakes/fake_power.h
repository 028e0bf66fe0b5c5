#pragma once

#include "platform/power_assertions.h"
#include "platform/system_events.h"

#include <cstdint>
#include <string>
#include <vector>

// A power service that records what it was asked. `refuseCreation` makes it
// refuse new assertions; `failRelease` makes every release report failure.
class FakePowerAssertions final : public platform::PowerAssertions {
public:
    struct Creation {
        std::string type;
        std::uint32_t level;
        std::string name;
    };

    std::int32_t createWithName(const std::string& type, std::uint32_t level, const std::string& name,
        AssertionID& assertionID) override
    {
        creations.push_back({ type, level, name });
        // A refusing service may still have written the identifier; the
        // caller must not take that for a held assertion.
        if (refuseCreation) {
            assertionID = nextID;
            return kError;
        }
        assertionID = nextID++;
        return kSuccess;
    }

    std::int32_t release(AssertionID assertionID) override
    {
        releases.push_back(assertionID);
        return failRelease ? kError : kSuccess;
    }

    bool refuseCreation { false };
    bool failRelease { false };
    AssertionID nextID { 7 };
    std::vector<Creation> creations;
    std::vector<AssertionID> releases;
};

// Delivers nothing; answers `status` and records each event.
class FakeSystemEvents final : public platform::SystemEvents {
public:
    std::int32_t sendToSystemProcess(std::uint32_t eventID) override
    {
        events.push_back(eventID);
        return status;
    }

    std::int32_t status { kDelivered };
    std::vector<std::uint32_t> events;
};
