#pragma once

#include <functional>
#include <map>
#include <memory>

namespace vel {

// A scheduled action; stopping or destroying the handle cancels it.
class ClockTimer {
public:
    virtual ~ClockTimer() = default;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// Every timer, sleep and "now" of the program goes through a clock, so that tests and the
// file transcription run on simulated time.
class Clock {
public:
    virtual ~Clock() = default;
    // Wall time in seconds since the Unix epoch.
    virtual double now() const = 0;
    // Runs action on the main thread after `seconds` (and then every `seconds` when repeating).
    virtual std::unique_ptr<ClockTimer> schedule(double seconds, bool repeating, std::function<void()> action) = 0;
};

// Real time, Qt timers on the calling thread's event loop.
class SystemClock final : public Clock {
public:
    double now() const override;
    std::unique_ptr<ClockTimer> schedule(double seconds, bool repeating, std::function<void()> action) override;
};

// Simulated time: nothing moves until advance() is called. Timers fire in due order, and
// the work they post to the event loop runs at the simulated instant it was posted.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double start = 1'800'000'000.0);
    ~ManualClock() override;

    double now() const override;
    std::unique_ptr<ClockTimer> schedule(double seconds, bool repeating, std::function<void()> action) override;

    // Moves time forward by `seconds`, firing every timer that falls due on the way.
    void advance(double seconds);
    // Moves time to the next due timer and fires it; false when no timer is pending.
    bool advanceToNextTimer();
    // Runs work already posted to the event loop, without moving time.
    static void drainPostedWork();
    int pendingTimerCount() const;
    // Due time of the earliest pending timer, or a negative value when there is none.
    double nextDueTime() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace vel
