#include "common/Task.h"

#include "common/Clock.h"

namespace vel {

void postToMainLoop(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void CancelState::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    auto listeners = std::move(m_listeners);
    m_listeners.clear();
    for (auto& [id, listener] : listeners)
        listener();
}

int CancelState::addListener(std::function<void()> listener)
{
    const int id = m_nextId++;
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void TaskHandle::cancel() const
{
    if (m_state)
        m_state->cancel->cancel();
}

bool TaskHandle::isCancelled() const { return m_state && m_state->cancel->isCancelled(); }
bool TaskHandle::isFinished() const { return !m_state || m_state->finished; }
std::exception_ptr TaskHandle::error() const { return m_state ? m_state->error : nullptr; }

TaskHandle::FinishedAwaiter TaskHandle::finished() const { return FinishedAwaiter{m_state}; }

namespace {

void finish(TaskHandle::State& state, std::exception_ptr error)
{
    state.finished = true;
    state.error = error;
    QObject::disconnect(state.ownerWatch);
    auto waiters = std::move(state.waiters);
    state.waiters.clear();
    for (auto& waiter : waiters)
        postToMainLoop(std::move(waiter));
}

} // namespace

TaskHandle spawn(Task<void> task) { return spawn(nullptr, std::move(task)); }

TaskHandle spawn(QObject* owner, Task<void> task)
{
    auto state = std::make_shared<TaskHandle::State>();
    auto h = task.release();
    h.promise().cancel = state->cancel;
    h.promise().detached = true;
    h.promise().onDetachedDone = [state](std::exception_ptr error) { finish(*state, error); };
    if (owner) {
        // Destroyed from the main loop, where no coroutine is running: abandoned first, so
        // nothing resumes it in between. The frame goes when the posted call does, whether it
        // runs or is dropped with the loop at exit.
        state->ownerWatch = QObject::connect(owner, &QObject::destroyed, [state, h] {
            state->cancel->abandon();
            struct Reaper {
                std::shared_ptr<TaskHandle::State> state;
                std::coroutine_handle<> h;
                ~Reaper()
                {
                    if (state->finished)
                        return;
                    h.destroy();
                    finish(*state, nullptr);
                }
            };
            postToMainLoop([reaper = std::make_shared<Reaper>(state, h)] {});
        });
    }
    postToMainLoop([h, cancel = state->cancel] {
        if (!cancel->isAbandoned())
            h.resume();
    });
    return TaskHandle(state);
}

SleepAwaiter::~SleepAwaiter()
{
    if (!m_guard)
        return;
    *m_guard->alive = false;
    if (m_cancel && m_listener >= 0)
        m_cancel->removeListener(m_listener);
}

bool SleepAwaiter::suspendWith(std::coroutine_handle<> h, const CancelRef& cancel)
{
    if (cancel && cancel->isCancelled())
        return false;
    m_cancel = cancel;
    auto guard = m_guard;
    auto resumeOnce = [h, guard, cancel] {
        if (!*guard->alive || guard->resumed || (cancel && cancel->isAbandoned()))
            return;
        guard->resumed = true;
        h.resume();
    };
    m_timer = m_clock->schedule(m_seconds, false, resumeOnce);
    if (m_cancel)
        m_listener = m_cancel->addListener([resumeOnce] { postToMainLoop(resumeOnce); });
    return true;
}

void SleepAwaiter::await_resume()
{
    if (m_timer)
        m_timer->stop();
    if (m_cancel && m_listener >= 0) {
        m_cancel->removeListener(m_listener);
        m_listener = -1;
    }
}

} // namespace vel
