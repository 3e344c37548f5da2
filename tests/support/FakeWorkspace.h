#pragma once

#include "dictation/Workspace.h"

#include <QList>

#include <functional>
#include <memory>

namespace vel::test {

// An application whose state the test sets; it records its activations.
class FakeApplication final : public Application {
public:
    explicit FakeApplication(qint64 pid, QString windowClass = {}) : m_pid(pid), m_class(std::move(windowClass)) {}

    qint64 processId() const override { return m_pid; }
    bool isActive() const override
    {
        ++activeQueries;
        if (becomesActiveAfterQueries >= 0 && activeQueries > becomesActiveAfterQueries && activations > 0)
            active = true;
        return active;
    }
    bool isTerminated() const override { return terminated; }
    void activate() override
    {
        ++activations;
        if (becomesActiveAfterQueries == 0)
            active = true;
    }
    QString windowClass() const override { return m_class; }

    mutable bool active = false;
    bool terminated = false;
    int activations = 0;
    mutable int activeQueries = 0;
    // After activation, isActive() turns true once queried more than this many times
    // (0: at once; -1: never).
    int becomesActiveAfterQueries = 0;

private:
    qint64 m_pid;
    QString m_class;
};

class FakeWorkspace final : public Workspace {
public:
    static constexpr qint64 kOwnPid = 4242;

    ApplicationRef frontmost;
    QList<std::function<void(ApplicationRef)>> observers;

    ApplicationRef frontmostApplication() const override { return frontmost; }
    qint64 ownProcessId() const override { return kOwnPid; }
    void addActivationObserver(std::function<void(ApplicationRef)> observer) override { observers.append(observer); }

    // The desktop activates an application.
    void activateApplication(const ApplicationRef& app)
    {
        frontmost = app;
        for (const auto& observer : observers)
            observer(app);
    }
    static std::shared_ptr<FakeApplication> app(qint64 pid, const QString& windowClass = {})
    {
        return std::make_shared<FakeApplication>(pid, windowClass);
    }
};

} // namespace vel::test
