#pragma once

#include "common/Task.h"

#include <QString>

#include <functional>
#include <memory>

namespace vel {

// Another program's window that can be brought to the front: on X11 a top-level window and
// the process that owns it. Two applications are the same when their process ids are.
class Application {
public:
    virtual ~Application() = default;
    virtual qint64 processId() const = 0;
    virtual bool isActive() const = 0;
    virtual bool isTerminated() const = 0;
    virtual void activate() = 0;
    // The window class ("xterm", "konsole", …), for choosing the paste chord.
    virtual QString windowClass() const { return {}; }
};
using ApplicationRef = std::shared_ptr<Application>;

// The desktop's notion of the application in front.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual ApplicationRef frontmostApplication() const = 0;
    virtual qint64 ownProcessId() const = 0;
    // Called on the main thread whenever an application becomes active.
    virtual void addActivationObserver(std::function<void(ApplicationRef)> observer) = 0;
};

} // namespace vel
