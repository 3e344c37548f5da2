#pragma once

#include <QString>

#include <functional>

namespace vel {

// Holds back the commands that need the speech model until the start-up check is done: a
// "toggle" that launched the program would otherwise fail, and the user's next press would
// start what they meant to stop. Presses that arrive meanwhile pair up like the real ones:
// a second toggle takes the first back, a cancel drops it. Other commands pass at once.
class StartupGate {
public:
    explicit StartupGate(std::function<void(const QString&)> deliver) : m_deliver(std::move(deliver)) {}

    void handle(const QString& command);
    void open();
    bool isOpen() const { return m_open; }

private:
    std::function<void(const QString&)> m_deliver;
    bool m_open = false;
    bool m_toggleWaiting = false;
};

} // namespace vel
