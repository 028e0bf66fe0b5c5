#include "platform/main_thread_timer.h"

#include <glib.h>

namespace platform {

namespace {

// Runs on the default main context, the one the main run loop turns.
class GLibMainThreadTimer final : public MainThreadTimer {
public:
    ~GLibMainThreadTimer() override { cancel(); }

    void runAfter(std::chrono::seconds delay, std::function<void()> work) override
    {
        cancel();
        m_work = std::move(work);
        // Seconds-granular sources let GLib batch wake-ups; a check a second
        // late does not matter.
        m_source = g_timeout_add_seconds(static_cast<guint>(delay.count()), &GLibMainThreadTimer::fire, this);
    }

    void cancel() override
    {
        if (m_source != 0)
            g_source_remove(m_source);
        m_source = 0;
    }

private:
    static gboolean fire(gpointer data)
    {
        auto* self = static_cast<GLibMainThreadTimer*>(data);
        self->m_source = 0;
        // The work may schedule the next run, which replaces m_work.
        auto work = std::move(self->m_work);
        work();
        return G_SOURCE_REMOVE;
    }

    guint m_source { 0 };
    std::function<void()> m_work;
};

} // namespace

std::unique_ptr<MainThreadTimer> makeMainThreadTimer()
{
    return std::make_unique<GLibMainThreadTimer>();
}

} // namespace platform
