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

// Starts a task (ending with owner, when one is given) whose outcome it shares with the caller,
// so that a wait that gives up leaves the task nothing dangling to write into.
template <class T>
std::shared_ptr<OutcomeOf<T>> spawnCaptured(QObject* owner, Task<T> task)
{
    auto outcome = std::make_shared<OutcomeOf<T>>();
    Task<void> captured = [](Task<T> t, std::shared_ptr<OutcomeOf<T>> o) -> Task<void> {
        co_await captureOutcome(std::move(t), *o);
    }(std::move(task), outcome);
    if (owner)
        spawn(owner, std::move(captured));
    else
        spawn(std::move(captured));
    return outcome;
}

// Runs a task on real time until it ends or `ms` pass, for work on other threads and sockets.
template <class T>
OutcomeOf<T> awaited(Task<T> task, int ms = 20000)
{
    const auto outcome = spawnCaptured(nullptr, std::move(task));
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
