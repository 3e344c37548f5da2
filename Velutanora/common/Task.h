#pragma once

// The program's one mechanism for asynchronous sequences: C++20 coroutines that run on the
// main thread's event loop. A Task<T> is lazy and starts when awaited; spawn() starts a
// top-level task and returns a handle that can cancel it. Cancellation is cooperative: it is
// inherited by everything the task awaits, ends sleeps early and aborts network requests,
// and code checks it where it matters with `co_await taskCancelled()`.

#include "common/Clock.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <coroutine>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace vel {


// Runs fn on the main thread's event loop, after the code that is running now.
void postToMainLoop(std::function<void()> fn);

class CancelState {
public:
    bool isCancelled() const { return m_cancelled; }
    void cancel();
    // The task's owner is gone: the task is cancelled and never resumed again.
    void abandon()
    {
        m_abandoned = true;
        cancel();
    }
    bool isAbandoned() const { return m_abandoned; }
    int addListener(std::function<void()> listener);
    void removeListener(int id) { m_listeners.erase(id); }

private:
    bool m_cancelled = false;
    bool m_abandoned = false;
    int m_nextId = 0;
    std::map<int, std::function<void()>> m_listeners;
};
using CancelRef = std::shared_ptr<CancelState>;

namespace detail {

struct PromiseBase {
    CancelRef cancel;
    std::coroutine_handle<> continuation;
    std::exception_ptr error;
    bool detached = false;
    std::function<void(std::exception_ptr)> onDetachedDone;
};

struct FinalAwaiter {
    bool await_ready() const noexcept { return false; }
    template <class P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept
    {
        PromiseBase& p = h.promise();
        if (p.detached) {
            auto done = std::move(p.onDetachedDone);
            std::exception_ptr error = p.error;
            h.destroy();
            if (done)
                done(error);
            return std::noop_coroutine();
        }
        if (p.continuation)
            return p.continuation;
        return std::noop_coroutine();
    }
    void await_resume() const noexcept {}
};

// Guards a suspended coroutine against being resumed twice, or after its frame is gone.
struct ResumeGuard {
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    bool resumed = false;
};

// Resumes h unless its awaiter is gone or its task was abandoned with its owner.
inline void resumeUnlessAbandoned(std::coroutine_handle<> h, const std::weak_ptr<bool>& alive, const CancelRef& cancel)
{
    if (alive.lock() && !(cancel && cancel->isAbandoned()))
        h.resume();
}

} // namespace detail

namespace detail {

// What every task type shares: ownership of the coroutine frame and the way it is awaited
// (the awaited task inherits the awaiting one's cancellation and resumes it at its end).
template <class Promise>
class TaskBase {
public:
    TaskBase(TaskBase&& other) noexcept : m_h(std::exchange(other.m_h, {})) {}
    TaskBase& operator=(TaskBase&& other) noexcept
    {
        if (this != &other) {
            if (m_h)
                m_h.destroy();
            m_h = std::exchange(other.m_h, {});
        }
        return *this;
    }
    TaskBase(const TaskBase&) = delete;
    ~TaskBase()
    {
        if (m_h)
            m_h.destroy();
    }
    std::coroutine_handle<Promise> release() { return std::exchange(m_h, {}); }

protected:
    explicit TaskBase(std::coroutine_handle<Promise> h) : m_h(h) {}

    struct AwaiterBase {
        std::coroutine_handle<Promise> h;
        bool await_ready() const noexcept { return false; }
        template <class P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) noexcept
        {
            h.promise().cancel = parent.promise().cancel;
            h.promise().continuation = parent;
            return h;
        }
        void rethrowIfFailed() const
        {
            if (h.promise().error)
                std::rethrow_exception(h.promise().error);
        }
    };

    std::coroutine_handle<Promise> m_h;
};

template <class T>
struct ValuePromise : PromiseBase {
    std::optional<T> value;
    template <class U>
    void return_value(U&& v) { value.emplace(std::forward<U>(v)); }
};

struct VoidPromise : PromiseBase {
    void return_void() {}
};

} // namespace detail

template <class T>
class Task;

namespace detail {

template <class T>
struct TaskPromise : std::conditional_t<std::is_void_v<T>, VoidPromise, ValuePromise<T>> {
    Task<T> get_return_object();
    std::suspend_always initial_suspend() noexcept { return {}; }
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() { this->error = std::current_exception(); }
};

} // namespace detail

template <class T>
class [[nodiscard]] Task : public detail::TaskBase<detail::TaskPromise<T>> {
public:
    using promise_type = detail::TaskPromise<T>;

    struct Awaiter : detail::TaskBase<promise_type>::AwaiterBase {
        T await_resume()
        {
            this->rethrowIfFailed();
            if constexpr (!std::is_void_v<T>)
                return std::move(*this->h.promise().value);
        }
    };
    Awaiter operator co_await() && { return Awaiter{{this->m_h}}; }

private:
    friend struct detail::TaskPromise<T>;
    explicit Task(std::coroutine_handle<promise_type> h) : detail::TaskBase<promise_type>(h) {}
};

template <class T>
Task<T> detail::TaskPromise<T>::get_return_object()
{
    return Task<T>(std::coroutine_handle<TaskPromise<T>>::from_promise(*this));
}

// A started top-level task. Copies share the task; the task runs to its end whether or not a
// handle is kept.
class TaskHandle {
public:
    TaskHandle() = default;
    void cancel() const;
    bool isCancelled() const;
    bool isFinished() const;
    bool isValid() const { return static_cast<bool>(m_state); }
    // The exception the task ended with, if any.
    std::exception_ptr error() const;

    // co_await handle.finished(): resumes once the task has ended (at once if it has).
    struct FinishedAwaiter;
    FinishedAwaiter finished() const;

    struct State {
        CancelRef cancel = std::make_shared<CancelState>();
        bool finished = false;
        std::exception_ptr error;
        std::vector<std::function<void()>> waiters;
        QMetaObject::Connection ownerWatch;
    };
    explicit TaskHandle(std::shared_ptr<State> state) : m_state(std::move(state)) {}

private:
    std::shared_ptr<State> m_state;
};

struct TaskHandle::FinishedAwaiter {
    explicit FinishedAwaiter(std::shared_ptr<State> s) : state(std::move(s)) {}
    FinishedAwaiter(FinishedAwaiter&&) = default;
    std::shared_ptr<State> state;
    std::shared_ptr<detail::ResumeGuard> guard = std::make_shared<detail::ResumeGuard>();
    bool await_ready() const noexcept { return !state || state->finished; }
    template <class P>
    void await_suspend(std::coroutine_handle<P> h)
    {
        std::weak_ptr<bool> alive = guard->alive;
        CancelRef cancel = h.promise().cancel;
        state->waiters.push_back([h, alive, cancel] { detail::resumeUnlessAbandoned(h, alive, cancel); });
    }
    void await_resume() const noexcept {}
    ~FinishedAwaiter()
    {
        if (guard)
            *guard->alive = false;
    }
};

// Starts the task on the main loop (after the current code) and returns its handle.
// A lambda that is a coroutine must not capture: its closure dies before the task runs.
// Pass what it needs as parameters, which the coroutine frame keeps.
TaskHandle spawn(Task<void> task);
// The same, for a task that ends with its owner: once owner is destroyed the task is
// cancelled, never resumed, and its frames are freed, so code after an await never needs to
// ask whether its object still exists. What the owner was built on outlives it, so one
// owner covers everything the task awaits.
TaskHandle spawn(QObject* owner, Task<void> task);

// co_await taskCancelled(): whether the current task has been asked to stop.
// Await it, like any awaitable, in a statement of its own (`const bool c = co_await …;`),
// never inside a condition: GCC 12 miscompiles some awaits there.
struct IsCancelledAwaiter {
    bool result = false;
    bool await_ready() const noexcept { return false; }
    template <class P>
    bool await_suspend(std::coroutine_handle<P> h) noexcept
    {
        result = h.promise().cancel && h.promise().cancel->isCancelled();
        return false;
    }
    bool await_resume() const noexcept { return result; }
};
inline IsCancelledAwaiter taskCancelled() { return {}; }

// co_await currentCancel(): the cancel state of the current task (never null inside a task).
struct CurrentCancelAwaiter {
    CancelRef result;
    bool await_ready() const noexcept { return false; }
    template <class P>
    bool await_suspend(std::coroutine_handle<P> h) noexcept
    {
        result = h.promise().cancel;
        return false;
    }
    CancelRef await_resume() noexcept { return result ? result : std::make_shared<CancelState>(); }
};
inline CurrentCancelAwaiter currentCancel() { return {}; }

// co_await sleepFor(clock, seconds): a sleep on the injected clock. A cancellation of the
// surrounding task ends it early; it is never an error.
class SleepAwaiter {
public:
    SleepAwaiter(Clock& clock, double seconds) : m_clock(&clock), m_seconds(seconds) {}
    SleepAwaiter(SleepAwaiter&&) = default;
    ~SleepAwaiter();
    bool await_ready() const noexcept { return m_seconds <= 0; }
    template <class P>
    bool await_suspend(std::coroutine_handle<P> h)
    {
        return suspendWith(h, h.promise().cancel);
    }
    void await_resume();

private:
    bool suspendWith(std::coroutine_handle<> h, const CancelRef& cancel);
    Clock* m_clock;
    double m_seconds;
    std::unique_ptr<ClockTimer> m_timer;
    CancelRef m_cancel;
    int m_listener = -1;
    std::shared_ptr<detail::ResumeGuard> m_guard = std::make_shared<detail::ResumeGuard>();
};
inline SleepAwaiter sleepFor(Clock& clock, double seconds) { return SleepAwaiter(clock, seconds); }

// A one-shot value produced by callback-style code and awaited by a task. The waiting task is
// resumed from the main loop, never from inside resolve().
template <class T>
class Completion {
public:
    struct State {
        std::optional<T> value;
        std::exception_ptr error;
        bool done = false;
        std::function<void()> waiter;
        std::function<void()> onCancel;
    };

    Completion() : m_state(std::make_shared<State>()) {}

    void resolve(T value) const
    {
        if (m_state->done)
            return;
        m_state->value.emplace(std::move(value));
        finish();
    }
    void reject(std::exception_ptr error) const
    {
        if (m_state->done)
            return;
        m_state->error = std::move(error);
        finish();
    }
    bool isDone() const { return m_state->done; }
    // Called once if the awaiting task is cancelled while it waits.
    void setOnCancel(std::function<void()> fn) const { m_state->onCancel = std::move(fn); }

    struct Awaiter {
        explicit Awaiter(std::shared_ptr<State> s) : state(std::move(s)) {}
        Awaiter(Awaiter&&) = default;
        std::shared_ptr<State> state;
        std::shared_ptr<detail::ResumeGuard> guard = std::make_shared<detail::ResumeGuard>();
        CancelRef cancel;
        int listener = -1;
        bool await_ready() const noexcept { return state->done; }
        template <class P>
        void await_suspend(std::coroutine_handle<P> h)
        {
            std::weak_ptr<bool> alive = guard->alive;
            cancel = h.promise().cancel;
            state->waiter = [h, alive, c = cancel] { detail::resumeUnlessAbandoned(h, alive, c); };
            if (cancel && state->onCancel) {
                std::weak_ptr<State> weakState = state;
                auto fire = [weakState] {
                    auto s = weakState.lock();
                    if (s && !s->done && s->onCancel) {
                        auto fn = std::move(s->onCancel);
                        s->onCancel = nullptr;
                        fn();
                    }
                };
                if (cancel->isCancelled())
                    postToMainLoop(fire);
                else
                    listener = cancel->addListener([fire] { postToMainLoop(fire); });
            }
        }
        T await_resume()
        {
            if (state->error)
                std::rethrow_exception(state->error);
            return std::move(*state->value);
        }
        ~Awaiter()
        {
            if (!guard)
                return;
            *guard->alive = false;
            if (cancel && listener >= 0)
                cancel->removeListener(listener);
        }
    };
    Awaiter operator co_await() const { return Awaiter{m_state}; }

private:
    void finish() const
    {
        m_state->done = true;
        // The cancel hook often holds this completion: dropping it breaks that cycle.
        auto onCancel = std::move(m_state->onCancel);
        m_state->onCancel = nullptr;
        if (m_state->waiter) {
            auto waiter = std::move(m_state->waiter);
            m_state->waiter = nullptr;
            postToMainLoop(std::move(waiter));
        }
    }
    std::shared_ptr<State> m_state;
};

struct Unit {};

} // namespace vel

#include <QEventLoop>

namespace vel {

namespace detail {
template <class T>
Task<void> captureInto(Task<T> task, std::optional<T>& result, std::exception_ptr& error, bool& done)
{
    try {
        result.emplace(co_await std::move(task));
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
}
} // namespace detail

// Runs the event loop until the task has ended; for the command line and tests only (the
// program itself never blocks the main loop).
template <class T>
T runBlocking(Task<T> task)
{
    std::optional<T> result;
    std::exception_ptr error;
    bool done = false;
    spawn(detail::captureInto(std::move(task), result, error, done));
    QEventLoop loop;
    while (!done)
        loop.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

} // namespace vel
