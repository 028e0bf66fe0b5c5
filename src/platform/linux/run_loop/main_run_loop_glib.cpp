#include "platform/linux_platform.h"

#include <glib.h>

#include <deque>
#include <mutex>

namespace platform {

namespace {

// Work is handed over through our own queue and mutex rather than through
// GLib alone: ThreadSanitizer does not see GLib's locks, and one drain
// source for a burst of posts is cheaper than one source per post.
class GLibMainRunLoop final : public MainRunLoop {
public:
    GLibMainRunLoop()
        : m_loop(g_main_loop_new(nullptr, FALSE))
    {
    }

    ~GLibMainRunLoop() override
    {
        {
            const std::lock_guard lock(m_mutex);
            if (m_drainSource)
                g_source_destroy(m_drainSource);
        }
        g_main_loop_unref(m_loop);
    }

    GLibMainRunLoop(const GLibMainRunLoop&) = delete;
    GLibMainRunLoop& operator=(const GLibMainRunLoop&) = delete;

    int run() override
    {
        g_main_loop_run(m_loop);
        return m_exitStatus;
    }

    void post(std::function<void()> work) override
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(work));
        if (!m_drainSource)
            scheduleDrain();
    }

    // Quitting through the queue rather than with g_main_loop_quit directly
    // also ends a loop that has not started yet: g_main_loop_run forgets an
    // earlier quit.
    void requestTermination(int exitStatus) override
    {
        post([this, exitStatus] {
            m_exitStatus = exitStatus;
            g_main_loop_quit(m_loop);
        });
    }

private:
    // Not g_main_context_invoke: it runs the work on the calling thread
    // whenever that thread can take the context, as before run() starts.
    void scheduleDrain()
    {
        m_drainSource = g_idle_source_new();
        g_source_set_priority(m_drainSource, G_PRIORITY_DEFAULT);
        g_source_set_callback(m_drainSource, &GLibMainRunLoop::drain, this, nullptr);
        g_source_attach(m_drainSource, nullptr);
        g_source_unref(m_drainSource);
    }

    static gboolean drain(gpointer data)
    {
        auto* self = static_cast<GLibMainRunLoop*>(data);
        std::deque<std::function<void()>> batch;
        {
            const std::lock_guard lock(self->m_mutex);
            batch.swap(self->m_queue);
            self->m_drainSource = nullptr;
        }
        for (auto& work : batch)
            work();
        return G_SOURCE_REMOVE;
    }

    GMainLoop* const m_loop;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_queue;
    // Attached and not yet run; the context holds the only reference.
    GSource* m_drainSource { nullptr };
    // Set and read on the loop's own thread.
    int m_exitStatus { 0 };
};

} // namespace

std::unique_ptr<MainRunLoop> makeMainRunLoop()
{
    return std::make_unique<GLibMainRunLoop>();
}

} // namespace platform
