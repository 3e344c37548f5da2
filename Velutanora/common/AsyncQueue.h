#pragma once

#include "common/Task.h"

#include <deque>
#include <exception>
#include <memory>
#include <optional>

namespace vel {

// A main-thread sequence of values that one task consumes with `co_await queue.next()`:
// none once the producer has finished it (or an exception, when it finished with one).
template <class T>
class AsyncQueue {
public:
    void push(T value)
    {
        if (m_state->finished)
            return;
        m_state->items.push_back(std::move(value));
        wake();
    }
    void finish(std::exception_ptr error = nullptr)
    {
        if (m_state->finished)
            return;
        m_state->finished = true;
        m_state->error = error;
        wake();
    }
    bool isFinished() const { return m_state->finished; }

    Task<std::optional<T>> next()
    {
        auto state = m_state;
        while (state->items.empty() && !state->finished) {
            Completion<Unit> signal;
            state->waiter = signal;
            // Weak: the queue's state holds the completion, which holds this hook.
            signal.setOnCancel([weak = std::weak_ptr<State>(state)] {
                if (auto s = weak.lock(); s && s->waiter)
                    s->waiter->resolve(Unit{});
            });
            co_await signal;
            const bool cancelled = co_await taskCancelled();
            if (cancelled)
                co_return std::nullopt;
        }
        if (!state->items.empty()) {
            T value = std::move(state->items.front());
            state->items.pop_front();
            co_return value;
        }
        if (state->error)
            std::rethrow_exception(state->error);
        co_return std::nullopt;
    }

private:
    struct State {
        std::deque<T> items;
        bool finished = false;
        std::exception_ptr error;
        std::optional<Completion<Unit>> waiter;
    };
    void wake()
    {
        if (m_state->waiter) {
            auto waiter = *m_state->waiter;
            m_state->waiter.reset();
            waiter.resolve(Unit{});
        }
    }
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace vel
