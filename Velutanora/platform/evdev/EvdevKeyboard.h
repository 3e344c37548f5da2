#pragma once

#include "dictation/KeyboardMonitor.h"

#include <QByteArray>
#include <QObject>

#include <memory>
#include <set>
#include <vector>

class QSocketNotifier;

namespace vel {

// The modifier keys straight from the kernel's input devices (/dev/input/event*), for lone
// modifier shortcuts where the display server reports no raw keys (Wayland). It reads only:
// nothing is swallowed, and keys other than the modifiers are not reported, since the desktop's
// shortcut service delivers the key shortcuts. Readable for members of the `input` group.
class EvdevKeyboard final : public QObject, public KeyboardMonitor {
    Q_OBJECT
public:
    // Reads the given streams of struct input_event (device files, or pipes in tests); takes them.
    explicit EvdevKeyboard(std::vector<int> fds, QObject* parent = nullptr);
    ~EvdevKeyboard() override;

    // The keyboards among /dev/input/event*; null with the reason when none can be read.
    static std::unique_ptr<EvdevKeyboard> openKeyboards(QString* whyNot);

    bool installTap() override { return true; }
    void startMonitors() override {}
    bool isKeyDown(quint32 keysym) const override { return m_held.count(keysym) > 0; }
    QList<ShortcutKey> setSwallowedShortcuts(const QList<ShortcutKey>&) override { return {}; }

    // The keysym of a modifier key's evdev code, 0 for other keys.
    static quint32 keysymForEvdevCode(quint16 code);

private:
    struct Source {
        int fd;
        QSocketNotifier* notifier;
        QByteArray pending; // a partial event from the last read
    };
    void readFrom(Source& source);
    void handle(quint16 type, quint16 code, qint32 value, double timestamp);

    std::vector<std::unique_ptr<Source>> m_sources;
    std::set<quint32> m_held;
};

} // namespace vel
