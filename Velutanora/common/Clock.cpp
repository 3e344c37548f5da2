#include "common/Clock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>
#include <QTimer>

#include <cmath>

namespace vel {

namespace {

class QtClockTimer final : public ClockTimer {
public:
    QtClockTimer(double seconds, bool repeating, std::function<void()> action)
        : m_timer(new QTimer)
    {
        m_timer->setTimerType(Qt::PreciseTimer);
        m_timer->setSingleShot(!repeating);
        m_timer->setInterval(static_cast<int>(std::lround(std::max(0.0, seconds) * 1000.0)));
        QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(action));
        m_timer->start();
    }
    ~QtClockTimer() override
    {
        m_timer->stop();
        // The action may be the one destroying this handle, from inside the timer's own signal.
        m_timer->deleteLater();
    }
    void stop() override { m_timer->stop(); }
    bool isActive() const override { return m_timer->isActive(); }

private:
    QTimer* m_timer;
};

} // namespace

double SystemClock::now() const
{
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

std::unique_ptr<ClockTimer> SystemClock::schedule(double seconds, bool repeating, std::function<void()> action)
{
    return std::make_unique<QtClockTimer>(seconds, repeating, std::move(action));
}

struct ManualClock::State {
    struct Entry {
        double due;
        double interval;
        bool repeating;
        std::function<void()> action;
        // Repeating timers count from their start, so that many small steps never drift.
        double start = 0;
        long long fired = 0;
    };
    double now = 0;
    unsigned long long nextId = 1;
    std::map<unsigned long long, Entry> entries;

    // Earliest due entry; ties go to the one scheduled first (lower id).
    std::map<unsigned long long, Entry>::iterator earliest()
    {
        auto best = entries.end();
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (best == entries.end() || it->second.due < best->second.due)
                best = it;
        }
        return best;
    }
};

namespace {

class ManualClockTimer final : public ClockTimer {
public:
    ManualClockTimer(std::weak_ptr<ManualClock::State> state, unsigned long long id)
        : m_state(std::move(state)), m_id(id) {}
    ~ManualClockTimer() override { stop(); }
    void stop() override
    {
        if (auto state = m_state.lock())
            state->entries.erase(m_id);
    }
    bool isActive() const override
    {
        auto state = m_state.lock();
        return state && state->entries.count(m_id) > 0;
    }

private:
    std::weak_ptr<ManualClock::State> m_state;
    unsigned long long m_id;
};

} // namespace

ManualClock::ManualClock(double start) : m_state(std::make_shared<State>())
{
    m_state->now = start;
}

ManualClock::~ManualClock() = default;

double ManualClock::now() const { return m_state->now; }

std::unique_ptr<ClockTimer> ManualClock::schedule(double seconds, bool repeating, std::function<void()> action)
{
    const unsigned long long id = m_state->nextId++;
    const double interval = std::max(0.0, seconds);
    m_state->entries.emplace(id, State::Entry{m_state->now + interval, interval, repeating, std::move(action),
                                              m_state->now, 0});
    return std::make_unique<ManualClockTimer>(m_state, id);
}

void ManualClock::drainPostedWork()
{
    // Posted work may post more work; run until the queue is quiet.
    for (int round = 0; round < 1000; ++round) {
        QCoreApplication::sendPostedEvents();
        if (!QCoreApplication::instance())
            return;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
        // processEvents returns quickly when nothing is queued; one quiet pass is enough.
        if (round > 2)
            break;
    }
}

bool ManualClock::advanceToNextTimer()
{
    drainPostedWork();
    auto it = m_state->earliest();
    if (it == m_state->entries.end())
        return false;
    const unsigned long long id = it->first;
    if (it->second.due > m_state->now)
        m_state->now = it->second.due;
    std::function<void()> action = it->second.action;
    if (it->second.repeating && it->second.interval > 0) {
        ++it->second.fired;
        it->second.due = it->second.start + static_cast<double>(it->second.fired + 1) * it->second.interval;
    } else {
        m_state->entries.erase(it);
    }
    (void)id;
    action();
    drainPostedWork();
    return true;
}

void ManualClock::advance(double seconds)
{
    const double target = m_state->now + std::max(0.0, seconds);
    drainPostedWork();
    for (;;) {
        auto it = m_state->earliest();
        // A tolerance keeps 0.1 s steps from drifting past their due time by rounding.
        if (it == m_state->entries.end() || it->second.due > target + 1e-9)
            break;
        advanceToNextTimer();
    }
    m_state->now = std::max(m_state->now, target);
    drainPostedWork();
}

int ManualClock::pendingTimerCount() const { return static_cast<int>(m_state->entries.size()); }

double ManualClock::nextDueTime() const
{
    auto it = m_state->earliest();
    return it == m_state->entries.end() ? -1.0 : it->second.due;
}

} // namespace vel
