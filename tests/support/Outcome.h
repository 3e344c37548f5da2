#pragma once

#include "common/Task.h"

#include <QTest>

#include <memory>
#include <optional>

namespace vel::test {

// How a task run to its end in a test ended.
struct Outcome {
    bool done = false;
    std::exception_ptr error;
    QString description() const { return describeError(error); }
};

template <class T>
struct ValueOutcome : Outcome {
    std::optional<T> result;
};

inline Task<void> captureOutcome(Task<void> task, Outcome& outcome)
{
    try {
        co_await std::move(task);
    } catch (...) {
        outcome.error = std::current_exception();
    }
    outcome.done = true;
}

template <class T>
Task<void> captureOutcome(Task<T> task, ValueOutcome<T>& outcome)
{
    try {
        outcome.result = co_await std::move(task);
    } catch (...) {
        outcome.error = std::current_exception();
    }
    outcome.done = true;
}

template <class T>
using OutcomeOf = std::conditional_t<std::is_void_v<T>, Outcome, ValueOutcome<T>>;

// Runs a task on real time until it ends or `ms` pass, for work on other threads and sockets.
// The outcome is shared with the task, which may outlive a wait that gave up.
template <class T>
OutcomeOf<T> awaited(Task<T> task, int ms = 20000)
{
    auto outcome = std::make_shared<OutcomeOf<T>>();
    spawn([](Task<T> t, std::shared_ptr<OutcomeOf<T>> o) -> Task<void> {
        co_await captureOutcome(std::move(t), *o);
    }(std::move(task), outcome));
    for (int i = 0; i < ms / 5 && !outcome->done; ++i)
        QTest::qWait(5);
    return *outcome;
}

template <class E>
bool errorIs(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const E&) {
        return true;
    } catch (...) {
    }
    return false;
}

} // namespace vel::test
