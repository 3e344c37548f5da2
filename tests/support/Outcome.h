#pragma once

#include "common/Task.h"

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
